// The user's folder of covers, as the module makes it, and the covers a test leaves there.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <set>
#include <string>

namespace e2e {

inline std::string CoversFolder() {
  char base[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base);
  return std::string(base) + "\\Winamp Control\\Covers\\";
}

// While it lives, the covers a test makes; gone, it removes them, however the test ended.
class NewCovers {
 public:
  NewCovers() : before_(Files()) {}
  ~NewCovers() {
    for (const std::string& file : Files())
      if (!before_.count(file)) DeleteFileA(file.c_str());
  }
  NewCovers(const NewCovers&) = delete;
  NewCovers& operator=(const NewCovers&) = delete;

 private:
  static std::set<std::string> Files() {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(CoversFolder(), error))
      names.insert(entry.path().string());
    return names;
  }
  std::set<std::string> before_;
};

}  // namespace e2e
