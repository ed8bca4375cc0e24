// The edit fields of the form: plain ones, and one that holds a path and shows it shortened to its
// width, the whole path in its tip.
#include "platform/win32/GuiControls.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <string_view>

namespace platform::win32 {

namespace {

class Edit : public Control {
 public:
  Edit(const ComponentLayout& layout, const ControlSite& site) : Control(layout) {
    Create("EDIT", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, site);
  }
};

// `path` as it fits `width` pixels in the font of `dc`: whole when it fits; else "..." in place of
// the end of its folders, the file name kept; when even the file name is too wide, "..." and as
// much of its end as fits (the extension, which tells the most). Wide characters, so that no cut
// falls inside a character of a double-byte code page.
std::wstring FitPath(HDC dc, const std::wstring& path, int width) {
  auto fits = [&](const std::wstring& s) {
    SIZE size{};
    GetTextExtentPoint32W(dc, s.data(), int(s.size()), &size);
    return size.cx <= width;
  };
  if (fits(path)) return path;
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? std::wstring() : path.substr(slash);
  std::wstring folders = path.substr(0, slash == std::wstring::npos ? path.size() : slash);
  const std::wstring dots = L"...";
  while (!folders.empty() && !fits(folders + dots + name)) folders.pop_back();
  if (!folders.empty() || fits(dots + name)) return folders + dots + name;
  std::wstring end = name;
  while (!end.empty() && !fits(dots + end)) end.erase(0, 1);
  return dots + end;
}

// An edit field that holds a path: the field shows it shortened to its real width (scaled, less
// its margins) and the tooltip shows it whole. The field is disabled and so gets no mouse
// messages: the tip belongs to its parent, over the field's rectangle.
class PathEdit final : public Edit {
 public:
  PathEdit(const ComponentLayout& layout, const ControlSite& site)
      : Edit(layout, site), parent_(site.Parent), font_(site.Font), tooltip_(site.Tooltip) {
    TTTOOLINFOA tool = Tool();
    tool.uFlags = TTF_SUBCLASS;
    tool.rect = site.Place;
    tool.lpszText = const_cast<char*>("");
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    SetText(layout.Text ? layout.Text : "");
  }
  std::string Text() const override { return path_; }
  void SetText(std::string_view text) override;

 private:
  TTTOOLINFOA Tool() const {
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = parent_;
    tool.uId = reinterpret_cast<UINT_PTR>(window_);
    return tool;
  }

  std::string path_;
  HWND parent_;
  HFONT font_;    // the form's: it outlives the field
  HWND tooltip_;  // the form's: it outlives the field
};

void PathEdit::SetText(std::string_view text) {
  path_.assign(text);
  std::wstring path(std::size_t(MultiByteToWideChar(CP_ACP, 0, path_.data(), int(path_.size()), nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path_.data(), int(path_.size()), path.data(), int(path.size()));
  RECT room{};
  SendMessageA(window_, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&room));
  std::wstring shown;
  {
    const WindowDc dc(window_);
    const Selection font(dc.get(), font_);
    shown = FitPath(dc.get(), path, room.right - room.left);
  }
  SetWindowTextW(window_, shown.c_str());
  // A tip only where the field does not show the whole path: an empty tip never shows.
  TTTOOLINFOA tool = Tool();
  tool.lpszText = const_cast<char*>(shown == path ? "" : path_.c_str());
  SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace

std::unique_ptr<Control> MakeEdit(const ComponentLayout& layout, const ControlSite& site) {
  if (layout.Flags & flags::PathEllipsis) return std::make_unique<PathEdit>(layout, site);
  return std::make_unique<Edit>(layout, site);
}

}  // namespace platform::win32
