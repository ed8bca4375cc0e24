#include "ui/FPropertyPage.h"

#include "sdk/Core.Selector_Types.h"

namespace {

using platform::ComponentKind;
using platform::ComponentLayout;
using platform::Picture;
namespace f = platform::flags;

constexpr platform::FormLayout kForm = {"frmPropertyPage", "WinAmp Control - Configuration", 422, 593, "MS Sans Serif",
                                      11};

constexpr const char* kSelectHint = "List All Variables";
constexpr uint32_t kSelectFlags = f::ShowHint;

// The layout, in the form's field order. Children sit relative to their parent's client area.
// The two frames share their edges, 8 from the form's sides like the buttons below them; within
// both, labels, fields and buttons stand in the same three columns, 16 from the frame's sides.
constexpr ComponentLayout kLayout[] = {
    // name, kind, parent, text, left, top, width, height, tab order, tag, hint, picture, flags
    {"pTop", ComponentKind::Panel, nullptr, nullptr, 0, 0, 422, 65, 0, 0, nullptr, Picture::None,
     f::AlignTop | f::WhiteColor},
    {"Image1", ComponentKind::Image, "pTop", nullptr, 16, 8, 32, 32, -1, 0, nullptr, Picture::ModuleIcon, f::AutoSize},
    {"Label1", ComponentKind::Label, "pTop", "WinAmp Control - Configuration", 72, 8, 178, 13, -1, 0, nullptr,
     Picture::None, f::Bold},
    {"Label2", ComponentKind::Label, "pTop", "You need a new WinAmp Location ", 88, 24, 168, 13, -1, 0, nullptr,
     Picture::None, 0},
    {"Label3", ComponentKind::Label, "pTop", "for each WinAmp Control Instance", 88, 40, 162, 13, -1, 0, nullptr,
     Picture::None, 0},
    {"GroupBox1", ComponentKind::GroupBox, nullptr, "WinAmp Player Location", 8, 80, 406, 73, 1, 0, nullptr,
     Picture::None, 0},
    {"btnApply", ComponentKind::SpeedButton, nullptr, "Apply", 336, 563, 78, 22, -1, 0, nullptr, Picture::GlyphApply,
     0},
    {"Label6", ComponentKind::Label, "GroupBox1", "Location:", 16, 36, 44, 13, -1, 0, nullptr, Picture::None, 0},
    {"btnOK", ComponentKind::SpeedButton, nullptr, "OK", 257, 563, 73, 22, -1, 0, nullptr, Picture::GlyphOk,
     f::Opaque},
    {"Bevel2", ComponentKind::Bevel, "pTop", nullptr, 0, 63, 422, 2, -1, 0, nullptr, Picture::None, f::AlignBottom},
    {"GroupBox2", ComponentKind::GroupBox, nullptr, "Player Status", 8, 168, 406, 389, 2, 0, nullptr, Picture::None,
     0},
    {"Label4", ComponentKind::Label, "GroupBox2", "Track Pos:", 16, 36, 52, 13, -1, 0, nullptr, Picture::None, 0},
    {"btnSelectVar1", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 32, 23, 22, -1, 1, kSelectHint,
     Picture::GlyphList, kSelectFlags},
    {"btnSelectVar2", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 64, 23, 22, -1, 2, kSelectHint,
     Picture::GlyphList, kSelectFlags},
    {"Label7", ComponentKind::Label, "GroupBox2", "Track Len:", 16, 68, 52, 13, -1, 0, nullptr, Picture::None, 0},
    {"SpeedButton1", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 160, 23, 22, -1, 3, kSelectHint,
     Picture::GlyphList, kSelectFlags},
    {"Label5", ComponentKind::Label, "GroupBox2", "Volume:", 16, 164, 38, 13, -1, 0, nullptr, Picture::None, 0},
    {"edTrackPos", ComponentKind::Edit, "GroupBox2", nullptr, 88, 32, 270, 21, 0, 0, nullptr, Picture::None,
     f::Disabled},
    {"edTrackLen", ComponentKind::Edit, "GroupBox2", nullptr, 88, 64, 270, 21, 1, 0, nullptr, Picture::None,
     f::Disabled},
    {"edVolume", ComponentKind::Edit, "GroupBox2", nullptr, 88, 160, 270, 21, 2, 0, nullptr, Picture::None,
     f::Disabled},
    {"SpeedButton2", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 192, 23, 22, -1, 4, kSelectHint,
     Picture::GlyphList, kSelectFlags},
    {"Label8", ComponentKind::Label, "GroupBox2", "Shuffle:", 16, 196, 36, 13, -1, 0, nullptr, Picture::None, 0},
    {"edShuffle", ComponentKind::Edit, "GroupBox2", nullptr, 88, 192, 270, 21, 3, 0, nullptr, Picture::None,
     f::Disabled},
    {"SpeedButton3", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 224, 23, 22, -1, 5, kSelectHint,
     Picture::GlyphList, kSelectFlags},
    {"Label9", ComponentKind::Label, "GroupBox2", "Repeat:", 16, 228, 38, 13, -1, 0, nullptr, Picture::None, 0},
    {"edRepeat", ComponentKind::Edit, "GroupBox2", nullptr, 88, 224, 270, 21, 4, 0, nullptr, Picture::None,
     f::Disabled},
    {"edLocation", ComponentKind::Edit, "GroupBox1", nullptr, 88, 32, 270, 21, 0, 0, nullptr, Picture::None,
     f::Disabled | f::PathEllipsis},
    {"btnSelectWinamp", ComponentKind::SpeedButton, "GroupBox1", nullptr, 367, 32, 23, 22, -1, 0, "Select Folder",
     Picture::GlyphFolder, f::ShowHint},
    {"Label10", ComponentKind::Label, "GroupBox2", "Track File:", 16, 100, 50, 13, -1, 0, nullptr, Picture::None, 0},
    {"edTrackFile", ComponentKind::Edit, "GroupBox2", nullptr, 88, 96, 270, 21, 5, 0, nullptr, Picture::None,
     f::Disabled},
    {"SpeedButton4", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 96, 23, 22, -1, 6, kSelectHint,
     Picture::GlyphList, kSelectFlags},
    {"Label11", ComponentKind::Label, "GroupBox2", "Track Title:", 16, 132, 54, 13, -1, 0, nullptr, Picture::None, 0},
    {"edTrackTitle", ComponentKind::Edit, "GroupBox2", nullptr, 88, 128, 270, 21, 6, 0, nullptr, Picture::None,
     f::Disabled},
    {"SpeedButton5", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 128, 23, 22, -1, 7, kSelectHint,
     Picture::GlyphList, kSelectFlags},
    {"Label12", ComponentKind::Label, "GroupBox2", "Play State:", 16, 260, 54, 13, -1, 0, nullptr, Picture::None, 0},
    {"edPlayState", ComponentKind::Edit, "GroupBox2", nullptr, 88, 256, 270, 21, 7, 0, nullptr, Picture::None,
     f::Disabled},
    {"SpeedButton6", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 256, 23, 22, -1, 8, kSelectHint,
     Picture::GlyphList, kSelectFlags},
    {"Label13", ComponentKind::Label, "GroupBox2", "Artist:", 16, 292, 30, 13, -1, 0, nullptr, Picture::None, 0},
    {"edArtist", ComponentKind::Edit, "GroupBox2", nullptr, 88, 288, 270, 21, 8, 0, nullptr, Picture::None,
     f::Disabled},
    {"SpeedButton7", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 288, 23, 22, -1, 9, kSelectHint,
     Picture::GlyphList, kSelectFlags},
    {"Label14", ComponentKind::Label, "GroupBox2", "Album:", 16, 324, 33, 13, -1, 0, nullptr, Picture::None, 0},
    {"edAlbum", ComponentKind::Edit, "GroupBox2", nullptr, 88, 320, 270, 21, 9, 0, nullptr, Picture::None,
     f::Disabled},
    {"SpeedButton8", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 320, 23, 22, -1, 10, kSelectHint,
     Picture::GlyphList, kSelectFlags},
    {"Label15", ComponentKind::Label, "GroupBox2", "Cover:", 16, 356, 33, 13, -1, 0, nullptr, Picture::None, 0},
    {"edCover", ComponentKind::Edit, "GroupBox2", nullptr, 88, 352, 270, 21, 10, 0, nullptr, Picture::None,
     f::Disabled},
    {"SpeedButton9", ComponentKind::SpeedButton, "GroupBox2", nullptr, 367, 352, 23, 22, -1, 11, kSelectHint,
     Picture::GlyphList, kSelectFlags},
};

constexpr uint32_t kLime = 0x00FF00;

}  // namespace

TfrmPropertyPage::TfrmPropertyPage()
    : FForm(std::make_unique<platform::Form>(kForm, kLayout, std::size(kLayout))) {
  FForm->SetOnShow([this] { FormShow(); });
  FForm->SetOnClick("btnApply", [this](int) { btnApplyClick(); });
  FForm->SetOnClick("btnOK", [this](int) { btnOKClick(); });
  FForm->SetOnClick("btnSelectWinamp", [this](int) { btnSelectWinampClick(); });
  // The select buttons are the ones showing the list glyph.
  for (const ComponentLayout& c : kLayout)
    if (c.Pic == Picture::GlyphList) FForm->SetOnClick(c.Name, [this](int tag) { btnSelectVar1Click(tag); });
  FormCreate();
}

TfrmPropertyPage::~TfrmPropertyPage() = default;

void TfrmPropertyPage::Show() { FForm->Show(); }
void TfrmPropertyPage::Hide() {
  ++FHides;
  FForm->Hide();
}

bool TfrmPropertyPage::StillShown(unsigned shown) const { return FHides == shown && FForm->Visible(); }

// The server's calls go on during the dialog (control/Device.WinampControl_Lifecycle.h):
// the page may be hidden, or freed by its instance, before it returns.
template <class Dialog, class Take>
void TfrmPropertyPage::RunModal(Dialog&& dialog, Take&& take) {
  const std::shared_ptr<TfrmPropertyPage> keep = weak_from_this().lock();
  const unsigned shown = FHides;
  auto answer = dialog();
  if (StillShown(shown)) take(answer);
}

void TfrmPropertyPage::FormCreate() { FForm->SetGlyphTransparentColor("btnOK", kLime); }

// The record's eight through the instance's interface, the rest by the instance's own path.
void TfrmPropertyPage::FormShow() {
  if (FWinampControl) FWinampControl->GetSettings(&FSettings);
  if (FExtraSettings) FExtraSettings->GetExtraSettings(FSettings);
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    FForm->SetText(row.Edit, (FSettings.*row.Field).view());
}

// Hands all twelve texts over every time, changed or not; the form stays open.
void TfrmPropertyPage::btnApplyClick() {
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    FSettings.*row.Field = TKDOText(FForm->Text(row.Edit));
  // The extra ones first: taking them calls nothing out, so the instance is surely still held.
  if (FExtraSettings) FExtraSettings->SetExtraSettings(FSettings);
  if (FWinampControl) FWinampControl->SetSettings(KDOSettingsValue(FSettings));
}

void TfrmPropertyPage::btnOKClick() {
  FForm->Click("btnApply");
  FForm->Hide();
}

// The path reaches the instance only with Apply or OK.
void TfrmPropertyPage::btnSelectWinampClick() {
  platform::OpenDialogOptions options;
  options.HideReadOnly = true;
  options.PathMustExist = true;
  options.FileMustExist = true;
  options.EnableSizing = true;
  RunModal([&] { return FForm->RunOpenDialog(options); },
           [&](const std::optional<std::string>& file) {
             if (file) FForm->SetText("edLocation", *file);
           });
}

// The select button of that tag picks a variable of its setting's type into the setting's field.
void TfrmPropertyPage::btnSelectVar1Click(int tag) {
  const TKDOSettingsKey* target = nullptr;
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    if (row.Type >= 0 && FForm->Tag(row.Button) == tag) target = &row;
  if (!target) return;
  // The service reference is the picker's own for the whole pick, whatever happens to the form's.
  TKDORef<IKDOInstanceControl> instanceControl = FInstanceControl;
  TKDOText variable;
  RunModal([&] { return PickVariable(instanceControl.get(), KDOTypeFilter(uint8_t(target->Type)), variable); },
           [&](KDOResult picked) {
             if (KDOSucceeded(picked)) FForm->SetText(target->Edit, variable.view());
           });
}

KDOResult PickVariable(IKDOInstanceControl* instanceControl, uint8_t filter, TKDOText& variable) {
  if (!instanceControl) return KDO_E_FAIL;
  TKDOModuleInstance record{};
  const KDOResult created = instanceControl->CreateInstance(IID_IKDOSelector, &record, 0);
  if (KDOFailed(created)) return created;
  TKDORef<IKDOModule> module = TKDORef<IKDOModule>::Adopt(record.Module);
  TKDORef<IKDOSelector> selector;
  const KDOResult queried =
      module ? module->QueryInterface(IID_IKDOSelector, selector.put()) : KDO_E_FAIL;  // no module: nothing to ask
  if (KDOFailed(queried) || !selector) {
    instanceControl->DeleteInstance(record.InstanceID);
    return KDOFailed(queried) ? queried : KDO_E_FAIL;
  }
  const KDOResult result = selector->SelectVariable(filter, variable.out());
  // Deleted while both references are still held; released after.
  instanceControl->DeleteInstance(record.InstanceID);
  selector.reset();
  module.reset();
  return result;
}
