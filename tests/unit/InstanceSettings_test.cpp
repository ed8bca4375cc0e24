// Loading, saving and applying the eleven settings; construction and destruction order.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "InstanceFixture.h"
#include "ServerDoubles.h"
#include "Services.h"
#include "SettingsKeys.h"

namespace instancetest {
namespace {

using Settings = InstanceTest;
using host::Value;

const std::vector<std::string> kKeyOrder = testdata::SettingsKeys();

// Read through the record's named fields, not the module's table: a key paired with the wrong
// field shows here. The keys outside the record (play state, artist, album, cover) are loaded and saved
// with the others; a caller's SetSettings leaves them as they were.
TEST_F(Settings, EachKeyLoadsIntoItsOwnFieldAndIsSavedFromIt) {
  const std::vector<std::string> values = {"C:\\nowhere\\winamp.exe", "pos", "len", "file", "title", "vol",
                                           "shuf", "rep", "state", "artist", "album", "cover"};
  for (size_t i = 0; i < kKeyOrder.size(); ++i) Store(3, kKeyOrder[i], values[i]);
  Create(3, /*bind=*/false);
  TKDOWinampControlSettings got;
  ASSERT_EQ(Control(3)->GetSettings(&got), KDO_S_OK);
  const std::vector<std::string> fields = {got.WinampLocation.str(), got.TrackPosVar.str(), got.TrackLenVar.str(),
                                           got.TrackFileVar.str(),   got.TrackTitleVar.str(), got.VolumeVar.str(),
                                           got.ShuffleVar.str(),     got.RepeatVar.str()};
  EXPECT_EQ(fields, std::vector<std::string>(values.begin(), values.end() - 4));

  TKDOWinampControlSettings s;
  s.WinampLocation = TKDOText(values[0]);
  s.TrackPosVar = TKDOText("P");
  s.TrackLenVar = TKDOText("L");
  s.TrackFileVar = TKDOText("F");
  s.TrackTitleVar = TKDOText("T");
  s.VolumeVar = TKDOText("V");
  s.ShuffleVar = TKDOText("S");
  s.RepeatVar = TKDOText("R");
  ASSERT_EQ(Control(3)->SetSettings(KDOSettingsValue(s)), KDO_S_OK);
  ASSERT_EQ(server.Instance(3)->SaveSettings(), KDO_S_OK);
  const std::vector<std::string> saved = {values[0], "P", "L", "F", "T", "V", "S", "R", "state", "artist", "album", "cover"};
  for (size_t i = 0; i < kKeyOrder.size(); ++i) EXPECT_EQ(server.Setting(3, "Settings", kKeyOrder[i]), saved[i]);
}

TEST_F(Settings, StoredTextsRoundTripUnchanged) {
  const std::vector<std::string> values = {kExe, " pos ", "len", "file", "title", "vol\t", "shuf", "", " st ", "",
                                           "alb ", " cov"};
  for (size_t i = 0; i < kKeyOrder.size(); ++i) Store(3, kKeyOrder[i], values[i]);
  Create(3);
  TKDOWinampControlSettings got;
  EXPECT_EQ(Control(3)->GetSettings(&got), KDO_S_OK);
  EXPECT_EQ(Texts(got), std::vector<std::string>(values.begin(), values.end() - 4)) << "stored as they are";

  server.ClearSettingWrites();
  EXPECT_EQ(server.Instance(3)->SaveSettings(), KDO_S_OK);
  EXPECT_EQ(server.SettingWrites(), kKeyOrder);
  for (size_t i = 0; i < kKeyOrder.size(); ++i) EXPECT_EQ(server.Setting(3, "Settings", kKeyOrder[i]), values[i]);
}

TEST_F(Settings, FreshInstanceStartsNothingYetItsLinkFindsItsWindow) {
  Create(5, /*bind=*/false);
  EXPECT_TRUE(world.ShellCalls().empty());
  server.ClearSettingWrites();
  server.Instance(5)->SaveSettings();
  EXPECT_EQ(server.SettingWrites(), kKeyOrder) << "empty keys are written too";
  EXPECT_EQ(server.Setting(5, "Settings", "RepeatVar"), "");

  sim::SimPlayer other(world, "WA_KDO_5");  // somebody else starts a player of our class
  server.DefineVariable("v", host::Value::I(0));
  TKDOWinampControlSettings s;
  s.VolumeVar = "v";
  Control(5)->SetSettings(KDOSettingsValue(s));
  world.Advance(1000);
  EXPECT_EQ(server.Variable("v")->Int, 255) << "bound by the check timer and mirrored";
}

TEST_F(Settings, SetThenGetGivesTheSameTexts) {
  Create(2, false);
  TKDOWinampControlSettings in;
  int i = 0;
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    if (row.Record) in.*row.Record = TKDOText("text " + std::to_string(i++));
  EXPECT_EQ(Control(2)->SetSettings(KDOSettingsValue(in)), KDO_S_OK);
  TKDOWinampControlSettings out;
  out.RepeatVar = "overwritten";
  EXPECT_EQ(Control(2)->GetSettings(&out), KDO_S_OK);
  EXPECT_EQ(Texts(out), Texts(in));
}

// The record crosses by value: its texts stay the caller's, the instance keeps references of its own.
TEST_F(Settings, SetSettingsBorrowsTheCallersTextsAndKeepsItsOwn) {
  Create(2, false);
  std::vector<std::string> texts;
  {
    TKDOWinampControlSettings in;
    int i = 0;
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) {
      if (!row.Record) continue;
      texts.push_back("borrowed " + std::to_string(i++));
      in.*row.Record = TKDOText(texts.back());
    }
    Control(2)->SetSettings(KDOSettingsValue(in));
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) {
      if (!row.Record) continue;
      EXPECT_GE(kdo::text::RefCount((in.*row.Record).get()), 1) << "never released for the caller";
    }
    EXPECT_EQ(Texts(in), texts) << "nor changed";
  }  // the caller's references go; the instance's must stay alive
  TKDOWinampControlSettings out;
  Control(2)->GetSettings(&out);
  EXPECT_EQ(Texts(out), texts);
}

TEST_F(Settings, ChangingOnlyIdentifiersLeavesThePlayerAlone) {
  Create(4);
  EditSettings(4, [](TKDOWinampControlSettings& s) {
    s.TrackTitleVar = "t";
    s.VolumeVar = "v";
  });
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_EQ(farm.Launches(), 1);
}

TEST_F(Settings, LocationInOtherLetterCaseLeavesTheLinkButIsSaved) {
  Create(4);
  EditSettings(4, [](TKDOWinampControlSettings& s) { s.WinampLocation = "c:\\program files\\WINAMP\\Winamp.EXE"; });
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_TRUE(Player(4)->Running());
  server.Instance(4)->SaveSettings();
  EXPECT_EQ(server.Setting(4, "Settings", "WinampLocation"), "c:\\program files\\WINAMP\\Winamp.EXE");
}

TEST_F(Settings, DifferentLocationClosesTheBoundPlayerFirst) {
  world.AddFile("D:\\Other\\winamp.exe");
  Create(6);
  sim::SimPlayer* first = Player(6);
  EditSettings(6, [](TKDOWinampControlSettings& s) { s.WinampLocation = "D:\\Other\\winamp.exe"; });
  ASSERT_FALSE(world.Sent().empty());
  EXPECT_EQ(world.Sent()[0].Message, pn::kWmCommand);
  EXPECT_EQ(world.Sent()[0].WParam, pn::cmd::kClose) << "the close command first";
  EXPECT_FALSE(first->Running());
  ASSERT_EQ(world.ShellCalls().size(), 2u);
  EXPECT_EQ(world.ShellCalls()[1].File, "D:\\Other\\winamp.exe");
}

TEST_F(Settings, SetSettingsStoresNothing) {
  Create(7, false);
  server.ClearSettingWrites();
  TKDOWinampControlSettings s;
  s.VolumeVar = "x";
  Control(7)->SetSettings(KDOSettingsValue(s));
  EXPECT_TRUE(server.SettingWrites().empty());
  EXPECT_EQ(server.Setting(7, "Settings", "VolumeVar"), std::nullopt);
}

TEST_F(Settings, DestroyedInstanceClosesItsPlayerThenSaves) {
  Create(8);
  sim::SimPlayer* p = Player(8);
  server.ClearSettingWrites();
  server.ClearLog();
  size_t writesWhenClosed = 99;
  world.OnSend = [&](const sim::SentMessage& m) {
    if (m.Message == pn::kWmCommand && m.WParam == pn::cmd::kClose) writesWhenClosed = server.SettingWrites().size();
  };
  server.DestroyInstance(8);
  world.OnSend = nullptr;
  EXPECT_EQ(writesWhenClosed, 0u) << "the player is closed before the settings are saved";
  EXPECT_FALSE(p->Running());
  EXPECT_EQ(server.SettingWrites(), kKeyOrder);
  EXPECT_EQ(server.Log().front().Text, "Interface Destroy");
  EXPECT_EQ(server.FunctionCount(), 0u) << "unregistered";
  EXPECT_EQ(server.Setting(8, "Settings", "WinampLocation"), kExe);
}

// ---------------------------------------------------------------- bad input and refused services

TEST_F(Settings, NullTextsAndRecordsThroughTheControlInterface) {
  Create(1);
  TKDORef<IKDOWinampControl> c = Control(1);
  CaptureCopyData();
  EXPECT_EQ(c->AddFile(nullptr), KDO_E_FAIL) << "no file name: refused, not reported done";
  EXPECT_EQ(c->AddFile(TKDOText("C:\\a\tb.mp3").get()), KDO_E_FAIL);
  EXPECT_TRUE(copyData.empty());
  EXPECT_EQ(c->GetSettings(nullptr), KDO_S_OK);
  EXPECT_EQ(c->GetPlaylistLength(nullptr), KDO_S_OK);
  EXPECT_EQ(c->GetPlaylistPosition(nullptr), KDO_S_OK);
  EXPECT_EQ(c->GetPlaylistFile(1, nullptr), KDO_S_OK);
  EXPECT_EQ(c->GetPlaylistTitle(1, nullptr), KDO_S_OK);
  EXPECT_EQ(c->QueryInterface(IID_IKDOModule, nullptr), KDO_E_NOINTERFACE);
  EXPECT_TRUE(Player(1)->Running()) << "null records change nothing";

  // A record of null texts: every setting empty, and the empty location lets the player go.
  TKDOWinampControlSettings none;
  EXPECT_EQ(c->SetSettings(KDOSettingsValue(none)), KDO_S_OK);
  EXPECT_EQ(Player(1), nullptr);
  TKDOWinampControlSettings got;
  got.VolumeVar = TKDOText("stale");
  EXPECT_EQ(c->GetSettings(&got), KDO_S_OK);
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) {
    if (!row.Record) continue;
    EXPECT_EQ((got.*row.Record).get(), nullptr) << kdo::text::View(row.Key);
  }
  server.ClearSettingWrites();
  EXPECT_EQ(server.Instance(1)->SaveSettings(), KDO_S_OK);
  EXPECT_EQ(server.SettingWrites().size(), KDOWinampControlSettingsKeys.size());
  EXPECT_EQ(server.Setting(1, "Settings", "WinampLocation"), "");
  world.ClearSent();
  world.Advance(5000);
  EXPECT_TRUE(world.Sent().empty());
}

TEST_F(Settings, IdentifiersAndLocationsAreUsedByteForByte) {
  const std::string ident = "Vol\xE4\t\x01 ";
  server.DefineVariable(ident, Value::I(0));
  server.DefineVariable("Vol", Value::I(0));
  Store(1, "VolumeVar", ident);
  Create(1);
  world.Advance(250);
  EXPECT_EQ(server.Variable(ident)->Int, 255);
  EXPECT_EQ(server.Variable("Vol")->Int, 0) << "no trimming, no folding of the identifier";

  // A location of odd bytes names no file: the player goes and nothing starts.
  EXPECT_EQ(EditSettings(1, [](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText("C:\\\x01\xFF\\winamp.exe\n"); }),
            KDO_S_OK);
  EXPECT_EQ(Player(1), nullptr);
  EXPECT_EQ(farm.Launches(), 1);
}

// The link keeps looking for a location that names no file without a word: the log says so once
// per location, naming it, and the server loading the same settings again repeats nothing.
TEST_F(Settings, LocationNamingNoFileIsLoggedOnceAndAgainWhenChanged) {
  const std::string missing = "C:\\Missing\\winamp.exe", folder = "C:\\Program Files\\Winamp";
  world.AddDirectory(folder);
  Store(8, "WinampLocation", missing);
  Create(8, /*bind=*/false);
  server.Instance(8)->LoadSettings();
  const host::LogLine first{10024, "Winamp Control #8",
                            ">WinampLocation \"" + missing + "\" names no file: no player is started"};
  EXPECT_EQ(std::ranges::count(server.Log(), first), 1);
  // Each location applied in turn, and the lines about locations logged so far.
  const std::pair<std::string, size_t> rows[] = {{missing, 1}, {"c:\\MISSING\\winamp.exe", 1}, {"", 1},
                                                 {kExe, 1},    {folder, 2},                    {missing, 3}};
  for (const auto& [location, lines] : rows) {
    EditSettings(8, [&](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText(location); });
    auto aboutLocation = [](const host::LogLine& l) { return l.Text.starts_with(">WinampLocation"); };
    EXPECT_EQ(std::ranges::count_if(server.Log(), aboutLocation), lines) << location;
  }
}

TEST_F(Settings, EveryServiceRefusedStillLeavesAWorkingInstance) {
  testdata::RefuseAll(server);
  server.DefineVariable("Vol", Value::I(7));
  ASSERT_EQ(server.CreateInstance(info->ModuleID, 1), KDO_S_OK);
  EXPECT_EQ(server.FunctionCount(), 0u) << "nothing to register with";
  TKDORef<IKDOWinampControl> c = Control(1);
  TKDOWinampControlSettings s;
  s.WinampLocation = TKDOText(kExe);
  s.VolumeVar = TKDOText("Vol");
  EXPECT_EQ(c->SetSettings(KDOSettingsValue(s)), KDO_S_OK);
  world.Advance(1000);
  ASSERT_NE(Player(1), nullptr);

  EXPECT_EQ(c->AddFile(TKDOText("a.mp3").get()), KDO_S_OK);
  EXPECT_EQ(c->Play(), KDO_S_OK);
  EXPECT_EQ(c->SetVolume(10), KDO_S_OK);
  EXPECT_EQ(c->SetShuffle(1), KDO_S_OK);
  EXPECT_EQ(c->SetRepeat(1), KDO_S_OK);
  int32_t n = -5;
  EXPECT_EQ(c->GetPlaylistLength(&n), KDO_S_OK);
  EXPECT_EQ(n, 1);
  KDOString title = nullptr;
  EXPECT_EQ(c->GetPlaylistTitle(1, &title), KDO_S_OK);
  EXPECT_EQ(kdo::text::View(title), "a");
  kdo::text::Release(title);
  EXPECT_EQ(c->LoadSettings(), KDO_S_OK);
  EXPECT_EQ(c->SaveSettings(), KDO_S_OK);
  EXPECT_EQ(Model(1).State(), player::PlayState::Playing);
  EXPECT_EQ(Model(1).Volume(), 10);
  world.Advance(1000);
  EXPECT_EQ(server.Variable("Vol")->Int, 7) << "no variable manager: nothing written";
  EXPECT_TRUE(server.Debug().empty());
  EXPECT_FALSE(server.Setting(1, "Settings", "WinampLocation").has_value());
  c.reset();
  EXPECT_TRUE(server.DestroyInstance(1));
  EXPECT_EQ(Player(1), nullptr) << "the player is closed all the same";
}

// ---------------------------------------------------------------- a settings store of our own

// A settings store written by hand, handed out by a kernel that takes every
// other service from the stand-in.
class HandMadeSettings final : public host::CountedService<IKDOSettings> {
 public:
  HandMadeSettings() : CountedService(IID_IKDOSettings) {}
  enum class Read { LeavesUntouched, FailsWithText, GivesConstant };
  Read mode = Read::LeavesUntouched;
  int reads = 0;
  std::map<std::string, std::string> written;

  KDOResult KDO_STDCALL WriteSettingString(uint32_t, const KDOString*, int32_t, KDOString name,
                                           KDOString value) override {
    written[std::string(kdo::text::View(name))] = std::string(kdo::text::View(value));
    return KDO_S_OK;
  }
  KDOResult KDO_STDCALL ReadSettingString(uint32_t, const KDOString*, int32_t, KDOString name,
                                          KDOString* value) override {
    static constexpr kdo::text::Constant kConstant("C:\\constant\\winamp.exe");
    ++reads;
    switch (mode) {
      case Read::LeavesUntouched:
        return KDO_E_FAIL;
      case Read::FailsWithText: {
        KDOString made = kdo::text::Make("left by a failed read: " + std::string(kdo::text::View(name)));
        kdo::text::Assign(value, made);
        kdo::text::Release(made);
        return KDO_E_FAIL;
      }
      case Read::GivesConstant:
        kdo::text::Assign(value, kConstant.get());
        return KDO_S_OK;
    }
    return KDO_E_FAIL;
  }
};

// Instances made here see the hand-made store.
class OddStore : public OwnServicesTest {
 protected:
  IKDOKernel* OwnKernel() override { return &kernel; }
  std::vector<int32_t> Held() const override { return {kernel.Held(), settings.Held()}; }
  // Instance 1 made with the store reading as `mode`: the settings it then holds.
  TKDOWinampControlSettings CreateReading(HandMadeSettings::Read mode) {
    settings.mode = mode;
    EXPECT_EQ(server.CreateInstance(info->ModuleID, 1), KDO_S_OK);
    TKDOWinampControlSettings got;
    Control(1)->GetSettings(&got);
    return got;
  }
  HandMadeSettings settings;
  SplitKernel kernel{server.Kernel(), IID_IKDOSettings, &settings};
};

TEST_F(OddStore, ReadsThatLeaveTheOutTextAloneKeepTheCurrentSettings) {
  ASSERT_EQ(server.CreateInstance(info->ModuleID, 1), KDO_S_OK);
  EXPECT_EQ(settings.reads, 12);
  EXPECT_TRUE(world.ShellCalls().empty()) << "nothing read, nothing started";
  TKDORef<IKDOWinampControl> c = Control(1);
  TKDOWinampControlSettings s;
  s.WinampLocation = TKDOText(kExe);
  s.VolumeVar = TKDOText("Vol");
  c->SetSettings(KDOSettingsValue(s));
  world.Advance(1000);
  ASSERT_NE(Player(1), nullptr);
  world.ClearSent();

  EXPECT_EQ(server.Instance(1)->LoadSettings(), KDO_S_OK);
  EXPECT_EQ(settings.reads, 24);
  TKDOWinampControlSettings got;
  c->GetSettings(&got);
  EXPECT_EQ(got.WinampLocation.str(), kExe);
  EXPECT_EQ(got.VolumeVar.str(), "Vol");
  EXPECT_EQ(got.TrackPosVar.get(), nullptr);
  EXPECT_TRUE(world.Sent().empty()) << "same location: the player stays";
  EXPECT_EQ(farm.Launches(), 1);
  c.reset();
  server.DestroyAllInstances();
  EXPECT_EQ(settings.written["WinampLocation"], kExe);
  EXPECT_EQ(settings.written["VolumeVar"], "Vol");
}

TEST_F(OddStore, WhatAFailedReadLeavesIsKeptAndReleasedLater) {
  const TKDOWinampControlSettings got = CreateReading(HandMadeSettings::Read::FailsWithText);
  EXPECT_EQ(got.TrackTitleVar.str(), "left by a failed read: TrackTitleVar");
  EXPECT_EQ(got.WinampLocation.str(), "left by a failed read: WinampLocation");
  EXPECT_TRUE(world.ShellCalls().empty()) << "no such file";
  EXPECT_EQ(server.Instance(1)->LoadSettings(), KDO_S_OK);  // replaces each text: the old ones are freed
}

TEST_F(OddStore, ConstantTextsFromTheStoreAreNeverFreed) {
  const TKDOWinampControlSettings got = CreateReading(HandMadeSettings::Read::GivesConstant);
  EXPECT_EQ(got.RepeatVar.str(), "C:\\constant\\winamp.exe");
  EXPECT_EQ(kdo::text::RefCount(got.RepeatVar.get()), -1);
  server.DestroyAllInstances();
  EXPECT_EQ(settings.written["RepeatVar"], "C:\\constant\\winamp.exe");
}

}  // namespace
}  // namespace instancetest
