// The form's controls on real Windows, each an object that owns its state and
// makes its own window. Containers (panel, group box), flat speed buttons and
// the bevel are window classes of our own, whose procedures reach their object
// through the window's user data; labels, edit fields and the image are the
// system's controls. Each window carries its component's name, tag and hint as
// window properties ("KDOName", "KDOTag", "KDOHint"), so that tests can find
// and check them. The form (Gui.cpp) places the controls and keeps them.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Gui.h"
#include "platform/win32/GuiSupport.h"

namespace platform::win32 {

// What a control's window is made in and with: its parent, its rectangle in the
// parent's client area (scaled already), its font, the form's white brush, the dpi
// and the form's tooltip, which shows the controls' hints.
struct ControlSite {
  HWND Parent;
  RECT Place;
  HFONT Font;
  HBRUSH White;
  int Dpi;
  HWND Tooltip;
};

// One component of a form. Its window is a child of its parent's and goes with
// it: the form destroys its window before it lets go of the controls.
class Control {
 public:
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const ComponentLayout& Layout() const { return layout_; }
  HWND Window() const { return window_; }

  // The component's text: what its window shows, unless the control shows it otherwise.
  virtual std::string Text() const;
  virtual void SetText(std::string_view text);

  void SetOnClick(std::function<void(int tag)> handler) { onClick_ = std::move(handler); }
  // The toolkit's click: the handler runs from a copy, since it may replace itself.
  void Click();

  // The colour drawn transparent in the control's glyph; only a speed button has one.
  virtual COLORREF TransparentColor() const { return 0; }
  virtual void SetTransparentColor(COLORREF) {}

 protected:
  explicit Control(const ComponentLayout& layout) : layout_(layout) {}
  // Makes the window, or throws; `param` is its creation parameter (a class of ours takes its object there).
  void Create(const char* className, DWORD style, DWORD exStyle, const ControlSite& site, void* param = nullptr);

  const ComponentLayout layout_;
  HWND window_ = nullptr;
  std::function<void(int tag)> onClick_;
};

// The control of one layout row, its window made; throws when Windows refuses it.
std::unique_ptr<Control> MakeControl(const ComponentLayout& layout, const ControlSite& site);
// An edit field's control (GuiEdits.cpp).
std::unique_ptr<Control> MakeEdit(const ComponentLayout& layout, const ControlSite& site);

// The controls' window classes, registered while any form holds them.
std::shared_ptr<const void> ControlClasses();

// The form and its containers answer their children's colour requests with their own background.
LRESULT ChildColor(HDC dc, HBRUSH background, bool white);

}  // namespace platform::win32
