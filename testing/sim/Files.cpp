// Files on the simulated platform are the machine's own (POSIX), so that tests read and write real
// ones; only the time the disk takes, and where the covers go, are the world's.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Platform.h"
#include "sim/SimWorld.h"

namespace platform {

namespace {
sim::World* W() { return sim::World::Current(); }
int Fd(uintptr_t handle) { return int(handle) - 1; }
}  // namespace

// A handle is the descriptor plus 1; only ordinary files open.
InputFile::InputFile(const std::string& path) {
  if (W()) W()->DiskWait();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return;
  }
  handle_ = Handle<HandleKind::File>(uintptr_t(fd) + 1);
}

std::size_t InputFile::ReadAt(uint64_t offset, void* buffer, std::size_t size) {
  if (!handle_) return 0;
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(Fd(handle_.Get()), static_cast<char*>(buffer) + got, size - got, off_t(offset + got));
    if (n <= 0) break;
    got += std::size_t(n);
  }
  at_ = offset + got;
  return got;
}

std::vector<FolderFile> FilesIn(const std::string& folder) {
  std::vector<FolderFile> files;
  if (W()) W()->DiskWait();
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return files;
  const Handle<HandleKind::Search> search(reinterpret_cast<uintptr_t>(dir));  // closed however this ends
  while (const dirent* entry = ::readdir(dir)) {
    struct stat st {};
    const std::string name = entry->d_name;
    if (::stat((folder + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    files.push_back({name, uint64_t(st.st_size),
                     uint64_t(st.st_mtim.tv_sec) * 1000000000u + uint64_t(st.st_mtim.tv_nsec)});
  }
  return files;
}

bool WriteWholeFile(const std::string& path, const void* data, std::size_t size) {
  const std::string temporary = path + ".part" + std::to_string(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t put = 0;
  while (put < size) {
    const ssize_t n = ::write(fd, static_cast<const char*>(data) + put, size - put);
    if (n <= 0) break;
    put += std::size_t(n);
  }
  const bool written = put == size;
  if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool TouchFile(const std::string& path) { return ::utimes(path.c_str(), nullptr) == 0; }

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string CoversFolder() {
  if (!W() || W()->CoversFolder().empty()) return {};
  ::mkdir(W()->CoversFolder().c_str(), 0755);
  return W()->CoversFolder() + "/";
}

bool RunOffThread(std::function<void()> work) { return W() && W()->RunOffThread(std::move(work)); }

}  // namespace platform
