// Loads a module library the way the server does: LoadLibraryA, then the
// export KDOModuleInfo by name. Frees the library when destroyed.
#pragma once

#include <string>

#include "sdk/UKDOTypes.h"

namespace host {

class ModuleLibrary {
 public:
  explicit ModuleLibrary(const std::string& path);
  ~ModuleLibrary();
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  // Null when the library is not loaded or lacks the export.
  TKDOModuleInfoProc ModuleInfo() const { return proc_; }
  // The address of any export by name (null when absent).
  void* Export(const char* name) const;

 private:
  void* handle_ = nullptr;
  TKDOModuleInfoProc proc_ = nullptr;
};

// Runs the thread's message loop until `ms` milliseconds have passed.
void PumpMessages(unsigned ms);

// The folder of the running program, without a trailing separator.
std::string ProgramDirectory();

}  // namespace host
