// The configuration page on the simulated GUI: showing and hiding, the
// fields, Apply, OK, the file dialog and the variable picker.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/HostSelector.h"
#include "InstanceFixture.h"
#include "SettingsKeys.h"
#include "sim/SimGui.h"
#include "sdk/Core.Selector_Types.h"
#include "ui/FPropertyPage.h"

namespace instancetest {
namespace {

const char* const kEdits[] = {"edLocation",   "edTrackPos", "edTrackLen", "edTrackFile",
                              "edTrackTitle", "edVolume",   "edShuffle",  "edRepeat"};
// The fields of the settings the record does not carry, reached by the instance's own path.
const char* const kExtraEdits[] = {"edPlayState", "edArtist", "edAlbum", "edCover"};

class Page : public InstanceTest {
 protected:
  void SetUp() override {
    InstanceTest::SetUp();
    sim::SetOpenDialogAnswer(std::nullopt);
    sim::SetDuringOpenDialog(nullptr);
    const std::vector<std::string> keys = testdata::SettingsKeys();
    for (std::size_t i = 0; i < keys.size(); ++i) Store(1, keys[i], i == 0 ? kExe : "var" + std::to_string(i));
    Create(1);
    module = server.Instance(1);
  }
  void TearDown() override {
    if (module) module->HideConfigurationPage();
    InstanceTest::TearDown();
    EXPECT_TRUE(sim::Forms().empty()) << "no form outlives its instance";
  }
  platform::Form& Form() {
    EXPECT_EQ(sim::Forms().size(), 1u);
    return *sim::Forms().back();
  }
  std::vector<std::string> Fields() {
    std::vector<std::string> f;
    for (const char* e : kEdits) f.push_back(Form().Text(e));
    return f;
  }
  std::vector<std::string> Settings() {
    TKDOWinampControlSettings s;
    Control(1)->GetSettings(&s);
    return Texts(s);
  }
  IKDOModule* module = nullptr;
  host::Selector selector{server};
};

TEST_F(Page, ShowBuildsOneFormWithTheLayout) {
  EXPECT_TRUE(sim::Forms().empty());
  EXPECT_EQ(module->ShowConfigurationPage(), KDO_S_OK);
  platform::Form& form = Form();
  EXPECT_TRUE(form.Visible());
  const platform::FormLayout& layout = sim::LayoutOf(form);
  EXPECT_STREQ(layout.Caption, "WinAmp Control - Configuration");
  EXPECT_EQ(layout.ClientWidth, 422);
  EXPECT_EQ(layout.ClientHeight, 593);
  EXPECT_STREQ(layout.FontName, "MS Sans Serif");
  EXPECT_EQ(sim::ComponentsOf(form).size(), 46u);
  EXPECT_EQ(Fields(), Settings()) << "FormShow fills the fields from the instance";
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(form.Text(kExtraEdits[i]), "var" + std::to_string(8 + i)) << "by the instance's own path";
  EXPECT_EQ(module->ShowConfigurationPage(), KDO_S_OK);
  EXPECT_EQ(sim::Forms().size(), 1u) << "a second show makes no second form";
  EXPECT_EQ(sim::BroughtToFront(form), 1);
}

TEST_F(Page, EveryFieldIsDisabledAndNothingTakesTheFocus) {
  module->ShowConfigurationPage();
  for (const char* e : kEdits) EXPECT_FALSE(Form().Enabled(e)) << e;
  for (const platform::ComponentLayout& c : sim::ComponentsOf(Form())) {
    if (c.Kind == platform::ComponentKind::Edit) {
      EXPECT_TRUE(c.Flags & platform::flags::Disabled) << c.Name;
    }
  }
}

TEST_F(Page, FormHoldsTheInstanceUntilHidden) {
  EXPECT_EQ(module->GetReferenceCount(), 1);
  module->ShowConfigurationPage();
  EXPECT_EQ(module->GetReferenceCount(), 2);
  const int32_t icHeld = server.Counter(IID_IKDOInstanceControl).Held();
  EXPECT_EQ(icHeld, 2) << "the instance's and the form's";
  module->HideConfigurationPage();
  EXPECT_EQ(module->GetReferenceCount(), 1);
  EXPECT_TRUE(sim::Forms().empty());
  EXPECT_EQ(module->HideConfigurationPage(), KDO_S_OK) << "no form: nothing to do";
}

TEST_F(Page, ServerReleaseWhileShownKeepsTheInstanceUntilHide) {
  module->AddRef();  // our own reference, to hide the page later
  module->ShowConfigurationPage();
  server.DestroyInstance(1);  // the server lets go
  EXPECT_EQ(module->GetReferenceCount(), 2);
  EXPECT_NE(server.Log().back().Text, "Interface Destroy");
  module->HideConfigurationPage();
  EXPECT_EQ(module->Release(), 0);
  EXPECT_EQ(server.Log().back().Text, "Interface Destroy");
  module = nullptr;
}

// Leaving the page: OK applies the eight texts the page shows, changed or not, and hides; Apply
// applies them and stays open; the close box hides without applying. The store gets them only at
// the next save, the player is started again only for a new location, and the next show shows
// what the instance holds.
enum class Before { kNothing, kEdits, kFileDialog, kChangedBehind };
enum class Leave { kOk, kApply, kCloseBox };
struct LeaveCase {
  const char* Name;
  Before Change;
  Leave How;
};
const LeaveCase kLeaveCases[] = {
    {"OkWithoutChangesStillAppliesAllEightTextsAndHides", Before::kNothing, Leave::kOk},
    {"ApplyTakesTheFieldsAndStaysOpen", Before::kEdits, Leave::kApply},
    {"ChangesDroppedByTheCloseBoxAreGoneAtTheNextShow", Before::kFileDialog, Leave::kCloseBox},
    {"OkWithoutChangesHandsTheFormsTextsOverAgain", Before::kChangedBehind, Leave::kOk},
};
void PrintTo(const LeaveCase& r, std::ostream* os) { *os << r.Name; }

class Leaving : public Page, public ::testing::WithParamInterface<LeaveCase> {};

TEST_P(Leaving, OkAndApplyApplyTheShownTextsTheCloseBoxNothing) {
  const LeaveCase& r = GetParam();
  module->ShowConfigurationPage();
  std::vector<std::string> shown = Settings();
  const std::vector<std::string> stored = Settings();
  switch (r.Change) {
    case Before::kNothing:
      break;
    case Before::kEdits:
      Form().SetText("edVolume", "NewVolume");
      Form().SetText("edPlayState", "NewState");
      Form().SetText("edAlbum", "NewAlbum");
      shown[5] = "NewVolume";
      break;
    case Before::kFileDialog:
      sim::SetOpenDialogAnswer("D:\\elsewhere.exe");
      Form().Click("btnSelectWinamp");
      shown[0] = "D:\\elsewhere.exe";
      break;
    case Before::kChangedBehind: {
      // The instance's settings move on behind the form's back (another route, not the page).
      TKDOWinampControlSettings other;
      other.WinampLocation = TKDOText(kExe);
      other.VolumeVar = TKDOText("elsewhere");
      Control(1)->SetSettings(KDOSettingsValue(other));
      ASSERT_NE(Settings(), shown);
      break;
    }
  }
  switch (r.How) {
    case Leave::kOk: Form().Click("btnOK"); break;
    case Leave::kApply: Form().Click("btnApply"); break;
    case Leave::kCloseBox: Form().Hide(); break;
  }
  EXPECT_EQ(Form().Visible(), r.How == Leave::kApply);
  if (r.How == Leave::kCloseBox) {
    EXPECT_EQ(Settings()[0], kExe) << "nothing applied";
  } else {
    EXPECT_EQ(Settings(), shown) << "the eight texts the page shows, changed or not";
  }
  EXPECT_EQ(farm.Launches(), 1) << "an unchanged location leaves the player alone";
  if (r.Change == Before::kEdits) {
    EXPECT_EQ(server.Setting(1, "Settings", "VolumeVar"), stored[5]) << "stored only at the next save";
    module->SaveSettings();
    EXPECT_EQ(server.Setting(1, "Settings", "PlayStateVar"), "NewState")
        << "the play state handed over with the others";
    EXPECT_EQ(server.Setting(1, "Settings", "AlbumVar"), "NewAlbum");
  }
  if (!Form().Visible()) module->ShowConfigurationPage();
  EXPECT_EQ(Fields(), Settings()) << "the next show shows what the instance holds";
}

INSTANTIATE_TEST_SUITE_P(Leave, Leaving, ::testing::ValuesIn(kLeaveCases),
                         [](const ::testing::TestParamInfo<LeaveCase>& info) { return info.param.Name; });

TEST_F(Page, FileDialogSetsTheLocationOnlyWhenConfirmed) {
  module->ShowConfigurationPage();
  Form().Click("btnSelectWinamp");
  EXPECT_EQ(Form().Text("edLocation"), kExe) << "cancelled: unchanged";
  const platform::OpenDialogOptions o = sim::LastOpenDialogOptions();
  EXPECT_TRUE(o.HideReadOnly && o.PathMustExist && o.FileMustExist && o.EnableSizing);
  sim::SetOpenDialogAnswer("D:\\Players\\winamp.exe");
  Form().Click("btnSelectWinamp");
  EXPECT_EQ(Form().Text("edLocation"), "D:\\Players\\winamp.exe");
  EXPECT_EQ(Settings()[0], kExe) << "reaches the instance only with Apply or OK";
}

TEST_F(Page, TimersTickWhileTheFileDialogIsOpen) {
  server.DefineVariable("var5", host::Value::I(0));
  module->ShowConfigurationPage();
  sim::SetDuringOpenDialog([&] { world.Advance(250); });
  Form().Click("btnSelectWinamp");
  EXPECT_EQ(server.Variable("var5")->Int, 255);
}

TEST_F(Page, ShowWhileVisibleDoesNotReload) {
  module->ShowConfigurationPage();
  sim::SetOpenDialogAnswer("D:\\elsewhere.exe");
  Form().Click("btnSelectWinamp");
  module->ShowConfigurationPage();
  EXPECT_EQ(Form().Text("edLocation"), "D:\\elsewhere.exe");
}

TEST_F(Page, OkGlyphIsTransparentInLimeTheOthersInTheirBottomLeftColour) {
  module->ShowConfigurationPage();
  EXPECT_EQ(Form().GlyphTransparentColor("btnOK"), 0x00FF00u);
  EXPECT_EQ(Form().GlyphTransparentColor("btnApply"), 0xFF8000u);
  EXPECT_EQ(Form().GlyphTransparentColor("btnSelectWinamp"), 0x00FFFFu);
  EXPECT_EQ(Form().GlyphTransparentColor("SpeedButton3"), 0xFFFFFFu);
}

// ---------------------------------------------------------------- hidden while a modal dialog runs

// A modal dialog of the page (the file dialog, or the variable picker behind a select button)
// interrupted while it runs: the page hidden, hidden and shown again, closed by its close box, or
// its instance destroyed. The late answer reaches no page and no setting; a hidden page's form is
// freed only once its dialog returned.
enum class Dialog { kFile, kPicker };
enum class Meanwhile { kHide, kHideAndShow, kCloseBox, kDestroy };
struct Interruption {
  const char* Name;
  Dialog Kind;
  const char* Button;
  Meanwhile What;
  const char* Edit;  // the field the answer was for, its setting and the text both keep
  const char* Key;
  std::size_t Index;
  const char* Kept;  // null: the stored location
};
const Interruption kInterruptions[] = {
    {"HiddenDuringTheFileDialog", Dialog::kFile, "btnSelectWinamp", Meanwhile::kHide, "edLocation", "WinampLocation",
     0, nullptr},
    {"HiddenAndShownAgainDuringTheFileDialog", Dialog::kFile, "btnSelectWinamp", Meanwhile::kHideAndShow, "edLocation",
     "WinampLocation", 0, nullptr},
    {"ClosedDuringTheFileDialog", Dialog::kFile, "btnSelectWinamp", Meanwhile::kCloseBox, "edLocation",
     "WinampLocation", 0, nullptr},
    {"HiddenByThePicker", Dialog::kPicker, "SpeedButton1", Meanwhile::kHide, "edVolume", "VolumeVar", 5, "var5"},
    {"InstanceDestroyedByThePicker", Dialog::kPicker, "SpeedButton3", Meanwhile::kDestroy, "edRepeat", "RepeatVar", 7,
     "var7"},
};

void PrintTo(const Interruption& r, std::ostream* os) { *os << r.Name; }

class Interrupted : public Page, public ::testing::WithParamInterface<Interruption> {};

TEST_P(Interrupted, TheLateAnswerReachesNoPageAndNoSetting) {
  const Interruption& r = GetParam();
  const std::string kept = r.Kept ? r.Kept : kExe;
  module->ShowConfigurationPage();
  std::size_t formsDuring = 0;
  bool destroyedDuring = false;
  auto meanwhile = [&] {
    switch (r.What) {
      case Meanwhile::kHide:
        module->HideConfigurationPage();
        break;
      case Meanwhile::kHideAndShow:
        module->HideConfigurationPage();
        module->ShowConfigurationPage();
        break;
      case Meanwhile::kCloseBox:
        Form().Hide();
        break;
      case Meanwhile::kDestroy:
        // What a server does for an event script that removes the instance: hide its page, let go.
        server.Instance(1)->HideConfigurationPage();
        server.DestroyInstance(1);
        destroyedDuring = server.Log().back().Text == "Interface Destroy";
        break;
    }
    formsDuring = sim::Forms().size();
  };
  if (r.Kind == Dialog::kFile) {
    sim::SetOpenDialogAnswer("D:\\late.exe");
    sim::SetDuringOpenDialog(meanwhile);
  } else {
    selector.Chooser = [&](uint8_t, const std::vector<std::string>&) -> std::optional<std::string> {
      meanwhile();
      return "late";
    };
  }
  Form().Click(r.Button);

  if (r.Kind == Dialog::kPicker) {
    EXPECT_EQ(selector.Alive, 0) << "the pick still deletes its selector instance";
  }
  if (r.What == Meanwhile::kDestroy) {
    module = nullptr;
    EXPECT_TRUE(destroyedDuring) << "the form held the instance no longer";
    EXPECT_TRUE(sim::Forms().empty());
    EXPECT_EQ(server.Setting(1, "Settings", r.Key), kept) << "the late answer was never applied";
    return;
  }
  if (r.What == Meanwhile::kHide) {
    EXPECT_EQ(formsDuring, 1u) << "the form outlives its own dialog";
    EXPECT_TRUE(sim::Forms().empty()) << "and goes once the dialog returned";
    EXPECT_EQ(module->GetReferenceCount(), 1);
  }
  EXPECT_EQ(Settings()[r.Index], kept);
  if (r.What != Meanwhile::kHideAndShow) module->ShowConfigurationPage();
  EXPECT_EQ(Form().Text(r.Edit), kept) << "the late answer reached no page";
  EXPECT_TRUE(Form().Visible());
}

INSTANTIATE_TEST_SUITE_P(Modal, Interrupted, ::testing::ValuesIn(kInterruptions),
                         [](const ::testing::TestParamInfo<Interruption>& info) { return info.param.Name; });

// ---------------------------------------------------------------- the variable picker

TEST_F(Page, EachSelectButtonFillsItsFieldWithItsFilter) {
  module->ShowConfigurationPage();
  const std::tuple<const char*, int, const char*, uint8_t> rows[] = {
      {"btnSelectVar1", 1, "edTrackPos", 8}, {"btnSelectVar2", 2, "edTrackLen", 8},
      {"SpeedButton1", 3, "edVolume", 2},    {"SpeedButton2", 4, "edShuffle", 1},
      {"SpeedButton3", 5, "edRepeat", 1},    {"SpeedButton4", 6, "edTrackFile", 8},
      {"SpeedButton5", 7, "edTrackTitle", 8}, {"SpeedButton6", 8, "edPlayState", 2},
      {"SpeedButton7", 9, "edArtist", 8},     {"SpeedButton8", 10, "edAlbum", 8},
      {"SpeedButton9", 11, "edCover", 8},
  };
  for (const auto& [button, tag, edit, filter] : rows) {
    EXPECT_EQ(Form().Tag(button), tag);
    selector.Answer = std::string("picked ") + button;
    selector.Filters.clear();
    Form().Click(button);
    EXPECT_EQ(Form().Text(edit), std::string("picked ") + button);
    EXPECT_EQ(selector.Filters, std::vector<uint8_t>{filter}) << button;
    EXPECT_EQ(selector.Alive, 0) << "the selector instance is deleted again";
  }
  EXPECT_EQ(Settings()[1], "var1") << "the instance keeps its settings until Apply";
}

TEST_F(Page, TagsOutsideOneToElevenDoNothing) {
  TKDORef<IKDOInstanceControl> ic;
  ASSERT_EQ(server.Kernel()->QueryInterface(IID_IKDOInstanceControl, ic.put()), KDO_S_OK);
  TfrmPropertyPage page;
  page.SetInstanceControl(ic.get());
  page.Form().Show();
  for (const char* e : kEdits) page.Form().SetText(e, "unchanged");
  for (const char* e : kExtraEdits) page.Form().SetText(e, "unchanged");
  for (int tag : {0, -1, 12, INT_MIN, INT_MAX}) page.btnSelectVar1Click(tag);
  EXPECT_EQ(selector.Created, 0) << "no server call";
  for (const char* e : kEdits) EXPECT_EQ(page.Form().Text(e), "unchanged");
  for (const char* e : kExtraEdits) EXPECT_EQ(page.Form().Text(e), "unchanged");
}

TEST_F(Page, FailedSelectionLeavesTheFieldAndSuccessTakesAnyText) {
  module->ShowConfigurationPage();
  selector.Result = KDO_E_FAIL;
  selector.Answer = "ignored";
  Form().Click("SpeedButton1");
  EXPECT_EQ(Form().Text("edVolume"), "var5");
  EXPECT_EQ(selector.Alive, 0);
  selector.Result = 7;  // positive: a success
  selector.Answer = "Seven";
  Form().Click("SpeedButton1");
  EXPECT_EQ(Form().Text("edVolume"), "Seven");
  selector.Result = KDO_S_OK;
  selector.Answer = "";
  Form().Click("SpeedButton1");
  EXPECT_EQ(Form().Text("edVolume"), "") << "an empty answer empties the field";
}

TEST_F(Page, FailedQueryStillDeletesTheSelectorInstance) {
  module->ShowConfigurationPage();
  selector.RefuseQuery = true;
  selector.Answer = "x";
  Form().Click("SpeedButton2");
  EXPECT_EQ(Form().Text("edShuffle"), "var6");
  EXPECT_EQ(selector.Created, 1);
  EXPECT_EQ(selector.Alive, 0);
  EXPECT_EQ(server.Instance(1000), nullptr);
}

TEST(PickVariable, FailedCreateInstanceDeletesNothing) {
  host::Server server;  // no selector module installed: CreateInstance fails
  TKDORef<IKDOInstanceControl> ic;
  ASSERT_EQ(server.Kernel()->QueryInterface(IID_IKDOInstanceControl, ic.put()), KDO_S_OK);
  TKDOText text("before");
  EXPECT_TRUE(KDOFailed(PickVariable(ic.get(), 8, text)));
  EXPECT_EQ(text.view(), "before");
  EXPECT_EQ(PickVariable(nullptr, 8, text), KDO_E_FAIL);
  ic.reset();
  EXPECT_EQ(server.HeldReferences(), 0);
}

TEST(PickVariable, DeletesTheInstanceWhileStillHoldingBothReferences) {
  host::Server server;
  host::Selector selector(server);
  selector.Answer = "Var";
  TKDORef<IKDOInstanceControl> ic;
  ASSERT_EQ(server.Kernel()->QueryInterface(IID_IKDOInstanceControl, ic.put()), KDO_S_OK);
  TKDOText text;
  EXPECT_EQ(PickVariable(ic.get(), 2, text), KDO_S_OK);
  EXPECT_EQ(text.view(), "Var");
  // The server's release (in DeleteInstance, no longer listed) leaves the picker's two; then the selector's, the module's.
  using E = host::Selector::ReleaseEvent;
  EXPECT_EQ(selector.Releases, (std::vector<E>{{2, false}, {1, false}, {0, false}}));
  EXPECT_EQ(selector.Alive, 0);
  EXPECT_EQ(selector.Filters, std::vector<uint8_t>{2});
}

}  // namespace
}  // namespace instancetest
