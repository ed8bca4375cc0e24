// The scenarios' threads under Wine: each other thread a real one with a message-only window and
// its own message loop; this thread has a window too, for what the others send or post it.
#include "OtherThreads.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "PlayerNumbers.h"
#include "host/win32/ModuleLibrary.h"

namespace threads {

namespace {

constexpr UINT kRun = WM_APP + 1;   // to this thread's window: run the code numbered wParam
constexpr UINT kHang = WM_APP + 2;  // to another thread's window: take nothing for wParam ms
constexpr DWORD kGuardMs = 60000;   // a thread that does not come up or go within this is broken

class Locked {
 public:
  explicit Locked(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~Locked() { LeaveCriticalSection(&section_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

}  // namespace

struct Desktop::Impl {
  Impl() {
    InitializeCriticalSection(&lock);
    WNDCLASSA c{};
    c.lpfnWndProc = &HereProc;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = kHereClass;
    RegisterClassA(&c);
    here = CreateWindowExA(0, kHereClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, this);
  }
  ~Impl() {
    DestroyWindow(here);
    UnregisterClassA(kHereClass, GetModuleHandleA(nullptr));
    DeleteCriticalSection(&lock);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void Note(std::string text) {
    Locked l(lock);
    journal.push_back(std::move(text));
  }
  WPARAM AddCode(std::function<void()> code) {
    Locked l(lock);
    codes[++lastCode] = std::move(code);
    return lastCode;
  }

  static LRESULT CALLBACK HereProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
      SetWindowLongPtrA(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message != kRun || !self) return DefWindowProcA(window, message, wParam, lParam);
    std::function<void()> code;
    {
      Locked l(self->lock);
      code = self->codes[wParam];
    }
    if (code) code();
    return 0;
  }

  static constexpr const char* kHereClass = "OtherThreadsHere";
  CRITICAL_SECTION lock;
  std::vector<std::string> journal;
  std::map<WPARAM, std::function<void()>> codes;
  WPARAM lastCode = 0;
  HWND here = nullptr;
};

namespace {

class WinThread final : public OtherThread {
 public:
  explicit WinThread(Desktop::Impl& desktop) : desktop_(desktop) {
    ready_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    hanging_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &Main, this, 0, nullptr);
    WaitForSingleObject(ready_, kGuardMs);
  }
  ~WinThread() override {
    PostMessageA(window_, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread_, kGuardMs);
    CloseHandle(thread_);
    CloseHandle(hanging_);
    CloseHandle(ready_);
  }
  WinThread(const WinThread&) = delete;
  WinThread& operator=(const WinThread&) = delete;

  platform::WindowHandle Window() const override {
    return platform::WindowHandle(reinterpret_cast<uintptr_t>(window_));
  }
  void Hang(uint32_t ms) override {
    PostMessageA(window_, kHang, ms, 0);
    WaitForSingleObject(hanging_, kGuardMs);
  }
  void SpendInside(uint32_t tag, uint32_t ms) override {
    Locked l(desktop_.lock);
    spend_[tag] = ms;
  }
  void SendsUs(uint32_t tag, uint32_t afterMs, std::function<void()> code) override {
    const WPARAM id = desktop_.AddCode(std::move(code));
    Locked l(desktop_.lock);
    along_[tag].push_back({true, afterMs, id});
  }
  void PostsUs(uint32_t tag, uint32_t afterMs, std::function<void()> code) override {
    const WPARAM id = desktop_.AddCode(std::move(code));
    Locked l(desktop_.lock);
    along_[tag].push_back({false, afterMs, id});
  }

 private:
  struct Along {
    bool Sends = false;
    uint32_t AfterMs = 0;
    WPARAM Code = 0;
  };

  static DWORD WINAPI Main(void* self) { return static_cast<WinThread*>(self)->Run(); }

  DWORD Run() {
    const std::string name = "OtherThread" + std::to_string(GetCurrentThreadId());
    WNDCLASSA c{};
    c.lpfnWndProc = &Proc;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = name.c_str();
    RegisterClassA(&c);
    window_ = CreateWindowExA(0, name.c_str(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, this);
    SetEvent(ready_);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
    UnregisterClassA(name.c_str(), c.hInstance);
    return 0;
  }

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
      SetWindowLongPtrA(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<WinThread*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
      case WM_USER:
        return self ? self->Handle(uint32_t(wParam)) : 0;
      case kHang:
        if (self) SetEvent(self->hanging_);
        Sleep(DWORD(wParam));
        return 0;
      case WM_CLOSE:
        DestroyWindow(window);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  LRESULT Handle(uint32_t tag) {
    desktop_.Note("begin " + std::to_string(tag));
    uint32_t spend = 0;
    std::vector<Along> along;
    {
      Locked l(desktop_.lock);
      if (auto it = spend_.find(tag); it != spend_.end()) spend = it->second;
      if (auto it = along_.find(tag); it != along_.end()) along = it->second;
    }
    uint32_t spent = 0;
    for (const Along& a : along) {
      Sleep(std::max(a.AfterMs, spent) - spent);
      spent = std::max(a.AfterMs, spent);
      a.Sends ? void(SendMessageA(desktop_.here, kRun, a.Code, 0)) : void(PostMessageA(desktop_.here, kRun, a.Code, 0));
    }
    Sleep(std::max(spend, spent) - spent);
    desktop_.Note("end " + std::to_string(tag));
    return LRESULT(tag + kReplyOffset);
  }

  Desktop::Impl& desktop_;
  HANDLE ready_ = nullptr;
  HANDLE hanging_ = nullptr;
  HANDLE thread_ = nullptr;
  HWND window_ = nullptr;
  std::map<uint32_t, uint32_t> spend_;
  std::map<uint32_t, std::vector<Along>> along_;
};

}  // namespace

Desktop::Desktop() : impl_(std::make_unique<Impl>()) {}

Desktop::~Desktop() = default;

std::unique_ptr<OtherThread> Desktop::StartThread() { return std::make_unique<WinThread>(*impl_); }

void Desktop::Note(const std::string& text) { impl_->Note(text); }

std::vector<std::string> Desktop::Journal() const {
  Locked l(impl_->lock);
  return impl_->journal;
}

void Desktop::RunLoop(uint32_t ms) { host::PumpMessages(ms); }

bool Desktop::RunLoopUntil(const std::function<bool()>& done, uint32_t ms) {
  const DWORD start = GetTickCount();
  while (!done() && GetTickCount() - start < ms) host::PumpMessages(20);
  return done();
}

void Desktop::Block(uint32_t ms) { Sleep(ms); }

}  // namespace threads
