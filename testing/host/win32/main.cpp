// kdohost: the server stand-in as a Windows program. Loads a module library,
// registers it, creates the instances named on the command line, runs a
// script of calls (or a prompt), lets the message loop run, then destroys the
// instances and unregisters. Prints the server's log and debug lines as they come.
//
//   kdohost [--settings FILE] [--script FILE | --interactive] [--run SECONDS] LIBRARY.dll [INSTANCE_ID...]
//
// The script language is HostScript.h's; $DIR in a script stands for kdohost's folder.
//
// Exit code: 0 when everything ran and every reference was given back; 1 otherwise.
#include <windows.h>

#include <algorithm>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/HostScript.h"
#include "host/HostSelector.h"
#include "host/KDOHost.h"
#include "host/win32/ModuleLibrary.h"
#include "host/win32/Screenshot.h"
#include "host/win32/SelectorDialog.h"
#include "control/Device.WinampControl_Types.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: kdohost [--settings FILE] [--script FILE | --interactive] [--run SECONDS] LIBRARY.dll "
               "[INSTANCE_ID...]\n");
  return 2;
}

// Prints what the server received since the last call, a line per instance
// whenever its mirrored variables changed (at most one a second), and one
// when an instance's player window appears and when it goes.
class Echo {
 public:
  explicit Echo(const host::Server& s) : server_(s) {}
  void Flush() {
    Variables();
    for (; log_ < server_.Log().size(); ++log_) {
      const host::LogLine& l = server_.Log()[log_];
      std::printf("log   %d [%s] %s\n", l.Type, l.Sender.c_str(), l.Text.c_str());
    }
    for (; debug_ < server_.Debug().size(); ++debug_) {
      const host::DebugLine& d = server_.Debug()[debug_];
      std::printf("debug #%u %s%s%s\n", d.Id, d.Message.c_str(), d.Data.empty() ? "" : " ", d.Data.c_str());
    }
    Players();
    std::fflush(stdout);
  }

 private:
  // The window class the module gives an instance's player; watched on after
  // the instance has gone, since its player closes after that.
  void Players() {
    for (uint16_t id : server_.InstanceIds()) up_.try_emplace(id, false);
    for (auto& [id, up] : up_) {
      const std::string cls = "WA_KDO_" + std::to_string(id);
      if (up == (FindWindowA(cls.c_str(), nullptr) != nullptr)) continue;
      up = !up;
      if (up) std::printf("player #%u up: window class %s\n", id, cls.c_str());
      else std::printf("player #%u closed\n", id);
    }
  }

  void Variables() {
    const DWORD now = GetTickCount();
    for (uint16_t id : server_.InstanceIds()) {
      std::string line;
      // The module's settings table names the mirrored values' keys.
      for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) {
        if (row.Type < 0) continue;
        const std::string key(kdo::text::View(row.Key));
        std::optional<std::string> ident = server_.Setting(id, "Settings", key);
        if (!ident || ident->empty()) continue;
        std::optional<host::Value> v = server_.Variable(*ident);
        line += "  " + key + " " + (v ? host::Show(*v) : "-");
      }
      if (line.empty() || line == shown_[id] || now - when_[id] < 1000) continue;
      shown_[id] = line;
      when_[id] = now;
      std::printf("vars  #%u%s\n", id, line.c_str());
    }
  }

  const host::Server& server_;
  size_t log_ = 0, debug_ = 0;
  std::map<uint16_t, std::string> shown_;
  std::map<uint16_t, DWORD> when_;
  std::map<uint16_t, bool> up_;  // instance: its player's window is there
};

// Lines typed or piped at the prompt, handed from the reader thread to the main
// thread. They wait here rather than in the thread's message queue: a `wait`
// pumps messages in a loop of its own and would swallow them there.
struct Inbox {
  std::mutex lock;
  std::deque<std::optional<std::string>> lines;  // nullopt: end of input
  bool stopped = false;                          // the main thread takes no more lines
  HANDLE ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // auto-reset: set after every push
  HANDLE next = CreateEventA(nullptr, FALSE, FALSE, nullptr);   // auto-reset: the line taken has run
  Inbox() = default;
  ~Inbox() {
    if (ready) CloseHandle(ready);
    if (next) CloseHandle(next);
  }
  Inbox(const Inbox&) = delete;
  Inbox& operator=(const Inbox&) = delete;
  void Push(std::optional<std::string> line) {
    {
      std::lock_guard<std::mutex> guard(lock);
      lines.push_back(std::move(line));
    }
    SetEvent(ready);
  }
  // The oldest line, if one is there.
  std::optional<std::optional<std::string>> Take() {
    std::lock_guard<std::mutex> guard(lock);
    if (lines.empty()) return std::nullopt;
    std::optional<std::string> line = std::move(lines.front());
    lines.pop_front();
    return line;
  }
  // Lets the reader read the next line, or (stop) end.
  void Release(bool stop) {
    if (stop) {
      std::lock_guard<std::mutex> guard(lock);
      stopped = true;
    }
    SetEvent(next);
  }
  bool Stopped() {
    std::lock_guard<std::mutex> guard(lock);
    return stopped;
  }
};

bool InputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// The next line of input without its end, or nullopt at the end of the input. At a console the
// console edits the line; Ctrl-D on an empty line ends the input, as at any terminal (on a line
// with text it does nothing), and so does Windows' own Ctrl-Z and Enter.
std::optional<std::string> ReadLine(bool console) {
  if (!console) {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
  }
  constexpr wchar_t kCtrlD = 4, kCtrlZ = 26;
  std::wstring line, typed;  // the line so far; the text the console goes on editing after a Ctrl-D
  while (line.empty() || line.back() != L'\n') {
    std::wstring chunk = typed;
    chunk.resize(4096);
    CONSOLE_READCONSOLE_CONTROL control{sizeof control, ULONG(typed.size()), 1u << kCtrlD, 0};
    DWORD n = 0;
    if (!ReadConsoleW(GetStdHandle(STD_INPUT_HANDLE), chunk.data(), DWORD(chunk.size()), &n, &control) || n == 0)
      return std::nullopt;
    chunk.resize(n);
    typed.clear();
    if (const std::size_t at = chunk.find(kCtrlD); at != std::wstring::npos) {
      chunk.erase(at, 1);
      if (line.empty() && chunk.empty()) {
        std::printf("\n");
        return std::nullopt;
      }
      typed = chunk;
      continue;
    }
    line += chunk;
  }
  while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
  if (line == std::wstring(1, kCtrlZ)) return std::nullopt;
  // The server's texts are in the ANSI code page.
  std::string narrow(std::size_t(WideCharToMultiByte(CP_ACP, 0, line.data(), int(line.size()), nullptr, 0,
                                                     nullptr, nullptr)),
                     '\0');
  WideCharToMultiByte(CP_ACP, 0, line.data(), int(line.size()), narrow.data(), int(narrow.size()), nullptr, nullptr);
  return narrow;
}

// Reads the prompt's lines on a thread of its own, so that timers keep ticking
// while the user types, and runs each on the main thread between messages.
// The next line is read only once the one before has run and the prompt is
// shown: a console echoes a line when it is read, so pasted lines come each
// after its prompt, not all at once before their output. Returns at the end of
// input, at `quit`, or when the loop is told to quit. The prompt is shown to a
// person at a console only: piped lines are not echoed, and their prompts
// would stack up on one line.
void Interactive(host::ScriptRunner& run, Echo& echo) {
  const auto inbox = std::make_shared<Inbox>();
  if (!inbox->ready || !inbox->next) return;
  const bool console = InputIsConsole();
  auto prompt = [console] {
    if (console) std::printf("kdo> ");
    std::fflush(stdout);
  };
  prompt();
  // Holds the inbox itself: left behind on a quit message, it may outlive this call.
  std::thread reader([inbox, console] {
    for (;;) {
      std::optional<std::string> line = ReadLine(console);
      const bool end = !line;
      inbox->Push(std::move(line));
      if (end) return;
      WaitForSingleObject(inbox->next, INFINITE);
      if (inbox->Stopped()) return;
    }
  });
  bool running = true;
  while (running) {
    if (std::optional<std::optional<std::string>> taken = inbox->Take()) {
      if (!*taken) break;
      std::string out, error;
      const bool ran = run.Run(**taken, out, error);
      echo.Flush();  // what the server heard during the line comes before its result
      if (!ran) std::printf("error: %s\n", error.c_str());
      else if (!out.empty()) std::printf("%s\n", out.c_str());
      if (run.Ended()) {
        std::fflush(stdout);
        inbox->Release(true);
        break;
      }
      prompt();
      inbox->Release(false);
      continue;
    }
    // Input already in the queue counts too, not only what came since the last look.
    if (MsgWaitForMultipleObjectsEx(1, &inbox->ready, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0 + 1)
      continue;
    MSG msg;
    while (running && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        running = false;
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    echo.Flush();
  }
  if (running) {
    reader.join();  // at the end of its input, or told to stop
  } else {
    reader.detach();  // still blocked on input; the process ends without it
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string settings, library, script;
  bool interactive = false;
  unsigned runSeconds = 0;
  std::vector<uint16_t> ids;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--settings" && i + 1 < argc) {
      settings = argv[++i];
    } else if (a == "--script" && i + 1 < argc) {
      script = argv[++i];
    } else if (a == "--interactive") {
      interactive = true;
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
  if (!lib.Loaded() || !lib.ModuleInfo()) {
    std::fprintf(stderr, "kdohost: cannot load %s or find KDOModuleInfo\n", library.c_str());
    return 1;
  }
  host::Server server(settings);
  // What an earlier run stored applies to the instances created now: say so, since nothing else would.
  if (const std::map<uint32_t, std::size_t> stored = server.SettingCounts(); !stored.empty()) {
    std::string line = "stored settings read from " + settings + ":";
    for (const auto& [id, count] : stored) line += " instance " + std::to_string(id) + " (" + std::to_string(count) + "),";
    line.back() = ';';
    std::printf("%s delete the file to start clean\n", line.c_str());
  }
  // The variable selector lets a person pick from the server's variables of the admitted types.
  host::Selector selector(server);
  selector.Chooser = [](uint8_t, const std::vector<std::string>& names) {
    return host::ChooseFromList("Select a variable", names);
  };
  Echo echo(server);
  bool ok = true;
  const TKDOModuleInfo* info = nullptr;
  server.LoadModule(lib.ModuleInfo(), &info);
  for (uint16_t id : ids) {
    if (KDOFailed(server.CreateInstance(info->ModuleID, id))) {
      std::fprintf(stderr, "kdohost: instance %u could not be created\n", id);
      ok = false;
    }
  }
  echo.Flush();

  host::ScriptRunner run(server, [&](uint32_t ms) {
    for (uint32_t waited = 0; waited < ms; waited += 250) {  // show changes as they come
      host::PumpMessages(std::min<uint32_t>(250, ms - waited));
      echo.Flush();
    }
  });
  run.Module = info->ModuleID;
  run.Macros = {{"DIR", host::ProgramDirectory()}};
  run.Screenshot = [](uint16_t, const std::string& file) {
    host::PumpMessages(300);  // let it paint
    HWND page = FindWindowA("KDOForm", nullptr);  // the page shown last is on top
    return page && IsWindowVisible(page) && host::SaveWindowPng(page, file);
  };
  if (!script.empty()) {
    std::ifstream in(script);
    if (!in) {
      std::fprintf(stderr, "kdohost: cannot read %s\n", script.c_str());
      ok = false;
    }
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
      std::string out, error;
      const bool ran = run.Run(line, out, error);
      echo.Flush();
      if (!ran) {
        std::printf("%s:%d: error: %s\n", script.c_str(), n, error.c_str());
        ok = false;
        break;  // the rest would build on what failed
      }
      if (!out.empty()) std::printf("%s\n", out.c_str());
      if (run.Ended()) break;
    }
  }
  if (interactive && !run.Ended()) Interactive(run, echo);
  host::PumpMessages(runSeconds * 1000);

  server.DestroyAllInstances();
  server.UnloadModules();
  echo.Flush();
  if (server.HeldReferences() != 0) {
    std::fprintf(stderr, "kdohost: %d server references were not given back\n", int(server.HeldReferences()));
    ok = false;
  }
  return ok ? 0 : 1;
}
