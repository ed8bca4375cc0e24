// The GUI on real Windows: plain Win32 and common controls. Containers
// (panel, group box) and flat speed buttons are window classes of our own;
// labels, edit fields, the image and the bevel are the system's controls.
// Each component window carries its name, tag and hint as window properties
// ("KDOName", "KDOTag", "KDOHint"), so that tests can find and check them.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <cmath>
#include <deque>
#include <memory>

#include "platform/Gui.h"
#include "platform/win32/GuiSupport.h"
#include "platform/win32/Resources.h"
#include "sdk/KDOGuard.h"
#include "sdk/KDOText.h"

namespace platform {

using namespace win32;

namespace {

constexpr char kFormClass[] = "KDOForm";
constexpr char kContainerClass[] = "KDOContainer";
constexpr char kButtonClass[] = "KDOSpeedButton";
constexpr char kBevelClass[] = "KDOBevel";
constexpr COLORREF kWhite = RGB(255, 255, 255);

LRESULT CALLBACK FormProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ContainerProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK BevelProc(HWND, UINT, WPARAM, LPARAM);

// Our window classes exist while any form does: a library that is unloaded
// and loaded again must not find classes whose procedures pointed into its old image.
// Unregistering a class does not free its icons: they are ours to destroy after it.
int gForms = 0;
IconHandle gClassIcon, gClassIconSmall;

void RegisterClasses() {
  if (gForms++ > 0) return;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.hInstance = ThisModule();
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpfnWndProc = FormProc;
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kFormClass;
  gClassIcon.reset(static_cast<HICON>(LoadImageA(wc.hInstance, MAKEINTRESOURCEA(IDI_MODULE), IMAGE_ICON, 32, 32, 0)));
  gClassIconSmall.reset(
      static_cast<HICON>(LoadImageA(wc.hInstance, MAKEINTRESOURCEA(IDI_MODULE), IMAGE_ICON, 16, 16, 0)));
  wc.hIcon = gClassIcon.get();
  wc.hIconSm = gClassIconSmall.get();
  RegisterClassExA(&wc);
  wc.hIcon = wc.hIconSm = nullptr;
  wc.lpfnWndProc = ContainerProc;
  wc.hbrBackground = nullptr;
  wc.lpszClassName = kContainerClass;
  RegisterClassExA(&wc);
  wc.lpfnWndProc = ButtonProc;
  wc.lpszClassName = kButtonClass;
  RegisterClassExA(&wc);
  wc.lpfnWndProc = BevelProc;
  wc.lpszClassName = kBevelClass;
  RegisterClassExA(&wc);
}

void UnregisterClasses() {
  if (--gForms > 0) return;
  for (const char* c : {kFormClass, kContainerClass, kButtonClass, kBevelClass}) UnregisterClassA(c, ThisModule());
  gClassIcon.reset();
  gClassIconSmall.reset();
}

}  // namespace

struct Form::Impl {
  struct Component {
    ComponentLayout layout;
    HWND hwnd = nullptr;
    GdiHandle<HBITMAP> glyph;
    COLORREF transparent = 0;
    std::function<void(int)> onClick;
    bool hover = false;
    bool pressed = false;
    HBRUSH background = nullptr;  // containers: what they and their labels paint with
  };

  FormLayout layout{};
  HWND form = nullptr;
  HWND tooltip = nullptr;
  GdiHandle<HFONT> font;
  GdiHandle<HFONT> bold;
  GdiHandle<HBRUSH> white;
  IconHandle image;  // the image's picture: a static control does not destroy what it shows
  int dpi = 96;
  std::deque<Component> components;  // stable addresses: windows point at their entries
  std::function<void()> onShow;

  int Scale(int v) const { return MulDiv(v, dpi, 96); }
  // A component's rectangle in its parent's client area, its parent made already. Edges are
  // scaled in form coordinates, so that rounding never lets a child cross its parent's edge
  // and equal steps of the layout stay equal on the screen.
  RECT Place(const ComponentLayout& s) const {
    int ox = 0, oy = 0;
    for (const Component* p = s.Parent ? Find(s.Parent) : nullptr; p;
         p = p->layout.Parent ? Find(p->layout.Parent) : nullptr) {
      ox += p->layout.Left;
      oy += p->layout.Top;
    }
    const int left = ox + s.Left, top = oy + s.Top;
    return {Scale(left) - Scale(ox), Scale(top) - Scale(oy), Scale(left + s.Width) - Scale(ox),
            Scale(top + s.Height) - Scale(oy)};
  }
  Component* Find(std::string_view name) {
    for (Component& c : components)
      if (name == c.layout.Name) return &c;
    return nullptr;
  }
  const Component* Find(std::string_view name) const { return const_cast<Impl*>(this)->Find(name); }

};

namespace {

Form::Impl::Component* ComponentOf(HWND hwnd) {
  return reinterpret_cast<Form::Impl::Component*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

// Containers and the form answer their children's colour requests with their own background.
LRESULT ChildColor(HDC dc, HBRUSH background, bool white) {
  SetBkMode(dc, TRANSPARENT);
  SetBkColor(dc, white ? kWhite : GetSysColor(COLOR_BTNFACE));
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  return reinterpret_cast<LRESULT>(background ? background : GetSysColorBrush(COLOR_BTNFACE));
}

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

LRESULT CALLBACK ContainerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Form::Impl::Component* c = ComponentOf(hwnd);
  switch (msg) {
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(hwnd, &r);
      FillRect(reinterpret_cast<HDC>(wp), &r, c && c->background ? c->background : GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_PAINT: {
      const PaintDc paint(hwnd);
      const HDC dc = paint.get();
      if (c && c->layout.Kind == ComponentKind::GroupBox) {
        // An etched frame from the middle of the caption's line down, the caption on it.
        const Selection font(dc, reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0)));
        TEXTMETRICA tm;
        GetTextMetricsA(dc, &tm);
        RECT r;
        GetClientRect(hwnd, &r);
        r.top += tm.tmHeight / 2;
        DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
        char text[256];
        const int n = GetWindowTextA(hwnd, text, sizeof text);
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        TextOutA(dc, MulDiv(8, GetDeviceCaps(dc, LOGPIXELSX), 96), 0, text, n);
      }
      return 0;
    }
    case WM_SETFONT:
      SetPropA(hwnd, "KDOFont", reinterpret_cast<HANDLE>(wp));
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(GetPropA(hwnd, "KDOFont"));
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      return ChildColor(reinterpret_cast<HDC>(wp), c ? c->background : nullptr,
                        c && (c->layout.Flags & flags::WhiteColor));
    case WM_NCDESTROY:
      RemovePropA(hwnd, "KDOFont");
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

void PaintButton(HWND hwnd, Form::Impl::Component& c) {
  const PaintDc paint(hwnd);
  const HDC dc = paint.get();
  RECT r;
  GetClientRect(hwnd, &r);
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  // Flat: an edge only while the mouse is on it, sunken while pressed.
  if (c.pressed && c.hover) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
  else if (c.hover) DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
  const int shift = c.pressed && c.hover ? 1 : 0;

  char text[128];
  const int n = GetWindowTextA(hwnd, text, sizeof text);
  const Selection font(dc, reinterpret_cast<HFONT>(GetPropA(hwnd, "KDOFont")));
  SIZE textSize{0, 0};
  if (n > 0) GetTextExtentPoint32A(dc, text, n, &textSize);
  BITMAP bm{};
  if (c.glyph) GetObjectA(c.glyph.get(), sizeof bm, &bm);
  const int spacing = n > 0 && c.glyph ? 4 : 0;
  const int total = bm.bmWidth + spacing + textSize.cx;
  int x = (r.right - total) / 2 + shift;
  if (c.glyph) {
    const MemoryDc mem(dc);
    const Selection glyph(mem.get(), c.glyph.get());
    TransparentBlt(dc, x, (r.bottom - bm.bmHeight) / 2 + shift, bm.bmWidth, bm.bmHeight, mem.get(), 0, 0, bm.bmWidth,
                   bm.bmHeight, c.transparent);
    x += bm.bmWidth + spacing;
  }
  if (n > 0) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    TextOutA(dc, x, (r.bottom - textSize.cy) / 2 + shift, text, n);
  }
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Form::Impl::Component* c = ComponentOf(hwnd);
  if (!c) return DefWindowProcA(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_PAINT:
      PaintButton(hwnd, *c);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SETFONT:
      SetPropA(hwnd, "KDOFont", reinterpret_cast<HANDLE>(wp));
      return 0;
    case WM_MOUSEMOVE:
      if (!c->hover) {
        c->hover = true;
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, hwnd, 0};
        TrackMouseEvent(&t);
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_MOUSELEAVE:
      c->hover = false;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN:  // never takes the focus
      c->pressed = true;
      c->hover = true;
      SetCapture(hwnd);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_LBUTTONUP: {
      if (!c->pressed) return 0;
      c->pressed = false;
      ReleaseCapture();
      InvalidateRect(hwnd, nullptr, FALSE);
      RECT r;
      GetClientRect(hwnd, &r);
      POINT p{short(LOWORD(lp)), short(HIWORD(lp))};
      if (PtInRect(&r, p) && c->onClick) {
        auto handler = c->onClick;  // the handler may replace itself
        const int tag = c->layout.Tag;
        KDOGuard(kdo::text::Const<"a button of the page">(), [&] { handler(tag); });
      }
      return 0;
    }
    case WM_CAPTURECHANGED:
      c->pressed = false;
      return 0;
    case WM_NCDESTROY:
      RemovePropA(hwnd, "KDOFont");
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// A lowered line along the bottom: shadow above, highlight below.
LRESULT CALLBACK BevelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_ERASEBKGND) return 1;
  if (msg != WM_PAINT) return DefWindowProcA(hwnd, msg, wp, lp);
  const PaintDc paint(hwnd);
  const HDC dc = paint.get();
  RECT r;
  GetClientRect(hwnd, &r);
  RECT shadow{r.left, r.bottom - 2, r.right, r.bottom - 1};
  RECT light{r.left, r.bottom - 1, r.right, r.bottom};
  FillRect(dc, &shadow, GetSysColorBrush(COLOR_BTNSHADOW));
  FillRect(dc, &light, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
  return 0;
}

// The server's main window: the first visible top-level window of this thread that is not one of our forms.
BOOL CALLBACK FindMainWindow(HWND hwnd, LPARAM lp) {
  char cls[32];
  GetClassNameA(hwnd, cls, sizeof cls);
  if (!IsWindowVisible(hwnd) || lstrcmpA(cls, kFormClass) == 0 || GetWindow(hwnd, GW_OWNER)) return TRUE;
  *reinterpret_cast<HWND*>(lp) = hwnd;
  return FALSE;
}

}  // namespace

Form::Form(const FormLayout& layout, const ComponentLayout* components, std::size_t count)
    : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  m.layout = layout;
  RegisterClasses();
  m.dpi = GetDeviceCaps(WindowDc(nullptr).get(), LOGPIXELSY);
  m.white.reset(CreateSolidBrush(kWhite));
  m.font.reset(CreateFontA(-m.Scale(layout.FontHeight), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                           layout.FontName));
  m.bold.reset(CreateFontA(-m.Scale(layout.FontHeight), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                           layout.FontName));

  HWND owner = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindMainWindow, reinterpret_cast<LPARAM>(&owner));
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, m.Scale(layout.ClientWidth), m.Scale(layout.ClientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  RECT over;
  if (!owner || !GetWindowRect(owner, &over)) SystemParametersInfoA(SPI_GETWORKAREA, 0, &over, 0);
  const int x = over.left + ((over.right - over.left) - w) / 2;
  const int y = over.top + ((over.bottom - over.top) - h) / 2;
  m.form = CreateWindowExA(exStyle, kFormClass, layout.Caption, style, x, y, w, h, owner, nullptr, ThisModule(), nullptr);
  SetPropA(m.form, "KDOName", const_cast<char*>(layout.Name));
  m.tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m.form, nullptr,
                              ThisModule(), nullptr);

  // Each parent's children in tab order (those without one after), so that z-order is tab order.
  std::vector<const ComponentLayout*> order;
  for (std::size_t i = 0; i < count; ++i) order.push_back(&components[i]);
  std::stable_sort(order.begin(), order.end(), [](const ComponentLayout* a, const ComponentLayout* b) {
    auto key = [](const ComponentLayout* c) { return c->TabOrder < 0 ? 1 << 30 : c->TabOrder; };
    return key(a) < key(b);
  });
  // Level by level: the form's own components, then their children, and so on.
  std::vector<bool> made(order.size(), false);
  for (std::size_t level = 0; level < order.size(); ++level) {
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (made[i]) continue;
      const Impl::Component* p = order[i]->Parent ? m.Find(order[i]->Parent) : nullptr;
      if (!order[i]->Parent || (p && p->hwnd)) ready.push_back(i);
    }
    if (ready.empty()) break;
    for (std::size_t i : ready) {
      const ComponentLayout& s = *order[i];
      HWND parent = s.Parent ? m.Find(s.Parent)->hwnd : m.form;
      Impl::Component& c = m.components.emplace_back();
      c.layout = s;
      const char* cls = "STATIC";
      DWORD cs = WS_CHILD | WS_VISIBLE, cx = 0;
      switch (s.Kind) {
        case ComponentKind::Panel:
        case ComponentKind::GroupBox:
          cls = kContainerClass;
          cs |= WS_CLIPSIBLINGS;
          c.background = (s.Flags & flags::WhiteColor) ? m.white.get() : GetSysColorBrush(COLOR_BTNFACE);
          break;
        case ComponentKind::Label:
          cs |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
          break;
        case ComponentKind::Image:
          cs |= SS_ICON | SS_REALSIZEIMAGE;
          break;
        case ComponentKind::Bevel:
          cls = kBevelClass;
          break;
        case ComponentKind::SpeedButton:
          cls = kButtonClass;
          break;
        case ComponentKind::Edit:
          cls = "EDIT";
          cs |= ES_AUTOHSCROLL | WS_TABSTOP;
          cx = WS_EX_CLIENTEDGE;
          break;
      }
      if (s.Flags & flags::Disabled) cs |= WS_DISABLED;
      const RECT place = m.Place(s);
      c.hwnd = CreateWindowExA(cx, cls, s.Text ? s.Text : "", cs, place.left, place.top, place.right - place.left,
                               place.bottom - place.top, parent, nullptr, ThisModule(), nullptr);
      SetWindowLongPtrA(c.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&c));
      SetPropA(c.hwnd, "KDOName", const_cast<char*>(s.Name));
      SetPropA(c.hwnd, "KDOTag", reinterpret_cast<HANDLE>(intptr_t(s.Tag)));
      if (s.Hint) SetPropA(c.hwnd, "KDOHint", const_cast<char*>(s.Hint));
      HFONT font = (s.Flags & flags::Bold) ? m.bold.get() : m.font.get();
      SendMessageA(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      if (s.Kind == ComponentKind::Label && s.Text) {
        // Labels size themselves to their text: never cut where a substitute font runs wider.
        SIZE extent{};
        {
          const WindowDc dc(c.hwnd);
          const Selection selected(dc.get(), font);
          GetTextExtentPoint32A(dc.get(), s.Text, lstrlenA(s.Text), &extent);
        }
        if (extent.cx > place.right - place.left)
          SetWindowPos(c.hwnd, nullptr, 0, 0, extent.cx, place.bottom - place.top, SWP_NOMOVE | SWP_NOZORDER);
      }
      if (s.Kind == ComponentKind::Image && s.Pic != Picture::None) {
        m.image.reset(static_cast<HICON>(LoadImageA(ThisModule(), MAKEINTRESOURCEA(ResourceOf(s.Pic)), IMAGE_ICON,
                                                    m.Scale(32), m.Scale(32), 0)));
        SendMessageA(c.hwnd, STM_SETICON, reinterpret_cast<WPARAM>(m.image.get()), 0);
      }
      if (s.Kind == ComponentKind::SpeedButton && s.Pic != Picture::None) {
        c.glyph.reset(static_cast<HBITMAP>(
            LoadImageA(ThisModule(), MAKEINTRESOURCEA(ResourceOf(s.Pic)), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        if (c.glyph) {  // the bottom-left pixel's colour is drawn transparent
          const MemoryDc mem(nullptr);
          const Selection selected(mem.get(), c.glyph.get());
          BITMAP bm;
          GetObjectA(c.glyph.get(), sizeof bm, &bm);
          c.transparent = GetPixel(mem.get(), 0, bm.bmHeight - 1);
        }
      }
      if (s.Hint && (s.Flags & flags::ShowHint)) {
        TTTOOLINFOA ti{};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = m.form;
        ti.uId = reinterpret_cast<UINT_PTR>(c.hwnd);
        ti.lpszText = const_cast<char*>(s.Hint);
        SendMessageA(m.tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
      }
      made[i] = true;
    }
  }
}

Form::~Form() {
  Impl& m = *impl_;
  if (m.form) DestroyWindow(m.form);  // its children and the tooltip go with it
  // Windows gone, nothing draws with the fonts, brush, glyphs and picture any more.
  m.components.clear();
  m.image.reset();
  m.font.reset();
  m.bold.reset();
  m.white.reset();
  UnregisterClasses();
}

void Form::SetOnShow(std::function<void()> handler) { impl_->onShow = std::move(handler); }

void Form::SetOnClick(std::string_view component, std::function<void(int)> handler) {
  if (Impl::Component* c = impl_->Find(component)) c->onClick = std::move(handler);
}

void Form::Show() {
  if (IsWindowVisible(impl_->form)) {
    SetWindowPos(impl_->form, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(impl_->form);
    return;
  }
  if (impl_->onShow) KDOGuard(kdo::text::Const<"the page's showing">(), impl_->onShow);
  ShowWindow(impl_->form, SW_SHOW);
  UpdateWindow(impl_->form);
}

void Form::Hide() { ShowWindow(impl_->form, SW_HIDE); }

bool Form::Visible() const { return IsWindowVisible(impl_->form) != FALSE; }

std::string Form::Text(std::string_view component) const {
  const Impl::Component* c = impl_->Find(component);
  if (!c) return {};
  std::string text(std::size_t(GetWindowTextLengthA(c->hwnd)) + 1, '\0');
  text.resize(std::size_t(GetWindowTextA(c->hwnd, text.data(), int(text.size()))));
  return text;
}

void Form::SetText(std::string_view component, std::string_view text) {
  if (Impl::Component* c = impl_->Find(component)) SetWindowTextA(c->hwnd, std::string(text).c_str());
}

bool Form::Enabled(std::string_view component) const {
  const Impl::Component* c = impl_->Find(component);
  return c && IsWindowEnabled(c->hwnd);
}

int Form::Tag(std::string_view component) const {
  const Impl::Component* c = impl_->Find(component);
  return c ? c->layout.Tag : 0;
}

uint32_t Form::GlyphTransparentColor(std::string_view component) const {
  const Impl::Component* c = impl_->Find(component);
  return c ? uint32_t(c->transparent) : 0;
}

void Form::SetGlyphTransparentColor(std::string_view component, uint32_t color) {
  if (Impl::Component* c = impl_->Find(component)) {
    c->transparent = COLORREF(color);
    InvalidateRect(c->hwnd, nullptr, FALSE);
  }
}

void Form::Click(std::string_view component) {
  Impl::Component* c = impl_->Find(component);
  if (!c || !c->onClick) return;
  auto handler = c->onClick;
  handler(c->layout.Tag);
}

std::optional<std::string> Form::RunOpenDialog(const OpenDialogOptions& options) {
  char file[MAX_PATH * 4] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = impl_->form;
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
