// The status mirror: what a tick asks, what it writes, and the time texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "InstanceFixture.h"
#include "ServerDoubles.h"
#include "SentMessages.h"
#include "SettingsKeys.h"
#include "sim/SimTextHeap.h"

namespace instancetest {
namespace {

using host::Value;

namespace user = pn::user;
constexpr int64_t kLimit = platform::kSendTimeoutMs;  // the longest wait for one answer

namespace ask = sent::ask;

// One poll, item by item, all sent to the main window: position and length, then file and title
// each by the current entry, the length and the entry's text, then volume, shuffle and repeat.
const sent::Sequence kOneEntryPoll = {ask::kPosition, ask::kLength,   ask::kCurrent, ask::kCount,
                                      ask::File(0),   ask::kCurrent,  ask::kCount,   ask::Title(0),
                                      ask::kVolume,   ask::kShuffle,  ask::kRepeat};
// With an empty playlist the file and title stop at the length.
const sent::Sequence kEmptyPlaylistPoll = {ask::kPosition, ask::kLength, ask::kCurrent, ask::kCount, ask::kCurrent,
                                           ask::kCount,    ask::kVolume, ask::kShuffle, ask::kRepeat};

class Status : public InstanceTest {
 protected:
  // All seven variables, defined and chosen in the settings of instance 1.
  void ChooseAll() { testdata::ChooseAll(server, 1, Name); }
  static std::string Name(const std::string& key) { return "v_" + key; }
  void DefineAndChoose(uint16_t id, const char* key, const std::string& ident, host::Value initial) {
    server.DefineVariable(ident, std::move(initial));
    Store(id, key, ident);
  }
  host::Value Var(const char* key) { return *server.Variable(Name(key)); }
  // The writes so far to all seven variables.
  int AllWrites() const {
    int writes = 0;
    for (const auto& item : testdata::AllMirrored()) writes += server.VariableWrites(Name(item.first));
    return writes;
  }
};

TEST_F(Status, TimerRunsEvery250Ms) {
  ChooseAll();
  Create(1);
  world.ClearSent();
  world.Advance(249);
  EXPECT_TRUE(world.Sent().empty());
  world.Advance(1);
  EXPECT_EQ(Traffic(1), kEmptyPlaylistPoll) << "empty playlist: file and title stop at the range test";
  EXPECT_EQ(world.OpenProcessCalls(), 0);
  Call(1, "WAC_AddFile", {host::Value::S("a.mp3")});
  world.ClearSent();
  world.Advance(250);
  EXPECT_EQ(Traffic(1), kOneEntryPoll);
  EXPECT_EQ(world.OpenProcessCalls(), 2);
  EXPECT_EQ(world.OpenProcessHandles(), 0);
}

TEST_F(Status, SevenItemsFollowThePlayer) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {host::Value::S("C:\\Music\\First Song.mp3")});
  Call(1, "WAC_SetShuffle", {host::Value::B(true)});
  Call(1, "WAC_Play");
  Model(1).OnUser(100, 122);  // volume 100 at the player
  world.Advance(59900);        // 59.9 s into the track
  EXPECT_EQ(Var("TrackPosVar").Str, "0:00:59") << "truncated, never rounded up";
  EXPECT_EQ(Var("TrackLenVar").Str, "0:03:25") << "205 s";
  EXPECT_EQ(Var("TrackFileVar").Str, "C:\\Music\\First Song.mp3");
  EXPECT_EQ(Var("TrackTitleVar").Str, "First Song");
  EXPECT_EQ(Var("VolumeVar").Int, 100);
  EXPECT_EQ(Var("ShuffleVar").Bool, true);
  EXPECT_EQ(Var("RepeatVar").Bool, false);
}

// The play state is one more send at the end of a poll, only when its variable is chosen; a
// store without its key polls as before.
TEST_F(Status, ThePlayStateIsAskedOnlyWhenItsVariableIsChosen) {
  sent::Sequence allNine = kOneEntryPoll;
  allNine.push_back(ask::kPlayState);
  const std::tuple<const char*, bool, bool, sent::Sequence> rows[] = {
      {"the seven, no play state key", true, false, kOneEntryPoll},
      {"all nine", true, true, allNine},
      {"the play state alone", false, true, {ask::kPlayState}},
  };
  uint16_t id = 1;
  for (const auto& [what, seven, playState, expected] : rows) {
    if (seven) testdata::ChooseAll(server, id, Name);
    DefineAndChoose(id, playState ? testdata::kPlayStateKey : "Unread", "state", Value::I(7));
    Create(id);
    Model(id).Add("a.mp3");
    world.Advance(250);
    EXPECT_EQ(Traffic(id), expected) << what;
    EXPECT_EQ(server.Variable("state")->Int, playState ? 0 : 7) << what;
    server.DestroyInstance(id++);
  }
}

// 1 playing, 3 paused, 0 stopped, -1 without a player; each written once, when it changes, and
// nothing sent for the -1.
TEST_F(Status, ThePlayStateVariableFollowsThePlayerAndItsAbsence) {
  DefineAndChoose(1, testdata::kPlayStateKey, "state", Value::I(42));
  Create(1, /*bind=*/false);
  auto location = [&](const char* exe) {
    EditSettings(1, [&](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText(exe); });
  };
  const std::tuple<const char*, std::function<void()>, int32_t> rows[] = {
      {"no player yet", [] {}, -1},
      {"bound, stopped", [&] { location(kExe), world.Advance(1000); }, 0},
      {"playing", [&] { Call(1, "WAC_AddFile", {Value::S("a.mp3")}), Call(1, "WAC_Play"); }, 1},
      {"paused", [&] { Call(1, "WAC_Pause"); }, 3},
      {"stopped", [&] { Call(1, "WAC_Stop"); }, 0},
      {"player let go", [&] { location(""); }, -1},
  };
  for (const auto& [what, act, state] : rows) {
    const int writes = server.VariableWrites("state");
    act();
    world.ClearSent();
    world.Advance(250);
    EXPECT_EQ(server.Variable("state")->Int, state) << what;
    if (state < 0) {
      EXPECT_TRUE(world.Sent().empty()) << what << ": nothing sent for it";
    }
    world.Advance(500);
    EXPECT_EQ(server.VariableWrites("state"), writes + 1) << what << ": written once";
  }
}

TEST_F(Status, EveryTickWithAllEmptyIdentifiersAsksAndTouchesNothing) {
  server.DefineVariable("v", host::Value::I(1));
  Create(1);
  world.ClearSent();
  world.Advance(5000);
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_EQ(server.VariableReads("v"), 0);
}

TEST_F(Status, EmptyIdentifierSkipsItsQueryAndItsVariable) {
  server.DefineVariable("vol", host::Value::I(0));
  Store(1, "VolumeVar", "vol");
  Create(1);
  world.ClearSent();
  world.Advance(250);
  EXPECT_EQ(Traffic(1), sent::Sequence{ask::kVolume}) << "the volume query alone";
}

TEST_F(Status, AnEqualVariableIsReadEveryTickAndNeverWritten) {
  ChooseAll();
  Create(1);
  world.Advance(250);
  const int writes = server.VariableWrites("v_VolumeVar");
  const int reads = server.VariableReads("v_VolumeVar");
  world.Advance(1000);
  EXPECT_EQ(server.VariableWrites("v_VolumeVar"), writes);
  EXPECT_EQ(server.VariableReads("v_VolumeVar"), reads + 4);
  EXPECT_EQ(server.VariableWrites("v_TrackPosVar"), 1) << "0:00:00 once, then unchanged";
}

TEST_F(Status, ChangedByHandIsSetBackAtTheNextTick) {
  ChooseAll();
  Create(1);
  world.Advance(250);
  server.DefineVariable("v_VolumeVar", host::Value::I(7));
  world.Advance(250);
  EXPECT_EQ(Var("VolumeVar").Int, 255);
}

TEST_F(Status, TitleChangingOnlyInLetterCaseIsNotWritten) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {host::Value::S("x.mp3")});
  Model(1).SetTitle(0, "HELLO WORLD");
  world.Advance(250);
  ASSERT_EQ(Var("TrackTitleVar").Str, "HELLO WORLD");
  Model(1).SetTitle(0, "Hello World");
  world.Advance(250);
  EXPECT_EQ(Var("TrackTitleVar").Str, "HELLO WORLD");
  Model(1).SetTitle(0, "Hello W\xC3\xB6rld");
  world.Advance(250);
  EXPECT_EQ(Var("TrackTitleVar").Str, "Hello W\xC3\xB6rld");
}

TEST_F(Status, TimeTextsShowOnlyTheTimeOfDay) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {host::Value::S("long.mp3")});
  Model(1).SetLength(0, 90000);
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "1:00:00") << "90000 s shows as 3600 s";
  Model(1).SetLength(0, 86399);
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "23:59:59");
  Model(1).SetLength(0, 86400);
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "0:00:00");
  Model(1).SetLength(0, -1);
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "0:00:01") << "a negative count shows its magnitude";
  Model(1).SetLength(0, INT32_MIN);
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "3:14:08") << "2147483648 s is 24855 days and 3:14:08";
}

TEST_F(Status, TimeTextsFollowTheLongTimeFormat) {
  world.SetLongTimeFormat("hh.nn.ss 'Uhr'");
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {host::Value::S("x.mp3")});
  world.Advance(250);
  EXPECT_EQ(Var("TrackLenVar").Str, "00.03.25 Uhr");
}

TEST_F(Status, UnboundLinkAsksNothingAndVariablesKeepTheirValues) {
  ChooseAll();
  Create(1);
  world.Advance(250);
  ASSERT_EQ(Var("VolumeVar").Int, 255);
  // An empty location closes the player: the link is unbound.
  EditSettings(1, [](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText(); });
  world.ClearSent();
  world.Advance(5000);
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_EQ(Var("VolumeVar").Int, 255);
}

TEST_F(Status, PlayerGoneShowsZerosUntilTheLinkLooksAgain) {
  ChooseAll();
  DefineAndChoose(1, testdata::kPlayStateKey, Name(testdata::kPlayStateKey), host::Value::I(0));
  Create(1);
  Call(1, "WAC_SetRepeat", {host::Value::B(true)});
  world.Advance(250);
  ASSERT_EQ(Var("RepeatVar").Bool, true);
  Player(1)->Die();
  world.Advance(250);
  EXPECT_EQ(Var("VolumeVar").Int, 0);
  EXPECT_EQ(Var("RepeatVar").Bool, false);
  EXPECT_EQ(Var("TrackPosVar").Str, "0:00:00");
  EXPECT_EQ(Var("PlayStateVar").Int, -1) << "the play state says there is none";
}

TEST_F(Status, FailedReadsOfTheWrongTypeAreWrittenAnyway) {
  server.DefineVariable("num", host::Value::S("not a number"));
  server.DefineVariable("flag", host::Value::I(3));
  Store(1, "VolumeVar", "num");
  Store(1, "ShuffleVar", "flag");
  Create(1);
  world.Advance(500);
  EXPECT_EQ(server.VariableWrites("num"), 2) << "each tick tries";
  EXPECT_EQ(server.VariableWrites("flag"), 2);
  EXPECT_EQ(server.Variable("num")->Str, "not a number") << "the server refuses the wrong type";
}

TEST_F(Status, MissingVariableManagerIsSkipped) {
  server.Refuse(IID_IKDOVariableManager);
  ChooseAll();
  Create(1);
  world.Advance(1000);
  Call(1, "WAC_SetVolume", {host::Value::I(3)});
  EXPECT_EQ(Var("VolumeVar").Int, 0);
  EXPECT_EQ(Model(1).Volume(), 3);
}

// ---------------------------------------------------------------- a player that hangs or is slow

// All but the play state, which shows -1 until the player answers again.
TEST_F(Status, HungPlayerCostsOnePollOneLimitAndTheVariablesKeepItsLastValues) {
  ChooseAll();
  DefineAndChoose(1, testdata::kPlayStateKey, "state", Value::I(0));
  Create(1);
  Call(1, "WAC_AddFile", {host::Value::S("C:\\Music\\Song.mp3")});
  Call(1, "WAC_SetRepeat", {host::Value::B(true)});
  world.Advance(250);
  ASSERT_EQ(Var("TrackTitleVar").Str, "Song");
  ASSERT_EQ(Var("RepeatVar").Bool, true);
  const int writes = AllWrites();

  Player(1)->Hang(true);
  world.ClearSent();
  const int64_t before = world.ElapsedMs();
  world.Advance(250);
  EXPECT_EQ(world.ElapsedMs() - before, 250 + kLimit) << "the poll waited out one limit, not one per message";
  EXPECT_EQ(world.Sent().size(), 1u) << "the poll stopped at the send that was given up";
  world.ClearSent();
  world.Advance(10000);
  EXPECT_EQ(world.ElapsedMs() - before, 250 + kLimit + 10000) << "no tick waited after that";
  EXPECT_TRUE(world.Sent().empty()) << "nothing asked while the player does not answer";
  EXPECT_EQ(AllWrites(), writes) << "no zeros written for the unanswered sends";
  EXPECT_EQ(Var("TrackTitleVar").Str, "Song");
  EXPECT_EQ(Var("RepeatVar").Bool, true);
  EXPECT_EQ(Var("VolumeVar").Int, 255);
  EXPECT_EQ(server.Variable("state")->Int, -1) << "not answering";

  Model(1).OnUser(77, 122);  // the player's volume changes meanwhile
  Model(1).OnCommand(40045);  // and it plays
  Player(1)->Hang(false);
  world.Advance(250);
  EXPECT_EQ(Var("VolumeVar").Int, 77) << "polled and written again after the player answered";
  EXPECT_EQ(server.Variable("state")->Int, 1) << "playing";
  EXPECT_EQ(Var("TrackTitleVar").Str, "Song");
}

// While the player does not answer, every query answers what it answers without
// a player (instance 2 has none), commands go nowhere, and a setter leaves its
// variable alone: it never shows a value the player was not given.
TEST_F(Status, ScriptCallsAnswerAsWithoutAPlayerAndNeverWaitOnAHungPlayer) {
  ChooseAll();
  Create(1);
  Create(2, /*bind=*/false);
  Call(1, "WAC_AddFile", {Value::S("a.mp3")});
  world.Advance(250);
  Player(1)->Hang(true);
  const int64_t before = world.ElapsedMs();
  EXPECT_EQ(Call(1, "WAC_Play").Bool, 1);
  EXPECT_EQ(world.ElapsedMs() - before, kLimit) << "the first call finds the hang";
  const host::CallResult stale{false, 7, 7, "stale"};
  for (const auto& [name, params] : std::vector<std::pair<const char*, std::vector<Value>>>{
           {"WAC_GetPlaylistLength", {}}, {"WAC_GetPlaylistPosition", {}},
           {"WAC_GetPlaylistFile", {Value::I(1)}}, {"WAC_GetPlaylistTitle", {Value::I(1)}},
           {"WAC_GetPlayState", {}}, {"WAC_GetTrackPosition", {}}, {"WAC_GetTrackLength", {}},
           {"WAC_SetTrackPosition", {Value::I(1)}}}) {
    const host::CallResult hung = Call(1, name, params, stale), none = Call(2, name, params, stale);
    EXPECT_EQ(std::tie(hung.Bool, hung.Int, hung.Str), std::tie(none.Bool, none.Int, none.Str)) << name;
  }
  const int writes = AllWrites();
  EXPECT_EQ(Call(1, "WAC_SetVolume", {Value::I(9)}).Bool, 1);
  EXPECT_EQ(Call(1, "WAC_SetShuffle", {Value::B(true)}).Bool, 1);
  EXPECT_EQ(Call(1, "WAC_SetRepeat", {Value::B(true)}).Bool, 1);
  EXPECT_EQ(AllWrites(), writes) << "the commands went nowhere";
  EXPECT_EQ(Var("VolumeVar").Int, 255);
  EXPECT_EQ(world.ElapsedMs() - before, kLimit) << "later calls do not wait";
  Player(1)->Hang(false);
  world.Advance(0);
  EXPECT_EQ(Call(1, "WAC_GetPlaylistLength").Int, 1);
}

TEST_F(Status, PlayerAnsweringIn1900MsStaysBoundAndPolled) {
  server.DefineVariable("vol", host::Value::I(0));
  Store(1, "VolumeVar", "vol");
  Create(1);
  Player(1)->SetReplyDelay(1900);
  Model(1).OnUser(12, 122);
  world.Advance(250);
  EXPECT_EQ(server.Variable("vol")->Int, 12);
  world.Advance(16000);  // a second slow answer, its rest, then questions without waiting
  Model(1).OnUser(13, 122);
  world.ClearSent();
  world.ResetLongestDispatch();
  world.Advance(16000);
  EXPECT_EQ(server.Variable("vol")->Int, 13);
  EXPECT_GE(world.Sent().size(), 4u) << "asked again as each answer comes";
  EXPECT_LE(world.Sent().size(), 16000u / 1900u) << "one question at a time";
  EXPECT_EQ(world.LongestDispatchMs(), 0) << "asked without waiting";
}

// A script's query to a player answering in 1.9 s waits behind the mirror's question and is given up,
// yet the player still handles it: the mirror's next question waits behind that in turn. Its answer
// comes more than a send limit after it was asked, but the player never failed to answer: it is never
// shown as without a player.
TEST_F(Status, AQueryGivenUpBehindTheMirrorsQuestionDoesNotMakeTheNextLookHung) {
  DefineAndChoose(1, testdata::kPlayStateKey, "state", host::Value::I(0));
  DefineAndChoose(1, "VolumeVar", "vol", host::Value::I(0));
  Create(1);
  Call(1, "WAC_AddFile", {Value::S("a.mp3")});
  Call(1, "WAC_Play");
  Player(1)->SetReplyDelay(1900);
  world.Advance(20000);  // slow: the mirror asks without waiting
  bool none = false;
  server.OnWrite("state", [&](const Value& v) { none |= v.Int == -1; });
  for (int i = 0; i < 5; ++i) {
    for (const int asked = world.QuestionsAsked(); world.QuestionsAsked() == asked;) world.Advance(10);
    Call(1, "WAC_GetPlaylistLength");
    world.Advance(3000);
  }
  world.Advance(20000);
  EXPECT_FALSE(none);
  EXPECT_EQ(server.Variable("state")->Int, 1);
}

// One slow answer (a stall) does not make a slow player: the mirror goes on asking and waiting.
TEST_F(Status, OneSlowAnswerIsNotASlowPlayer) {
  server.DefineVariable("vol", host::Value::I(0));
  Store(1, "VolumeVar", "vol");
  Create(1);
  world.Advance(250);
  Player(1)->SetReplyDelay(1900);
  world.Advance(250);
  Player(1)->SetReplyDelay(0);
  world.Advance(10000);
  EXPECT_EQ(world.QuestionsAsked(), 0);
}

// A slow player asked without waiting that stops answering counts as not
// answering once the send limit has passed, as after a send given up.
TEST_F(Status, ASlowPlayerThatHangsWhileAskedWithoutWaitingShowsNoPlayer) {
  DefineAndChoose(1, testdata::kPlayStateKey, "state", Value::I(42));
  Create(1);
  Player(1)->SetReplyDelay(1900);
  world.Advance(20000);  // two slow answers with their rests, then asked without waiting
  ASSERT_EQ(server.Variable("state")->Int, 0);
  Player(1)->Hang(true);
  world.Advance(platform::kSendTimeoutMs + 2000);
  EXPECT_EQ(server.Variable("state")->Int, -1) << "no answer within the send limit";
  Player(1)->Hang(false);
  world.Advance(8000);  // the questions it still had, then the question whether it answers, then the poll's
  EXPECT_EQ(server.Variable("state")->Int, 0) << "mirrored again once it answers";
}

// ---------------------------------------------------------------- the poll's share of the thread

// Polls seen from the player's side: sends that follow one another without a
// gap belong to one poll.
struct PollRecord {
  int64_t Start;
  std::vector<int64_t> SendOffsets;
};

class Pace : public Status, public ::testing::WithParamInterface<uint32_t> {
 protected:
  // Records every send of the player until `ms` more have passed; the polls found.
  std::vector<PollRecord> Watch(int64_t ms, uint32_t delay) {
    std::vector<PollRecord> polls;
    int64_t expected = -1;  // when the next send of the same poll would start
    world.OnSend = [&](const sim::SentMessage&) {
      const int64_t now = world.ElapsedMs();
      if (now != expected || polls.empty()) polls.push_back({now, {}});
      polls.back().SendOffsets.push_back(now - polls.back().Start);
      expected = now + delay;
    };
    world.Advance(ms);
    world.OnSend = nullptr;
    return polls;
  }
};

// A slow player is asked without waiting once an answer took a whole budget:
// the thread is held for no answer of the poll, and a new entry's file and
// title still come within a minute, whenever the entry changes.
TEST_P(Pace, SlowPlayerIsAskedWithoutWaitingAndANewEntryComesWithinAMinute) {
  const uint32_t delay = GetParam();
  world.SetTickBase(0xFFFFFFFFu - 20000);  // the tick count wraps around on the way
  ChooseAll();
  DefineAndChoose(1, testdata::kPlayStateKey, "state", Value::I(0));
  Create(1);
  for (const char* file : {"C:\\Music\\First.mp3", "C:\\Music\\Second.mp3", "C:\\Music\\Third.mp3"})
    Call(1, "WAC_AddFile", {host::Value::S(file)});
  world.Advance(250);
  ASSERT_EQ(Var("TrackFileVar").Str, "C:\\Music\\First.mp3");
  // Every item changes at the player, then the player slows down.
  Call(1, "WAC_SetShuffle", {host::Value::B(true)});
  Call(1, "WAC_SetRepeat", {host::Value::B(true)});
  Model(1).SetLength(0, 3725);
  Model(1).OnUser(90, 122);
  server.DefineVariable("state", host::Value::I(42));
  Player(1)->SetReplyDelay(delay);
  world.Advance(60000);
  EXPECT_EQ(Var("TrackLenVar").Str, "1:02:05");
  EXPECT_EQ(Var("VolumeVar").Int, 90);
  EXPECT_EQ(Var("ShuffleVar").Bool, true);
  EXPECT_EQ(Var("RepeatVar").Bool, true);
  EXPECT_EQ(server.Variable("state")->Int, 0) << "stopped";

  // The entry changes at moments spread over the poll's round.
  int64_t worst = 0;
  const int64_t begun = world.ElapsedMs(), busyBefore = world.DispatchedMs();
  world.ResetLongestDispatch();
  for (int change = 0; change < 9; ++change) {
    world.Advance(700 * change % 2300);
    const int32_t entry = 1 + (change + 1) % 3;  // from 1
    if (change % 2)
      Model(1).OnUser(uint32_t(entry - 1), 121);  // the user picks it in the player
    else {  // a script, while a question of the mirror may wait at the player
      // The call waits one send limit at most; a command queued behind the question and given up
      // still reaches the player, which had taken it.
      Call(1, "WAC_SetPlaylistPosition", {Value::I(entry)});
      const int64_t called = world.ElapsedMs();
      while (Model(1).CurrentIndex() != entry - 1 && world.ElapsedMs() - called < 2 * platform::kSendTimeoutMs)
        world.Advance(250);
      EXPECT_EQ(Model(1).CurrentIndex(), entry - 1) << "the script's command reached the player";
    }
    const player::Entry& now = Model(1).At(std::size_t(entry - 1));
    const int64_t changed = world.ElapsedMs();
    while (world.ElapsedMs() - changed <= 120000 &&
           (Var("TrackFileVar").Str != now.FileName || Var("TrackTitleVar").Str != now.Title))
      world.Advance(250);
    worst = std::max(worst, world.ElapsedMs() - changed);
  }
  std::printf("[          ] %u ms per answer: a new entry's file and title within %lld ms; the thread busy %.1f %%\n",
              delay, (long long)worst,
              100.0 * double(world.DispatchedMs() - busyBefore) / double(world.ElapsedMs() - begun));
  EXPECT_LE(worst, 60000) << "a new entry's file and title within a minute";
  EXPECT_LE(world.LongestDispatchMs(), int64_t(delay)) << "one answer per dispatch at most";
  EXPECT_LE(world.DispatchedMs() - busyBefore, (world.ElapsedMs() - begun) / 20) << "the thread is not waiting";
}

INSTANTIATE_TEST_SUITE_P(Delays, Pace, ::testing::Values(300u, 1900u));

// 25 ms per answer: ten sends fill the 250 ms budget exactly, then the poll
// rests three times as long and the next one starts with the item not reached.
TEST_F(Pace, TheBudgetAndTheRestExactly) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {Value::S("a.mp3")});
  Player(1)->SetReplyDelay(25);
  world.ClearSent();
  const std::vector<PollRecord> polls = Watch(1250, 25);
  ASSERT_EQ(polls.size(), 2u);
  EXPECT_EQ(polls[0].SendOffsets.size(), 10u);
  EXPECT_EQ(polls[0].SendOffsets.back(), 225) << "the tenth send ends at 250 ms";
  EXPECT_EQ(polls[1].Start - polls[0].Start, 1000);
  EXPECT_EQ(world.Sent()[10].LParam, user::kGetRepeat) << "repeat, not reached before, comes first";
}

// A file item cut after asking the current entry starts again in the next poll:
// the entry moved meanwhile, and the old index would read the wrong file.
TEST_F(Status, AFileItemCutByTheBudgetAsksTheCurrentEntryAgain) {
  for (const char* key : {"TrackPosVar", "TrackLenVar", "TrackFileVar"})
    DefineAndChoose(1, key, Name(key), Value::S(""));
  Create(1);
  Call(1, "WAC_AddFile", {Value::S("C:\\First.mp3")});
  Call(1, "WAC_AddFile", {Value::S("C:\\Second.mp3")});
  Player(1)->SetReplyDelay(100);
  world.ClearSent();
  world.Advance(250);  // position, length, then the file's current entry: the budget is spent
  ASSERT_EQ(Traffic(1).back(), ask::kCurrent);
  Call(1, "WAC_SetPlaylistPosition", {Value::I(2)});
  // Its steps go on in the next polls; the first entry's file, read after the move, is never written.
  for (int i = 0; i < 12; ++i) {
    world.Advance(250);
    EXPECT_NE(Var("TrackFileVar").Str, "C:\\First.mp3") << i;
  }
  EXPECT_EQ(Var("TrackFileVar").Str, "C:\\Second.mp3");
}

// A poll cut halfway through a text item by a slow spell: once the player is quick again, the polls
// are whole rounds again, not each one finishing the last one's item and asking its entry twice.
TEST_F(Status, AfterASlowSpellAQuietPollIsAsShortAsBefore) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {Value::S("C:\\Song.mp3")});
  Call(1, "WAC_Play");
  world.Advance(1000);
  auto quietPoll = [&] {
    world.ClearSent();
    world.Advance(250);
    return Traffic(1).size();
  };
  const std::size_t before = quietPoll();
  Player(1)->SetReplyDelay(100);
  world.Advance(250);  // position, length, the file's current entry: cut there
  Player(1)->SetReplyDelay(0);
  world.Advance(2000);
  EXPECT_EQ(quietPoll(), before);
}

// A hang met halfway through a poll: what was written keeps the player's real
// values, and the send given up writes nothing.
TEST_F(Status, AHangHalfwayThroughAPollWritesNothingFromTheSendGivenUp) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {Value::S("C:\\Song.mp3")});
  Call(1, "WAC_Play");
  world.Advance(250);
  ASSERT_EQ(Var("VolumeVar").Int, 255);
  Call(1, "WAC_SetTrackPosition", {Value::I(42)});
  world.OnSend = [&](const sim::SentMessage& m) {
    if (m.LParam == 122) Player(1)->Hang(true);
  };
  const int volumeWrites = server.VariableWrites(Name("VolumeVar"));
  world.Advance(250);
  world.OnSend = nullptr;
  EXPECT_EQ(Var("TrackPosVar").Str, "0:00:42") << "written before the hang";
  EXPECT_EQ(Var("TrackTitleVar").Str, "Song");
  EXPECT_EQ(Var("VolumeVar").Int, 255);
  EXPECT_EQ(server.VariableWrites(Name("VolumeVar")), volumeWrites);
}

// Getting away from a hung player by choosing another location: the new player
// is bound and mirrored while the old one still hangs, and the server waited
// for the hang once in all.
TEST_F(Status, ANewLocationAwayFromAHungPlayerIsMirroredWhileTheOldOneHangs) {
  DefineAndChoose(1, "VolumeVar", Name("VolumeVar"), Value::I(0));
  farm.InstallExecutable("D:\\Other\\winamp.exe");
  Create(1);
  sim::SimPlayer* hung = Player(1);
  hung->Hang(true);
  const int64_t before = world.ElapsedMs();
  world.Advance(250);
  ASSERT_EQ(EditSettings(1, [](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText("D:\\Other\\winamp.exe"); }),
            KDO_S_OK);
  sim::SimPlayer* fresh = Player(1);
  ASSERT_NE(fresh, hung);
  fresh->Model().OnUser(33, 122);
  world.Advance(61000);
  EXPECT_EQ(Var("VolumeVar").Int, 33);
  EXPECT_EQ(world.ElapsedMs() - before, kLimit + 250 + 61000) << "one send limit in all";
  EXPECT_TRUE(world.WindowAlive(hung->Window())) << "the old player closes when it comes back";
}

// A new location while the old, slow player owes the mirror an answer and
// hangs: that answer never comes, and the new player is not taken for one
// that does not answer.
TEST_F(Status, ANewLocationWhileASlowPlayerOwesAnAnswerLeavesTheNewOneAnswering) {
  DefineAndChoose(1, testdata::kPlayStateKey, "state", Value::I(42));
  farm.InstallExecutable("D:\\Other\\winamp.exe");
  Create(1);
  sim::SimPlayer* slow = Player(1);
  slow->SetReplyDelay(1900);
  world.Advance(20000);  // asked without waiting from now on
  ASSERT_EQ(server.Variable("state")->Int, 0);
  sim::SimPlayer other(world, "WA_KDO_1");  // running already: the new location's lookup binds it at once
  slow->Hang(true);
  const int writes = server.VariableWrites("state");
  ASSERT_EQ(EditSettings(1, [](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText("D:\\Other\\winamp.exe"); }),
            KDO_S_OK);
  world.Advance(10000);
  EXPECT_EQ(server.VariableWrites("state"), writes) << "never -1, not even for a moment";
  EXPECT_EQ(server.Variable("state")->Int, 0);
}

// A player that changes nothing gets no variable written, booleans included.
TEST_F(Status, APlayerThatChangesNothingGetsNoVariableWritten) {
  ChooseAll();
  Create(1);
  Call(1, "WAC_AddFile", {Value::S("a.mp3")});
  Call(1, "WAC_SetShuffle", {Value::B(true)});
  world.Advance(250);
  const int writes = AllWrites();
  world.Advance(5000);
  EXPECT_EQ(AllWrites(), writes);
}

TEST_F(Status, NormalPlayerIsPolledWholeEvery250Ms) {
  ChooseAll();
  DefineAndChoose(1, testdata::kPlayStateKey, "state", Value::I(0));
  Create(1);
  Call(1, "WAC_AddFile", {host::Value::S("a.mp3")});
  Player(1)->SetReplyDelay(1);  // 12 ms per poll
  world.Advance(250);
  world.ClearSent();
  world.Advance(60000);
  EXPECT_EQ(world.Sent().size(), 240u * 12) << "240 polls of 12 messages, all nine settings set";
}


// ---------------------------------------------------------------- bad variables, a dead player, a server that calls back

TEST_F(Status, VariablesOfTheWrongTypeOrMissingAreTriedAndLeftAsTheyAre) {
  DefineAndChoose(1, "TrackFileVar", "file", Value::I(5));
  DefineAndChoose(1, "TrackTitleVar", "title", Value::B(true));
  DefineAndChoose(1, "VolumeVar", "vol", Value::S("loud"));
  DefineAndChoose(1, "ShuffleVar", "shuf", Value::S("yes"));
  DefineAndChoose(1, "RepeatVar", "rep", Value::I(2));
  Store(1, "TrackPosVar", "nowhere");
  Create(1);
  Model(1).Add("C:\\a.mp3");
  std::map<std::string, int> writes;
  for (const char* v : {"file", "title", "vol", "shuf", "rep", "nowhere"}) writes[v] = server.VariableWrites(v);
  world.Advance(500);
  EXPECT_EQ(server.Variable("file"), Value::I(5));
  EXPECT_EQ(server.Variable("title"), Value::B(true));
  EXPECT_EQ(server.Variable("vol"), Value::S("loud"));
  EXPECT_EQ(server.Variable("shuf"), Value::S("yes"));
  EXPECT_EQ(server.Variable("rep"), Value::I(2));
  EXPECT_FALSE(server.Variable("nowhere").has_value());
  for (const char* v : {"file", "title", "vol", "shuf", "rep", "nowhere"})
    EXPECT_EQ(server.VariableWrites(v), writes[v] + 2) << v << ": each tick tries again";

  EXPECT_EQ(Call(1, "WAC_SetVolume", {Value::I(9)}).Bool, 1);
  EXPECT_EQ(Call(1, "WAC_SetShuffle", {Value::B(true)}).Bool, 1);
  EXPECT_EQ(Call(1, "WAC_SetRepeat", {Value::B(true)}).Bool, 1);
  EXPECT_EQ(Model(1).Volume(), 9) << "the player is set even when the variable refuses";
  EXPECT_TRUE(Model(1).Shuffle());
  EXPECT_TRUE(Model(1).Repeat());
  EXPECT_EQ(server.Variable("vol"), Value::S("loud"));

  // Fixed by the user: the next tick fills it.
  server.DefineVariable("vol", Value::I(0));
  server.DefineVariable("title", Value::S(""));
  world.Advance(250);
  EXPECT_EQ(server.Variable("vol")->Int, 9);
  EXPECT_EQ(server.Variable("title")->Str, "a");
}

TEST_F(Status, KilledPlayerAnswersZerosAndIsStartedAgainOnlyAfterSixtySeconds) {
  server.DefineVariable("Vol", Value::I(0));
  Store(1, "VolumeVar", "Vol");
  Create(1);  // started at 0 s, bound at 1 s
  world.Advance(250);
  ASSERT_EQ(server.Variable("Vol")->Int, 255);
  Model(1).Add("a.mp3");
  sim::SimPlayer* first = Player(1);
  first->Die();

  const int64_t before = world.ElapsedMs();
  EXPECT_EQ(Call(1, "WAC_GetPlaylistLength").Int, 0);
  EXPECT_EQ(Call(1, "WAC_GetPlaylistPosition").Int, 1);
  EXPECT_EQ(Call(1, "WAC_GetPlaylistFile", {Value::I(1)}, {false, 0, 0, "stale"}).Str, "");
  EXPECT_EQ(Call(1, "WAC_Play").Bool, 1);
  EXPECT_EQ(world.ElapsedMs(), before) << "a dead window answers at once";
  world.Advance(250);
  EXPECT_EQ(server.Variable("Vol")->Int, 0);

  // The watch looks every 30 s; within 60 s of the launch it waits for the player to come up.
  world.Advance(61000 - world.ElapsedMs() - 1);
  EXPECT_EQ(farm.Launches(), 1);
  world.Advance(1);
  EXPECT_EQ(farm.Launches(), 2) << "more than 60 s after the launch: started again";
  EXPECT_EQ(world.ShellCalls().back().Parameters, "/CLASS=\"WA_KDO_1\"");
  world.Advance(1000);
  ASSERT_NE(Player(1), nullptr);
  EXPECT_NE(Player(1), first);
  EXPECT_EQ(server.Instance(1)->GetReferenceCount(), 1);
  Call(1, "WAC_AddFile", {Value::S("b.mp3")});
  EXPECT_EQ(Call(1, "WAC_GetPlaylistLength").Int, 1);
  EXPECT_EQ(Call(1, "WAC_GetPlaylistTitle", {Value::I(1)}).Str, "b");
  world.Advance(250);
  EXPECT_EQ(server.Variable("Vol")->Int, 255);
}

// Server code that throws into the module: the entry it came through goes on
// (nothing escapes into the server), one debug line names that entry, and
// memory running out answers its own result code.
TEST_F(CallingBack, AnExceptionAtAnEntryLeavesOneDebugLineNamingIt) {
  Store(1, "VolumeVar", "v");
  Create(1);
  variables.onWrite = [] { throw std::runtime_error("an event script failed"); };
  world.Advance(250);
  using Lines = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(debug.lines, (Lines{{"EXCEPTION", "a timer's tick"}}));
  debug.lines.clear();
  TKDORef<IKDOWinampControl> c = Control(1);
  const TKDOText file("a.mp3");
  sim::FailTextAllocations(1);  // the debug line's copy of the file name
  EXPECT_EQ(c->AddFile(file.get()), KDO_E_OUTOFMEMORY);
  EXPECT_EQ(debug.lines, (Lines{{"EXCEPTION", "IKDOWinampControl.AddFile"}}));
  world.Advance(250);
  EXPECT_EQ(variables.writes, 2) << "the instance goes on";
  debug.lines.clear();
  variables.onWrite = [] { throw std::runtime_error("an event script failed"); };
  Call(1, "WAC_SetVolume", {Value::I(9)});  // the setter writes its variable at once
  EXPECT_EQ(debug.lines, (Lines{{"EXCEPTION", "the script function handler"}}));
}

TEST_F(CallingBack, InstanceDeletedByAWriteOfItsOwnTickGoesWhenTheTickEnds) {
  for (const auto& item : testdata::AllMirrored()) Store(1, item.first, item.first);
  Create(1);
  Model(1).Add("a.mp3");  // every item has something to write
  variables.writes = 0;
  variables.onWrite = [&] { EXPECT_TRUE(server.DestroyInstance(1)); };
  world.Advance(250);
  EXPECT_EQ(server.Instance(1), nullptr);
  EXPECT_EQ(variables.writes, 7) << "the tick runs to its end";
  EXPECT_EQ(Player(1), nullptr) << "then the instance goes and closes its player";
  EXPECT_EQ(server.FunctionCount(), 0u);
  world.Advance(5000);
  EXPECT_EQ(variables.writes, 7) << "no tick after that";
}
}  // namespace
}  // namespace instancetest
