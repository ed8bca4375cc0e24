// The platform on real Windows (ANSI calls).
#include "platform/Platform.h"

#include <windows.h>
#include <shellapi.h>

#include <map>

#include "platform/win32/ThisModule.h"

namespace platform {

static_assert(sizeof(CopyDataRecord) == sizeof(COPYDATASTRUCT));
static_assert(offsetof(CopyDataRecord, cbData) == offsetof(COPYDATASTRUCT, cbData));
static_assert(offsetof(CopyDataRecord, lpData) == offsetof(COPYDATASTRUCT, lpData));
static_assert(access::kVmOperation == PROCESS_VM_OPERATION && access::kVmRead == PROCESS_VM_READ &&
              access::kVmWrite == PROCESS_VM_WRITE);

namespace {
HWND ToHwnd(WindowHandle h) { return reinterpret_cast<HWND>(uintptr_t(h)); }
}  // namespace

WindowHandle FindWindowByClass(const std::string& className) {
  return WindowHandle(reinterpret_cast<uintptr_t>(FindWindowA(className.c_str(), nullptr)));
}

// FindWindowA's walk, continued past each window found.
std::vector<WindowHandle> FindWindowsByClass(const std::string& className) {
  std::vector<WindowHandle> found;
  HWND after = nullptr;
  while ((after = FindWindowExA(nullptr, after, className.c_str(), nullptr)) != nullptr)
    found.push_back(WindowHandle(reinterpret_cast<uintptr_t>(after)));
  return found;
}

// Gives up on a player that does not answer within the limit, and at once on
// one that Windows already considers hung. SMTO_BLOCK: nothing sent to this
// thread (a question's answer, another thread's message, an event script it
// would start) runs inside the wait, half way through a call of ours.
SendResult SendMessageWait(WindowHandle window, uint32_t message, uint32_t wParam, uintptr_t lParam,
                           uint32_t timeoutMs) {
  DWORD_PTR result = 0;
  SetLastError(0);
  if (SendMessageTimeoutA(ToHwnd(window), message, WPARAM(wParam), LPARAM(lParam), SMTO_BLOCK | SMTO_ABORTIFHUNG,
                          timeoutMs, &result))
    return {SendOutcome::Answered, int32_t(uint32_t(result))};
  const bool gone = GetLastError() == ERROR_INVALID_WINDOW_HANDLE || !IsWindow(ToHwnd(window));
  return {gone ? SendOutcome::NoWindow : SendOutcome::GivenUp, 0};
}

bool PostMessageNoWait(WindowHandle window, uint32_t message, uint32_t wParam, uint32_t lParam) {
  return PostMessageA(ToHwnd(window), message, WPARAM(wParam), LPARAM(lParam)) != FALSE;
}

// A question's answer comes back as a sent-message callback, which the
// server's message loop dispatches, whenever the player answers: possibly after
// the server has unloaded this module. A question asked cannot be withdrawn, so
// each one keeps the module loaded (a reference of its own) until its answer has
// come, and the answer routine lets go of that reference on its way out: its last
// instruction jumps to FreeLibrary with the caller's return address, so that no
// instruction of the module runs after the module may have been unmapped.
namespace win32 {

HMODULE ThisModule() {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &self);
  return self;
}

}  // namespace win32
}  // namespace platform

// The answer's work: the question's handler, if its asker is still there. Returns
// the module whose reference the question held.
extern "C" __attribute__((used)) HMODULE WacAnswerArrived(ULONG_PTR id, LRESULT reply) noexcept {
  platform::AnswerQuestion::Answered(uintptr_t(id), int32_t(uint32_t(reply)));
  return platform::win32::ThisModule();
}

// SENDASYNCPROC: (HWND, UINT, ULONG_PTR id, LRESULT reply), stdcall. Runs the
// answer's work with the id and the reply, then turns its own frame into
// FreeLibrary(module)'s: the return address goes over the third argument, the
// module over the fourth, and FreeLibrary's `ret 4` returns straight to the
// caller with all sixteen bytes of arguments popped.
extern "C" __attribute__((naked)) void CALLBACK WacAnswerThunk(HWND, UINT, ULONG_PTR, LRESULT) {
  asm("pushl 16(%esp)\n\t"  // the reply (each push moves the arguments 4 bytes further up)
      "pushl 16(%esp)\n\t"  // the id
      "call _WacAnswerArrived\n\t"
      "addl $8, %esp\n\t"
      "testl %eax, %eax\n\t"
      "jz 1f\n\t"
      "movl (%esp), %ecx\n\t"
      "movl %ecx, 12(%esp)\n\t"
      "movl %eax, 16(%esp)\n\t"
      "addl $12, %esp\n\t"
      "jmp *__imp__FreeLibrary@4\n"
      "1:\n\t"
      "ret $16");
}

namespace platform {

bool AnswerQuestion::AskWindow(WindowHandle window, uintptr_t id, uint32_t message, uint32_t wParam,
                               uint32_t lParam) {
  HMODULE held = nullptr;  // the question's own reference to the module
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&WacAnswerThunk), &held))
    return false;
  if (SendMessageCallbackA(ToHwnd(window), message, WPARAM(wParam), LPARAM(lParam), &WacAnswerThunk, ULONG_PTR(id)))
    return true;
  FreeLibrary(held);  // not asked: no answer will come to let go of it
  return false;
}

// The performance counter in whole milliseconds, cut to 32 bits.
uint32_t TickMs() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart > 0 ? f.QuadPart : 1;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const int64_t seconds = now.QuadPart / frequency;
  const int64_t rest = now.QuadPart % frequency;
  return uint32_t(uint64_t(seconds) * 1000u + uint64_t(rest * 1000 / frequency));
}

uint32_t WindowProcessId(WindowHandle window) {
  DWORD pid = 0;
  if (!GetWindowThreadProcessId(ToHwnd(window), &pid)) return 0;
  return pid;
}

// Every kind the module holds is a kernel object's handle but a search's.
void CloseHandleOf(HandleKind kind, uintptr_t value) noexcept {
  if (kind == HandleKind::Search)
    FindClose(reinterpret_cast<HANDLE>(value));
  else
    CloseHandle(reinterpret_cast<HANDLE>(value));
}

ProcessHandle::ProcessHandle(uint32_t access, uint32_t processId)
    : handle_(processId ? reinterpret_cast<uintptr_t>(OpenProcess(access, FALSE, processId)) : 0) {}

bool ProcessHandle::Read(uint32_t address, void* buffer, std::size_t size) const {
  if (!handle_) return false;
  SIZE_T got = 0;
  return ReadProcessMemory(reinterpret_cast<HANDLE>(handle_.Get()), reinterpret_cast<LPCVOID>(uintptr_t(address)), buffer,
                           size, &got) &&
         got == size;
}

bool ProcessHandle::Write(uint32_t address, const void* data, std::size_t size) const {
  if (!handle_) return false;
  SIZE_T put = 0;
  return WriteProcessMemory(reinterpret_cast<HANDLE>(handle_.Get()), reinterpret_cast<LPVOID>(uintptr_t(address)), data,
                            size, &put) &&
         put == size;
}

uint32_t ProcessHandle::Reserve(uint32_t size) const {
  if (!handle_) return 0;
  return uint32_t(reinterpret_cast<uintptr_t>(
      VirtualAllocEx(reinterpret_cast<HANDLE>(handle_.Get()), nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)));
}

bool ProcessHandle::Release(uint32_t address) const {
  return handle_ &&
         VirtualFreeEx(reinterpret_cast<HANDLE>(handle_.Get()), reinterpret_cast<LPVOID>(uintptr_t(address)), 0, MEM_RELEASE);
}

StartedProcess ShellOpen(const std::string& file, const std::string& parameters, int showCommand) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = showCommand;
  if (!ShellExecuteExA(&info)) return StartedProcess();
  return StartedProcess(reinterpret_cast<uintptr_t>(info.hProcess));
}

bool StartedProcess::Running() const {
  return handle_ && WaitForSingleObject(reinterpret_cast<HANDLE>(handle_.Get()), 0) == WAIT_TIMEOUT;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Days since 1899-12-30 of the local date, plus the time of day as a fraction.
double Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  // Days from the civil date (proleptic Gregorian), shifted so that 1899-12-30 is day 0.
  int y = t.wYear - (t.wMonth <= 2 ? 1 : 0);
  int era = (y >= 0 ? y : y - 399) / 400;
  int yoe = y - era * 400;
  int mp = (t.wMonth + 9) % 12;
  int doy = (153 * mp + 2) / 5 + t.wDay - 1;
  int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  long days = long(era) * 146097 + doe - 719468;  // days since 1970-01-01
  days += 25569;                                   // 1899-12-30 to 1970-01-01
  double ms = ((t.wHour * 60.0 + t.wMinute) * 60.0 + t.wSecond) * 1000.0 + t.wMilliseconds;
  return double(days) + ms / 86400000.0;
}

// The user's long time format (null format: the locale's own).
std::string FormatLongTime(int hours, int minutes, int seconds) {
  SYSTEMTIME t{};
  t.wYear = 1899;
  t.wMonth = 12;
  t.wDay = 30;
  t.wHour = WORD(hours);
  t.wMinute = WORD(minutes);
  t.wSecond = WORD(seconds);
  char buffer[128];
  int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, nullptr, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, std::size_t(n - 1)) : std::string();
}

// ---------------------------------------------------------------- timer

namespace {

// Thread timers, by the identifier SetTimer gave them. The module runs on the
// server's thread only; not thread_local, which would pin the module in memory.
std::map<UINT_PTR, Timer*> tTimers;

void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
  auto it = tTimers.find(id);
  if (it != tTimers.end()) it->second->Tick();
}

}  // namespace


Timer::~Timer() {
  if (id_) {
    KillTimer(nullptr, id_);
    tTimers.erase(id_);
  }
}

// A timer runs while enabled, with a handler and a non-zero interval.
void Timer::Restart() {
  if (id_) {
    KillTimer(nullptr, id_);
    tTimers.erase(id_);
    id_ = 0;
  }
  if (enabled_ && interval_ > 0 && onTimer_) {
    id_ = SetTimer(nullptr, 0, interval_, &TimerProc);
    if (id_) tTimers[id_] = this;
  }
}

}  // namespace platform
