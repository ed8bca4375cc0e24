// The GUI on the simulated world: state only.
#include <algorithm>
#include <map>
#include <stdexcept>

#include "platform/Gui.h"
#include "sdk/KDOGuard.h"
#include "sim/SimGui.h"

namespace platform {

struct Form::Impl {
  FormLayout layout;
  std::vector<ComponentLayout> components;
  std::map<std::string, std::string, std::less<>> texts;
  std::map<std::string, uint32_t, std::less<>> transparent;
  std::map<std::string, std::function<void(int)>, std::less<>> onClick;
  std::function<void()> onShow;
  bool visible = false;
  int broughtToFront = 0;

  const ComponentLayout* Find(std::string_view name) const {
    for (const ComponentLayout& c : components)
      if (name == c.Name) return &c;
    return nullptr;
  }
};

namespace {
// Live forms with their state, oldest first.
std::vector<std::pair<Form*, Form::Impl*>>& Live() {
  static std::vector<std::pair<Form*, Form::Impl*>> forms;
  return forms;
}
Form::Impl& StateOf(const Form& form) {
  for (auto& [f, impl] : Live())
    if (f == &form) return *impl;
  throw std::logic_error("not a live form");
}
std::optional<std::string> gAnswer;
int gRuns = 0;
OpenDialogOptions gLastOptions;
std::function<void()> gDuring;

// The bottom-left pixel's colour of each glyph, drawn transparent unless told otherwise.
uint32_t BottomLeftColor(Picture p) {
  switch (p) {
    case Picture::GlyphApply: return 0xFF8000;  // red 0, green 128, blue 255
    case Picture::GlyphOk: return 0x00FF00;     // lime
    case Picture::GlyphFolder: return 0x00FFFF; // yellow
    case Picture::GlyphList: return 0xFFFFFF;   // white
    default: return 0;
  }
}
}  // namespace

Form::Form(const FormLayout& layout, const ComponentLayout* components, std::size_t count)
    : impl_(std::make_unique<Impl>()) {
  impl_->layout = layout;
  impl_->components.assign(components, components + count);
  for (const ComponentLayout& c : impl_->components) {
    impl_->texts[c.Name] = c.Text ? c.Text : "";
    impl_->transparent[c.Name] = BottomLeftColor(c.Pic);
  }
  Live().emplace_back(this, impl_.get());
}

Form::~Form() {
  std::erase_if(Live(), [this](const auto& entry) { return entry.first == this; });
}

void Form::SetOnShow(std::function<void()> handler) { impl_->onShow = std::move(handler); }

void Form::SetOnClick(std::string_view component, std::function<void(int)> handler) {
  impl_->onClick[std::string(component)] = std::move(handler);
}

void Form::Show() {
  if (impl_->visible) {
    ++impl_->broughtToFront;
    return;
  }
  impl_->visible = true;
  // As the window procedure does: nothing escapes a handler.
  if (impl_->onShow) KDOGuard(kdo::text::Const<"the page's showing">(), impl_->onShow);
}

void Form::Hide() { impl_->visible = false; }
bool Form::Visible() const { return impl_->visible; }

std::string Form::Text(std::string_view component) const {
  auto it = impl_->texts.find(component);
  return it == impl_->texts.end() ? std::string() : it->second;
}

void Form::SetText(std::string_view component, std::string_view text) {
  auto it = impl_->texts.find(component);
  if (it != impl_->texts.end()) it->second = text;
}

bool Form::Enabled(std::string_view component) const {
  const ComponentLayout* c = impl_->Find(component);
  return c && !(c->Flags & flags::Disabled);
}

int Form::Tag(std::string_view component) const {
  const ComponentLayout* c = impl_->Find(component);
  return c ? c->Tag : 0;
}

uint32_t Form::GlyphTransparentColor(std::string_view component) const {
  auto it = impl_->transparent.find(component);
  return it == impl_->transparent.end() ? 0 : it->second;
}

void Form::SetGlyphTransparentColor(std::string_view component, uint32_t color) {
  auto it = impl_->transparent.find(component);
  if (it != impl_->transparent.end()) it->second = color;
}

void Form::Click(std::string_view component) {
  auto it = impl_->onClick.find(component);
  if (it == impl_->onClick.end() || !it->second) return;
  auto handler = it->second;  // the handler may replace itself
  KDOGuard(kdo::text::Const<"a button of the page">(), [&] { handler(Tag(component)); });
}

std::optional<std::string> Form::RunOpenDialog(const OpenDialogOptions& options) {
  ++gRuns;
  gLastOptions = options;
  if (gDuring) gDuring();
  return gAnswer;
}

}  // namespace platform

namespace sim {

std::vector<platform::Form*> Forms() {
  std::vector<platform::Form*> forms;
  for (auto& entry : platform::Live()) forms.push_back(entry.first);
  return forms;
}
void SetOpenDialogAnswer(std::optional<std::string> path) { platform::gAnswer = std::move(path); }
int OpenDialogRuns() { return platform::gRuns; }
platform::OpenDialogOptions LastOpenDialogOptions() { return platform::gLastOptions; }
void SetDuringOpenDialog(std::function<void()> action) { platform::gDuring = std::move(action); }
const platform::FormLayout& LayoutOf(const platform::Form& form) { return platform::StateOf(form).layout; }
const std::vector<platform::ComponentLayout>& ComponentsOf(const platform::Form& form) { return platform::StateOf(form).components; }
int BroughtToFront(const platform::Form& form) { return platform::StateOf(form).broughtToFront; }

}  // namespace sim
