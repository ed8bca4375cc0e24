// The player stand-in's model: if its replies are wrong, every test of the
// module that talks to a player proves nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "PlayerNumbers.h"
#include "player/PlayerModel.h"

namespace {

using player::PlayerModel;
using player::PlayState;
using player::Placement;
using namespace playernumbers;

// Hands out fake addresses and remembers what lives at each, so tests can see
// leaks, double frees and where a text was placed.
class FakeMemory : public player::TextMemory {
 public:
  struct Text {
    std::string Value;
    Placement Where;
  };
  uint32_t Store(std::string_view text, Placement placement) override {
    if (full) return 0;
    next_ += 0x1000;
    live[next_] = {std::string(text), placement};
    return next_;
  }
  void Free(uint32_t address) override {
    if (address != 0 && live.erase(address) != 1) ++badFrees;
  }
  std::map<uint32_t, Text> live;
  bool full = false;
  int badFrees = 0;

 private:
  uint32_t next_ = 0x00400000;
};

class PlayerModelTest : public ::testing::Test {
 protected:
  int32_t User(uint32_t lParam, uint32_t wParam = 0) { return model.OnUser(wParam, lParam); }
  int32_t Position() { return User(user::kTime, user::kPositionMs); }
  int32_t Length() { return User(user::kTime, user::kLengthSeconds); }
  void AddThree() {
    model.Add("C:\\Music\\one.mp3");
    model.Add("C:\\Music\\two.mp3");
    model.Add("C:\\Music\\three.mp3");
  }
  int32_t AddByCopyData(uintptr_t dwData, const void* data, std::size_t size) {
    return model.OnCopyData(dwData, data, size);
  }
  void TearDown() override { EXPECT_EQ(memory.badFrees, 0); }

  // One step of a script against the model: what is done to it, then what it answers and shows
  // (a field left empty is not looked at).
  enum Kind { kLook, kCommand, kRequest, kAdvance, kAddThree };
  struct Step {
    Kind How;
    uint32_t What = 0;  // the command, the request (lParam) or the milliseconds
    uint32_t WParam = 0;  // the request's
    std::optional<int32_t> Reply = {};
    std::optional<int32_t> Position = {};
    std::optional<int32_t> Length = {};
    std::optional<PlayState> State = {};
    std::optional<int32_t> Current = {};
    const char* Note = "";
  };
  void Run(const std::vector<Step>& steps) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const Step& step = steps[i];
      SCOPED_TRACE(testing::Message() << "step " << i << " " << step.Note);
      int32_t reply = 0;
      switch (step.How) {
        case kLook: break;
        case kCommand: reply = model.OnCommand(step.What); break;
        case kRequest: reply = User(step.What, step.WParam); break;
        case kAdvance: model.AdvanceTime(step.What); break;
        case kAddThree: AddThree(); break;
      }
      if (step.Reply) {
        EXPECT_EQ(reply, *step.Reply);
      }
      if (step.Position) {
        EXPECT_EQ(Position(), *step.Position);
      }
      if (step.Length) {
        EXPECT_EQ(Length(), *step.Length);
      }
      if (step.State) {
        EXPECT_EQ(model.State(), *step.State);
      }
      if (step.Current) {
        EXPECT_EQ(User(user::kCurrent), *step.Current);
      }
    }
  }

  FakeMemory memory;
  PlayerModel model{memory};
};

// ---------------------------------------------------------------- playlist

TEST_F(PlayerModelTest, CopyDataAddsAnEntryWithTitleAndDefaultLength) {
  const char name[] = "C:\\Music\\Some Band - A Song.mp3";
  EXPECT_EQ(AddByCopyData(player::copydata::kAddFile, name, sizeof name), 1);
  ASSERT_EQ(User(user::kCount), 1);
  EXPECT_EQ(model.At(0).FileName, name);
  EXPECT_EQ(model.At(0).Title, "Some Band - A Song");
  EXPECT_EQ(Length(), 205);
  EXPECT_EQ(User(user::kCurrent), 0);
  EXPECT_EQ(model.State(), PlayState::Stopped) << "adding does not start playback";
}

TEST_F(PlayerModelTest, CopyDataIsTakenUpToItsZeroAndNeverBeyondItsSize) {
  const char withTail[] = "a.mp3\0garbage";
  EXPECT_EQ(AddByCopyData(copydata::kAddFile, withTail, sizeof withTail), 1);
  const char unterminated[] = {'b', '.', 'o', 'g', 'g', 'X'};
  EXPECT_EQ(AddByCopyData(copydata::kAddFile, unterminated, 5), 1);
  ASSERT_EQ(model.Count(), 2u);
  EXPECT_EQ(model.At(0).FileName, "a.mp3");
  EXPECT_EQ(model.At(1).FileName, "b.ogg");
}

TEST_F(PlayerModelTest, CopyDataThatCarriesNoNameOrIsNotAnAddIsIgnored) {
  const char name[] = "a.mp3";
  EXPECT_EQ(AddByCopyData(101, name, sizeof name), 0) << "another dwData";
  EXPECT_EQ(AddByCopyData(copydata::kAddFile, nullptr, 10), 0);
  EXPECT_EQ(AddByCopyData(copydata::kAddFile, "", 1), 0);
  EXPECT_EQ(AddByCopyData(copydata::kAddFile, name, 0), 0);
  EXPECT_EQ(model.Count(), 0u);
  EXPECT_TRUE(memory.live.empty());
}

TEST(PlayerTitle, IsTheLastPathComponentWithoutItsExtension) {
  EXPECT_EQ(player::TitleFromFileName("C:\\Music\\a.b.mp3"), "a.b");
  EXPECT_EQ(player::TitleFromFileName("/home/me/track.flac"), "track");
  EXPECT_EQ(player::TitleFromFileName("C:\\dir.with.dots\\noext"), "noext");
  EXPECT_EQ(player::TitleFromFileName("http://radio.example/stream"), "stream");
  EXPECT_EQ(player::TitleFromFileName("song.mp3"), "song");
  EXPECT_EQ(player::TitleFromFileName(".hidden"), ".hidden");
  EXPECT_EQ(player::TitleFromFileName("C:\\Music\\"), "");
}

TEST_F(PlayerModelTest, ATitleEndingInSecondsGivesItsEntryThatLength) {
  for (const auto& [name, seconds] : std::vector<std::pair<const char*, int32_t>>{
           {"C:\\Doorbell (2s).wav", 2}, {"C:\\Voice (12s)", 12}, {"C:\\Song.mp3", 205},
           {"C:\\Bell (s).wav", 205}, {"C:\\Bell (2x).wav", 205}, {"C:\\Bell 2s).wav", 205}}) {
    model.Add(name);
    EXPECT_EQ(model.At(model.Count() - 1).LengthSeconds, seconds) << name;
  }
}

TEST(PlayerCopyDataText, StopsAtTheFirstZeroOrTheSize) {
  EXPECT_EQ(player::CopyDataText("abc\0def", 8), "abc");
  EXPECT_EQ(player::CopyDataText("abcdef", 3), "abc");
  EXPECT_EQ(player::CopyDataText(nullptr, 3), "");
  EXPECT_EQ(player::CopyDataText("abc", 0), "");
}

TEST_F(PlayerModelTest, ClearingEmptiesThePlaylistFreesItsTextsAndStops) {
  AddThree();
  model.OnUser(2, user::kSetCurrent);
  model.OnCommand(cmd::kPlay);
  model.AdvanceTime(1000);
  EXPECT_EQ(memory.live.size(), 6u);
  EXPECT_EQ(User(user::kClearPlaylist), 0);
  EXPECT_EQ(User(user::kCount), 0);
  EXPECT_EQ(User(user::kCurrent), 0);
  EXPECT_EQ(model.State(), PlayState::Stopped);
  EXPECT_TRUE(memory.live.empty());
  model.Add("again.mp3");
  EXPECT_EQ(model.At(0).Title, "again");
}

TEST_F(PlayerModelTest, SetCurrentTakesIndexesInRangeOnly) {
  AddThree();
  EXPECT_EQ(User(user::kSetCurrent, 2), 0);
  EXPECT_EQ(User(user::kCurrent), 2);
  for (uint32_t bad : {3u, 0xFFFFFFFFu /* -1 */, 0x80000000u}) {
    User(user::kSetCurrent, bad);
    EXPECT_EQ(User(user::kCurrent), 2) << bad;
  }
  User(user::kSetCurrent, 0);
  EXPECT_EQ(User(user::kCurrent), 0);
}

// Removal through the playlist window: the current entry stays current unless
// it is the one removed, and a removed entry's texts are freed.
TEST_F(PlayerModelTest, RemovingAnEntryKeepsTheCurrentOneOrStopsWhenItGoes) {
  struct Case {
    int entries;
    int32_t current;
    uint32_t remove;
    int32_t currentAfter;
    const char* titleAfter;  // of the current entry; "" for an empty playlist
    bool playing;
  };
  const Case cases[] = {
      {3, 1, 0, 0, "two", true},             // before: the index moves down
      {3, 1, 2, 1, "two", true},             // after
      {3, 1, 1, 1, "three", false},          // the current: the next takes its index
      {3, 2, 2, 1, "two", false},            // the current and last
      {1, 0, 0, 0, "", false},               // the only one
      {3, 1, 3, 1, "two", true},             // out of range
      {3, 1, 0xFFFFFFFFu, 1, "two", true},   // -1
  };
  const char* names[] = {"one.mp3", "two.mp3", "three.mp3"};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.entries << " entries, current " << c.current << ", remove " << c.remove);
    User(user::kClearPlaylist);
    for (int i = 0; i < c.entries; ++i) model.Add(names[i]);
    User(user::kSetCurrent, uint32_t(c.current));
    model.OnCommand(cmd::kPlay);
    model.AdvanceTime(1000);
    const bool removes = c.remove < uint32_t(c.entries);

    EXPECT_EQ(model.OnPlaylistUser(playlist::kRemove, c.remove), 0);
    EXPECT_EQ(User(user::kCount), c.entries - (removes ? 1 : 0));
    EXPECT_EQ(memory.live.size(), 2u * model.Count()) << "the removed entry's texts are freed";
    EXPECT_EQ(User(user::kCurrent), c.currentAfter);
    if (model.Count()) {
      EXPECT_EQ(model.At(std::size_t(c.currentAfter)).Title, c.titleAfter);
    }
    EXPECT_EQ(User(user::kPlayState), c.playing ? 1 : 0);
    EXPECT_EQ(model.PositionMs(), c.playing ? 1000 : 0);
  }
}

// ---------------------------------------------------------------- texts by address

TEST_F(PlayerModelTest, AddressesPointAtTheEntrysTextsAndStayPut) {
  AddThree();
  const int32_t file1 = User(user::kFileAddress, 1);
  const int32_t title1 = User(user::kTitleAddress, 1);
  ASSERT_NE(file1, 0);
  ASSERT_NE(title1, 0);
  EXPECT_NE(file1, title1);
  EXPECT_EQ(memory.live.at(uint32_t(file1)).Value, "C:\\Music\\two.mp3");
  EXPECT_EQ(memory.live.at(uint32_t(title1)).Value, "two");
  EXPECT_EQ(memory.live.at(uint32_t(title1)).Where, Placement::Heap);
  for (int i = 0; i < 50; ++i) model.Add("more.mp3");
  model.OnCommand(cmd::kNext);
  EXPECT_EQ(User(user::kFileAddress, 1), file1) << "other entries come and go around it";
  EXPECT_EQ(User(user::kTitleAddress, 1), title1);
}

TEST_F(PlayerModelTest, AddressesOutOfRangeAreZero) {
  EXPECT_EQ(User(user::kFileAddress, 0), 0) << "empty playlist";
  EXPECT_EQ(User(user::kTitleAddress, 0), 0);
  AddThree();
  for (uint32_t bad : {3u, 0xFFFFFFFFu, 0x80000000u}) {
    EXPECT_EQ(User(user::kFileAddress, bad), 0) << bad;
    EXPECT_EQ(User(user::kTitleAddress, bad), 0) << bad;
  }
}

TEST_F(PlayerModelTest, ANewTitleGetsNewMemoryAndTheOldIsFreed) {
  AddThree();
  const uint32_t old = uint32_t(User(user::kTitleAddress, 1));
  const std::string longTitle(600, 'x');
  ASSERT_TRUE(model.SetTitle(1, longTitle));
  const uint32_t now = uint32_t(User(user::kTitleAddress, 1));
  EXPECT_NE(now, old);
  EXPECT_EQ(memory.live.count(old), 0u);
  EXPECT_EQ(memory.live.at(now).Value, longTitle);
  EXPECT_EQ(model.At(1).Title, longTitle);

  ASSERT_TRUE(model.SetTitle(1, "edge", Placement::EndOfMemory));
  EXPECT_EQ(memory.live.at(uint32_t(User(user::kTitleAddress, 1))).Where, Placement::EndOfMemory);
  EXPECT_EQ(memory.live.size(), 6u);

  EXPECT_TRUE(model.SetTitle(1, model.At(1).Title)) << "its own title, by view";
  EXPECT_EQ(model.At(1).Title, "edge");
  EXPECT_FALSE(model.SetTitle(3, "nope"));
  EXPECT_FALSE(model.SetTitle(-1, "nope"));
}

TEST_F(PlayerModelTest, WithoutMemoryTheEntryStaysButReportsNoAddress) {
  memory.full = true;
  model.Add("a.mp3");
  EXPECT_EQ(User(user::kCount), 1);
  EXPECT_EQ(User(user::kFileAddress, 0), 0);
  EXPECT_EQ(User(user::kTitleAddress, 0), 0);
}

TEST(PlayerModelLifetime, FreesEveryTextWhenItGoes) {
  FakeMemory memory;
  {
    PlayerModel model(memory);
    model.Add("a.mp3");
    model.Add("b.mp3");
    model.SetTitle(0, "renamed");
    EXPECT_EQ(memory.live.size(), 4u);
  }
  EXPECT_TRUE(memory.live.empty());
  EXPECT_EQ(memory.badFrees, 0);
}

// ---------------------------------------------------------------- transport

TEST_F(PlayerModelTest, AnEmptyPlaylistHasNoTrackAndIgnoresTheTransport) {
  EXPECT_EQ(Position(), -1);
  EXPECT_EQ(Length(), -1);
  for (uint32_t id : {cmd::kPlay, cmd::kPause, cmd::kNext, cmd::kPrevious, cmd::kStop})
    EXPECT_EQ(model.OnCommand(id), 0);
  EXPECT_EQ(model.State(), PlayState::Stopped);
  EXPECT_EQ(User(user::kCurrent), 0);
  model.AdvanceTime(5000);
  EXPECT_EQ(Position(), -1);
}

TEST_F(PlayerModelTest, PlayPauseStopMoveAndFreezeThePosition) {
  AddThree();
  Run({
      {.How = kLook, .Position = 0, .Note = "stopped on a track"},
      {.How = kAdvance, .What = 1000, .Position = 0, .Note = "time does not move a stopped track"},
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 1500, .Position = 1500},
      {.How = kCommand, .What = cmd::kPause, .State = PlayState::Paused},
      {.How = kAdvance, .What = 4000, .Position = 1500, .Note = "pause freezes"},
      {.How = kCommand, .What = cmd::kPause, .State = PlayState::Playing, .Note = "pause again resumes"},
      {.How = kAdvance, .What = 500, .Position = 2000},
      {.How = kCommand, .What = cmd::kPause},
      {.How = kCommand, .What = cmd::kPlay, .Position = 2000, .State = PlayState::Playing,
       .Note = "play resumes a paused track"},
      {.How = kCommand, .What = cmd::kPlay, .Position = 0, .Note = "play on a playing track starts it over"},
      {.How = kAdvance, .What = 700},
      {.How = kCommand, .What = cmd::kStop, .Position = 0, .State = PlayState::Stopped},
      {.How = kCommand, .What = cmd::kPause, .State = PlayState::Stopped,
       .Note = "pause does not start a stopped track"},
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 300, .Position = 300, .Current = 0, .Note = "play restarts a stopped track"},
  });
}

TEST_F(PlayerModelTest, CommandsAreReadFromTheLowWordOfWParam) {
  AddThree();
  Run({
      {.How = kCommand, .What = (1u << 16) | cmd::kPlay, .State = PlayState::Playing,
       .Note = "as an accelerator would send it"},
      {.How = kCommand, .What = cmd::kPlay + 1000, .State = PlayState::Playing,
       .Note = "an unknown command changes nothing"},
  });
}

TEST_F(PlayerModelTest, NextAndPreviousWrapKeepTheStateAndRestartThePosition) {
  AddThree();
  Run({
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 1000},
      {.How = kCommand, .What = cmd::kNext, .Position = 0, .State = PlayState::Playing, .Current = 1},
      {.How = kCommand, .What = cmd::kNext},
      {.How = kCommand, .What = cmd::kNext, .Current = 0, .Note = "after the last comes the first"},
      {.How = kCommand, .What = cmd::kPrevious, .Current = 2, .Note = "before the first comes the last"},
      {.How = kCommand, .What = cmd::kPrevious, .Current = 1},
      {.How = kCommand, .What = cmd::kStop},
      {.How = kCommand, .What = cmd::kNext, .State = PlayState::Stopped},
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 100},
      {.How = kCommand, .What = cmd::kPause},
      {.How = kCommand, .What = cmd::kPrevious, .Position = 0, .State = PlayState::Paused},
  });
}

TEST_F(PlayerModelTest, SetCurrentRestartsThePosition) {
  AddThree();
  Run({
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 900},
      {.How = kRequest, .What = user::kSetCurrent, .WParam = 2, .Position = 0, .State = PlayState::Playing},
      {.How = kAdvance, .What = 900},
      {.How = kRequest, .What = user::kSetCurrent, .WParam = 7, .Position = 900,
       .Note = "an ignored index leaves the position"},
  });
}

TEST_F(PlayerModelTest, ASingleEntryIsItsOwnNextAndPrevious) {
  model.Add("only.mp3");
  Run({
      {.How = kCommand, .What = cmd::kNext, .Current = 0},
      {.How = kCommand, .What = cmd::kPrevious, .Current = 0},
  });
}

// ---------------------------------------------------------------- end of track

TEST_F(PlayerModelTest, AtTheEndOfATrackTheNextPlaysFromItsStart) {
  AddThree();
  model.SetLength(0, 2);
  Run({
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 1999, .Position = 1999, .Current = 0},
      {.How = kAdvance, .What = 1, .Position = 0, .Length = 205, .State = PlayState::Playing, .Current = 1},
  });
}

TEST_F(PlayerModelTest, TimeBeyondATracksEndIsDropped) {
  AddThree();
  model.SetLength(0, 1);
  model.SetLength(1, 1);
  Run({
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 10000, .Position = 0, .Current = 1,
       .Note = "one advance crosses one track end at most"},
  });
}

TEST(PlayerClock, KeepsTheRestBelowAMillisecond) {
  player::MillisecondClock clock(0);
  int64_t handedOut = 0;
  for (int64_t us = 500; us <= 2'000'000; us += 500) handedOut += clock.Elapsed(us);  // asked 2,000 times a second
  EXPECT_EQ(handedOut, 2000);
}

TEST_F(PlayerModelTest, AfterTheLastTrackItStopsUnlessRepeatIsOn) {
  AddThree();
  model.SetLength(2, 1);
  Run({
      {.How = kRequest, .What = user::kSetCurrent, .WParam = 2},
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 1000, .Position = 0, .State = PlayState::Stopped, .Current = 2,
       .Note = "stops on the last"},
      {.How = kRequest, .What = user::kSetRepeat, .WParam = 1},
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 1000, .State = PlayState::Playing, .Current = 0, .Note = "repeat wraps to the first"},
      {.How = kRequest, .What = user::kSetShuffle, .WParam = 1},
      {.How = kAdvance, .What = 205000, .Current = 1, .Note = "shuffle keeps the order"},
  });
}

TEST_F(PlayerModelTest, ManualAdvanceStopsOnTheEntryThatEnded) {
  EXPECT_EQ(User(user::kGetManualAdvance), 0) << "off by default";
  User(user::kSetManualAdvance, 1);
  EXPECT_EQ(User(user::kGetManualAdvance), 1);
  AddThree();
  model.SetLength(0, 1);
  User(user::kSetRepeat, 1);
  // By time, by a jump past the end, and on the last entry, where repeat would wrap.
  for (int32_t index : {0, 1, 2}) {
    User(user::kSetCurrent, uint32_t(index));
    model.OnCommand(cmd::kPlay);
    if (index == 0)
      model.AdvanceTime(1000);
    else
      EXPECT_EQ(User(user::kJump, 205000), 1);
    EXPECT_EQ(User(user::kCurrent), index);
    EXPECT_EQ(User(user::kPlayState), 0) << index;
    EXPECT_EQ(Position(), 0);
  }
  User(user::kSetManualAdvance, 0);
  EXPECT_EQ(User(user::kGetManualAdvance), 0);
}

TEST_F(PlayerModelTest, ATrackOfNoKnownLengthNeverEnds) {
  model.Add("http://radio.example/stream");
  model.SetLength(0, -1);
  model.OnCommand(cmd::kPlay);
  model.AdvanceTime(1000000);
  EXPECT_EQ(Length(), -1);
  EXPECT_EQ(Position(), 1000000);
  EXPECT_EQ(model.State(), PlayState::Playing);
}

TEST_F(PlayerModelTest, AZeroLengthTrackEndsAtTheFirstTick) {
  AddThree();
  model.SetLength(0, 0);
  Run({
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 1, .Current = 1},
  });
}

TEST_F(PlayerModelTest, PositionsPastTheReplyRangeWrapAndHugeAdvancesSaturate) {
  model.Add("long.mp3");
  model.SetLength(0, std::numeric_limits<int32_t>::max());
  model.OnCommand(cmd::kPlay);
  model.AdvanceTime(int64_t(0x80000000) + 5);
  EXPECT_EQ(Position(), std::numeric_limits<int32_t>::min() + 5) << "two's complement";
  EXPECT_EQ(model.PositionMs(), int64_t(0x80000000) + 5);

  model.SetLength(0, -1);
  model.AdvanceTime(std::numeric_limits<int64_t>::max());
  model.AdvanceTime(std::numeric_limits<int64_t>::max());
  EXPECT_EQ(model.PositionMs(), std::numeric_limits<int64_t>::max());
  model.AdvanceTime(-5);
  EXPECT_EQ(model.PositionMs(), std::numeric_limits<int64_t>::max()) << "time never runs backwards";
}

TEST_F(PlayerModelTest, LengthsAreSetPerEntry) {
  AddThree();
  EXPECT_TRUE(model.SetLength(1, 33));
  EXPECT_FALSE(model.SetLength(3, 33));
  EXPECT_FALSE(model.SetLength(-1, 33));
  EXPECT_EQ(Length(), 205);
  model.OnCommand(cmd::kNext);
  EXPECT_EQ(Length(), 33);
}

// ---------------------------------------------------------------- play state and jumps

TEST_F(PlayerModelTest, PlayStateAnswers1Playing3Paused0Stopped) {
  Run({
      {.How = kRequest, .What = user::kPlayState, .Reply = 0, .Note = "empty"},
      {.How = kAddThree},
      {.How = kRequest, .What = user::kPlayState, .Reply = 0},
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kRequest, .What = user::kPlayState, .Reply = 1},
      {.How = kCommand, .What = cmd::kPause},
      {.How = kRequest, .What = user::kPlayState, .Reply = 3},
      {.How = kCommand, .What = cmd::kPause},
      {.How = kRequest, .What = user::kPlayState, .Reply = 1},
      {.How = kCommand, .What = cmd::kStop},
      {.How = kRequest, .What = user::kPlayState, .Reply = 0},
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kRequest, .What = user::kClearPlaylist},
      {.How = kRequest, .What = user::kPlayState, .Reply = 0, .Note = "clearing stops"},
  });
}

TEST_F(PlayerModelTest, AJumpWithinTheTrackMovesAPlayingOrPausedTrack) {
  AddThree();
  Run({
      {.How = kRequest, .What = user::kJump, .WParam = 5000, .Reply = -1, .Position = 0, .Note = "stopped"},
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 1000},
      {.How = kRequest, .What = user::kJump, .WParam = 90000, .Reply = 0, .Position = 90000},
      {.How = kAdvance, .What = 500, .Position = 90500, .Note = "and plays on from there"},
      {.How = kRequest, .What = user::kJump, .WParam = 0, .Reply = 0, .Position = 0},
      {.How = kCommand, .What = cmd::kPause},
      {.How = kRequest, .What = user::kJump, .WParam = 204999, .Reply = 0, .Position = 204999,
       .State = PlayState::Paused, .Current = 0, .Note = "the last millisecond; a jump does not resume"},
  });
}

TEST_F(PlayerModelTest, AJumpToOrPastTheEndEndsTheTrack) {
  AddThree();
  Run({
      {.How = kCommand, .What = cmd::kPlay},
      {.How = kAdvance, .What = 3000},
      {.How = kRequest, .What = user::kJump, .WParam = 205000, .Reply = 1, .Position = 0, .State = PlayState::Playing,
       .Current = 1, .Note = "the end itself: the next plays"},
      {.How = kRequest, .What = user::kSetCurrent, .WParam = 2},
      {.How = kRequest, .What = user::kJump, .WParam = 0xFFFFFFFFu, .Reply = 1, .State = PlayState::Stopped,
       .Current = 2, .Note = "the time is unsigned: far past the end; the last track ended without repeat"},
      {.How = kRequest, .What = user::kJump, .WParam = 0, .Reply = -1},
  });
}

TEST_F(PlayerModelTest, AJumpInAStreamHasNoEnd) {
  EXPECT_EQ(User(user::kJump, 0), -1) << "nothing to play";
  model.Add("http://radio.example/stream");
  model.SetLength(0, -1);
  model.OnCommand(cmd::kPlay);
  EXPECT_EQ(User(user::kJump, 0x7FFFFFFFu), 0);
  EXPECT_EQ(Position(), 0x7FFFFFFF);
}

// ---------------------------------------------------------------- settings and the rest

TEST_F(PlayerModelTest, VolumeTakesZeroTo255AndAnswersMinus666) {
  const uint32_t query = user::kAskVolume;
  EXPECT_EQ(User(user::kVolume, query), PlayerModel::kInitialVolume);
  EXPECT_EQ(User(user::kVolume, 0), 0);
  EXPECT_EQ(User(user::kVolume, query), 0);
  User(user::kVolume, 255);
  EXPECT_EQ(User(user::kVolume, query), 255);
  User(user::kVolume, 17);
  for (uint32_t ignored : {256u, 0x1FFu /* 255 in the low byte */, 0xFFFFFFFFu, uint32_t(-665), uint32_t(-667)}) {
    EXPECT_EQ(User(user::kVolume, ignored), 0) << ignored;
    EXPECT_EQ(User(user::kVolume, query), 17) << ignored;
  }
}

TEST_F(PlayerModelTest, ShuffleAndRepeatAreIndependentSwitches) {
  EXPECT_EQ(User(user::kGetShuffle), 0);
  EXPECT_EQ(User(user::kGetRepeat), 0);
  User(user::kSetShuffle, 1);
  EXPECT_GT(User(user::kGetShuffle), 0);
  EXPECT_EQ(User(user::kGetRepeat), 0);
  User(user::kSetRepeat, 1);
  User(user::kSetShuffle, 0);
  EXPECT_EQ(User(user::kGetShuffle), 0);
  EXPECT_GT(User(user::kGetRepeat), 0);
  User(user::kSetRepeat, 0);
  EXPECT_EQ(User(user::kGetRepeat), 0);
}

TEST_F(PlayerModelTest, UnknownRequestsAnswerZeroAndChangeNothing) {
  AddThree();
  model.OnCommand(cmd::kPlay);
  model.AdvanceTime(10);
  for (uint32_t lParam : {0u, 100u, 103u, 107u, 123u, 213u, 254u, 0x7005u})
    EXPECT_EQ(User(lParam, 1), 0) << lParam;
  EXPECT_EQ(User(user::kTime, 2), -1) << "only position and length are known";
  EXPECT_EQ(User(user::kCount), 3);
  EXPECT_EQ(Position(), 10);
  EXPECT_EQ(Length(), 205);
}

TEST_F(PlayerModelTest, CloseIsOnlyARequest) {
  EXPECT_FALSE(model.CloseRequested());
  EXPECT_EQ(model.OnCommand(cmd::kClose), 0);
  EXPECT_TRUE(model.CloseRequested());
}

// ---------------------------------------------------------------- command line

// The class a command line names: the /CLASS switch's value, quoted or not, or the default when
// the switch is missing, names nothing or does not start a word.
TEST(PlayerCommandLine, ClassComesFromTheClassSwitchOrDefaults) {
  const std::tuple<const char*, const char*, const char*> rows[] = {
      {"/CLASS=\"WA_KDO_7\"", "WA_KDO_7", ""},
      {"/CLASS=WA_KDO_7", "WA_KDO_7", ""},
      {"/other /class=\"With Space\" /NOWINDOW", "With Space", ""},
      {"/CLASS=Plain /NOWINDOW", "Plain", ""},
      {"/CLASS=\"Unclosed name", "Unclosed name", ""},
      {"", "Winamp v1.x", ""},
      {"C:\\Music\\a.mp3", "Winamp v1.x", ""},
      {"/CLASS=\"\"", "Winamp v1.x", ""},
      {"/CLASS=", "Winamp v1.x", ""},
      {"x/CLASS=Inside", "Winamp v1.x", "a switch starts a word"},
  };
  for (const auto& [commandLine, className, why] : rows)
    EXPECT_EQ(player::ClassFromCommandLine(commandLine), className) << commandLine << ' ' << why;
}

TEST(PlayerCommandLine, SwitchesAreWholeWordsInAnyCase) {
  const std::pair<const char*, bool> rows[] = {
      {"/NOWINDOW", true},
      {"/CLASS=\"x\"  /nowindow", true},
      {"/NOWINDOWS", false},
      {"/CLASS=/NOWINDOW", false},
      {"", false},
  };
  for (const auto& [commandLine, has] : rows)
    EXPECT_EQ(player::HasSwitch(commandLine, "/NOWINDOW"), has) << commandLine;
}

}  // namespace
