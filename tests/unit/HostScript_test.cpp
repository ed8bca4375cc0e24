// The stand-in's script language: parsing, clear errors, and running calls against instances.
#include <gtest/gtest.h>

#include "host/HostScript.h"
#include "InstanceFixture.h"
#include "SettingsKeys.h"

namespace instancetest {
namespace {

TEST(HostScriptParse, CallsWithTheirArguments) {
  std::string error;
  auto st = host::ParseStatement("  WAC_AddFile( 12345 , \"C:\\\\Music\\\\a \\\"b\\\".mp3\" )  ", error);
  ASSERT_TRUE(st) << error;
  EXPECT_EQ(st->kind, host::Statement::Kind::Call);
  EXPECT_EQ(st->name, "WAC_AddFile");
  ASSERT_EQ(st->args.size(), 2u);
  EXPECT_EQ(st->args[0], "12345");
  EXPECT_EQ(st->args[1], "C:\\Music\\a \"b\".mp3");
  st = host::ParseStatement("WAC_AddFile(1, \" padded \")", error);
  ASSERT_TRUE(st);
  EXPECT_EQ(st->args[1], " padded ") << "quotes keep blanks";
  st = host::ParseStatement("WAC_AddFile(1, C:\\Music\\unquoted.mp3)", error);
  ASSERT_TRUE(st);
  EXPECT_EQ(st->args[1], "C:\\Music\\unquoted.mp3");
  st = host::ParseStatement("# comment", error);
  ASSERT_TRUE(st);
  EXPECT_EQ(st->kind, host::Statement::Kind::Empty);
}

TEST(HostScriptParse, ErrorsSayWhatIsWrong) {
  const std::pair<const char*, const char*> bad[] = {
      {"WAC_Play(", "expected ')'"},
      {"WAC_Play()", "instance identifier"},
      {"WAC_Play(70000)", "instance identifier"},
      {"WAC_Play(\"1\")", "instance identifier"},
      {"WAC_AddFile(1, \"open)", "not closed"},
      {"WAC_AddFile(1, \"a\" b)", "after a closing quote"},
      {"WAC_Play 1", "needs parentheses"},
      {"wait soon", "usage: wait"},
      {"= 3", "expected a function name"},
  };
  for (auto [line, why] : bad) {
    std::string error;
    EXPECT_FALSE(host::ParseStatement(line, error)) << line;
    EXPECT_NE(error.find(why), std::string::npos) << line << " -> " << error;
  }
}

using HostScript = InstanceTest;

TEST_F(HostScript, RunsCallsVariablesAndWaitsAgainstAnInstance) {
  Create(7);
  uint32_t waited = 0;
  host::ScriptRunner run(server, [&](uint32_t ms) {
    waited += ms;
    world.Advance(ms);
  });
  std::string out, error;
  const char* lines[] = {
      "define Vol integer 5",
      "wac_addfile(7, \"C:\\\\Music\\\\Song.mp3\")",
      "WAC_SetVolume(7, 300)",
      "WAC_SetShuffle(7, true)",
      "wait 250",
      "setting 7 volumevar Vol",
  };
  for (const char* l : lines) ASSERT_TRUE(run.Run(l, out, error)) << l << ": " << error;
  EXPECT_EQ(waited, 250u);
  EXPECT_EQ(server.Setting(7, "Settings", "VolumeVar"), "Vol") << "stored in the spelling the instance reads";
  EXPECT_EQ(server.Setting(7, "Settings", "volumevar"), std::nullopt);
  EXPECT_EQ(Model(7).Volume(), 44);
  EXPECT_TRUE(Model(7).Shuffle());
  ASSERT_TRUE(run.Run("WAC_GetPlaylistTitle(7, 1)", out, error));
  EXPECT_EQ(out, "WAC_GetPlaylistTitle(7, 1) -> \"Song\"");
  ASSERT_TRUE(run.Run("WAC_GetPlaylistLength(7)", out, error));
  EXPECT_EQ(out, "WAC_GetPlaylistLength(7) -> 1");
  ASSERT_TRUE(run.Run("set Vol 12", out, error));
  ASSERT_TRUE(run.Run("print Vol", out, error));
  EXPECT_EQ(out, "Vol = 12");
  ASSERT_TRUE(run.Run("help", out, error));
  EXPECT_NE(out.find("\n  WAC_SetVolume(INSTANCE, Volume [0..255]: integer) -> boolean\n"), std::string::npos) << out;
}

TEST_F(HostScript, CallsAreShownWithTheValuesTheHandlerWasGiven) {
  Create(7);
  host::ScriptRunner run(server, [&](uint32_t ms) { world.Advance(ms); });
  std::string out, error;
  const std::pair<const char*, const char*> calls[] = {
      {"WAC_AddFile(7, \"C:\\Music\\Song.mp3\")", "WAC_AddFile(7, \"C:\\Music\\Song.mp3\") -> true"},
      {"wac_addfile( 7 , C:\\Music\\Other.mp3 )", "WAC_AddFile(7, \"C:\\Music\\Other.mp3\") -> true"},
      {"WAC_SetShuffle(7, on)", "WAC_SetShuffle(7, true) -> true"},
      {"WAC_SetVolume(7, -2147483648)", "WAC_SetVolume(7, -2147483648) -> true"},
      {"WAC_Play(7)", "WAC_Play(7) -> true"},
      {"WAC_GetPlayState(7)", "WAC_GetPlayState(7) -> 1"},
      {"WAC_SetTrackPosition(7, 90)", "WAC_SetTrackPosition(7, 90) -> true"},
      {"WAC_GetTrackPosition(7)", "WAC_GetTrackPosition(7) -> 90"},
      {"WAC_GetTrackLength(7)", "WAC_GetTrackLength(7) -> 205"},
      {"WAC_SetTrackPosition(7, 999)", "WAC_SetTrackPosition(7, 999) -> false"},
  };
  for (auto [line, shown] : calls) {
    ASSERT_TRUE(run.Run(line, out, error)) << line << ": " << error;
    EXPECT_EQ(out, shown);
  }
}

TEST_F(HostScript, RunErrorsAreClear) {
  Create(7, false);
  host::ScriptRunner run(server, nullptr);
  std::string out, error;
  EXPECT_FALSE(run.Run("WAC_Play(8)", out, error));
  EXPECT_EQ(error, "no instance 8 (create 8 makes it)");
  EXPECT_FALSE(run.Run("WAC_SetVolume(7)", out, error));
  EXPECT_EQ(error, "WAC_SetVolume takes 1 argument(s) after the instance");
  EXPECT_FALSE(run.Run("WAC_SetTrackPosition(7)", out, error));
  EXPECT_EQ(error, "WAC_SetTrackPosition takes 1 argument(s) after the instance");
  EXPECT_FALSE(run.Run("WAC_GetPlayState(7, 1)", out, error));
  EXPECT_EQ(error, "WAC_GetPlayState takes 0 argument(s) after the instance");
  EXPECT_FALSE(run.Run("WAC_Bogus(7)", out, error));
  EXPECT_EQ(error, "no function 'WAC_Bogus' for instance 7");
  EXPECT_TRUE(server.Debug().empty()) << "nothing ran";
  EXPECT_FALSE(run.Run("WAC_SetVolume(7, loud)", out, error));
  EXPECT_EQ(error, "'loud' is not an integer");
  EXPECT_FALSE(run.Run("WAC_SetShuffle(7, maybe)", out, error));
  EXPECT_NE(error.find("not a boolean"), std::string::npos);
  EXPECT_FALSE(run.Run("print Nothing", out, error));
  EXPECT_FALSE(run.Run("set Nothing 1", out, error));
  EXPECT_NE(error.find("define it first"), std::string::npos);
  EXPECT_FALSE(run.Run("define X float 1", out, error));
}

// As the server's page applies it: through the running instance's interface; a missing variable is named.
TEST_F(HostScript, ASettingReachesTheRunningInstance) {
  Create(7, false);
  host::ScriptRunner run(server, [&](uint32_t ms) { world.Advance(ms); });
  std::string out, error;
  ASSERT_TRUE(run.Run("setting 7 TrackTitleVar T", out, error)) << error;
  EXPECT_EQ(out, "instance 7 takes TrackTitleVar now; no variable 'T' (define T text makes it)");
  TKDOWinampControlSettings settings;
  Control(7)->GetSettings(&settings);
  EXPECT_EQ(settings.TrackTitleVar.view(), "T");
}

TEST_F(HostScript, RefusalsSayWhyAndRunNothing) {
  Create(7, false);
  host::ScriptRunner run(server, [&](uint32_t ms) { world.Advance(ms); });
  std::string keys;
  for (const std::string& key : testdata::SettingsKeys()) keys += (keys.empty() ? "" : ", ") + key;
  const std::string range = " is out of range (-2147483648 to 2147483647)";
  const std::pair<const char*, std::string> refused[] = {
      {"WAC_SetVolume(7, 3000000000)", "'3000000000'" + range},  // not wrapped round to -1294967296
      {"define X integer -2147483649", "'-2147483649'" + range},
      {"wait 4294967296", "'4294967296'" + range},
      {"setting 7 BogusKey x", "no setting 'BogusKey'; the keys are " + keys},
      {"create 7", "instance 7 exists already"},
      {"create 70000", "instance identifier '70000' is out of range (0 to 65535)"},
      {"print A\x1b[2J", "no variable 'A\\x1b[2J'"},  // shown escaped, never sent raw to the terminal
      {"WAC_Play\x1b(7)", "unknown statement 'WAC_Play\\x1b' (a call needs parentheses)"},
      {"quit now", "usage: quit"},
  };
  for (const auto& [line, why] : refused) {
    std::string out, error;
    EXPECT_FALSE(run.Run(line, out, error)) << line;
    EXPECT_EQ(error, why) << line;
  }
  EXPECT_FALSE(run.Ended());
  EXPECT_TRUE(server.Debug().empty() && !server.Variable("X") && !server.Setting(7, "Settings", "BogusKey"));
}

}  // namespace
}  // namespace instancetest
