// Artist and album: asked only when the entry changed, through one reservation in the player per
// bound player, each opening with the least rights; WAC_GetMetadata; the bad inputs.
#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "InstanceFixture.h"
#include "SentMessages.h"
#include "SettingsKeys.h"

namespace instancetest {
namespace {

using host::Value;
namespace ask = sent::ask;
constexpr uint32_t kRead = platform::access::kVmRead, kRelease = platform::access::kVmOperation;
constexpr uint32_t kQuery = kRelease | kRead | platform::access::kVmWrite;

class Tags : public InstanceTest {
 protected:
  // Instance 1 with the artist and album variables chosen, and with `all`, the nine others too.
  void Make(bool all) {
    if (all) testdata::ChooseAll(server, 1, [](const std::string& key) { return "v_" + key; });
    for (const char* key : {testdata::kPlayStateKey, testdata::kArtistKey, testdata::kAlbumKey}) {
      if (!all && key == testdata::kPlayStateKey) continue;
      server.DefineVariable(key, key == testdata::kPlayStateKey ? Value::I(0) : Value::S("?"));
      Store(1, key, key);
    }
    Create(1);
  }
  std::string Artist() { return server.Variable(testdata::kArtistKey)->Str; }
  std::string Album() { return server.Variable(testdata::kAlbumKey)->Str; }
  // One poll: its tag requests.
  int Poll() {
    world.ClearSent();
    world.Advance(250);
    int n = 0;
    for (const sim::SentMessage& m : world.Sent()) n += m.Message == pn::kWmUser && m.LParam == 290;
    return n;
  }
};

// With all eleven chosen, a poll in which the entry stayed sends the twelve messages of before;
// another file or title adds exactly the two requests, after them. A text read opens the player to
// read only, a request to reserve, write and read.
TEST_F(Tags, AnEntryChangeAddsTwoRequestsAndAQuietPollNone) {
  Make(true);
  const std::tuple<const char*, std::function<void()>, int, const char*, const char*> rows[] = {
      {"an entry appears",
       [&] {
         Model(1).Add("C:\\Music\\Blue Train\\John Coltrane - Locomotion.mp3");
         Model(1).SetTag(0, "album", "Blue Train");
       },
       2, "John Coltrane", "Blue Train"},
      {"nothing changed", [] {}, 0, "John Coltrane", "Blue Train"},
      {"a tag changed under the same entry", [&] { Model(1).SetTag(0, "artist", "Trane"); }, 0, "John Coltrane",
       "Blue Train"},
      {"a stream's new title under one file", [&] { Model(1).SetTitle(0, "Next"); }, 2, "Trane", "Blue Train"},
      {"an entry without tags: the player answers 0", [&] { Model(1).Add("U.mp3"), Model(1).OnUser(1, 121); }, 2,
       "", ""},
      {"no entry: nothing asked", [&] { Call(1, "WAC_ClearPlaylist"); }, 0, "", ""},
  };
  for (const auto& [what, change, requests, artist, album] : rows) {
    change();
    EXPECT_EQ(Poll(), requests) << what;
    const uint32_t i = uint32_t(Model(1).CurrentIndex());
    const sent::Sequence twelve = {ask::kPosition, ask::kLength,  ask::kCurrent, ask::kCount,
                                   ask::File(i),   ask::kCurrent, ask::kCount,   ask::Title(i),
                                   ask::kVolume,   ask::kShuffle, ask::kRepeat,  ask::kPlayState};
    sent::Sequence polled = Traffic(1);
    polled.resize(12, {});
    if (Model(1).Count()) {
      EXPECT_EQ(polled, twelve) << what;
      EXPECT_EQ(Traffic(1).size(), 12u + unsigned(requests)) << what << ": nothing else";
      std::vector<uint32_t> rights = {kRead, kRead};
      rights.resize(2 + std::size_t(requests), kQuery);
      EXPECT_EQ(world.OpenedRights(), rights) << what;
    }
    EXPECT_EQ(Artist(), artist) << what;
    EXPECT_EQ(Album(), album) << what;
    EXPECT_EQ(world.Reservations(Player(1)->Pid()), 1) << what << ": one, made at the first request, kept";
  }
}

// Alone, the tag items learn the entry themselves, once a poll for both.
TEST_F(Tags, AloneTheyAskTheEntryThemselves) {
  Make(false);
  Model(1).Add("C:\\Music\\Ballads\\John Coltrane - Say It.mp3");
  EXPECT_EQ(Poll(), 2);
  EXPECT_EQ(Artist(), "John Coltrane");
  EXPECT_EQ(Album(), "") << "untagged: no album";
  EXPECT_EQ(Poll(), 0);
  EXPECT_EQ(Traffic(1), (sent::Sequence{ask::kCurrent, ask::kCount, ask::File(0), ask::Title(0)}));
}

// The bad inputs, each on an instance and player of its own. No handle stays open, the player
// holds at most one reservation while bound and none once let go (hung, so that it is still there
// with the close command waiting), and no opening asks more than its use needs.
TEST_F(Tags, BadInputsCostNothing) {
  auto metadata = [this](std::string field) {
    return [this, field] { return Call(1, "WAC_GetMetadata", {Value::S(field)}).Str; };
  };
  auto unterminated = [] {
    std::string s;
    while (s.size() < 4096) s += "Crescent|";
    return s.substr(0, 4096);
  };
  auto none = [](sim::SimPlayer&) {};
  auto fortyChanges = [this] {
    int requests = 0;
    for (int i = 1; i <= 40; ++i) {
      Model(1).Add("C:\\Music\\x" + std::to_string(i) + ".mp3");
      Model(1).SetTag(int32_t(Model(1).Count()) - 1, "album", "Album " + std::to_string(i));
      Call(1, "WAC_Next");
      requests += Poll();
      EXPECT_LE(world.Reservations(Player(1)->Pid()), 1);
    }
    world.ClearSent();
    return Album() + " after " + std::to_string(requests);
  };
  using Prepare = std::function<void(sim::SimPlayer&)>;
  const std::tuple<const char*, Prepare, std::function<std::string()>, std::string, int> rows[] = {
      {"a 5,000-character tag", [](sim::SimPlayer& p) { p.Model().SetTag(0, "artist", std::string(5000, 'a')); },
       metadata("artist"), std::string(4095, 'a'), 1},
      {"answered 1, unterminated",
       [this](sim::SimPlayer& p) { world.Send(p.Window(), pn::kWmUser, 1, player::control::kUnterminatedTags); },
       metadata("title"), unterminated(), 1},
      {"the player exits between the reservation and the read", [](sim::SimPlayer& p) { p.DieAtTagQuery(); },
       metadata("artist"), "", 1},
      {"a field of 64 characters", none, metadata(std::string(64, 'f')), "", 0},
      {"a field with a blank", none, metadata("album artist"), "", 0},
      {"40 entry changes in a row", none, fortyChanges, "Album 40 after 80", 0},
  };
  for (const auto& [what, prepare, act, expected, requests] : rows) {
    SCOPED_TRACE(what);
    Make(true);
    sim::SimPlayer& p = *Player(1);
    const uint32_t pid = p.Pid();
    p.Model().Add("C:\\Music\\Crescent\\John Coltrane - Crescent.mp3");
    world.Advance(250);
    prepare(p);
    world.ClearSent();
    const std::string got = act();
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << got.substr(0, 40);
    EXPECT_EQ(int(std::count_if(world.Sent().begin(), world.Sent().end(),
                                [](const sim::SentMessage& m) { return m.LParam == 290; })),
              requests);
    EXPECT_EQ(world.OpenProcessHandles(), 0);
    if (world.ProcessAlive(pid)) {
      p.Hang(true);
      world.Advance(250);
      EditSettings(1, [](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText(""); });
      EXPECT_TRUE(world.ProcessAlive(pid));
      EXPECT_EQ(world.Reservations(pid), 0) << "released while the close command waits";
      p.Hang(false);
    }
    for (uint32_t rights : world.OpenedRights()) EXPECT_TRUE(rights == kRead || rights == kQuery || rights == kRelease);
    server.DestroyInstance(1);
  }
}

// A slow player, asked one question a tick: the tags take the entry the file and title items read
// earlier in the same round, so rounds in which the entry stays ask nothing that waits.
TEST_F(Tags, WithASlowPlayerQuietRoundsWaitForNoAnswer) {
  Make(true);
  Model(1).Add("C:\\Music\\John Coltrane - Crescent.mp3");
  Player(1)->SetReplyDelay(1900);
  world.Advance(60000);  // slow from the second answer on; the tags asked once for the entry
  ASSERT_EQ(Artist(), "John Coltrane");
  const int64_t busy = world.DispatchedMs();
  world.Advance(180000);  // some rounds of twelve questions, each followed by its rest
  EXPECT_LT(world.DispatchedMs() - busy, 1900) << "no answer waited for";
  EXPECT_EQ(Artist(), "John Coltrane");
}

// A slow player is asked without waiting by the tag items too, alone or with the file and title items:
// a new entry's artist and album come, and the thread waits for none of their answers.
TEST_F(Tags, WithASlowPlayerANewEntrysTagsComeWithoutTheThreadWaiting) {
  for (const bool all : {false, true}) {
    SCOPED_TRACE(all ? "with all eleven" : "alone");
    Make(all);
    Model(1).Add("C:\\Music\\John Coltrane - Crescent.mp3");
    Model(1).Add("C:\\Music\\Miles Davis - So What.mp3");
    Model(1).SetTag(1, "album", "Kind of Blue");
    Player(1)->SetReplyDelay(1900);
    world.Advance(60000);  // slow from the second answer on
    ASSERT_EQ(Artist(), "John Coltrane");
    world.ResetLongestDispatch();
    Model(1).OnUser(1, pn::user::kSetCurrent);
    const int64_t changed = world.ElapsedMs();
    while ((Artist() != "Miles Davis" || Album() != "Kind of Blue") && world.ElapsedMs() - changed < 120000)
      world.Advance(250);
    EXPECT_EQ(Artist(), "Miles Davis");
    EXPECT_EQ(Album(), "Kind of Blue");
    EXPECT_LT(world.LongestDispatchMs(), 1900) << "no answer waited for";
    std::printf("[          ] 1900 ms per answer (%s): the new entry's tags after %.1f s\n", all ? "all" : "alone",
                double(world.ElapsedMs() - changed) / 1000);
    server.DestroyInstance(1);
    world.Advance(5000);
  }
}

// A slow player takes 2.6 s inside a new entry's first tag request, asked without waiting: given up.
// The request is made again once the player answers; meanwhile the variable is never written as if
// the entry had no artist.
TEST_F(Tags, ASlowPlayersTagRequestGivenUpIsMadeAgainNotWrittenAsNoTag) {
  Make(false);
  Model(1).Add("C:\\Music\\John Coltrane - Crescent.mp3");
  Model(1).Add("C:\\Music\\Miles Davis - So What.mp3");
  Player(1)->SetReplyDelay(1900);
  world.Advance(60000);
  ASSERT_EQ(Artist(), "John Coltrane");
  int slowOnes = 1;
  Player(1)->SetHandlingTime([&](const sim::SentMessage& m) -> std::optional<uint32_t> {
    if (m.LParam == 290 && slowOnes > 0) return --slowOnes, 2600;
    return std::nullopt;
  });
  Model(1).OnUser(1, pn::user::kSetCurrent);
  for (int i = 0; i < 480 && Artist() != "Miles Davis"; ++i) {
    world.Advance(250);
    ASSERT_NE(Artist(), "") << "after " << world.ElapsedMs() << " ms";
  }
  EXPECT_EQ(slowOnes, 0);
  EXPECT_EQ(Artist(), "Miles Davis");
  Player(1)->SetHandlingTime({});
}

// A player that takes 2.6 s inside the tag request: the send is given up while the player is still
// to write its answer into the reservation. Let go of at once (a new location), the reservation
// stays the player's until the request is done and the close command ends the process; released
// at that moment, the player would have written into memory it no longer had.
TEST_F(Tags, TheReservationStaysWhileTheSlowPlayerMayStillWriteIntoIt) {
  Make(false);
  sim::SimPlayer& p = *Player(1);
  const uint32_t pid = p.Pid();
  p.Model().Add("C:\\Music\\John Coltrane - Crescent.mp3");
  world.Advance(250);
  EXPECT_EQ(Artist(), "John Coltrane");
  p.SetHandlingTime([](const sim::SentMessage& m) -> std::optional<uint32_t> {
    if (m.LParam == 290) return 2600;
    return std::nullopt;
  });
  EXPECT_EQ(Call(1, "WAC_GetMetadata", {Value::S("year")}).Str, "") << "given up";
  EditSettings(1, [](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText(""); });
  EXPECT_EQ(world.LateCompletions(), 0) << "the player is still inside the request";
  EXPECT_EQ(world.Reservations(pid), 1) << "still the player's";
  world.Advance(1000);
  EXPECT_EQ(world.LateCompletions(), 1);
  EXPECT_FALSE(world.ProcessAlive(pid)) << "closed once done, the memory with it";
}

}  // namespace
}  // namespace instancetest
