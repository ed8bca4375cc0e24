// The WAC_ functions through the server's dispatcher: the classic fifteen and the fifteen additions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "InstanceFixture.h"
#include "ServerDoubles.h"

namespace instancetest {
namespace {

using host::Value;

// Never a valid address: a handler that reads or releases it crashes under the sanitizers.
KDOString const kJunkText = reinterpret_cast<KDOString>(uintptr_t(0x10));

// A counted parameter array laid out as the server lays it out: the element
// count 4 bytes before the first element, the reference count 8 bytes before.
struct ParamBlock {
  int32_t RefCount = -1;
  int32_t Count = 0;
  TKDOPHPParameter Items[2];

  explicit ParamBlock(int32_t count) : Count(count) { std::memset(Items, 0xA5, sizeof Items); }
  TKDOPHPParameter* First() { return Items; }
};
static_assert(offsetof(ParamBlock, Items) == 2 * sizeof(int32_t));

// A result record whose every byte is junk, except the out-text, which the
// server initialises to a text of its own.
TKDOPHPParameter JunkResult(KDOString text) {
  TKDOPHPParameter r;
  std::memset(&r, 0x5A, sizeof r);
  r.StringValue = text;
  return r;
}

bool SameBytes(const TKDOPHPParameter& a, const TKDOPHPParameter& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class Script : public InstanceTest {
 protected:
  // Calls the registered handler the way the server does, with a name of our making.
  void HandleRaw(uint16_t id, KDOString name, TKDOPHPParameter* params, TKDOPHPParameter* result,
                 const char* registration = "WAC_Play") {
    const host::Registration* reg = server.Function(registration, id);
    ASSERT_NE(reg, nullptr);
    reg->Code(reg->Object, name, params, result, id);
  }
  void Handle(uint16_t id, std::string_view name, TKDOPHPParameter* params, TKDOPHPParameter* result,
              const char* registration = "WAC_Play") {
    const TKDOText text(name);
    HandleRaw(id, text.get(), params, result, registration);
  }
};

// Each function as the server sees it: its name, its parameters as registered (name and type:
// 0 boolean, 1 integer, 3 text), its result type, arguments for a call, and the debug line it
// sends before it acts (none for the setters). The classic fifteen first, in the order they always
// were, then the additions.
struct Function {
  std::string Name;
  std::vector<std::pair<std::string, uint8_t>> Params;
  int32_t ResultType;
  std::vector<Value> Args;
  std::string Debug;
};
const Function kFunctions[] = {
    {"WAC_AddFile", {{"Filename", 3}}, 0, {Value::S("a.mp3")}, "ADDFILE"},
    {"WAC_ClearPlaylist", {}, 0, {}, "CLEAR PLAYLIST"},
    {"WAC_GetPlaylistLength", {}, 1, {}, "GET PLAYLIST LENGTH"},
    {"WAC_GetPlaylistPosition", {}, 1, {}, "GET PLAYLIST POSITION"},
    {"WAC_SetPlaylistPosition", {{"Position", 1}}, 0, {Value::I(1)}, "SET PLAYLIST POSITION"},
    {"WAC_GetPlaylistFile", {{"Position", 1}}, 3, {Value::I(1)}, "GET PLAYLIST FILE"},
    {"WAC_GetPlaylistTitle", {{"Position", 1}}, 3, {Value::I(1)}, "GET PLAYLIST TITLE"},
    {"WAC_Play", {}, 0, {}, "PLAY"},
    {"WAC_Stop", {}, 0, {}, "STOP"},
    {"WAC_Pause", {}, 0, {}, "PAUSE"},
    {"WAC_Prev", {}, 0, {}, "PREV"},
    {"WAC_Next", {}, 0, {}, "NEXT"},
    {"WAC_SetVolume", {{"Volume [0..255]", 1}}, 0, {Value::I(1)}, ""},
    {"WAC_SetShuffle", {{"Value", 0}}, 0, {Value::B(true)}, ""},
    {"WAC_SetRepeat", {{"Value", 0}}, 0, {Value::B(true)}, ""},
    {"WAC_GetPlayState", {}, 1, {}, "GET PLAY STATE"},
    {"WAC_GetTrackPosition", {}, 1, {}, "GET TRACK POSITION"},
    {"WAC_GetTrackLength", {}, 1, {}, "GET TRACK LENGTH"},
    {"WAC_SetTrackPosition", {{"Seconds", 1}}, 0, {Value::I(1)}, "SET TRACK POSITION"},
    {"WAC_GetVolume", {}, 1, {}, "GET VOLUME"},
    {"WAC_FadeVolume", {{"Volume", 1}, {"Seconds", 1}}, 0, {Value::I(1), Value::I(0)}, "FADE VOLUME"},
    {"WAC_DeletePlaylistEntry", {{"Position", 1}}, 0, {Value::I(1)}, "DELETE PLAYLIST ENTRY"},
    {"WAC_SaveState", {}, 0, {}, "SAVE STATE"},
    {"WAC_RestoreState", {}, 0, {}, "RESTORE STATE"},
    {"WAC_Announce", {{"Filename", 3}, {"Volume", 1}}, 0, {Value::S("a.wav"), Value::I(1)}, "ANNOUNCE"},
    {"WAC_GetMetadata", {{"Field", 3}}, 3, {Value::S("artist")}, "GET METADATA"},
    {"WAC_InsertFile", {{"Filename", 3}, {"Position", 1}}, 0, {Value::S("a.mp3"), Value::I(1)}, "INSERTFILE"},
    {"WAC_PlayNext", {{"Filename", 3}}, 0, {Value::S("a.mp3")}, "PLAY NEXT"},
    {"WAC_PlayNow", {{"Filename", 3}}, 0, {Value::S("a.mp3")}, "PLAY NOW"},
    {"WAC_TransferTo", {{"Target", 1}, {"KeepPlaying", 0}}, 0, {Value::I(2), Value::B(false)}, "TRANSFER"},
    {"WAC_AnnounceWith", {{"Rooms", 3}, {"Filename", 3}, {"Volume", 1}}, 0, {Value::S("x"), Value::S("a.wav"), Value::I(1)},
     "ANNOUNCE WITH"},
    {"WAC_SetVolumeLimit", {{"Volume", 1}}, 0, {Value::I(255)}, "SET VOLUME LIMIT"},
    {"WAC_SleepTimer", {{"Minutes", 1}, {"FadeSeconds", 1}}, 0, {Value::I(0), Value::I(0)}, "SLEEP TIMER"},
};
constexpr size_t kClassic = 15;

const Function& Find(std::string_view name) {
  for (const Function& f : kFunctions)
    if (std::equal(name.begin(), name.end(), f.Name.begin(), f.Name.end(),
                   [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); }))
      return f;
  ADD_FAILURE() << "no function " << name;
  return kFunctions[0];
}

// The debug line a call sends: the function's line, with the text it was handed, if any.
host::DebugLine DebugLineOf(const Function& f, const std::vector<Value>& args) {
  std::string data;
  for (const Value& v : args)
    if (v.Type == host::VarType::String) data = v.Str;
  if (f.Name == "WAC_InsertFile") data += "|" + std::to_string(args[1].Int);  // and where it goes
  if (f.Name == "WAC_AnnounceWith") data = args[0].Str + "|" + args[1].Str;    // the rooms, and the file
  if (f.Name == "WAC_TransferTo") data = "1 to " + std::to_string(args[0].Int) + ": refused: no such other room";
  return {1, f.Debug, data};
}

// The result field the function's result type names.
int32_t Result(const Function& f, const host::CallResult& r) { return f.ResultType == 0 ? r.Bool : r.Int; }

TEST_F(Script, AllRegisteredInOrderAndUnregisteredAtTheEnd) {
  Create(12, false);
  constexpr size_t n = std::size(kFunctions);
  ASSERT_EQ(n, 33u);
  ASSERT_EQ(server.FunctionLog().size(), n);
  for (size_t i = 0; i < n; ++i) {
    const Function& f = kFunctions[i];
    EXPECT_EQ(server.FunctionLog()[i], "+" + f.Name + "#12") << (i < kClassic ? "classic" : "addition");
    const host::Registration* reg = server.Function(f.Name, 12);
    ASSERT_NE(reg, nullptr) << f.Name;
    EXPECT_EQ(reg->Name, f.Name);
    EXPECT_EQ(reg->ResultType, f.ResultType) << f.Name;
    EXPECT_EQ(reg->Params, f.Params) << f.Name;
  }
  server.DestroyInstance(12);
  ASSERT_EQ(server.FunctionLog().size(), 2 * n);
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(server.FunctionLog()[n + i], "-" + kFunctions[i].Name + "#12");
  EXPECT_EQ(server.FunctionCount(), 0u);
}

// Each function's debug line, with the instance's identifier, goes out before any message to the
// player; the setters send none.
TEST_F(Script, EachFunctionsDebugLineComesBeforeItActs) {
  Create(1);
  for (const Function& f : kFunctions) {
    server.ClearDebug();
    bool debugFirst = true;
    world.OnSend = [&](const sim::SentMessage&) { debugFirst &= server.Debug().size() == (f.Debug.empty() ? 0u : 1u); };
    Call(1, f.Name, f.Args);
    world.OnSend = nullptr;
    EXPECT_TRUE(debugFirst) << f.Name;
    if (f.Debug.empty()) {
      EXPECT_TRUE(server.Debug().empty()) << f.Name;
    } else {
      ASSERT_FALSE(server.Debug().empty()) << f.Name;
      EXPECT_EQ(server.Debug()[0], DebugLineOf(f, f.Args)) << f.Name;
    }
  }
}

// The transport and the playlist's emptying answer true, and send one debug line each.
TEST_F(Script, TransportFunctionsAnswerTrue) {
  Create(1);
  for (const char* name : {"WAC_Play", "WAC_Pause", "WAC_Stop", "WAC_Next", "WAC_Prev", "WAC_ClearPlaylist"}) {
    server.ClearDebug();
    EXPECT_EQ(Call(1, name).Bool, 1) << name;
    EXPECT_EQ(server.Debug(), std::vector<host::DebugLine>{DebugLineOf(Find(name), {})}) << name;
  }
}

// Without a player each still sends its debug line and answers (in the field its result type
// names; the texts empty) but sends nothing.
TEST_F(Script, WithoutAPlayerEachAnswersAndSendsNothing) {
  Create(1, false);
  const host::CallResult none{}, stale{false, 1, 7, ""};
  const std::tuple<const char*, std::vector<Value>, host::CallResult, int32_t> rows[] = {
      {"WAC_Play", {}, none, 1},
      {"WAC_GetPlaylistLength", {}, none, -1},
      {"WAC_GetPlaylistPosition", {}, none, 0},
      {"WAC_GetPlaylistFile", {Value::I(1)}, none, 0},
      {"WAC_GetPlayState", {}, none, -1},
      {"WAC_GetTrackPosition", {}, {false, 0, 5, ""}, 0},
      {"WAC_GetTrackLength", {}, none, -1},
      {"WAC_SetTrackPosition", {Value::I(90)}, {false, 1, 0, ""}, 0},
      {"WAC_GetVolume", {}, stale, -1},
      {"WAC_FadeVolume", {Value::I(9), Value::I(3)}, stale, 0},
      {"WAC_DeletePlaylistEntry", {Value::I(1)}, stale, 0},
      {"WAC_SaveState", {}, stale, 0},
      {"WAC_RestoreState", {}, stale, 0},
      {"WAC_Announce", {Value::S("C:\\chime.mp3"), Value::I(200)}, stale, 0},
      {"WAC_InsertFile", {Value::S("C:\\news.mp3"), Value::I(1)}, stale, 0},
      {"WAC_PlayNext", {Value::S("C:\\news.mp3")}, stale, 0},
      {"WAC_PlayNow", {Value::S("C:\\news.mp3")}, stale, 0},
  };
  for (const auto& [name, args, initial, expected] : rows) {
    const Function& f = Find(name);
    server.ClearDebug();
    const host::CallResult r = Call(1, name, args, initial);
    if (f.ResultType == 3)
      EXPECT_EQ(r.Str, "") << name;
    else
      EXPECT_EQ(Result(f, r), expected) << name;
    EXPECT_EQ(server.Debug(), std::vector<host::DebugLine>{DebugLineOf(f, args)}) << name;
  }
  EXPECT_TRUE(world.Sent().empty());
}

// Names match whatever their letter case.
TEST_F(Script, NamesMatchInAnyLetterCase) {
  Create(1);
  Model(1).Add("a.mp3");
  const std::tuple<const char*, std::vector<Value>, int32_t> rows[] = {
      {"wac_PLAY", {}, 1},
      {"wac_getplaystate", {}, 1},
      {"WAC_GETTRACKLENGTH", {}, 205},
      {"Wac_SetTrackPosition", {Value::I(3)}, 1},
      {"wAC_gETtRACKpOSITION", {}, 3},
  };
  for (const auto& [name, args, expected] : rows) {
    const Function& f = Find(name);
    server.ClearDebug();
    EXPECT_EQ(Result(f, Call(1, name, args)), expected) << name;
    EXPECT_EQ(server.Debug(), std::vector<host::DebugLine>{DebugLineOf(f, args)}) << name;
  }
  EXPECT_EQ(Model(1).State(), player::PlayState::Playing);
}

// Anything but a function's name in another letter case runs nothing and leaves the result
// record as it was, whichever function's registration the handler came with.
TEST_F(Script, NamesThatAreNullEmptyOrOnlyAlmostRightRunNothing) {
  Create(1);
  Model(1).Add("a.mp3");
  const std::pair<const char*, std::string> rows[] = {
      {"WAC_Play", ""},
      {"WAC_Play", "WAC_Play "},
      {"WAC_Play", " WAC_Play"},
      {"WAC_Play", "WAC_Playx"},
      {"WAC_Play", "WAC_Pla"},
      {"WAC_Play", "WAC_Pl\xC1y"},
      {"WAC_Play", "WAC_Pl\xE1y"},
      {"WAC_Play", {"WAC_Play\0x", 10}},
      {"WAC_Play", {"WAC_Play\0", 9}},
      {"WAC_Play", "WAC_Nothing"},
      {"WAC_GetPlayState", "WAC_GetPlayState "},
      {"WAC_GetPlayState", " WAC_GetPlayState"},
      {"WAC_GetPlayState", "WAC_GetPlayStat"},
      {"WAC_GetPlayState", "WAC_GetPlayState\t"},
  };
  for (const auto& [registration, name] : rows) {
    TKDOPHPParameter result = JunkResult(nullptr);
    const TKDOPHPParameter before = result;
    Handle(1, name, nullptr, &result, registration);
    EXPECT_TRUE(SameBytes(result, before)) << name << " through " << registration;
  }
  TKDOPHPParameter result = JunkResult(nullptr);
  const TKDOPHPParameter before = result;
  HandleRaw(1, nullptr, nullptr, &result);
  EXPECT_TRUE(SameBytes(result, before)) << "null name";
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_TRUE(server.Debug().empty());
  EXPECT_EQ(Model(1).State(), player::PlayState::Stopped);
  EXPECT_FALSE(server.Call("WAC_Nothing", 1, {}).Routed);
}

TEST_F(Script, PlaylistThroughScriptsCountsFromOne) {
  Create(1);
  Call(1, "WAC_AddFile", {Value::S("C:\\Music\\One.mp3")});
  Call(1, "WAC_AddFile", {Value::S("C:\\Music\\Two.mp3")});
  ASSERT_EQ(server.Debug().size(), 2u);
  EXPECT_EQ(server.Debug()[0], (host::DebugLine{1, "ADDFILE", "C:\\Music\\One.mp3"}));
  ASSERT_EQ(Model(1).Count(), 2u);
  EXPECT_EQ(Model(1).At(0).FileName, "C:\\Music\\One.mp3");

  EXPECT_EQ(Call(1, "WAC_GetPlaylistLength").Int, 2);
  EXPECT_EQ(Call(1, "WAC_GetPlaylistPosition").Int, 1) << "the first entry is 1";
  Call(1, "WAC_SetPlaylistPosition", {Value::I(2)});
  EXPECT_EQ(Model(1).CurrentIndex(), 1);
  Call(1, "WAC_SetPlaylistPosition", {Value::I(1)});
  EXPECT_EQ(Model(1).CurrentIndex(), 0);

  EXPECT_EQ(Call(1, "WAC_GetPlaylistFile", {Value::I(2)}).Str, "C:\\Music\\Two.mp3");
  EXPECT_EQ(Call(1, "WAC_GetPlaylistTitle", {Value::I(2)}).Str, "Two");
  for (int32_t p : {0, 3, -1, INT_MIN, INT_MAX}) {
    EXPECT_EQ(Call(1, "WAC_GetPlaylistFile", {Value::I(p)}, {false, 0, 0, "stale"}).Str, "") << p;
    EXPECT_EQ(Call(1, "WAC_GetPlaylistTitle", {Value::I(p)}, {false, 0, 0, "stale"}).Str, "") << p;
  }
}

TEST_F(Script, PositionShiftsWrapInsteadOfOverflowing) {
  Create(1);
  world.ClearSent();
  Call(1, "WAC_SetPlaylistPosition", {Value::I(INT_MIN)});
  Call(1, "WAC_SetPlaylistPosition", {Value::I(0)});
  Call(1, "WAC_SetPlaylistPosition", {Value::I(INT_MAX)});
  const sent::Sequence expected = {
      {sent::kSent, sent::kMain, pn::kWmUser, 0x7FFFFFFFu, pn::user::kSetCurrent},  // INT_MIN - 1 wraps
      {sent::kSent, sent::kMain, pn::kWmUser, 0xFFFFFFFFu, pn::user::kSetCurrent},
      {sent::kSent, sent::kMain, pn::kWmUser, 0x7FFFFFFEu, pn::user::kSetCurrent},
  };
  EXPECT_EQ(Traffic(1), expected);
}

TEST_F(Script, ResultFieldsOtherThanTheOutputStayAsTheyWere) {
  Create(1);
  host::CallResult r = Call(1, "WAC_GetPlaylistLength", {}, {false, 5, 0, "keep"});
  EXPECT_EQ(r.Bool, 5);
  EXPECT_EQ(r.Int, 0);
  EXPECT_EQ(r.Str, "keep");
  r = Call(1, "WAC_GetPlaylistTitle", {Value::I(1)}, {false, 9, 123, "old"});
  EXPECT_EQ(r.Bool, 9);
  EXPECT_EQ(r.Int, 123);
  r = Call(1, "WAC_Play", {}, {false, 0, 55, "x"});
  EXPECT_EQ(r.Bool, 1);
  EXPECT_EQ(r.Int, 55);
}

TEST_F(Script, VolumeGoesToThePlayerAsLow8BitsAndToTheVariableWhole) {
  server.DefineVariable("Vol", host::Value::I(0));
  Store(1, "VolumeVar", "Vol");
  Create(1);
  world.Advance(250);
  ASSERT_EQ(server.Variable("Vol")->Int, 255);
  Call(1, "WAC_SetVolume", {Value::I(300)});
  EXPECT_TRUE(server.Debug().empty()) << "setters send no debug line";
  EXPECT_EQ(Model(1).Volume(), 44);
  EXPECT_EQ(server.Variable("Vol")->Int, 300);
  world.Advance(250);
  EXPECT_EQ(server.Variable("Vol")->Int, 44) << "the next tick mirrors the player";
  Call(1, "WAC_SetVolume", {Value::I(-1)});
  EXPECT_EQ(Model(1).Volume(), 255);
  EXPECT_EQ(server.Variable("Vol")->Int, -1);
}

TEST_F(Script, ShuffleAndRepeatWriteTheirVariablesOnlyWhenSet) {
  server.DefineVariable("Rep", host::Value::B(false));
  Store(1, "RepeatVar", "Rep");
  Create(1);
  Call(1, "WAC_SetShuffle", {Value::B(true)});
  EXPECT_TRUE(Model(1).Shuffle());
  Call(1, "WAC_SetRepeat", {Value::B(true)});
  EXPECT_TRUE(Model(1).Repeat());
  EXPECT_EQ(server.Variable("Rep")->Bool, true);
  EXPECT_EQ(server.VariableWrites("Rep"), 1);
  EXPECT_EQ(server.VariableReads("Rep"), 0) << "written without reading first";
  Call(1, "WAC_SetRepeat", {Value::B(false)});
  EXPECT_FALSE(Model(1).Repeat());
  EXPECT_EQ(server.Variable("Rep")->Bool, false);
  EXPECT_TRUE(server.Debug().empty());
}

TEST_F(Script, ShuffleAndRepeatWithoutIdentifiersWriteNoVariable) {
  server.DefineVariable("", host::Value::B(false));  // what a write under the empty identifier would change
  Create(1);
  for (bool on : {true, false}) {
    Call(1, "WAC_SetShuffle", {Value::B(on)});
    Call(1, "WAC_SetRepeat", {Value::B(on)});
    EXPECT_EQ(Model(1).Shuffle(), on);
    EXPECT_EQ(Model(1).Repeat(), on);
  }
  EXPECT_EQ(server.VariableWrites(""), 0);
  EXPECT_EQ(server.Variable("")->Bool, false);
}

TEST_F(Script, ClassNamesAtBothEndsOfTheIdentifierRange) {
  for (uint16_t id : {uint16_t(0), uint16_t(65535)}) {
    const std::string cls = "WA_KDO_" + std::to_string(id);
    Create(id);
    ASSERT_FALSE(world.ShellCalls().empty());
    EXPECT_EQ(world.ShellCalls().back().Parameters, "/CLASS=\"" + cls + "\"");
    ASSERT_NE(farm.Find(cls), nullptr) << cls;
    EXPECT_EQ(Call(id, "WAC_GetPlaylistLength").Int, 0) << "bound to the player of its class";
    Call(id, "WAC_SetShuffle", {Value::B(true)});
    EXPECT_TRUE(farm.Find(cls)->Model().Shuffle()) << cls;
  }
}

TEST_F(Script, MissingParameterRunsNothing) {
  server.DefineVariable("Vol", host::Value::I(7));
  Store(1, "VolumeVar", "Vol");
  Create(1);
  world.ClearSent();
  for (const Function& f : kFunctions) {
    if (f.Params.empty()) continue;
    host::CallResult r = Call(1, f.Name, {}, {false, 3, 4, "kept"});
    EXPECT_EQ(r.Bool, 3) << f.Name;
    EXPECT_EQ(r.Int, 4) << f.Name;
    EXPECT_EQ(r.Str, "kept") << f.Name;
  }
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_TRUE(server.Debug().empty());
  EXPECT_EQ(server.Variable("Vol")->Int, 7);
}

TEST_F(Script, EachInstanceReachesOnlyItsOwnPlayer) {
  Create(1);
  Create(2);
  Model(1).Add("a.mp3");
  Model(2).Add("a.mp3");
  Call(2, "WAC_Play");
  EXPECT_EQ(Model(2).State(), player::PlayState::Playing);
  EXPECT_EQ(Model(1).State(), player::PlayState::Stopped);
  EXPECT_EQ(server.Debug().back().Id, 2u);
}

// ---------------------------------------------------------------- additions beyond the classic fifteen

// The one message a call sent, as the player documents it.
sim::SentMessage OnlySent(const sim::World& world) {
  EXPECT_EQ(world.Sent().size(), 1u);
  return world.Sent().empty() ? sim::SentMessage{} : world.Sent().back();
}

TEST_F(Script, PlayStateIsThePlayersOwnValue) {
  Create(1);
  Model(1).Add("a.mp3");
  const sim::WindowHandle w = Player(1)->Window();
  EXPECT_EQ(Call(1, "WAC_GetPlayState", {}, {false, 6, 99, ""}).Int, 0) << "stopped";
  EXPECT_EQ(OnlySent(world), (sim::SentMessage{w, pn::kWmUser, 0, pn::user::kPlayState}));
  Call(1, "WAC_Play");
  EXPECT_EQ(Call(1, "WAC_GetPlayState").Int, 1) << "playing";
  Call(1, "WAC_Pause");
  host::CallResult r = Call(1, "WAC_GetPlayState", {}, {false, 6, 99, "kept"});
  EXPECT_EQ(r.Int, 3) << "paused";
  EXPECT_EQ(r.Bool, 6) << "only the integer is the result";
  EXPECT_EQ(r.Str, "kept");
  Call(1, "WAC_Stop");
  EXPECT_EQ(Call(1, "WAC_GetPlayState").Int, 0);
  EXPECT_EQ(server.Debug().back(), (host::DebugLine{1, "GET PLAY STATE", ""}));
}

TEST_F(Script, TrackTimesInWholeSeconds) {
  Create(1);
  const sim::WindowHandle w = Player(1)->Window();
  EXPECT_EQ(Call(1, "WAC_GetTrackLength").Int, -1) << "no track";
  EXPECT_EQ(OnlySent(world), (sim::SentMessage{w, pn::kWmUser, pn::user::kLengthSeconds, pn::user::kTime}));
  world.ClearSent();
  EXPECT_EQ(Call(1, "WAC_GetTrackPosition").Int, 0) << "no track: -1 ms is 0 s toward zero";
  EXPECT_EQ(OnlySent(world), (sim::SentMessage{w, pn::kWmUser, pn::user::kPositionMs, pn::user::kTime}));

  Model(1).Add("a.mp3");
  Call(1, "WAC_Play");
  world.Advance(1999);
  EXPECT_EQ(Call(1, "WAC_GetTrackPosition").Int, 1) << "1999 ms";
  world.Advance(1);
  EXPECT_EQ(Call(1, "WAC_GetTrackPosition").Int, 2);
  EXPECT_EQ(Call(1, "WAC_GetTrackLength").Int, 205);
  EXPECT_EQ(DebugMessages(), (std::vector<std::string>{"GET TRACK LENGTH", "GET TRACK POSITION", "PLAY",
                                                       "GET TRACK POSITION", "GET TRACK POSITION",
                                                       "GET TRACK LENGTH"}));
}

TEST_F(Script, SetTrackPositionIsTrueOnlyWhenThePlayerMoved) {
  Create(1);
  Model(1).Add("one.mp3");
  Model(1).Add("two.mp3");
  const sim::WindowHandle w = Player(1)->Window();
  EXPECT_EQ(Call(1, "WAC_SetTrackPosition", {Value::I(10)}, {false, 1, 0, ""}).Bool, 0) << "stopped";
  EXPECT_EQ(OnlySent(world), (sim::SentMessage{w, pn::kWmUser, 10000, pn::user::kJump}));
  EXPECT_EQ(Model(1).PositionMs(), 0);

  Call(1, "WAC_Play");
  host::CallResult r = Call(1, "WAC_SetTrackPosition", {Value::I(90)}, {false, 0, 42, "kept"});
  EXPECT_EQ(r.Bool, 1);
  EXPECT_EQ(r.Int, 42) << "only the boolean is the result";
  EXPECT_EQ(Model(1).PositionMs(), 90000);
  EXPECT_EQ(Call(1, "WAC_GetTrackPosition").Int, 90);

  Call(1, "WAC_Pause");
  EXPECT_EQ(Call(1, "WAC_SetTrackPosition", {Value::I(204)}).Bool, 1) << "paused within the track";
  EXPECT_EQ(Model(1).State(), player::PlayState::Paused);
  EXPECT_EQ(Model(1).PositionMs(), 204000);

  EXPECT_EQ(Call(1, "WAC_SetTrackPosition", {Value::I(205)}).Bool, 0) << "the end is past the track";
  EXPECT_EQ(Model(1).CurrentIndex(), 1) << "the track ended";
  EXPECT_EQ(Model(1).PositionMs(), 0);
  EXPECT_EQ(server.Debug().back(), (host::DebugLine{1, "SET TRACK POSITION", ""}));
}

TEST_F(Script, SeekTimesAreClampedNeverWrapped) {
  Create(1);
  const std::pair<int32_t, uint32_t> cases[] = {
      {0, 0u},
      {-1, 0u},
      {INT_MIN, 0u},
      {2147483, 2147483000u},     // the last whole second that fits
      {2147484, 0x7FFFFFFFu},     // 2147484000 ms does not: held at the largest
      {INT_MAX, 0x7FFFFFFFu},
      {4294968, 0x7FFFFFFFu},     // would wrap to 704 ms in 32 bits
  };
  for (auto [seconds, ms] : cases) {
    world.ClearSent();
    Call(1, "WAC_SetTrackPosition", {Value::I(seconds)});
    EXPECT_EQ(OnlySent(world).WParam, ms) << seconds;
    EXPECT_EQ(OnlySent(world).LParam, pn::user::kJump);
  }
}

// ---------------------------------------------------------------- bad input: names, arrays and records

TEST_F(Script, NoObjectOrNoResultRecordRunsNothing) {
  Create(1);
  const host::Registration* reg = server.Function("WAC_Play", 1);
  ASSERT_NE(reg, nullptr);
  const TKDOText play("WAC_Play");
  TKDOPHPParameter result = JunkResult(nullptr);
  const TKDOPHPParameter before = result;
  reg->Code(nullptr, play.get(), nullptr, &result, 1);
  EXPECT_TRUE(SameBytes(result, before));
  reg->Code(reg->Object, play.get(), nullptr, nullptr, 1);
  ParamBlock params(1);
  params.Items[0].IntValue = 3;
  params.Items[0].StringValue = nullptr;
  const TKDOText volume("WAC_SetVolume");
  reg->Code(reg->Object, volume.get(), params.First(), nullptr, 1);
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_TRUE(server.Debug().empty());
}

TEST_F(Script, ArraysShorterThanDeclaredRunNothingWhateverTheirCountSays) {
  server.DefineVariable("Vol", Value::I(7));
  Store(1, "VolumeVar", "Vol");
  Create(1);
  for (int32_t count : {0, -1, INT_MIN}) {
    for (const Function& f : kFunctions) {
      if (f.Params.size() != 1) continue;
      ParamBlock params(count);
      params.Items[0].StringValue = kJunkText;
      TKDOPHPParameter result = JunkResult(nullptr);
      const TKDOPHPParameter before = result;
      Handle(1, f.Name, params.First(), &result);
      EXPECT_TRUE(SameBytes(result, before)) << f.Name << " with count " << count;
    }
  }
  // The two that take two values run nothing with one.
  for (const Function& f : kFunctions) {
    if (f.Params.size() != 2) continue;
    ParamBlock params(1);
    params.Items[0].IntValue = 9;
    params.Items[0].StringValue = nullptr;
    TKDOPHPParameter result = JunkResult(nullptr);
    const TKDOPHPParameter before = result;
    Handle(1, f.Name, params.First(), &result);
    EXPECT_TRUE(SameBytes(result, before)) << f.Name;
  }
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_TRUE(server.Debug().empty());
  EXPECT_EQ(server.Variable("Vol")->Int, 7);
}

TEST_F(Script, OnlyTheFieldOfTheDeclaredTypeIsReadFromAParameter) {
  server.DefineVariable("Vol", Value::I(0));
  server.DefineVariable("Shuf", Value::B(false));
  Store(1, "VolumeVar", "Vol");
  Store(1, "ShuffleVar", "Shuf");
  Create(1);
  Model(1).Add("a.mp3");
  Model(1).Add("b.mp3");
  {
    ParamBlock params(2);  // a second element no function declares
    params.Items[0].IntValue = 300;
    params.Items[0].StringValue = kJunkText;
    TKDOPHPParameter result = JunkResult(nullptr);
    Handle(1, "WAC_SetVolume", params.First(), &result);
    EXPECT_EQ(result.BoolValue, 1);
    EXPECT_EQ(Model(1).Volume(), 44);
    EXPECT_EQ(server.Variable("Vol")->Int, 300);
  }
  {
    ParamBlock params(1);
    params.Items[0].BoolValue = 0x80;  // any non-zero byte is true
    params.Items[0].IntValue = 0;
    params.Items[0].StringValue = kJunkText;
    TKDOPHPParameter result = JunkResult(nullptr);
    Handle(1, "WAC_SetShuffle", params.First(), &result);
    EXPECT_TRUE(Model(1).Shuffle());
    EXPECT_EQ(server.Variable("Shuf")->Bool, true);
    params.Items[0].BoolValue = 0;
    params.Items[0].IntValue = -1;  // junk in the integer field does not make it true
    Handle(1, "WAC_SetShuffle", params.First(), &result);
    EXPECT_FALSE(Model(1).Shuffle());
    EXPECT_EQ(server.Variable("Shuf")->Bool, false);
  }
  {
    ParamBlock params(1);
    params.Items[0].IntValue = 2;
    params.Items[0].StringValue = kJunkText;
    TKDOPHPParameter result = JunkResult(nullptr);
    Handle(1, "WAC_SetPlaylistPosition", params.First(), &result);
    EXPECT_EQ(Model(1).CurrentIndex(), 1);
    KDOString old = kdo::text::Make("old");
    result = JunkResult(old);
    Handle(1, "WAC_GetPlaylistTitle", params.First(), &result);
    EXPECT_EQ(kdo::text::View(result.StringValue), "b");
    kdo::text::Release(result.StringValue);
  }
}

TEST_F(Script, JunkInTheResultIsOverwrittenOrLeftAndTheOutTextIsReleasedOnce) {
  Create(1);
  Model(1).Add("C:\\Music\\a.mp3");
  TKDOText held("server's text");
  {
    // Boolean result: the byte is written whole; nothing else is touched, the text included.
    TKDOPHPParameter result = JunkResult(held.get());
    TKDOPHPParameter expected = result;
    expected.BoolValue = 1;
    Handle(1, "WAC_Play", nullptr, &result);
    EXPECT_TRUE(SameBytes(result, expected));
    EXPECT_EQ(kdo::text::RefCount(held.get()), 1);
  }
  {
    TKDOPHPParameter result = JunkResult(held.get());
    TKDOPHPParameter expected = result;
    expected.IntValue = 1;
    Handle(1, "WAC_GetPlaylistLength", nullptr, &result);
    EXPECT_TRUE(SameBytes(result, expected));
  }
  {
    // Text result: the old text loses exactly the one reference the record held.
    kdo::text::AddRef(held.get());  // the record's reference
    ParamBlock params(1);
    params.Items[0].IntValue = 1;
    TKDOPHPParameter result = JunkResult(held.get());
    TKDOPHPParameter expected = result;
    Handle(1, "WAC_GetPlaylistFile", params.First(), &result);
    EXPECT_EQ(kdo::text::RefCount(held.get()), 1);
    EXPECT_EQ(kdo::text::View(result.StringValue), "C:\\Music\\a.mp3");
    expected.StringValue = result.StringValue;
    EXPECT_TRUE(SameBytes(result, expected)) << "the other fields keep their junk";
    kdo::text::Release(result.StringValue);
  }
  {
    // A constant text in the record is dropped without being freed; an empty answer leaves null.
    static constexpr kdo::text::Constant kConstant("constant");
    ParamBlock params(1);
    params.Items[0].IntValue = 99;
    TKDOPHPParameter result = JunkResult(kConstant.get());
    Handle(1, "WAC_GetPlaylistTitle", params.First(), &result);
    EXPECT_EQ(result.StringValue, nullptr);
    EXPECT_EQ(kdo::text::RefCount(kConstant.get()), -1);
  }
}

// ---------------------------------------------------------------- bad input: texts that cross

TEST_F(Script, AddFileHandsThePlayerExactlyTheBytesItGot) {
  Create(1);
  CaptureCopyData();
  // A null text, blanks, or a control character anywhere (the zero among them, where the player
  // would stop reading): false, and nothing sent. The debug line still names what was asked.
  ParamBlock empty(1);
  empty.Items[0].StringValue = nullptr;
  TKDOPHPParameter result = JunkResult(nullptr);
  Handle(1, "WAC_AddFile", empty.First(), &result);
  EXPECT_EQ(result.BoolValue, 0);
  for (const std::string& bad : {std::string("   "), std::string("C:\\Music\\a\tb.mp3"),
                                 std::string("C:\\Music\\a.mp3\r\n"), std::string("\x01" "C:\\a.mp3"),
                                 std::string("a.mp3\0b.mp3", 11)})
    EXPECT_EQ(Call(1, "WAC_AddFile", {Value::S(bad)}, {true, 1, 0, ""}).Bool, 0) << bad;
  EXPECT_TRUE(copyData.empty());
  EXPECT_EQ(Model(1).Count(), 0u);
  ASSERT_EQ(server.Debug().size(), 6u);
  EXPECT_EQ(server.Debug()[0], (host::DebugLine{1, "ADDFILE", ""}));
  EXPECT_EQ(server.Debug()[5].Data, std::string("a.mp3\0b.mp3", 11));

  // Blanks inside and around, and bytes above 127 (the code page's letters, DEL): taken as they are.
  const std::string odd = " C:\\M\xE4\xFCsik\\\x7F\xFF\x80.mp3  ";
  EXPECT_EQ(Call(1, "WAC_AddFile", {Value::S(odd)}).Bool, 1);
  ASSERT_EQ(copyData.size(), 1u);
  EXPECT_EQ(copyData[0], odd + '\0');
  ASSERT_EQ(Model(1).Count(), 1u);
  EXPECT_EQ(Model(1).At(0).FileName, odd);

  // Read back from an entry the player got elsewhere: blanks and control characters go at both ends
  // only; bytes above 127 stay.
  ASSERT_TRUE(Model(1).Add("\t\x01 C:\\M\xE4\xFCsik\\\x7F\xFF\x80.mp3 \r\n"));
  EXPECT_EQ(Call(1, "WAC_GetPlaylistFile", {Value::I(2)}).Str, "C:\\M\xE4\xFCsik\\\x7F\xFF\x80.mp3");
  EXPECT_EQ(Call(1, "WAC_GetPlaylistTitle", {Value::I(2)}).Str, "\x7F\xFF\x80");
}

TEST_F(Script, AMegabyteFileNameReachesThePlayerAndComesBackCut) {
  server.DefineVariable("file", Value::S(""));
  Store(1, "TrackFileVar", "file");
  Create(1);
  std::string huge(1 << 20, 'x');
  huge.replace(0, 3, "C:\\");
  huge.back() = '!';
  EXPECT_EQ(Call(1, "WAC_AddFile", {Value::S(huge)}).Bool, 1);
  ASSERT_EQ(Model(1).Count(), 1u);
  EXPECT_EQ(Model(1).At(0).FileName, huge);
  ASSERT_EQ(server.Debug().size(), 1u);
  EXPECT_EQ(server.Debug()[0].Data.size(), huge.size());
  EXPECT_EQ(Call(1, "WAC_GetPlaylistFile", {Value::I(1)}).Str, huge.substr(0, 500));
  world.Advance(250);
  EXPECT_EQ(server.Variable("file")->Str, huge.substr(0, 500));
}

// ---------------------------------------------------------------- a server that calls back

TEST_F(CallingBack, InstanceDeletedDuringItsScriptCallGoesWhenTheCallEnds) {
  Create(1);
  CaptureCopyData();
  debug.onDebug = [&] { EXPECT_TRUE(server.DestroyInstance(1)); };  // the ADDFILE line comes first
  const host::CallResult r = Call(1, "WAC_AddFile", {Value::S("a.mp3")}, {false, 5, 0, ""});
  EXPECT_EQ(r.Bool, 1);
  EXPECT_EQ(copyData, std::vector<std::string>{std::string("a.mp3", 6)}) << "the call ran to its end";
  EXPECT_EQ(server.Instance(1), nullptr);
  EXPECT_EQ(Player(1), nullptr) << "then the instance went and closed its player";
  EXPECT_FALSE(server.Call("WAC_Play", 1, {}).Routed);
}

}  // namespace
}  // namespace instancetest
