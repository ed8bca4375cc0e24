// The form on real Windows: plain Win32 and common controls. The form builds
// its window from the layout table, places the controls (GuiControls.h) level
// by level and keeps them, with the fonts and the brush they draw with.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/Gui.h"
#include "platform/win32/GuiControls.h"
#include "platform/win32/GuiSupport.h"
#include "platform/win32/Resources.h"
#include "sdk/KDOGuard.h"
#include "sdk/KDOText.h"

namespace platform {

using namespace win32;

namespace {

constexpr char kFormClass[] = "KDOForm";

LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:  // the close box hides, without applying
      ShowWindow(hwnd, SW_HIDE);
      return 0;
    case WM_CTLCOLORSTATIC:
      return ChildColor(reinterpret_cast<HDC>(wp), nullptr, false);
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// The form's window class with its icons. Unregistering a class does not free
// its icons: they are ours to destroy after it, hence declared before it.
struct FormClass {
  static IconHandle Icon(int size) {
    return IconHandle(static_cast<HICON>(
        LoadImageA(ThisModule(), MAKEINTRESOURCEA(IDI_MODULE), IMAGE_ICON, size, size, 0)));
  }
  static WNDCLASSEXA Class(HICON icon, HICON small) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpfnWndProc = FormProc;
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kFormClass;
    wc.hIcon = icon;
    wc.hIconSm = small;
    return wc;
  }
  IconHandle icon = Icon(32);
  IconHandle small = Icon(16);
  WindowClass registered{Class(icon.get(), small.get())};
};

// The server's main window: the first visible top-level window of this thread that is not one of our forms.
BOOL CALLBACK FindMainWindow(HWND hwnd, LPARAM lp) {
  char cls[32];
  GetClassNameA(hwnd, cls, sizeof cls);
  if (!IsWindowVisible(hwnd) || lstrcmpA(cls, kFormClass) == 0 || GetWindow(hwnd, GW_OWNER)) return TRUE;
  *reinterpret_cast<HWND*>(lp) = hwnd;
  return FALSE;
}

}  // namespace

// Built whole or not at all: a window class or a window that Windows refuses
// throws, and whatever was made up to there goes with the members that hold it.
// They go in the reverse of their order here, each after all that use it: the
// form's window first (its children and the tooltip with it), then the
// controls, then the fonts and the brush they drew with, then the classes.
struct Form::Impl {
  Impl(const FormLayout& layout, const ComponentLayout* components, std::size_t count);

  int Scale(int v) const { return MulDiv(v, dpi, 96); }
  RECT Place(const ComponentLayout& s) const;
  void MakeWindow();
  void MakeControls(const ComponentLayout* components, std::size_t count);
  void AddHint(const Control& control);
  Control* Find(std::string_view name) const {
    for (const std::unique_ptr<Control>& c : controls)
      if (name == c->Layout().Name) return c.get();
    return nullptr;
  }

  std::shared_ptr<const FormClass> formClass = SharedWhileHeld<FormClass>();
  std::shared_ptr<const void> controlClasses = ControlClasses();
  FormLayout layout;
  int dpi = 96;
  GdiHandle<HFONT> font;
  GdiHandle<HFONT> bold;
  GdiHandle<HBRUSH> white;
  std::vector<std::unique_ptr<Control>> controls;
  std::function<void()> onShow;
  OwnedWindow form;
  HWND tooltip = nullptr;  // owned by the form
};

Form::Impl::Impl(const FormLayout& formLayout, const ComponentLayout* components, std::size_t count)
    : layout(formLayout) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  dpi = GetDeviceCaps(WindowDc(nullptr).get(), LOGPIXELSY);
  white.reset(CreateSolidBrush(RGB(255, 255, 255)));
  font.reset(CreateFontA(-Scale(layout.FontHeight), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                         layout.FontName));
  bold.reset(CreateFontA(-Scale(layout.FontHeight), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                         layout.FontName));
  MakeWindow();
  MakeControls(components, count);
}

// A component's rectangle in its parent's client area, its parent made already. Edges are
// scaled in form coordinates, so that rounding never lets a child cross its parent's edge
// and equal steps of the layout stay equal on the screen.
RECT Form::Impl::Place(const ComponentLayout& s) const {
  int ox = 0, oy = 0;
  for (const Control* p = s.Parent ? Find(s.Parent) : nullptr; p;
       p = p->Layout().Parent ? Find(p->Layout().Parent) : nullptr) {
    ox += p->Layout().Left;
    oy += p->Layout().Top;
  }
  const int left = ox + s.Left, top = oy + s.Top;
  return {Scale(left) - Scale(ox), Scale(top) - Scale(oy), Scale(left + s.Width) - Scale(ox),
          Scale(top + s.Height) - Scale(oy)};
}

// Centred over the server's main window (over the work area without one), owned by it.
void Form::Impl::MakeWindow() {
  HWND owner = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindMainWindow, reinterpret_cast<LPARAM>(&owner));
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, Scale(layout.ClientWidth), Scale(layout.ClientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  RECT over;
  if (!owner || !GetWindowRect(owner, &over)) SystemParametersInfoA(SPI_GETWORKAREA, 0, &over, 0);
  const int x = over.left + ((over.right - over.left) - w) / 2;
  const int y = over.top + ((over.bottom - over.top) - h) / 2;
  form.reset(CreateWindowExA(exStyle, kFormClass, layout.Caption, style, x, y, w, h, owner, nullptr, ThisModule(),
                             nullptr));
  if (!form) ThrowRefused("CreateWindowExA");
  SetPropA(form.get(), "KDOName", const_cast<char*>(layout.Name));
  tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, form.get(), nullptr,
                            ThisModule(), nullptr);
  if (!tooltip) ThrowRefused("CreateWindowExA");
}

// Each parent's children in tab order (those without one after), so that z-order is tab order;
// level by level: the form's own components, then their children, and so on.
void Form::Impl::MakeControls(const ComponentLayout* components, std::size_t count) {
  std::vector<const ComponentLayout*> order;
  for (std::size_t i = 0; i < count; ++i) order.push_back(&components[i]);
  std::stable_sort(order.begin(), order.end(), [](const ComponentLayout* a, const ComponentLayout* b) {
    auto key = [](const ComponentLayout* c) { return c->TabOrder < 0 ? 1 << 30 : c->TabOrder; };
    return key(a) < key(b);
  });
  std::vector<bool> made(order.size(), false);
  for (std::size_t level = 0; level < order.size(); ++level) {
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (made[i]) continue;
      const Control* p = order[i]->Parent ? Find(order[i]->Parent) : nullptr;
      if (!order[i]->Parent || (p && p->Window())) ready.push_back(i);
    }
    if (ready.empty()) break;
    for (std::size_t i : ready) {
      const ComponentLayout& s = *order[i];
      const ControlSite site{s.Parent ? Find(s.Parent)->Window() : form.get(), Place(s),
                             (s.Flags & flags::Bold) ? bold.get() : font.get(), white.get(), dpi, tooltip};
      controls.reserve(controls.size() + 1);  // a control made is kept: its window is already on the form
      controls.push_back(MakeControl(s, site));
      AddHint(*controls.back());
      made[i] = true;
    }
  }
}

void Form::Impl::AddHint(const Control& control) {
  const ComponentLayout& s = control.Layout();
  if (!s.Hint || !(s.Flags & flags::ShowHint)) return;
  TTTOOLINFOA ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = form.get();
  ti.uId = reinterpret_cast<UINT_PTR>(control.Window());
  ti.lpszText = const_cast<char*>(s.Hint);
  SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

Form::Form(const FormLayout& layout, const ComponentLayout* components, std::size_t count)
    : impl_(std::make_unique<Impl>(layout, components, count)) {}

Form::~Form() = default;

void Form::SetOnShow(std::function<void()> handler) { impl_->onShow = std::move(handler); }

void Form::SetOnClick(std::string_view component, std::function<void(int)> handler) {
  if (Control* c = impl_->Find(component)) c->SetOnClick(std::move(handler));
}

void Form::Show() {
  const HWND form = impl_->form.get();
  if (IsWindowVisible(form)) {
    SetWindowPos(form, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(form);
    return;
  }
  if (impl_->onShow) KDOGuard(kdo::text::Const<"the page's showing">(), impl_->onShow);
  ShowWindow(form, SW_SHOW);
  UpdateWindow(form);
}

void Form::Hide() { ShowWindow(impl_->form.get(), SW_HIDE); }

bool Form::Visible() const { return IsWindowVisible(impl_->form.get()) != FALSE; }

std::string Form::Text(std::string_view component) const {
  const Control* c = impl_->Find(component);
  return c ? c->Text() : std::string();
}

void Form::SetText(std::string_view component, std::string_view text) {
  if (Control* c = impl_->Find(component)) c->SetText(text);
}

bool Form::Enabled(std::string_view component) const {
  const Control* c = impl_->Find(component);
  return c && IsWindowEnabled(c->Window());
}

int Form::Tag(std::string_view component) const {
  const Control* c = impl_->Find(component);
  return c ? c->Layout().Tag : 0;
}

uint32_t Form::GlyphTransparentColor(std::string_view component) const {
  const Control* c = impl_->Find(component);
  return c ? uint32_t(c->TransparentColor()) : 0;
}

void Form::SetGlyphTransparentColor(std::string_view component, uint32_t color) {
  if (Control* c = impl_->Find(component)) c->SetTransparentColor(COLORREF(color));
}

void Form::Click(std::string_view component) {
  if (Control* c = impl_->Find(component)) c->Click();
}

std::optional<std::string> Form::RunOpenDialog(const OpenDialogOptions& options) {
  char file[MAX_PATH * 4] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = impl_->form.get();
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.Flags = OFN_EXPLORER;
  if (options.HideReadOnly) ofn.Flags |= OFN_HIDEREADONLY;
  if (options.PathMustExist) ofn.Flags |= OFN_PATHMUSTEXIST;
  if (options.FileMustExist) ofn.Flags |= OFN_FILEMUSTEXIST;
  if (options.EnableSizing) ofn.Flags |= OFN_ENABLESIZING;
  if (!GetOpenFileNameA(&ofn)) return std::nullopt;
  return std::string(file);
}

}  // namespace platform
