// The platform on the simulated world (native build). With no world, every
// lookup finds nothing and every send fails, as on an empty desktop.
#include <dirent.h>
#include <unistd.h>

#include "platform/Platform.h"

#include "sim/SimWorld.h"

namespace platform {

namespace {
sim::World* W() { return sim::World::Current(); }
}  // namespace

WindowHandle FindWindowByClass(const std::string& className) { return W() ? W()->FindWindow(className) : 0; }

std::vector<WindowHandle> FindWindowsByClass(const std::string& className) {
  return W() ? W()->FindWindows(className) : std::vector<WindowHandle>();
}

SendResult SendMessageWait(WindowHandle window, uint32_t message, uint32_t wParam, uintptr_t lParam,
                           uint32_t timeoutMs) {
  return W() ? W()->Send(window, message, wParam, lParam, timeoutMs) : SendResult{SendOutcome::NoWindow, 0};
}

bool PostMessageNoWait(WindowHandle window, uint32_t message, uint32_t wParam, uint32_t lParam) {
  return W() && W()->Post(window, message, wParam, lParam);
}

bool AnswerQuestion::AskWindow(WindowHandle window, uintptr_t id, uint32_t message, uint32_t wParam,
                               uint32_t lParam) {
  return W() && W()->AskAnswer(window, id, message, wParam, lParam);
}

uint32_t TickMs() { return W() ? W()->TickMs() : 0; }

uint32_t WindowProcessId(WindowHandle window) { return W() ? W()->WindowProcess(window) : 0; }

// A process opened for its memory is one of the world's handles, and a started one is watched by its
// id; a file (its descriptor plus 1) and a search are the machine's own (Files.cpp).
void CloseHandleOf(HandleKind kind, uintptr_t value) noexcept {
  switch (kind) {
    case HandleKind::Process:
      if (W()) W()->CloseProcess(value);
      break;
    case HandleKind::Started: break;
    case HandleKind::File: ::close(int(value) - 1); break;
    case HandleKind::Search: ::closedir(reinterpret_cast<DIR*>(value)); break;
  }
}

ProcessHandle::ProcessHandle(uint32_t access, uint32_t processId)
    : handle_(W() && processId ? W()->OpenProcess(processId, access) : 0) {}

bool ProcessHandle::Read(uint32_t address, void* buffer, std::size_t size) const {
  return handle_ && W() && W()->ReadProcess(handle_.Get(), address, buffer, size);
}

bool ProcessHandle::Write(uint32_t address, const void* data, std::size_t size) const {
  return handle_ && W() && W()->WriteProcess(handle_.Get(), address, data, size);
}

uint32_t ProcessHandle::Reserve(uint32_t size) const { return handle_ && W() ? W()->ReserveIn(handle_.Get(), size) : 0; }

bool ProcessHandle::Release(uint32_t address) const { return handle_ && W() && W()->ReleaseIn(handle_.Get(), address); }

StartedProcess ShellOpen(const std::string& file, const std::string& parameters, int showCommand) {
  return StartedProcess(W() ? W()->Shell(file, parameters, showCommand) : 0);
}

bool StartedProcess::Running() const { return handle_ && W() && W()->ProcessAlive(uint32_t(handle_.Get())); }

bool FileExists(const std::string& path) { return W() && W()->IsFile(path); }

double Now() { return W() ? W()->NowDays() : 0.0; }

std::string FormatLongTime(int hours, int minutes, int seconds) {
  return sim::FormatTime(W() ? W()->LongTimeFormat() : "h:nn:ss", hours, minutes, seconds);
}

// ---------------------------------------------------------------- timer


Timer::~Timer() {
  if (id_ && W()) W()->StopTimer(this);
}

// A timer runs while enabled, with a handler and a non-zero interval.
void Timer::Restart() {
  if (!W()) return;
  W()->StopTimer(this);
  id_ = 0;
  if (enabled_ && interval_ > 0 && onTimer_) {
    W()->StartTimer(this, interval_);
    id_ = 1;
  }
}

}  // namespace platform
