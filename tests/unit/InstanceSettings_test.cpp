// Loading, saving and applying the eight settings; construction and destruction order.
#include <gtest/gtest.h>

#include "InstanceFixture.h"

namespace instancetest {
namespace {

using Settings = InstanceTest;

const std::vector<std::string> kKeyOrder = {"WinampLocation", "TrackPosVar", "TrackLenVar", "TrackFileVar",
                                            "TrackTitleVar",  "VolumeVar",   "ShuffleVar",  "RepeatVar"};

std::vector<std::string> Texts(const TKDOWinampControlSettings& s) {
  std::vector<std::string> t;
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) t.push_back((s.*row.Field).str());
  return t;
}

TEST_F(Settings, KeysAreTabledInOrder) {
  std::vector<std::string> keys;
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) keys.emplace_back(kdo::text::View(row.Key));
  EXPECT_EQ(keys, kKeyOrder);
}

TEST_F(Settings, StoredTextsRoundTripUnchanged) {
  const std::vector<std::string> values = {kExe, " pos ", "len", "file", "title", "vol\t", "shuf", ""};
  for (size_t i = 0; i < kKeyOrder.size(); ++i) Store(3, kKeyOrder[i], values[i]);
  Create(3);
  TKDOWinampControlSettings got;
  EXPECT_EQ(Control(3)->GetSettings(&got), KDO_S_OK);
  EXPECT_EQ(Texts(got), values) << "stored as they are: no trimming";

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
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys) in.*row.Field = TKDOText("text " + std::to_string(i++));
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
      texts.push_back("borrowed " + std::to_string(i++));
      in.*row.Field = TKDOText(texts.back());
    }
    Control(2)->SetSettings(KDOSettingsValue(in));
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
      EXPECT_GE(kdo::text::RefCount((in.*row.Field).get()), 1) << "never released for the caller";
    EXPECT_EQ(Texts(in), texts) << "nor changed";
  }  // the caller's references go; the instance's must stay alive
  TKDOWinampControlSettings out;
  Control(2)->GetSettings(&out);
  EXPECT_EQ(Texts(out), texts);
}

TEST_F(Settings, ChangingOnlyIdentifiersLeavesThePlayerAlone) {
  Create(4);
  auto c = Control(4);
  TKDOWinampControlSettings s;
  c->GetSettings(&s);
  s.TrackTitleVar = "t";
  s.VolumeVar = "v";
  c->SetSettings(KDOSettingsValue(s));
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_EQ(farm.Launches(), 1);
}

TEST_F(Settings, LocationInOtherLetterCaseLeavesTheLinkButIsSaved) {
  Create(4);
  auto c = Control(4);
  TKDOWinampControlSettings s;
  c->GetSettings(&s);
  s.WinampLocation = "c:\\program files\\WINAMP\\Winamp.EXE";
  c->SetSettings(KDOSettingsValue(s));
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_TRUE(Player(4)->Running());
  server.Instance(4)->SaveSettings();
  EXPECT_EQ(server.Setting(4, "Settings", "WinampLocation"), "c:\\program files\\WINAMP\\Winamp.EXE");
}

TEST_F(Settings, DifferentLocationClosesTheBoundPlayerFirst) {
  world.AddFile("D:\\Other\\winamp.exe");
  Create(6);
  sim::SimPlayer* first = Player(6);
  auto c = Control(6);
  TKDOWinampControlSettings s;
  c->GetSettings(&s);
  s.WinampLocation = "D:\\Other\\winamp.exe";
  c->SetSettings(KDOSettingsValue(s));
  ASSERT_FALSE(world.Sent().empty());
  EXPECT_EQ(world.Sent()[0].Message, WM_COMMAND);
  EXPECT_EQ(world.Sent()[0].WParam, 40001u);
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
    if (m.Message == WM_COMMAND && m.WParam == 40001) writesWhenClosed = server.SettingWrites().size();
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

}  // namespace
}  // namespace instancetest
