// What the platform layer leaves behind when memory runs out halfway. A binary of its own: it replaces
// the global operator new, which the other tests' sanitizers and memcheck must keep for themselves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "TestFolder.h"
#include "platform/Platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

long gFailIn = 0;  // the allocation, counted from 1, that fails; 0: none

std::size_t OpenHandles() {
#ifdef _WIN32
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
#else
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
#endif
}

}  // namespace

void* operator new(std::size_t size) {
  if (gFailIn > 0 && --gFailIn == 0) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

// Each allocation of the read made to fail in turn, until one read gets through.
TEST(FailingAllocation, AFolderReadThatRunsOutOfMemoryLeavesNoSearchOpen) {
  const std::string path = testfolder::Own();
  for (const char* name : {"a.jpg", "b.png", "c.mp3"}) std::ofstream(path + name) << name;
  const std::size_t before = OpenHandles();
  int failed = 0;
  for (long fail = 1; fail < 1000; ++fail) {
    gFailIn = fail;
    try {
      const auto files = platform::FilesIn(path);
      gFailIn = 0;
      EXPECT_EQ(files.size(), 3u);
      break;
    } catch (const std::bad_alloc&) {
      gFailIn = 0;
      ++failed;
    }
    EXPECT_EQ(OpenHandles(), before) << "after allocation " << fail << " failed";
  }
  EXPECT_GT(failed, 0) << "no allocation of the read was made to fail";
}
