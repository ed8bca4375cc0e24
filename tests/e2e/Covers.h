// The user's folder of covers, as the module makes it, and the covers a test leaves there.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <string>

#include "CoverFiles.h"

namespace e2e {

inline std::string CoversFolder() {
  char base[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base);
  return std::string(base) + "\\Winamp Control\\Covers\\";
}

// Gone, it removes the covers that hold its picture, however the test ended. Only those: tests that
// run beside it keep theirs, each with a picture of its own.
class CoversOf {
 public:
  explicit CoversOf(coverfiles::Bytes picture) : picture_(std::move(picture)) {}
  ~CoversOf() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(CoversFolder(), error))
      if (coverfiles::Read(entry.path().string()) == picture_) DeleteFileA(entry.path().string().c_str());
  }
  CoversOf(const CoversOf&) = delete;
  CoversOf& operator=(const CoversOf&) = delete;

 private:
  coverfiles::Bytes picture_;
};

}  // namespace e2e
