// The folder of this test process's own files, under the temp folder: named with the process id (and
// a counter past a leftover of an earlier process with that id), made at first use and removed at
// exit, so that tests running at the same time (ctest -j, or another clone's suite) never share a file.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace testfolder {

// The folder, ending in its separator.
inline const std::string& Own() {
  struct Folder {
    std::string path;
    Folder() {
#ifdef _WIN32
      const long pid = _getpid();
      const char separator = '\\';
#else
      const long pid = getpid();
      const char separator = '/';
#endif
      for (int n = 0; n < 100; ++n) {
        const std::string name = ::testing::TempDir() + "wac_test_" + std::to_string(pid) + "_" + std::to_string(n);
        std::error_code error;
        if (std::filesystem::create_directory(name, error)) {
          path = name + separator;
          return;
        }
        if (error) break;
      }
      throw std::runtime_error("no folder of its own could be made in " + ::testing::TempDir());
    }
    ~Folder() {
      std::error_code error;
      std::filesystem::remove_all(path, error);
    }
  };
  static const Folder folder;
  return folder.path;
}

}  // namespace testfolder
