// kdohost: the server stand-in as a Windows program. Loads a module library,
// registers it, creates the instances named on the command line, runs the
// message loop for a while, then destroys them and unregisters.
//
//   kdohost [--settings FILE] [--run SECONDS] LIBRARY.dll [INSTANCE_ID...]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "KDOHost.h"
#include "win32/ModuleLibrary.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: kdohost [--settings FILE] [--run SECONDS] LIBRARY.dll [INSTANCE_ID...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string settings, library;
  unsigned runSeconds = 0;
  std::vector<uint16_t> ids;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--settings" && i + 1 < argc) {
      settings = argv[++i];
    } else if (a == "--run" && i + 1 < argc) {
      runSeconds = unsigned(std::strtoul(argv[++i], nullptr, 10));
    } else if (library.empty()) {
      library = a;
    } else {
      char* end = nullptr;
      unsigned long id = std::strtoul(a.c_str(), &end, 10);
      if (!end || *end || id > 65535) return Usage();
      ids.push_back(uint16_t(id));
    }
  }
  if (library.empty()) return Usage();

  host::ModuleLibrary lib(library);  // outlives the server, which may still call into it
  host::Server server(settings);
  if (!lib.Loaded() || !lib.ModuleInfo()) {
    std::fprintf(stderr, "kdohost: cannot load %s or find KDOModuleInfo\n", library.c_str());
    return 1;
  }
  const TKDOModuleInfo* info = nullptr;
  server.LoadModule(lib.ModuleInfo(), &info);
  size_t shown = 0;
  auto flushLog = [&] {
    for (; shown < server.Log().size(); ++shown) {
      const host::LogLine& l = server.Log()[shown];
      std::printf("log %d [%s] %s\n", l.Type, l.Sender.c_str(), l.Text.c_str());
    }
    std::fflush(stdout);
  };
  for (uint16_t id : ids)
    if (KDOFailed(server.CreateInstance(info->ModuleID, id))) std::fprintf(stderr, "kdohost: instance %u failed\n", id);
  flushLog();
  host::PumpMessages(runSeconds * 1000);
  server.DestroyAllInstances();
  server.UnloadModules();
  flushLog();
  return server.HeldReferences() == 0 ? 0 : 1;
}
