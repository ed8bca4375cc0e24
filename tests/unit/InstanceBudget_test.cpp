// The server's thread waits one send limit at most in any one dispatch: every script function,
// however slow the player, whatever the announcer owes it, and a tick whose player hangs halfway.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "InstanceFixture.h"
#include "SettingsKeys.h"
#include "platform/Platform.h"

namespace instancetest {
namespace {

using host::Value;
constexpr int64_t kLimit = platform::kSendTimeoutMs;

struct ScriptCall {
  const char* Name;
  std::vector<Value> Params;
};

// Every function, with parameters that make it do all it can (an entry in range, a file to add).
const std::vector<ScriptCall>& EveryFunction() {
  static const std::vector<ScriptCall> calls = {
      {"WAC_AddFile", {Value::S("C:\\Music\\Added.mp3")}},
      {"WAC_ClearPlaylist", {}},
      {"WAC_GetPlaylistLength", {}},
      {"WAC_GetPlaylistPosition", {}},
      {"WAC_SetPlaylistPosition", {Value::I(3)}},
      {"WAC_GetPlaylistFile", {Value::I(2)}},
      {"WAC_GetPlaylistTitle", {Value::I(2)}},
      {"WAC_Play", {}},
      {"WAC_Stop", {}},
      {"WAC_Pause", {}},
      {"WAC_Prev", {}},
      {"WAC_Next", {}},
      {"WAC_SetVolume", {Value::I(120)}},
      {"WAC_SetShuffle", {Value::B(true)}},
      {"WAC_SetRepeat", {Value::B(true)}},
      {"WAC_GetPlayState", {}},
      {"WAC_GetTrackPosition", {}},
      {"WAC_GetTrackLength", {}},
      {"WAC_SetTrackPosition", {Value::I(20)}},
      {"WAC_GetVolume", {}},
      {"WAC_FadeVolume", {Value::I(40), Value::I(0)}},
      {"WAC_DeletePlaylistEntry", {Value::I(5)}},
      {"WAC_SaveState", {}},
      {"WAC_RestoreState", {}},
      {"WAC_Announce", {Value::S("C:\\Sounds\\Bell.wav"), Value::I(200)}},
      {"WAC_GetMetadata", {Value::S("artist")}},
      {"WAC_InsertFile", {Value::S("C:\\Music\\Inserted.mp3"), Value::I(2)}},
      {"WAC_PlayNext", {Value::S("C:\\Music\\Next.mp3")}},
      {"WAC_PlayNow", {Value::S("C:\\Music\\Now.mp3")}},
  };
  return calls;
}

class Budget : public InstanceTest {
 protected:
  // A room playing entry 700 of 1,500, every item mirrored, a state saved for the scripts.
  void Room() {
    testdata::ChooseAll(server, 1, [](const std::string& key) { return "b_" + key; });
    Create(1);
    for (int i = 0; i < 1500; ++i) Model(1).Add("C:\\Music\\" + std::to_string(i) + ".mp3");
    Model(1).OnUser(700, pn::user::kSetCurrent);
    Model(1).OnCommand(pn::cmd::kPlay);
    Call(1, "WAC_SaveState");
    world.Advance(1000);
  }
  // The announcer owes the player a search: the music's entry went while an announcement played.
  void AnnouncementWhoseMusicWent() {
    Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Announcement.wav"), Value::I(230)});
    Model(1).Remove(700);
  }
};

TEST_F(Budget, NoDispatchHoldsTheThreadLongerThanOneSendLimit) {
  struct Situation {
    const char* Name;
    uint32_t AnswerMs;
    bool Announcing;  // during an announcement whose music's entry went
  };
  const Situation situations[] = {
      {"a quick player", 0, false},
      {"a player answering in 1.9 s", 1900, false},
      {"a player answering in 1.9 s, during an announcement", 1900, true},
      {"a quick player, during an announcement", 0, true},
  };
  std::map<std::string, std::vector<int64_t>> held;  // by function, one per situation
  for (const Situation& s : situations) {
    for (const ScriptCall& call : EveryFunction()) {
      SCOPED_TRACE(std::string(s.Name) + ": " + call.Name);
      Room();
      if (s.Announcing) AnnouncementWhoseMusicWent();
      Player(1)->SetReplyDelay(s.AnswerMs);
      world.Advance(20000);  // the mirror has found the player slow
      world.ResetLongestDispatch();
      const int64_t began = world.ElapsedMs();
      Call(1, call.Name, call.Params);
      held[call.Name].push_back(world.ElapsedMs() - began);
      EXPECT_LE(held[call.Name].back(), kLimit);
      world.Advance(60000);  // what the call left to the ticks
      EXPECT_LE(world.LongestDispatchMs(), kLimit) << "a tick or an answer after it";
      Player(1)->SetReplyDelay(0);
      server.DestroyInstance(1);
      world.Advance(5000);  // its player closed
    }
  }
  std::printf("[          ] ms the call held the thread: quick | 1.9 s | 1.9 s announcing | quick announcing\n");
  for (const auto& [name, ms] : held) {
    std::printf("[          ] %-24s", name.c_str());
    for (const int64_t m : ms) std::printf(" %5lld", (long long)m);
    std::printf("\n");
  }
}

// Commands to a player answering in 1.9 s while the mirror's question is out: none waits behind it
// (an event script's, with less of its dispatch left, would be lost there); they wait their turn and
// are carried out in order once the player has answered.
TEST_F(Budget, CommandsBehindTheMirrorsQuestionWaitTheirTurnInOrder) {
  Room();
  Player(1)->SetReplyDelay(1900);
  world.Advance(20000);  // slow: the mirror asks without waiting
  for (const int asked = world.QuestionsAsked(); world.QuestionsAsked() == asked;) world.Advance(10);
  const int64_t called = world.ElapsedMs();
  const struct {
    const char* Name;
    std::vector<Value> Params;
  } calls[] = {
      {"WAC_Next", {}},
      {"WAC_PlayNext", {Value::S("C:\\Music\\next.mp3")}},
      {"WAC_InsertFile", {Value::S("C:\\Music\\first.mp3"), Value::I(1)}},
      {"WAC_InsertFile", {Value::S("C:\\Music\\nowhere.mp3"), Value::I(5000)}},  // past the end: not put
      {"WAC_Next", {}},
      {"WAC_PlayNow", {Value::S("C:\\Music\\now.mp3")}},
      {"WAC_SetVolume", {Value::I(77)}},
      {"WAC_Pause", {}},
  };
  for (const auto& call : calls) EXPECT_EQ(Call(1, call.Name, call.Params).Bool, 1) << call.Name;
  EXPECT_EQ(world.ElapsedMs(), called) << "no call waited behind the mirror's question";
  world.Advance(60000);
  Player(1)->CatchUp();
  const player::PlayerModel& m = Model(1);
  ASSERT_EQ(m.Count(), 1503u);
  EXPECT_EQ(m.At(0).FileName, "C:\\Music\\first.mp3");
  EXPECT_EQ(m.At(703).FileName, "C:\\Music\\next.mp3");
  EXPECT_EQ(m.At(704).FileName, "C:\\Music\\now.mp3");
  EXPECT_EQ(m.CurrentIndex(), 704) << "in the order given";
  EXPECT_EQ(m.State(), player::PlayState::Paused);
  EXPECT_EQ(m.Volume(), 77);
}

// A tick whose first answer takes 240 ms and whose player then hangs: the rest of its one send limit, no more.
TEST_F(Budget, ATickWhosePlayerHangsHalfwayWaitsTheRestOfOneLimit) {
  Room();
  Player(1)->SetReplyDelay(240);
  int sends = 0;
  world.OnSend = [&](const sim::SentMessage&) {
    if (++sends == 2) world.SetHung(Player(1)->Window(), true);
  };
  world.ResetLongestDispatch();
  world.Advance(30000);
  world.OnSend = nullptr;
  EXPECT_GE(sends, 2);
  EXPECT_EQ(world.LongestDispatchMs(), kLimit) << "240 ms, then the hang until the tick's limit";
}

}  // namespace
}  // namespace instancetest
