#include "platform/win32/GuiControls.h"

#include <commctrl.h>

#include <algorithm>

#include "sdk/KDOGuard.h"
#include "sdk/KDOText.h"

namespace platform::win32 {

namespace {

constexpr char kContainerClass[] = "KDOContainer";
constexpr char kButtonClass[] = "KDOSpeedButton";
constexpr char kBevelClass[] = "KDOBevel";
constexpr COLORREF kWhite = RGB(255, 255, 255);

// A control of a window class of ours: its procedure hands each message to the object.
class OwnControl : public Control {
 public:
  // Gone before its window (a construction cut short), it leaves the window nothing to reach.
  ~OwnControl() override {
    if (window_) SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  }
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 protected:
  using Control::Control;
  void Create(const char* className, DWORD style, const ControlSite& site) {
    Control::Create(className, WS_CHILD | WS_VISIBLE | style, 0, site, static_cast<OwnControl*>(this));
  }
  // The messages the control answers itself; the rest go to DefWindowProcA.
  virtual LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  HFONT Font() const { return font_; }

 private:
  HFONT font_ = nullptr;  // the form's: it outlives the window
};

// The link from the window to its object is made by the first message and undone by the last.
LRESULT CALLBACK OwnControl::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<OwnControl*>(reinterpret_cast<const CREATESTRUCTA*>(lp)->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    if (self) self->window_ = hwnd;
  }
  auto* self = reinterpret_cast<OwnControl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    if (self) self->window_ = nullptr;
    return DefWindowProcA(hwnd, msg, wp, lp);
  }
  return self ? self->Handle(msg, wp, lp) : DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT OwnControl::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SETFONT:
      font_ = reinterpret_cast<HFONT>(wp);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
  }
  return DefWindowProcA(window_, msg, wp, lp);
}

// A panel or a group box: a background of its own, which its labels and edit fields paint with too.
class Container final : public OwnControl {
 public:
  Container(const ComponentLayout& layout, const ControlSite& site)
      : OwnControl(layout),
        white_((layout.Flags & flags::WhiteColor) != 0),
        background_(white_ ? site.White : GetSysColorBrush(COLOR_BTNFACE)) {
    Create(kContainerClass, WS_CLIPSIBLINGS, site);
  }

 private:
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) override;
  void PaintFrame(HDC dc) const;

  bool white_;
  HBRUSH background_;  // the form's white brush or a system brush: neither is ours to delete
};

LRESULT Container::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(window_, &r);
      FillRect(reinterpret_cast<HDC>(wp), &r, background_ ? background_ : GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_PAINT: {
      const PaintDc paint(window_);
      if (layout_.Kind == ComponentKind::GroupBox) PaintFrame(paint.get());
      return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      return ChildColor(reinterpret_cast<HDC>(wp), background_, white_);
  }
  return OwnControl::Handle(msg, wp, lp);
}

// An etched frame from the middle of the caption's line down, the caption on it.
void Container::PaintFrame(HDC dc) const {
  const Selection font(dc, Font());
  TEXTMETRICA tm;
  GetTextMetricsA(dc, &tm);
  RECT r;
  GetClientRect(window_, &r);
  r.top += tm.tmHeight / 2;
  DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
  char text[256];
  const int n = GetWindowTextA(window_, text, sizeof text);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  TextOutA(dc, MulDiv(8, GetDeviceCaps(dc, LOGPIXELSX), 96), 0, text, n);
}

// Each glyph's bitmap holds its picture drawn at these sizes, side by side from the left and
// bottom-aligned (tools/make_pictures.py): a picture stretched by a fraction would blur or break
// its one-pixel lines.
constexpr int kGlyphSizes[] = {16, 20, 24};

// Where in a glyph's bitmap the picture for a button `wanted` pixels high lies, and how large it
// is shown: the largest whole multiple of a drawn size that is not larger than wanted (a whole
// multiple only repeats pixels), the first drawn size when every one is larger.
struct GlyphCut {
  int Left, Top, Size, Shown;
};
GlyphCut CutGlyph(const BITMAP& bm, int wanted) {
  GlyphCut best{0, bm.bmHeight - kGlyphSizes[0], kGlyphSizes[0], kGlyphSizes[0]};
  int left = 0;
  for (const int size : kGlyphSizes) {
    if (left + size > bm.bmWidth || size > bm.bmHeight) break;
    const int shown = std::max(1, wanted / size) * size;
    if (shown <= wanted && shown > best.Shown) best = {left, bm.bmHeight - size, size, shown};
    left += size;
  }
  return best;
}

// A flat button with a glyph and a caption: an edge only while the mouse is on it, sunken while
// pressed. It never takes the focus; a press released over it clicks. The glyph and the space
// after it grow with the dpi, as the caption's font does.
class SpeedButton final : public OwnControl {
 public:
  SpeedButton(const ComponentLayout& layout, const ControlSite& site);
  COLORREF TransparentColor() const override { return transparent_; }
  void SetTransparentColor(COLORREF color) override {
    transparent_ = color;
    InvalidateRect(window_, nullptr, FALSE);
  }

 private:
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) override;
  void Paint(HDC dc);
  void Released(LPARAM at);

  GdiHandle<HBITMAP> glyph_;
  GlyphCut cut_{};
  int spacing_;
  COLORREF transparent_ = 0;
  bool hover_ = false;
  bool pressed_ = false;
};

SpeedButton::SpeedButton(const ComponentLayout& layout, const ControlSite& site)
    : OwnControl(layout), spacing_(MulDiv(4, site.Dpi, 96)) {
  if (layout.Pic != Picture::None) {
    glyph_.reset(static_cast<HBITMAP>(
        LoadImageA(ThisModule(), MAKEINTRESOURCEA(ResourceOf(layout.Pic)), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  }
  if (glyph_) {  // the bottom-left pixel's colour is drawn transparent
    const MemoryDc mem(nullptr);
    const Selection selected(mem.get(), glyph_.get());
    BITMAP bm;
    GetObjectA(glyph_.get(), sizeof bm, &bm);
    transparent_ = GetPixel(mem.get(), 0, bm.bmHeight - 1);
    cut_ = CutGlyph(bm, MulDiv(kGlyphSizes[0], site.Dpi, 96));
  }
  Create(kButtonClass, 0, site);
}

LRESULT SpeedButton::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      const PaintDc paint(window_);
      Paint(paint.get());
      return 0;
    }
    case WM_PRINTCLIENT:  // drawn into another device context: a printed window shows what the screen does
      Paint(reinterpret_cast<HDC>(wp));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_MOUSEMOVE:
      if (!hover_) {
        hover_ = true;
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, window_, 0};
        TrackMouseEvent(&t);
        InvalidateRect(window_, nullptr, FALSE);
      }
      return 0;
    case WM_MOUSELEAVE:
      hover_ = false;
      InvalidateRect(window_, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN:  // never takes the focus
      pressed_ = true;
      hover_ = true;
      SetCapture(window_);
      InvalidateRect(window_, nullptr, FALSE);
      return 0;
    case WM_LBUTTONUP:
      if (pressed_) Released(lp);
      return 0;
    case WM_CAPTURECHANGED:
      pressed_ = false;
      return 0;
  }
  return OwnControl::Handle(msg, wp, lp);
}

void SpeedButton::Released(LPARAM at) {
  pressed_ = false;
  ReleaseCapture();
  InvalidateRect(window_, nullptr, FALSE);
  RECT r;
  GetClientRect(window_, &r);
  const POINT p{short(LOWORD(at)), short(HIWORD(at))};
  if (!PtInRect(&r, p)) return;
  // Within the guard, copy included: nothing may leave a window procedure.
  KDOGuard(kdo::text::Const<"a button of the page">(), [&] { Click(); });
}

void SpeedButton::Paint(HDC dc) {
  RECT r;
  GetClientRect(window_, &r);
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  if (pressed_ && hover_) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
  else if (hover_) DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
  const int shift = pressed_ && hover_ ? 1 : 0;

  char text[128];
  const int n = GetWindowTextA(window_, text, sizeof text);
  const Selection font(dc, Font());
  SIZE textSize{0, 0};
  if (n > 0) GetTextExtentPoint32A(dc, text, n, &textSize);
  const int glyph = glyph_ ? cut_.Shown : 0;
  const int spacing = n > 0 && glyph_ ? spacing_ : 0;
  const int total = glyph + spacing + textSize.cx;
  int x = (r.right - total) / 2 + shift;
  if (glyph_) {
    const MemoryDc mem(dc);
    const Selection selected(mem.get(), glyph_.get());
    TransparentBlt(dc, x, (r.bottom - glyph) / 2 + shift, glyph, glyph, mem.get(), cut_.Left, cut_.Top, cut_.Size,
                   cut_.Size, transparent_);
    x += glyph + spacing;
  }
  if (n > 0) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    TextOutA(dc, x, (r.bottom - textSize.cy) / 2 + shift, text, n);
  }
}

// A lowered line along the bottom: shadow above, highlight below.
class Bevel final : public OwnControl {
 public:
  Bevel(const ComponentLayout& layout, const ControlSite& site) : OwnControl(layout) { Create(kBevelClass, 0, site); }

 private:
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) override {
    if (msg == WM_ERASEBKGND) return 1;
    if (msg != WM_PAINT) return OwnControl::Handle(msg, wp, lp);
    const PaintDc paint(window_);
    RECT r;
    GetClientRect(window_, &r);
    const RECT shadow{r.left, r.bottom - 2, r.right, r.bottom - 1};
    const RECT light{r.left, r.bottom - 1, r.right, r.bottom};
    FillRect(paint.get(), &shadow, GetSysColorBrush(COLOR_BTNSHADOW));
    FillRect(paint.get(), &light, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
    return 0;
  }
};

// A label: sizes itself to its text, so that it is never cut where a substitute font runs wider.
class Label final : public Control {
 public:
  Label(const ComponentLayout& layout, const ControlSite& site) : Control(layout) {
    Create("STATIC", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, site);
    if (!layout.Text) return;
    SIZE extent{};
    {
      const WindowDc dc(window_);
      const Selection font(dc.get(), site.Font);
      GetTextExtentPoint32A(dc.get(), layout.Text, lstrlenA(layout.Text), &extent);
    }
    const RECT& place = site.Place;
    if (extent.cx > place.right - place.left)
      SetWindowPos(window_, nullptr, 0, 0, extent.cx, place.bottom - place.top, SWP_NOMOVE | SWP_NOZORDER);
  }
};

// The module's icon at the form's scale. A static control does not destroy what it shows: this does.
class Image final : public Control {
 public:
  Image(const ComponentLayout& layout, const ControlSite& site) : Control(layout) {
    Create("STATIC", WS_CHILD | WS_VISIBLE | SS_ICON | SS_REALSIZEIMAGE, 0, site);
    if (layout.Pic == Picture::None) return;
    const int size = MulDiv(32, site.Dpi, 96);
    icon_.reset(static_cast<HICON>(
        LoadImageA(ThisModule(), MAKEINTRESOURCEA(ResourceOf(layout.Pic)), IMAGE_ICON, size, size, 0)));
    SendMessageA(window_, STM_SETICON, reinterpret_cast<WPARAM>(icon_.get()), 0);
  }

 private:
  IconHandle icon_;
};

// The window classes of the controls of our own, registered while any form holds them.
struct ControlClassSet {
  static WNDCLASSEXA Class(const char* name) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpfnWndProc = OwnControl::Proc;
    wc.lpszClassName = name;
    return wc;
  }
  WindowClass container{Class(kContainerClass)};
  WindowClass button{Class(kButtonClass)};
  WindowClass bevel{Class(kBevelClass)};
};

}  // namespace

// Containers and the form answer their children's colour requests with their own background.
LRESULT ChildColor(HDC dc, HBRUSH background, bool white) {
  SetBkMode(dc, TRANSPARENT);
  SetBkColor(dc, white ? kWhite : GetSysColor(COLOR_BTNFACE));
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  return reinterpret_cast<LRESULT>(background ? background : GetSysColorBrush(COLOR_BTNFACE));
}

std::string Control::Text() const {
  std::string text(std::size_t(GetWindowTextLengthA(window_)) + 1, '\0');
  text.resize(std::size_t(GetWindowTextA(window_, text.data(), int(text.size()))));
  return text;
}

void Control::SetText(std::string_view text) { SetWindowTextA(window_, std::string(text).c_str()); }

void Control::Click() {
  if (!onClick_) return;
  auto handler = onClick_;
  handler(layout_.Tag);
}

void Control::Create(const char* className, DWORD style, DWORD exStyle, const ControlSite& site, void* param) {
  if (layout_.Flags & flags::Disabled) style |= WS_DISABLED;
  const RECT& p = site.Place;
  window_ = CreateWindowExA(exStyle, className, layout_.Text ? layout_.Text : "", style, p.left, p.top,
                            p.right - p.left, p.bottom - p.top, site.Parent, nullptr, ThisModule(), param);
  if (!window_) ThrowRefused("CreateWindowExA");
  SetPropA(window_, "KDOName", const_cast<char*>(layout_.Name));
  SetPropA(window_, "KDOTag", reinterpret_cast<HANDLE>(intptr_t(layout_.Tag)));
  if (layout_.Hint) SetPropA(window_, "KDOHint", const_cast<char*>(layout_.Hint));
  SendMessageA(window_, WM_SETFONT, reinterpret_cast<WPARAM>(site.Font), FALSE);
}

std::unique_ptr<Control> MakeControl(const ComponentLayout& layout, const ControlSite& site) {
  switch (layout.Kind) {
    case ComponentKind::Panel:
    case ComponentKind::GroupBox: return std::make_unique<Container>(layout, site);
    case ComponentKind::SpeedButton: return std::make_unique<SpeedButton>(layout, site);
    case ComponentKind::Bevel: return std::make_unique<Bevel>(layout, site);
    case ComponentKind::Label: return std::make_unique<Label>(layout, site);
    case ComponentKind::Image: return std::make_unique<Image>(layout, site);
    case ComponentKind::Edit: return MakeEdit(layout, site);
  }
  return std::make_unique<Label>(layout, site);  // a kind of no known row: a static text, as a label
}

std::shared_ptr<const void> ControlClasses() { return SharedWhileHeld<ControlClassSet>(); }

}  // namespace platform::win32
