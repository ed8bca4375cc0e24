// What the form and its controls share on real Windows: owners for windows, GDI
// objects, icons, device contexts and selections, so that every path out of a
// paint or a construction gives back what it took; the module's own handle and
// its pictures; and the one way a refused window call is reported.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

#include "platform/Gui.h"
#include "platform/win32/ThisModule.h"

namespace platform::win32 {

// Owned GDI objects, icons and windows: each goes with its holder.
struct GdiDeleter {
  void operator()(HGDIOBJ h) const noexcept { DeleteObject(h); }
};
template <class H>
using GdiHandle = std::unique_ptr<std::remove_pointer_t<H>, GdiDeleter>;

struct IconDeleter {
  void operator()(HICON h) const noexcept { DestroyIcon(h); }
};
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// A window and, with it, its children and the windows it owns.
struct WindowDeleter {
  void operator()(HWND h) const noexcept { DestroyWindow(h); }
};
using OwnedWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;

// A window's painting, from BeginPaint to EndPaint.
class PaintDc {
 public:
  explicit PaintDc(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
  ~PaintDc() { EndPaint(window_, &paint_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// A window's device context outside painting (the screen's for none), released with this object.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// A memory device context compatible with `like` (the screen for none), deleted with this object.
class MemoryDc {
 public:
  explicit MemoryDc(HDC like) : dc_(CreateCompatibleDC(like)) {}
  ~MemoryDc() {
    if (dc_) DeleteDC(dc_);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// An object selected into a device context for this object's life; what was there before goes back.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), old_(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~Selection() {
    if (old_) SelectObject(dc_, old_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A window call that Windows refused, thrown with its error code: the entry's
// guard tells it (one "EXCEPTION" line naming the entry) and answers a failure,
// and what was made up to there goes with its owners. Never ignored, since a
// page without its classes or windows could only fail later, and silently.
[[noreturn]] void ThrowRefused(const char* call);

// A window class of this module, registered while this object lives; throws when it cannot be.
class WindowClass {
 public:
  explicit WindowClass(const WNDCLASSEXA& wc);
  ~WindowClass();
  WindowClass(const WindowClass&) = delete;
  WindowClass& operator=(const WindowClass&) = delete;

 private:
  const char* name_;
  HINSTANCE instance_;
  ATOM atom_;
};

// Our window classes exist while any form does: a library that is unloaded and
// loaded again must not find classes whose procedures pointed into its old
// image. The first holder registers the set `Classes` (made by its default
// constructor), the last one's going unregisters it; all on the one GUI thread.
template <class Classes>
std::shared_ptr<const Classes> SharedWhileHeld() {
  static std::weak_ptr<const Classes> current;
  std::shared_ptr<const Classes> held = current.lock();
  if (!held) {
    held = std::make_shared<const Classes>();
    current = held;
  }
  return held;
}

// The resource of a picture (0 for none).
int ResourceOf(Picture picture);

}  // namespace platform::win32
