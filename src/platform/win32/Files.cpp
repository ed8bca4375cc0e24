// Files and work off the server's thread on real Windows (ANSI calls).
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace platform {

namespace {
HANDLE H(uintptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
uint64_t Join(DWORD high, DWORD low) { return (uint64_t(high) << 32) | low; }
}  // namespace

// Shared with writers and deleters: a player or a tagger may hold the file open, and the covers'
// pruning may remove one that is being read.
InputFile::InputFile(const std::string& path) {
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h != INVALID_HANDLE_VALUE) handle_ = Handle<HandleKind::File>(reinterpret_cast<uintptr_t>(h));
}

// A pipe cannot seek: reads that follow on from the last one do not ask to. A pipe hands its
// data over in pieces, so a read goes on until it has all it asked for or nothing more comes.
std::size_t InputFile::ReadAt(uint64_t offset, void* buffer, std::size_t size) {
  if (!handle_) return 0;
  if (offset != at_) {
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(offset);
    if (!SetFilePointerEx(H(handle_.Get()), to, nullptr, FILE_BEGIN)) return 0;
    at_ = offset;
  }
  std::size_t got = 0;
  while (got < size) {
    DWORD n = 0;
    const DWORD ask = DWORD(std::min<std::size_t>(size - got, 1u << 20));
    if (!::ReadFile(H(handle_.Get()), static_cast<char*>(buffer) + got, ask, &n, nullptr) || n == 0) break;
    got += n;
  }
  at_ += got;
  return got;
}

std::vector<FolderFile> FilesIn(const std::string& folder) {
  std::vector<FolderFile> files;
  WIN32_FIND_DATAA found;
  const HANDLE first = FindFirstFileA((folder + "*").c_str(), &found);
  if (first == INVALID_HANDLE_VALUE) return files;
  const Handle<HandleKind::Search> search(reinterpret_cast<uintptr_t>(first));  // closed however this ends
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    files.push_back({found.cFileName, Join(found.nFileSizeHigh, found.nFileSizeLow),
                     Join(found.ftLastWriteTime.dwHighDateTime, found.ftLastWriteTime.dwLowDateTime)});
  } while (FindNextFileA(first, &found));
  return files;
}

// The temporary name carries the thread, so that two instances writing the same cover at once
// each move a whole file into place.
bool WriteWholeFile(const std::string& path, const void* data, std::size_t size) {
  const std::string temporary = path + ".part" + std::to_string(GetCurrentThreadId());
  const HANDLE h = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::size_t put = 0;
  while (put < size) {
    DWORD n = 0;
    const DWORD ask = DWORD(std::min<std::size_t>(size - put, 1u << 20));
    if (!WriteFile(h, static_cast<const char*>(data) + put, ask, &n, nullptr) || n == 0) break;
    put += n;
  }
  const bool closed = CloseHandle(h);
  if (put != size || !closed || !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(temporary.c_str());
    return false;
  }
  return true;
}

bool TouchFile(const std::string& path) {
  const HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                               FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const Handle<HandleKind::File> file(reinterpret_cast<uintptr_t>(h));
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SetFileTime(h, nullptr, nullptr, &now);
  return true;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != FALSE; }

// %LOCALAPPDATA%\Winamp Control\Covers: the user's own, not roaming with the profile.
std::string CoversFolder() {
  char base[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, base)))
    return {};
  std::string folder = std::string(base) + "\\Winamp Control";
  CreateDirectoryA(folder.c_str(), nullptr);
  folder += "\\Covers";
  CreateDirectoryA(folder.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return folder + "\\";
}

// ---------------------------------------------------------------- work off the thread

// The thread holds a reference to the module of its own, taken before it starts, and lets go of
// it with its last call, which never returns: no instruction of the module runs after the module
// may have been unmapped.
namespace {

using Work = std::function<void()>;

void RunWork(Work* raw) noexcept {
  const std::unique_ptr<Work> work(raw);
  try {
    (*work)();
  } catch (...) {
    // Nothing leaves the thread; the work's owner sees no answer.
  }
}

DWORD WINAPI OffThreadMain(LPVOID parameter) {
  RunWork(static_cast<Work*>(parameter));
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OffThreadMain), &self);
  FreeLibraryAndExitThread(self, 0);
}

}  // namespace

bool RunOffThread(std::function<void()> work) {
  HMODULE held = nullptr;  // the thread's own reference to the module
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&OffThreadMain), &held))
    return false;
  auto owned = std::make_unique<Work>(std::move(work));
  const HANDLE thread = CreateThread(nullptr, 64 * 1024, &OffThreadMain, owned.get(),
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!thread) {
    FreeLibrary(held);  // no thread to let go of it
    return false;
  }
  owned.release();  // the thread owns it now
  CloseHandle(thread);
  return true;
}

}  // namespace platform
