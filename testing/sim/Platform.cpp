// The platform on the simulated world (native build). With no world, every
// lookup finds nothing and every send fails, as on an empty desktop.
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

ProcessHandle::ProcessHandle(uint32_t access, uint32_t processId) {
  if (W() && processId) handle_ = W()->OpenProcess(processId, access);
}

ProcessHandle::~ProcessHandle() {
  if (handle_ && W()) W()->CloseProcess(handle_);
}

bool ProcessHandle::Read(uint32_t address, void* buffer, std::size_t size) const {
  return handle_ && W() && W()->ReadProcess(handle_, address, buffer, size);
}

bool ProcessHandle::Write(uint32_t address, const void* data, std::size_t size) const {
  return handle_ && W() && W()->WriteProcess(handle_, address, data, size);
}

uint32_t ProcessHandle::Reserve(uint32_t size) const { return handle_ && W() ? W()->ReserveIn(handle_, size) : 0; }

bool ProcessHandle::Release(uint32_t address) const { return handle_ && W() && W()->ReleaseIn(handle_, address); }

StartedProcess ShellOpen(const std::string& file, const std::string& parameters, int showCommand) {
  return StartedProcess(W() ? W()->Shell(file, parameters, showCommand) : 0);
}

StartedProcess::~StartedProcess() = default;  // a simulated process needs no handle closed

bool StartedProcess::Running() const { return handle_ && W() && W()->ProcessAlive(uint32_t(handle_)); }

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
