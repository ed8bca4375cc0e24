// The small GUI toolkit the configuration page needs: a modeless form built
// from a table of components (panel, group box, label, image, bevel, flat
// speed button, edit field) and a file-open dialog. Win32 implementation in
// win32/Gui.cpp; a state-only one for the native tests in testing/sim/Gui.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class ComponentKind : uint8_t { Panel, GroupBox, Label, Image, Bevel, SpeedButton, Edit };

// Pictures kept as resources of the module.
enum class Picture : uint8_t { None, GlyphApply, GlyphOk, GlyphFolder, GlyphList, ModuleIcon };

namespace flags {
constexpr uint32_t Bold = 1;          // bold font, otherwise the form's
constexpr uint32_t AlignTop = 2;      // sticks to its parent's top edge, full width
constexpr uint32_t AlignBottom = 4;   // sticks to its parent's bottom edge, full width
constexpr uint32_t Disabled = 8;      // cannot be typed into, focused or cleared by the user
constexpr uint32_t ShowHint = 16;     // its hint shows while the mouse rests on it
constexpr uint32_t Opaque = 32;       // paints its own background (a speed button)
constexpr uint32_t WhiteColor = 64;   // a white background of its own (a panel)
constexpr uint32_t AutoSize = 128;    // sizes itself to its picture (an image)
constexpr uint32_t PathEllipsis = 256;  // an edit field holding a path: a path wider than the field shows
                                        // shortened in the middle, its file name kept, and whole as its hint
}  // namespace flags

// One row of a form's layout: positions in pixels at 96 dpi, relative to the parent's client area.
struct ComponentLayout {
  const char* Name;
  ComponentKind Kind;
  const char* Parent;  // null: the form itself
  const char* Text;    // caption or text; null for none
  int Left, Top, Width, Height;
  int TabOrder;        // -1 where it does not apply
  int Tag;
  const char* Hint;    // null for none
  Picture Pic;
  uint32_t Flags;
};

struct FormLayout {
  const char* Name;
  const char* Caption;
  int ClientWidth, ClientHeight;  // at 96 dpi
  const char* FontName;
  int FontHeight;  // pixels at 96 dpi
};

struct OpenDialogOptions {
  bool HideReadOnly = false;
  bool PathMustExist = false;
  bool FileMustExist = false;
  bool EnableSizing = false;
};

// A modeless form with a dialog frame and a close box; the close box hides it.
// All calls and events happen on the thread that made it.
class Form {
 public:
  // Builds the form, hidden. Throws when the platform refuses one of its window
  // classes or windows; nothing of the form then stays.
  Form(const FormLayout& layout, const ComponentLayout* components, std::size_t count);
  ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Runs when the form turns from hidden to visible.
  void SetOnShow(std::function<void()> handler);
  // Runs on a click of the component (by the user or by Click), given the component's tag.
  void SetOnClick(std::string_view component, std::function<void(int tag)> handler);

  // Shows the form modelessly; a visible form is only brought to the front.
  void Show();
  void Hide();
  bool Visible() const;

  std::string Text(std::string_view component) const;
  void SetText(std::string_view component, std::string_view text);
  bool Enabled(std::string_view component) const;
  int Tag(std::string_view component) const;
  // The colour drawn transparent in a speed button's glyph, 0x00BBGGRR.
  uint32_t GlyphTransparentColor(std::string_view component) const;
  void SetGlyphTransparentColor(std::string_view component, uint32_t color);
  // The toolkit's click: runs the component's OnClick.
  void Click(std::string_view component);

  // Runs the file-open dialog modally (timer ticks go on meanwhile); the full
  // path of the chosen file, or nothing when the user cancels.
  std::optional<std::string> RunOpenDialog(const OpenDialogOptions& options);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
