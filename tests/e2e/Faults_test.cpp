// Players that misbehave, on the real target: one that hangs, one killed from
// outside, one that replies addresses nobody can read. The server's thread
// must never wait longer than the send limit per hang, every call must keep
// answering, and each case ends with the server responsive and its references
// balanced. The instances come from the loaded DLL and start their own
// player.exe from the stored location.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/KDOHost.h"
#include "LoadedModule.h"
#include "ModuleUnderTest.h"
#include "control/Device.WinampControl_Types.h"
#include "E2E.h"
#include "PlayerNumbers.h"
#include "platform/Platform.h"
#include "player/PlayerModel.h"
#include "SettingsKeys.h"
#include "host/win32/LoopLoad.h"

namespace {

using Clock = std::chrono::steady_clock;
using host::Value;

constexpr unsigned kSendLimitMs = platform::kSendTimeoutMs;
// Wine and a loaded machine add to every wait; still far below a second message's worth.
constexpr unsigned kSlackMs = 1000;
using player::control::kHang;
using player::control::kReplyDelay;
constexpr uint32_t kGarbage = player::control::kGarbageAddresses;
namespace pn = playernumbers;

using e2e::PumpUntil;

// The folder of the test program, with its separator.
std::string Directory() { return e2e::HostDirectory() + "\\"; }

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Runs the message loop for `ms`; the longest the loop was held by one dispatch (the status ticks).
long long LongestStall(unsigned ms) {
  long long longest = 0;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    const auto t = Clock::now();
    host::PumpMessages(10);
    longest = std::max(longest, MsSince(t) - 10);
  }
  return longest;
}

class Faults : public LoadedModuleTest {
 protected:
  void SetUp() override {
    // Its own player class per test, apart from the other tests' (which run at the same time).
    id = uint16_t(42000 + ::testing::UnitTest::GetInstance()->current_test_info()->line() % 1000);
    className = "WA_KDO_" + std::to_string(id);
    KillPlayer();
    ASSERT_NO_FATAL_FAILURE(LoadedModuleTest::SetUp());
    server.SetSetting(id, "Settings", "WinampLocation", Directory() + "player.exe");
  }
  void TearDown() override {
    LoadedModuleTest::TearDown();
    KillPlayer();
  }
  // A variable "Fault<key>" for each chosen settings key, then the instance, bound to its player.
  void Start(std::vector<std::pair<std::string, Value>> items) {
    for (const auto& [key, initial] : items) {
      server.DefineVariable("Fault" + key, initial);
      server.SetSetting(id, "Settings", key, "Fault" + key);
    }
    ASSERT_EQ(server.CreateInstance(info->ModuleID, id), KDO_S_OK);
    ASSERT_TRUE(PumpUntil([&] { return Window() != nullptr; }, 15000)) << "the instance starts its player";
    ASSERT_TRUE(PumpUntil([&] { return Call("WAC_GetPlaylistLength").Int == 0; }, 5000)) << "and binds to it";
  }
  HWND Window() const { return FindWindowA(className.c_str(), nullptr); }
  void KillPlayer() { e2e::KillPlayers(className); }
  host::CallResult Call(const std::string& name, std::vector<Value> params = {}, host::CallResult initial = {}) {
    host::CallResult r = server.Call(name, id, params, initial);
    EXPECT_TRUE(r.Routed) << name;
    return r;
  }
  // A call, with the time it took in `ms`.
  host::CallResult Timed(long long& ms, const std::string& name, std::vector<Value> params = {},
                         host::CallResult initial = {}) {
    const auto t = Clock::now();
    host::CallResult r = Call(name, std::move(params), initial);
    ms = MsSince(t);
    return r;
  }
  Value Var(const std::string& key) const { return server.Variable(key).value_or(Value::S("<undefined>")); }

  uint16_t id = 0;
  std::string className;
};

TEST_F(Faults, HungPlayerCostsEachMessageAtMostTheSendLimitAndIsUsedAgainAfterwards) {
  Start({{"VolumeVar", Value::I(0)}});  // one message per tick
  Call("WAC_AddFile", {Value::S("C:\\Music\\Song.mp3")});
  ASSERT_TRUE(PumpUntil([&] { return Var("FaultVolumeVar").Int == 255; }, 3000));
  ASSERT_TRUE(PostMessageA(Window(), pn::kWmUser, 9000, kHang));  // sleeps 9 s inside its window procedure
  Sleep(200);

  long long ms = 0;
  EXPECT_EQ(Timed(ms, "WAC_Play").Bool, 1);
  EXPECT_LE(ms, kSendLimitMs + kSlackMs) << "one message";
  EXPECT_EQ(Timed(ms, "WAC_GetPlaylistLength").Int, -1) << "a player that does not answer counts as none";
  EXPECT_LE(ms, kSendLimitMs + kSlackMs) << "one message";
  EXPECT_EQ(Timed(ms, "WAC_GetPlaylistTitle", {Value::I(1)}, {false, 0, 0, "stale"}).Str, "");
  EXPECT_LE(ms, kSendLimitMs + kSlackMs) << "the length says there is nothing to read";
  EXPECT_LE(LongestStall(1000), (long long)kSlackMs) << "ticks ask nothing while the player does not answer";
  EXPECT_EQ(Var("FaultVolumeVar").Int, 255) << "the variable keeps the player's last real value";

  ASSERT_TRUE(PumpUntil([&] { return Call("WAC_GetPlaylistLength").Int == 1; }, 12000)) << "answers again";
  EXPECT_EQ(Call("WAC_GetPlaylistTitle", {Value::I(1)}).Str, "Song");
  EXPECT_TRUE(PumpUntil([&] { return Var("FaultVolumeVar").Int == 255; }, 2000)) << "the mirror follows again";
  EXPECT_EQ(server.Instance(id)->GetReferenceCount(), 1);
}

TEST_F(Faults, PlayerHungFor8SecondsHoldsTheServerOneLimitAtMostAndIsPolledAgainAtOnce) {
  Start(testdata::AllMirrored());
  Call("WAC_AddFile", {Value::S("C:\\Music\\Song.mp3")});
  Call("WAC_SetRepeat", {Value::B(true)});
  ASSERT_TRUE(PumpUntil([&] { return Var("FaultTrackTitleVar").Str == "Song" && Var("FaultRepeatVar").Bool; }, 3000));
  const std::string length = Var("FaultTrackLenVar").Str;

  const auto hangEnds = Clock::now() + std::chrono::milliseconds(8000);
  ASSERT_TRUE(PostMessageA(Window(), pn::kWmUser, 8000, kHang));
  server.DefineVariable("FaultVolumeVar", Value::I(7));  // by hand: a poll would set it back to 255
  const long long longest = LongestStall(7500);
  EXPECT_LT(longest, 2500) << "one send limit, not one per message";
  EXPECT_EQ(Var("FaultVolumeVar").Int, 7) << "nothing written while the player does not answer";
  EXPECT_EQ(Var("FaultTrackTitleVar").Str, "Song");
  EXPECT_EQ(Var("FaultTrackFileVar").Str, "C:\\Music\\Song.mp3");
  EXPECT_EQ(Var("FaultTrackLenVar").Str, length);
  EXPECT_EQ(Var("FaultRepeatVar").Bool, true);

  ASSERT_TRUE(PumpUntil([&] { return Var("FaultVolumeVar").Int == 255; }, 5000)) << "polled again";
  const long long late = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - hangEnds).count();
  std::printf("[          ] longest dispatch during the hang %lld ms (send limit %u ms); polled again %lld ms after it\n",
              longest, kSendLimitMs, late);
  // Within a second of answering, where resting three times as long as it waited would take six;
  // the slack is a busy machine's.
  EXPECT_LE(late, 1000 + (long long)kSlackMs) << "soon after answering, not after a rest";
}

// The instance goes while its player hangs: nothing waits for the close
// command, and the player closes once it comes back instead of lingering.
TEST_F(Faults, HungPlayerOfADestroyedInstanceClosesWhenItComesBack) {
  Start({{"VolumeVar", Value::I(0)}});
  const HWND player = Window();
  ASSERT_TRUE(PostMessageA(player, pn::kWmUser, 5000, kHang));
  Sleep(200);
  long long ms = 0;
  EXPECT_EQ(Timed(ms, "WAC_GetPlaylistLength").Int, -1) << "given up";
  const auto t = Clock::now();
  server.DestroyAllInstances();
  EXPECT_LE(MsSince(t), (long long)kSlackMs) << "destruction does not wait on the hung player";
  EXPECT_TRUE(IsWindow(player)) << "still hanging";
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(player); }, 10000)) << "closed once it answered again";
}

// The player answers every message after 300 ms, then after 1.9 s: each is
// still asked and never counted as hung; once an answer has taken a whole
// budget, the mirror asks without waiting, so the thread waits for one answer
// at most (the one that showed the player slow), and a new entry's file and
// title still come within a minute.
TEST_F(Faults, SlowPlayerIsAskedWithoutWaitingAndANewEntryComesWithinAMinute) {
  Start(testdata::AllMirrored());
  Call("WAC_AddFile", {Value::S("C:\\Music\\Song.mp3")});
  ASSERT_TRUE(PumpUntil([&] { return Var("FaultTrackTitleVar").Str == "Song"; }, 3000));
  for (unsigned delay : {300u, 1900u}) {
    DWORD_PTR reply = 0;
    ASSERT_TRUE(SendMessageTimeoutA(Window(), pn::kWmUser, delay, kReplyDelay, SMTO_NORMAL, 5000, &reply));
    server.DefineVariable("FaultVolumeVar", Value::I(7));  // by hand: the mirror sets it back in its turn
    const host::LoopLoad load = host::RunLoopTimed(delay == 300 ? 12000 : 30000);
    std::printf("[          ] answers after %u ms: longest dispatch %.0f ms, share of the thread %.1f %%\n", delay,
                load.LongestMs, 100.0 * load.Share);
    EXPECT_LT(load.LongestMs, delay + 250.0) << "one answer per dispatch at most";
    EXPECT_LT(load.LongestMs, double(kSendLimitMs)) << "never longer than one send limit";
    EXPECT_LE(load.Share, 0.1) << "the thread does not wait for the mirror's answers";
    EXPECT_EQ(Var("FaultTrackTitleVar").Str, "Song") << "nothing written from an answer not given";
    EXPECT_EQ(Var("FaultVolumeVar").Int, 255) << "every item in turn";
  }
  Call("WAC_AddFile", {Value::S("C:\\Music\\Next One.mp3")});
  Call("WAC_SetPlaylistPosition", {Value::I(2)});
  const auto changed = Clock::now();
  EXPECT_TRUE(PumpUntil([&] {
    return Var("FaultTrackFileVar").Str == "C:\\Music\\Next One.mp3" && Var("FaultTrackTitleVar").Str == "Next One";
  }, 60000)) << "a new entry's file and title within a minute";
  std::printf("[          ] answers after 1900 ms: a new entry's file and title after %lld ms\n", MsSince(changed));
  // A script's call waits one send limit in all: the answer, or none where it would wait behind the mirror's question.
  long long ms = 0;
  const int32_t length = Timed(ms, "WAC_GetPlaylistLength").Int;
  EXPECT_TRUE(length == 2 || length == -1) << length;
  EXPECT_GE(ms, length == 2 ? 1900 : 0);
  EXPECT_LE(ms, kSendLimitMs + kSlackMs);
  // An insertion takes more messages than a slow player answers within the limit: it waits its turn,
  // taken at once, and is put and played one message at a time.
  EXPECT_EQ(Timed(ms, "WAC_PlayNow", {Value::S("C:\\Music\\Inserted.mp3")}).Bool, 1);
  EXPECT_LE(ms, kSendLimitMs + kSlackMs);
  const auto inserted = Clock::now();
  EXPECT_TRUE(PumpUntil([&] { return Var("FaultTrackFileVar").Str == "C:\\Music\\Inserted.mp3"; }, 120000))
      << "put after the current entry and played";
  std::printf("[          ] answers after 1900 ms: an entry played now shows after %lld ms\n", MsSince(inserted));
}

// A player answering in 300 ms is asked without waiting by the announcer too: the call answers within
// one send limit, the announcement plays and the music comes back, and no dispatch waits for more than one
// answer meanwhile.
TEST_F(Faults, ASlowPlayersAnnouncementPlaysAndTheMusicComesBackWithoutTheServerWaiting) {
  Start({{"TrackFileVar", Value::S("")}, {"PlayStateVar", Value::I(0)}});
  Call("WAC_AddFile", {Value::S("C:\\Music\\Song.mp3")});
  Call("WAC_AddFile", {Value::S("C:\\Music\\Other.mp3")});
  Call("WAC_Play");
  ASSERT_TRUE(PumpUntil([&] { return Var("FaultPlayStateVar").Int == 1; }, 3000));
  DWORD_PTR reply = 0;
  ASSERT_TRUE(SendMessageTimeoutA(Window(), pn::kWmUser, 300, kReplyDelay, SMTO_NORMAL, 5000, &reply));
  host::RunLoopTimed(5000);  // the mirror finds it slow
  const std::string announcement = "C:\\Sounds\\Bell (3s).wav";
  long long ms = 0;
  EXPECT_EQ(Timed(ms, "WAC_Announce", {Value::S(announcement), Value::I(200)}).Bool, 1);
  EXPECT_LE(ms, kSendLimitMs + kSlackMs);
  // The player's own word, asked between runs of the loop (the mirror shows a 3 s announcement only by chance);
  // SMTO_BLOCK, so that the module's answers all come in the loop, where their dispatches are timed.
  auto ask = [&](uint32_t request) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(Window(), pn::kWmUser, 0, request, SMTO_BLOCK, 5000, &answer);
    return int32_t(answer);
  };
  double longest = 0;
  auto loopUntil = [&](const std::function<bool()>& done) {
    const auto began = Clock::now();
    while (MsSince(began) < 90000) {
      longest = std::max(longest, host::RunLoopTimed(250).LongestMs);
      if (done()) return true;
    }
    return false;
  };
  const auto called = Clock::now();
  ASSERT_TRUE(loopUntil([&] { return ask(pn::user::kCount) == 3 && ask(pn::user::kCurrent) == 2; }))
      << "the announcement is added and played";
  const long long announcementAfter = MsSince(called);
  EXPECT_TRUE(loopUntil([&] {
    return ask(pn::user::kCount) == 2 && ask(pn::user::kCurrent) == 0 && ask(pn::user::kPlayState) == 1;
  })) << "the announcement's entry went and the music is back";
  std::printf("[          ] answers after 300 ms: the announcement played after %lld ms, the music back after %lld ms; "
              "longest dispatch %.0f ms\n", announcementAfter, MsSince(called), longest);
  EXPECT_LT(longest, double(kSendLimitMs)) << "never longer than one send limit";
  EXPECT_TRUE(loopUntil([&] { return Var("FaultTrackFileVar").Str == "C:\\Music\\Song.mp3"; }));
}

TEST_F(Faults, KilledPlayerGivesZeroRepliesAtOnceAndANewLocationStartsAnother) {
  Start({{"TrackFileVar", Value::S("")}, {"TrackTitleVar", Value::S("")}, {"VolumeVar", Value::I(0)},
         {"RepeatVar", Value::B(false)}});
  Call("WAC_AddFile", {Value::S("C:\\Music\\Song.mp3")});
  Call("WAC_SetRepeat", {Value::B(true)});
  ASSERT_TRUE(
      PumpUntil([&] { return Var("FaultTrackTitleVar").Str == "Song" && Var("FaultVolumeVar").Int == 255; }, 3000));
  const HWND dead = Window();
  KillPlayer();
  ASSERT_FALSE(IsWindow(dead));

  long long ms = 0;
  EXPECT_EQ(Timed(ms, "WAC_GetPlaylistLength").Int, 0);
  EXPECT_LE(ms, kSlackMs) << "a window that is gone answers at once";
  EXPECT_EQ(Timed(ms, "WAC_GetPlaylistPosition").Int, 1);
  EXPECT_LE(ms, kSlackMs);
  EXPECT_EQ(Timed(ms, "WAC_GetPlaylistFile", {Value::I(1)}, {false, 0, 0, "stale"}).Str, "");
  EXPECT_LE(ms, kSlackMs);
  EXPECT_EQ(Timed(ms, "WAC_Play").Bool, 1);
  EXPECT_LE(ms, kSlackMs);
  EXPECT_LE(LongestStall(1000), (long long)kSlackMs) << "ticks against the dead handle do not wait";
  EXPECT_EQ(Var("FaultVolumeVar").Int, 0);
  EXPECT_EQ(Var("FaultRepeatVar").Bool, false);
  EXPECT_EQ(Var("FaultTrackFileVar").Str, "");
  EXPECT_EQ(Var("FaultTrackTitleVar").Str, "");

  // The server goes on: a location written differently lets go of the dead player and starts a new one.
  TKDORef<IKDOWinampControl> c;
  ASSERT_EQ(server.Instance(id)->QueryInterface(IID_IKDOWinampControl, c.put()), KDO_S_OK);
  TKDOWinampControlSettings s;
  c->GetSettings(&s);
  s.WinampLocation = TKDOText(Directory() + ".\\player.exe");
  EXPECT_EQ(c->SetSettings(KDOSettingsValue(s)), KDO_S_OK);
  c.reset();
  ASSERT_TRUE(PumpUntil([&] { return Window() != nullptr; }, 15000));
  EXPECT_TRUE(PumpUntil([&] { return Var("FaultVolumeVar").Int == 255; }, 5000)) << "bound and mirrored";
  Call("WAC_AddFile", {Value::S("C:\\Music\\Again.mp3")});
  EXPECT_EQ(Call("WAC_GetPlaylistTitle", {Value::I(1)}).Str, "Again");
}

TEST_F(Faults, GarbageAddressesGiveEmptyTextsAndNothingElseChanges) {
  Start({{"TrackFileVar", Value::S("")}, {"TrackTitleVar", Value::S("")}, {"VolumeVar", Value::I(0)}});
  Call("WAC_AddFile", {Value::S("C:\\Music\\First.mp3")});
  Call("WAC_AddFile", {Value::S("C:\\Music\\Second.mp3")});
  ASSERT_TRUE(PumpUntil([&] { return Var("FaultTrackFileVar").Str == "C:\\Music\\First.mp3"; }, 3000));
  DWORD_PTR reply = 0;
  ASSERT_TRUE(SendMessageTimeoutA(Window(), pn::kWmUser, 1, kGarbage, SMTO_NORMAL, 2000, &reply));

  EXPECT_EQ(Call("WAC_GetPlaylistFile", {Value::I(1)}, {false, 0, 0, "stale"}).Str, "");
  EXPECT_EQ(Call("WAC_GetPlaylistTitle", {Value::I(2)}, {false, 0, 0, "stale"}).Str, "");
  EXPECT_TRUE(
      PumpUntil([&] { return Var("FaultTrackFileVar").Str.empty() && Var("FaultTrackTitleVar").Str.empty(); }, 2000));
  EXPECT_EQ(Call("WAC_GetPlaylistLength").Int, 2);
  EXPECT_EQ(Var("FaultVolumeVar").Int, 255);

  ASSERT_TRUE(SendMessageTimeoutA(Window(), pn::kWmUser, 0, kGarbage, SMTO_NORMAL, 2000, &reply));
  EXPECT_EQ(Call("WAC_GetPlaylistTitle", {Value::I(2)}).Str, "Second");
  EXPECT_TRUE(PumpUntil([&] { return Var("FaultTrackTitleVar").Str == "First"; }, 2000));
}

}  // namespace
