// The volume, the playlist's entries, the player's saved state and
// announcements, through the server's dispatcher and the status ticks.
#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "InstanceFixture.h"
#include "SettingsKeys.h"

namespace instancetest {
namespace {

using host::Value;
using player::PlayState;
using sent::kMain;
using sent::kPlaylist;
using sent::kSent;
namespace ask = sent::ask;

class Room : public InstanceTest {
 protected:
  // Two songs, the first playing 30 s in, at volume 180, repeat on.
  void MusicPlays() {
    Create(1);
    Call(1, "WAC_AddFile", {Value::S("C:\\Music\\One.mp3")});
    Call(1, "WAC_AddFile", {Value::S("C:\\Music\\Two.mp3")});
    Call(1, "WAC_Play");
    Call(1, "WAC_SetTrackPosition", {Value::I(30)});
    Call(1, "WAC_SetVolume", {Value::I(180)});
    Call(1, "WAC_SetRepeat", {Value::B(true)});
    world.ClearSent();
  }
  // The player takes 2.6 s inside the announcement's add: the send is given up, and the player still adds it.
  void AnnounceWithASlowAdd() {
    MusicPlays();
    Player(1)->SetHandlingTime([](const sim::SentMessage& m) -> std::optional<uint32_t> {
      if (m.Message == pn::kWmCopyData) return 2600;
      return std::nullopt;
    });
    Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Announcement.wav"), Value::I(250)});
  }
  // The music as it was: the first song 30 s in (and what has played since), at its volume.
  void ExpectMusicBack(int64_t playedSinceMs) {
    player::PlayerModel& m = Model(1);
    EXPECT_EQ(m.Count(), 2u);
    EXPECT_EQ(m.CurrentIndex(), 0);
    EXPECT_EQ(m.State(), PlayState::Playing);
    EXPECT_EQ(m.PositionMs(), 30000 + playedSinceMs);
    EXPECT_EQ(m.Volume(), 180);
    EXPECT_TRUE(m.Repeat());
    EXPECT_FALSE(m.ManualAdvance()) << "put back as it was";
  }
  int Sends(uint32_t lParam) const {
    return int(std::count_if(world.Sent().begin(), world.Sent().end(),
                             [&](const sim::SentMessage& m) {
                               return m.Message == pn::kWmUser && m.LParam == lParam;
                             }));
  }
};

// What each asks and tells the player, in order, and to which window: an entry
// goes through the playlist window the main window names, the request in
// wParam and the index from 0 in lParam.
TEST_F(Room, EachFunctionsMessagesOnTheWire) {
  const sent::Sequence state = {ask::kCurrent, ask::kPosition, ask::kPlayState,
                                ask::kVolume,  ask::kShuffle,  ask::kRepeat};
  sent::Sequence announce = state;
  // The music's file, to find its entry again; the announcement's entry counted before and after it is added.
  announce.insert(announce.end(), {
                                      ask::File(0),
                                      ask::kManualAdvance,
                                      ask::kCount,
                                      {kSent, kMain, pn::kWmCopyData, 0, 0},  // the record's address, compared apart
                                      ask::kCount,
                                      {kSent, kMain, pn::kWmUser, 1, pn::user::kSetManualAdvance},
                                      {kSent, kMain, pn::kWmUser, 2, pn::user::kSetCurrent},
                                      {kSent, kMain, pn::kWmUser, 230, pn::user::kVolume},
                                      {kSent, kMain, pn::kWmCommand, pn::cmd::kPlay, 0},
                                      // the playlist window for the removal, asked while the announcement plays
                                      {kSent, kMain, pn::kWmUser, pn::user::kPlaylistHandle, pn::user::kPlaylistWindow},
                                  });
  const sent::Sequence removeTheSecond = {
      ask::kCount,
      {kSent, kMain, pn::kWmUser, pn::user::kPlaylistHandle, pn::user::kPlaylistWindow},
      {kSent, kPlaylist, pn::kWmUser, pn::playlist::kRemove, 1},
  };
  MusicPlays();
  EXPECT_EQ(Call(1, "WAC_GetVolume").Int, 180);
  for (const auto& [name, params, wire] : std::vector<std::tuple<const char*, std::vector<Value>, sent::Sequence>>{
           {"WAC_GetVolume", {}, {ask::kVolume}},
           {"WAC_FadeVolume", {Value::I(70), Value::I(0)},
            {ask::kVolume, {kSent, kMain, pn::kWmUser, 70, pn::user::kVolume}}},
           {"WAC_SaveState", {}, state},
           {"WAC_Announce", {Value::S("C:\\Announcement.wav"), Value::I(230)}, announce},
           {"WAC_DeletePlaylistEntry", {Value::I(2)}, removeTheSecond}}) {
    world.ClearSent();
    Call(1, name, params);
    sent::Sequence got = Traffic(1);
    for (sent::Msg& m : got)
      if (m.Message == pn::kWmCopyData) m.LParam = 0;
    EXPECT_EQ(got, wire) << name;
  }
  EXPECT_EQ(Model(1).Count(), 2u) << "the second went, the announcement is last";
  EXPECT_EQ(Model(1).At(1).FileName, "C:\\Announcement.wav");
  for (int32_t position : {0, 3, -1})
    EXPECT_EQ(Call(1, "WAC_DeletePlaylistEntry", {Value::I(position)}).Bool, 0) << position;
  EXPECT_EQ(Model(1).Count(), 2u);
}

// Each 250 ms tick moves the volume a step along the line from where the
// player was to the target, which it reaches when the time is up.
TEST_F(Room, AFadeStepsEvenlyAndEndsOnTimeOrAtTheNextVolumeCommand) {
  MusicPlays();
  ASSERT_EQ(Call(1, "WAC_FadeVolume", {Value::I(80), Value::I(1)}).Bool, 1);
  std::vector<int32_t> steps;
  for (int i = 0; i < 6; ++i) {
    world.Advance(250);
    steps.push_back(Model(1).Volume());
  }
  EXPECT_EQ(steps, (std::vector<int32_t>{155, 130, 105, 80, 80, 80}));

  ASSERT_EQ(Call(1, "WAC_FadeVolume", {Value::I(280), Value::I(10)}).Bool, 1);  // held to 255
  world.Advance(500);
  EXPECT_EQ(Model(1).Volume(), 80 + 175 * 500 / 10000);
  Call(1, "WAC_SetVolume", {Value::I(20)});
  world.Advance(2000);
  EXPECT_EQ(Model(1).Volume(), 20) << "the volume command ended the fade";

  EXPECT_EQ(Call(1, "WAC_FadeVolume", {Value::I(-4), Value::I(-1)}).Bool, 1);
  EXPECT_EQ(Model(1).Volume(), 0) << "no time: at once";
}

// Volume first; the entry; playing, the start, then the jump, then a pause
// when it was paused; stopped, a stop.
TEST_F(Room, SaveAndRestoreInEachPlayState) {
  const sent::Msg kPlay = {kSent, kMain, pn::kWmCommand, pn::cmd::kPlay, 0};
  const sent::Msg kJumpBack = {kSent, kMain, pn::kWmUser, 30000, pn::user::kJump};
  for (const auto& [state, pause, tail] : std::vector<std::tuple<PlayState, bool, sent::Sequence>>{
           {PlayState::Playing, false, {kPlay, kJumpBack}},
           {PlayState::Paused, true, {kPlay, kJumpBack, {kSent, kMain, pn::kWmCommand, pn::cmd::kPause, 0}}},
           {PlayState::Stopped, false, {{kSent, kMain, pn::kWmCommand, pn::cmd::kStop, 0}}}}) {
    SCOPED_TRACE(int(state));
    MusicPlays();
    if (pause) Call(1, "WAC_Pause");
    if (state == PlayState::Stopped) Call(1, "WAC_Stop");
    EXPECT_EQ(Call(1, "WAC_RestoreState").Bool, 0) << "nothing saved yet";
    ASSERT_EQ(Call(1, "WAC_SaveState").Bool, 1);
    Call(1, "WAC_SetPlaylistPosition", {Value::I(2)});
    Call(1, "WAC_Play");
    Call(1, "WAC_SetVolume", {Value::I(9)});
    Call(1, "WAC_SetRepeat", {Value::B(false)});
    world.ClearSent();
    ASSERT_EQ(Call(1, "WAC_RestoreState").Bool, 1);
    const sent::Sequence wire = Traffic(1);
    ASSERT_GE(wire.size(), tail.size());
    EXPECT_EQ(wire.front(), (sent::Msg{kSent, kMain, pn::kWmUser, 180, pn::user::kVolume})) << "the volume first";
    EXPECT_EQ(sent::Sequence(wire.end() - tail.size(), wire.end()), tail);
    EXPECT_EQ(Model(1).CurrentIndex(), 0);
    EXPECT_EQ(Model(1).State(), state);
    EXPECT_EQ(Model(1).Volume(), 180);
    EXPECT_TRUE(Model(1).Repeat());
    server.DestroyInstance(1);
  }
}

// A restore that one send limit cannot finish (a player answering in 1.9 s) answers at once and goes
// on in the ticks until everything is put back, in the same order.
TEST_F(Room, ARestoreTheCallCannotFinishGoesOnInTheTicks) {
  MusicPlays();
  ASSERT_EQ(Call(1, "WAC_SaveState").Bool, 1);
  Call(1, "WAC_SetPlaylistPosition", {Value::I(2)});
  Call(1, "WAC_SetVolume", {Value::I(9)});
  Call(1, "WAC_SetRepeat", {Value::B(false)});
  Player(1)->SetReplyDelay(1900);
  world.Advance(20000);
  const int64_t called = world.ElapsedMs();
  ASSERT_EQ(Call(1, "WAC_RestoreState").Bool, 1);
  EXPECT_LE(world.ElapsedMs() - called, int64_t(platform::kSendTimeoutMs));
  const player::PlayerModel& m = Model(1);
  auto restored = [&] {
    return m.CurrentIndex() == 0 && m.Volume() == 180 && m.Repeat() && m.State() == PlayState::Playing &&
           m.PositionMs() >= 30000;
  };
  while (!restored() && world.ElapsedMs() - called < 120000) world.Advance(250);
  EXPECT_TRUE(restored()) << "all of it, not the part one send limit allowed";
}

// With a player answering in 1.9 s, what a skip during the announcement owes (the announcement stopped and taken off,
// the music's entry back) takes longer than the call: the skip itself waits its turn and comes after,
// neither lost nor undone by the entry put back.
TEST_F(Room, ASkipDuringAAnnouncementWaitsForWhatMovingOnOwesAndComesAfter) {
  testdata::ChooseAll(server, 1, [](const std::string& key) { return "v_" + key; });
  MusicPlays();
  ASSERT_EQ(Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Speech.wav"), Value::I(250)}).Bool, 1);
  player::PlayerModel& m = Model(1);
  m.SetLength(2, 600);
  Player(1)->SetReplyDelay(1900);
  world.Advance(20000);
  ASSERT_EQ(m.CurrentIndex(), 2) << "the speech plays";
  const int64_t called = world.ElapsedMs();
  Call(1, "WAC_Next");
  EXPECT_LE(world.ElapsedMs() - called, int64_t(platform::kSendTimeoutMs));
  world.Advance(120000);
  EXPECT_EQ(m.Count(), 2u) << "the speech's entry went";
  EXPECT_EQ(m.CurrentIndex(), 1) << "on from the music's entry";
  EXPECT_FALSE(m.ManualAdvance());
}

// With a player answering in 1.9 s the user skips the announcement in the player, and an event script
// announces again before the watch has seen the skip: the first is taken off and the room is the
// user's, and the second, taken after the skip, still rings, and the music after it is the user's;
// one taken before the skip, waiting behind the first, went with the room's move.
TEST_F(Room, AnAnnouncementTakenAfterAnUnnoticedSkipStillRings) {
  MusicPlays();
  player::PlayerModel& m = Model(1);
  Player(1)->SetReplyDelay(1900);
  world.Advance(20000);
  ASSERT_EQ(Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Speech.wav"), Value::I(250)}).Bool, 1);
  for (int tick = 0; tick < 400 && !(m.Count() == 3u && m.CurrentIndex() == 2); ++tick) world.Advance(250);
  m.SetLength(2, 600);
  world.Advance(20000);  // watched while it plays
  ASSERT_EQ(Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Early.wav"), Value::I(200)}).Bool, 1);
  world.Advance(20000);  // waits behind it, which is seen playing since
  Player(1)->CatchUp();
  m.OnCommand(player::command::kNext);  // the user skips it: on to the first entry, with repeat on
  ASSERT_EQ(Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Bell.wav"), Value::I(200)}).Bool, 1);
  bool rang = false, early = false;
  for (int tick = 0; tick < 1200; ++tick) {
    world.Advance(250);
    Player(1)->CatchUp();
    for (std::size_t i = 0; i < m.Count(); ++i) early |= m.At(i).FileName == "C:\\Sounds\\Early.wav";
    for (std::size_t i = 0; i < m.Count(); ++i)
      if (m.At(i).FileName == "C:\\Sounds\\Bell.wav") m.SetLength(int32_t(i), 3);
    rang |= m.Count() && m.At(std::size_t(m.CurrentIndex())).FileName == "C:\\Sounds\\Bell.wav" &&
            m.State() == PlayState::Playing;
  }
  EXPECT_TRUE(rang) << "taken, so it rings";
  EXPECT_FALSE(early) << "taken before the skip: the room moved on past it";
  ASSERT_EQ(m.Count(), 2u) << "both announcements' entries went";
  EXPECT_EQ(m.State(), PlayState::Playing) << "the music the user skipped to, played on";
  EXPECT_FALSE(m.ManualAdvance());
}

// The player takes 2.6 s inside the play or the pause of a restore: given up, yet carried out. Made a
// second time once the player answers, the play would start the track anew and the pause, a toggle,
// would resume it. A quick player's is a send given up; a slow one's is asked without waiting and
// not answered in time.
TEST_F(Room, APlayOrPauseGivenUpThatThePlayerStillCarriesOutIsNotMadeAgain) {
  MusicPlays();
  for (const auto& [command, delay] : std::vector<std::pair<uint32_t, uint32_t>>{
           {pn::cmd::kPause, 0}, {pn::cmd::kPause, 1900}, {pn::cmd::kPlay, 0}, {pn::cmd::kPlay, 1900}}) {
    SCOPED_TRACE(testing::Message() << command << " " << delay);
    const bool pause = command == pn::cmd::kPause;
    Call(1, "WAC_Play");
    if (pause) Call(1, "WAC_Pause");
    ASSERT_EQ(Call(1, "WAC_SaveState").Bool, 1);
    Call(1, pause ? "WAC_Play" : "WAC_Stop");
    Player(1)->SetReplyDelay(delay);
    world.Advance(20000);  // slow: from here on asked without waiting
    Player(1)->SetHandlingTime([command](const sim::SentMessage& m) -> std::optional<uint32_t> {
      if (m.Message == pn::kWmCommand && m.WParam == command) return 2600;
      return std::nullopt;
    });
    world.ClearSent();
    ASSERT_EQ(Call(1, "WAC_RestoreState").Bool, 1);
    world.Advance(60000);
    EXPECT_EQ(std::ranges::count(world.Sent(), command, &sim::SentMessage::WParam), 1) << "made once";
    EXPECT_EQ(Model(1).State(), pause ? PlayState::Paused : PlayState::Playing);
    Player(1)->SetHandlingTime({});
    Player(1)->SetReplyDelay(0);
  }
}

// The player takes 2.6 s to start any track: the announcement's play and the music's are each given up,
// yet carried out, and neither is made again.
TEST_F(Room, APlayerSlowToStartATrackIsToldToPlayOncePerTrack) {
  MusicPlays();
  Player(1)->SetHandlingTime([](const sim::SentMessage& m) -> std::optional<uint32_t> {
    if (m.Message == pn::kWmCommand && m.WParam == pn::cmd::kPlay) return 2600;
    return std::nullopt;
  });
  Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Announcement.wav"), Value::I(250)});
  world.Advance(10000);
  EXPECT_EQ(std::ranges::count(world.Sent(), pn::cmd::kPlay, &sim::SentMessage::WParam), 1) << "the announcement's";
  ASSERT_EQ(Model(1).CurrentIndex(), 2);
  Model(1).SetLength(2, 3);
  world.Advance(20000);
  EXPECT_EQ(std::ranges::count(world.Sent(), pn::cmd::kPlay, &sim::SentMessage::WParam), 2) << "and the music's";
  EXPECT_EQ(Model(1).Count(), 2u);
  EXPECT_EQ(Model(1).CurrentIndex(), 0);
  EXPECT_EQ(Model(1).State(), PlayState::Playing);
}

// The announcement's add is given up and lands; then, before the player answers again, the user loads more
// entries: the announcement is not the last entry, yet it is found where it went and not added again.
TEST_F(Room, AnAddThatLandedBeforeTheUsersEntriesIsFoundWhereItWent) {
  AnnounceWithASlowAdd();
  player::PlayerModel& m = Model(1);
  world.Advance(650);  // the add has landed; the player is not asked again before the next tick
  ASSERT_EQ(m.Count(), 3u);
  for (int i = 0; i < 5; ++i) m.Add("C:\\Music\\Later " + std::to_string(i) + ".mp3");
  world.Advance(5000);
  int announcements = 0;
  for (std::size_t i = 0; i < m.Count(); ++i) announcements += m.At(i).FileName == "C:\\Sounds\\Announcement.wav";
  EXPECT_EQ(announcements, 1) << "not added a second time";
  EXPECT_EQ(m.CurrentIndex(), 2) << "and it plays";
}

// While the watch reads the announcement's entry, the user removes an entry before it in the player: the announcement
// moves up, and the player's position with it. Found again by name, it is judged against where the
// player is now, not where it was before the removal: it plays on, nobody skipped it.
TEST_F(Room, AnEntryRemovedBeforeTheAnnouncementDuringTheWatchIsNoSkip) {
  MusicPlays();
  ASSERT_EQ(Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Speech.wav"), Value::I(250)}).Bool, 1);
  player::PlayerModel& m = Model(1);
  m.SetLength(2, 600);
  bool removed = false;
  world.OnSend = [&](const sim::SentMessage& s) {
    if (!removed && s.Message == pn::kWmUser && s.LParam == pn::user::kFileAddress && s.WParam == 2) {
      removed = true;
      m.Remove(0);
    }
  };
  world.Advance(1000);
  world.OnSend = nullptr;
  ASSERT_TRUE(removed);
  EXPECT_EQ(m.Count(), 2u) << "the speech's entry stays while it plays";
  EXPECT_EQ(m.CurrentIndex(), 1);
  EXPECT_EQ(m.State(), PlayState::Playing);
}

// The announcement interrupts the music, and the music goes on where it was.
TEST_F(Room, AnAnnouncementPlaysAndEverythingIsPutBack) {
  MusicPlays();
  Call(1, "WAC_FadeVolume", {Value::I(0), Value::I(600)});  // a slow fade, which leaves the announcement alone
  ASSERT_EQ(Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Announcement.wav"), Value::I(250)}).Bool, 1);
  player::PlayerModel& m = Model(1);
  ASSERT_EQ(m.Count(), 3u);
  EXPECT_EQ(m.CurrentIndex(), 2);
  EXPECT_EQ(m.State(), PlayState::Playing);
  EXPECT_EQ(m.Volume(), 250);
  EXPECT_TRUE(m.ManualAdvance()) << "so that nothing of the next entry is heard";
  m.SetLength(2, 3);
  world.Advance(2750);
  EXPECT_EQ(m.Count(), 3u) << "still playing";
  EXPECT_EQ(m.Volume(), 250);
  world.Advance(250);  // the announcement has ended: the tick removes it and puts back the music
  ExpectMusicBack(0);
}

// Players slow enough to be asked without waiting by the mirror: the call answers within one send
// limit and the row goes on in ticks; the announcement plays, and the music comes back after it.
TEST_F(Room, WithASlowPlayerAnAnnouncementStillPutsTheMusicBack) {
  testdata::ChooseAll(server, 1, [](const std::string& key) { return "v_" + key; });
  MusicPlays();
  for (const uint32_t delay : {300u, 1900u}) {
    SCOPED_TRACE(delay);
    Player(1)->SetReplyDelay(delay);
    world.Advance(20000);  // two slow answers, their rests: the mirror now asks without waiting
    world.ResetLongestDispatch();
    player::PlayerModel& m = Model(1);
    const int64_t called = world.ElapsedMs();
    ASSERT_EQ(Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Announcement.wav"), Value::I(250)}).Bool, 1);
    EXPECT_LE(world.ElapsedMs() - called, int64_t(platform::kSendTimeoutMs)) << "one send limit for the call";
    auto plays = [&] { return m.Count() == 3u && m.CurrentIndex() == 2 && m.State() == PlayState::Playing; };
    while (!plays() && world.ElapsedMs() - called < 300000) world.Advance(250);
    ASSERT_TRUE(plays()) << "the announcement plays";
    const int64_t started = world.ElapsedMs();
    m.SetLength(2, 3);
    auto back = [&] {
      return m.Count() == 2u && m.CurrentIndex() == 0 && m.State() == PlayState::Playing && m.Volume() == 180 &&
             !m.ManualAdvance();
    };
    while (!back() && world.ElapsedMs() - started < 300000) world.Advance(250);
    EXPECT_TRUE(back()) << "the announcement is taken off and the music is back as it was";
    std::printf("[          ] %u ms per answer: the announcement plays %.1f s after the call, the music is back %.1f s "
                "after a 3 s announcement\n",
                delay, double(started - called) / 1000, double(world.ElapsedMs() - started - 3000) / 1000);
    // Starting it and putting the music back go first: the mirror's questions wait.
    EXPECT_LE(started - called, 15 * int64_t(delay) + 1000) << "the announcement's own messages, and no more";
    EXPECT_LE(world.ElapsedMs() - started - 3000, 17 * int64_t(delay) + 2500) << "noticed, taken off, put back";
    EXPECT_LE(world.LongestDispatchMs(), int64_t(platform::kSendTimeoutMs)) << "one send limit per dispatch";
  }
}

// With a player answering in 1.9 s, an event script on the volume variable announces again while the
// first plays (its volume shows): both ring, in order, the music comes back, and the play state never
// shows a player that does not answer.
TEST_F(Room, WithASlowPlayerAnAnnouncementFromAnEventScriptDuringAnotherRingsToo) {
  testdata::ChooseAll(server, 1, [](const std::string& key) { return "v_" + key; });
  server.DefineVariable("v_state", Value::I(0));
  Store(1, testdata::kPlayStateKey, "v_state");
  MusicPlays();
  player::PlayerModel& m = Model(1);
  Player(1)->SetReplyDelay(1900);
  world.Advance(20000);
  bool none = false, second = false;
  server.OnWrite("v_state", [&](const Value& v) { none |= v.Int == -1; });
  server.OnWrite("v_VolumeVar", [&](const Value& v) {
    if (v.Int == 250 && !std::exchange(second, true)) {
      EXPECT_EQ(server.Call("WAC_Announce", 1, {Value::S("C:\\Sounds\\Voice.wav"), Value::I(200)}, {}).Bool, 1);
    }
  });
  ASSERT_EQ(Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Bell.wav"), Value::I(250)}).Bool, 1);
  std::vector<std::string> rang;  // the announcements the player played, in order
  for (int tick = 0; tick < 2400; ++tick) {
    world.Advance(250);
    Player(1)->CatchUp();
    const std::string& current = m.At(std::size_t(m.CurrentIndex())).FileName;
    if (current.rfind("C:\\Sounds\\", 0) == 0 && (rang.empty() || rang.back() != current)) rang.push_back(current);
    for (std::size_t i = 0; i < m.Count(); ++i)
      if (m.At(i).FileName.rfind("C:\\Sounds\\", 0) == 0 && m.At(i).LengthSeconds == player::PlayerModel::kDefaultLengthSeconds)
        m.SetLength(int32_t(i), m.At(i).FileName == "C:\\Sounds\\Bell.wav" ? 120 : 20);  // the mirror is slow to show it
    if (tick % 60 == 0) Call(1, "WAC_GetVolume");
  }
  server.ClearEvents();
  EXPECT_TRUE(second) << "the event script announced";
  EXPECT_EQ(rang, (std::vector<std::string>{"C:\\Sounds\\Bell.wav", "C:\\Sounds\\Voice.wav"}));
  EXPECT_EQ(m.Count(), 2u);
  EXPECT_EQ(m.State(), PlayState::Playing);
  EXPECT_EQ(m.Volume(), 180);
  EXPECT_FALSE(m.ManualAdvance());
  EXPECT_FALSE(none) << "the play state showed -1";
}

// The player takes 2.6 s inside its procedure for the announcement's add: the send is given up, yet the
// player adds it. Counted once it answers again, the add is not made a second time, and the announcement
// leaves nothing behind.
TEST_F(Room, AnAddGivenUpThatThePlayerStillCarriesOutIsNotMadeAgain) {
  AnnounceWithASlowAdd();
  player::PlayerModel& m = Model(1);
  world.Advance(5000);
  EXPECT_EQ(world.LateCompletions(), 1) << "the add was given up and carried out";
  ASSERT_EQ(m.Count(), 3u) << "one announcement";
  EXPECT_EQ(m.CurrentIndex(), 2) << "and it plays";
  m.SetLength(2, 3);
  world.Advance(5000);
  EXPECT_EQ(m.Count(), 2u) << "nothing left behind";
  EXPECT_EQ(m.CurrentIndex(), 0);
  EXPECT_EQ(m.State(), PlayState::Playing);
  EXPECT_EQ(m.Volume(), 180);
  EXPECT_FALSE(m.ManualAdvance());
}

TEST_F(Room, TwoAnnouncementsFollowEachOtherAndTheMusicComesBackOnce) {
  MusicPlays();
  Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Bell.wav"), Value::I(250)});
  Model(1).SetLength(2, 2);
  Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Voice.wav"), Value::I(200)});
  EXPECT_EQ(Model(1).Count(), 3u) << "the second waits";
  world.Advance(2250);
  ASSERT_EQ(Model(1).Count(), 3u);
  EXPECT_EQ(Model(1).At(2).FileName, "C:\\Sounds\\Voice.wav");
  EXPECT_EQ(Model(1).State(), PlayState::Playing);
  EXPECT_EQ(Model(1).Volume(), 200);
  Model(1).SetLength(2, 2);
  world.Advance(2250);
  ExpectMusicBack(0);
  EXPECT_EQ(Sends(pn::user::kSetRepeat), 1) << "restored once, after the last";
}

// A name that names no file, or one the player does not take: false, and the
// music plays on as it was, its volume and manual advance untouched.
TEST_F(Room, AnAnnouncementThatCannotPlayLeavesTheMusicAlone) {
  for (const auto& [name, refused] : std::vector<std::pair<std::string, bool>>{
           {"", false}, {" \t\r\n ", false}, {std::string("C:\\Sounds\\A\0B.wav", 18), false},
           {"C:\\Sounds\\Announcement.wav\r\n", false},
           {"C:\\Sounds\\Announcement.wav", true}}) {
    SCOPED_TRACE(name);
    MusicPlays();
    Player(1)->RefuseFiles(refused);
    EXPECT_EQ(Call(1, "WAC_Announce", {Value::S(name), Value::I(250)}).Bool, 0);
    const sent::Sequence wire = Traffic(1);
    if (!refused) {
      EXPECT_TRUE(wire.empty()) << "nothing sent for a name that names no file";
    }
    // Questions and the file only: no manual advance, no jump, no volume.
    for (const sent::Msg& m : wire)
      EXPECT_TRUE(m.Message == pn::kWmCopyData ||
                  (m.LParam != pn::user::kSetManualAdvance && m.LParam != pn::user::kSetCurrent &&
                   (m.LParam != pn::user::kVolume || m.WParam == pn::user::kAskVolume)))
          << m;
    world.Advance(1000);
    Player(1)->CatchUp();
    ExpectMusicBack(1000);
    server.DestroyInstance(1);
  }
}

// Hung for more than 10 s: what waits is dropped; once the player answers
// again the announcement's entry goes and the music comes back.
TEST_F(Room, AHungPlayerEndsTheAnnouncementsAndGetsTheMusicBackWhenItAnswers) {
  MusicPlays();
  Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Announcement.wav"), Value::I(250)});
  Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Voice.wav"), Value::I(250)});
  Player(1)->Hang(true);
  world.Advance(13000);
  Player(1)->Hang(false);
  world.Advance(1000);
  EXPECT_EQ(Model(1).Count(), 2u) << "the announcement's entry went, and the voice never came";
  EXPECT_EQ(Model(1).Volume(), 180);
  EXPECT_EQ(Model(1).CurrentIndex(), 0);
  EXPECT_FALSE(Model(1).ManualAdvance());
}

// The room moved on (a stop during the announcement) and the player hangs before the announcement's entry is gone:
// silent for more than 10 s, it still owes only what moving on gives back, not the music as it was.
TEST_F(Room, AHangAfterTheRoomMovedOnPutsNothingBackOnceItAnswers) {
  MusicPlays();
  Call(1, "WAC_Announce", {Value::S("C:\\Sounds\\Announcement.wav"), Value::I(250)});
  world.OnSend = [&](const sim::SentMessage& m) {
    if (m.Message == pn::kWmCommand && m.WParam == pn::cmd::kStop) Player(1)->Hang(true);
  };
  Call(1, "WAC_Stop");
  world.OnSend = nullptr;
  world.Advance(13000);
  Player(1)->Hang(false);
  world.Advance(2000);
  const player::PlayerModel& m = Model(1);
  EXPECT_EQ(m.Count(), 2u) << "the announcement's entry went";
  EXPECT_EQ(m.State(), PlayState::Stopped) << "the stop is the last word";
  EXPECT_FALSE(m.ManualAdvance());
  EXPECT_EQ(m.Volume(), 180);
}

}  // namespace
}  // namespace instancetest
