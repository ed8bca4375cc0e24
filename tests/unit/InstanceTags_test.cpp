// Artist and album: asked of the player only when the entry changed, through one reservation in
// the player's memory per bound player, opened with the least rights; WAC_GetMetadata; bad inputs.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "InstanceFixture.h"
#include "SentMessages.h"
#include "SettingsKeys.h"

namespace instancetest {
namespace {

using host::Value;
namespace access = platform::access;

constexpr uint32_t kExtendedFileInfo = 290;
constexpr uint32_t kRead = access::kVmRead;
constexpr uint32_t kQuery = access::kVmOperation | access::kVmRead | access::kVmWrite;
constexpr uint32_t kRelease = access::kVmOperation;

class Tags : public InstanceTest {
 protected:
  // All eleven settings chosen for instance `id`; artist and album into "artist" and "album".
  void ChooseEleven(uint16_t id) {
    testdata::ChooseAll(server, id, [](const std::string& key) { return "v_" + key; });
    server.DefineVariable("state", Value::I(0));
    Store(id, testdata::kPlayStateKey, "state");
    for (const char* key : {testdata::kArtistKey, testdata::kAlbumKey}) {
      const std::string ident = key == testdata::kArtistKey ? "artist" : "album";
      server.DefineVariable(ident, Value::S("?"));
      Store(id, key, ident);
    }
  }
  std::string Var(const char* ident) { return server.Variable(ident)->Str; }
  // The tag requests sent since the sends were last cleared.
  int Requests() const {
    int n = 0;
    for (const sim::SentMessage& m : world.Sent()) n += m.Message == pn::kWmUser && m.LParam == kExtendedFileInfo;
    return n;
  }
  // Lets go of instance `id`'s player while it hangs, so that its process is still there to look into.
  void LetGoOfHungPlayer(uint16_t id) {
    Player(id)->Hang(true);
    world.Advance(250);  // a poll meets the hang
    EditSettings(id, [](TKDOWinampControlSettings& s) { s.WinampLocation = TKDOText(""); });
  }
};

// With all eleven chosen, a poll in which the entry stayed sends the twelve messages of before;
// another player, file or title adds exactly the two requests, after them.
TEST_F(Tags, AnEntryChangeAddsTwoRequestsAndAQuietPollNone) {
  ChooseEleven(1);
  Create(1);
  sent::Sequence twelve = {sent::ask::kPosition, sent::ask::kLength, sent::ask::kCurrent, sent::ask::kCount,
                           sent::ask::File(0),   sent::ask::kCurrent, sent::ask::kCount,  sent::ask::Title(0),
                           sent::ask::kVolume,   sent::ask::kShuffle, sent::ask::kRepeat, sent::ask::kPlayState};
  const std::tuple<const char*, std::function<void()>, int, const char*, const char*> rows[] = {
      {"an entry appears", [&] { Model(1).Add("C:\\Music\\Blue Train\\John Coltrane - Locomotion.mp3"); }, 2,
       "John Coltrane", "Blue Train"},
      {"nothing changed", [] {}, 0, "John Coltrane", "Blue Train"},
      {"a tag changed under the same entry is not asked", [&] { Model(1).SetTag(0, "artist", "Trane"); }, 0,
       "John Coltrane", "Blue Train"},
      {"a stream's new title under one file", [&] { Model(1).SetTitle(0, "Next Song"); }, 2, "Trane",
       "Blue Train"},
      {"an entry with no artist: the player answers 0", [&] {
         Model(1).Add("Untitled.mp3");
         Call(1, "WAC_SetPlaylistPosition", {Value::I(2)});
       }, 2, "", ""},
      {"no entry: nothing asked, both empty", [&] { Call(1, "WAC_ClearPlaylist"); }, 0, "", ""},
  };
  for (const auto& [what, change, requests, artist, album] : rows) {
    change();
    world.ClearSent();
    const std::size_t openings = world.OpenedRights().size();
    world.Advance(250);
    EXPECT_EQ(Requests(), requests) << what;
    sent::Sequence polled = Traffic(1);
    if (Model(1).Count() > 0) {
      polled.resize(std::min<std::size_t>(polled.size(), 12));
      twelve[4] = sent::ask::File(uint32_t(Model(1).CurrentIndex()));
      twelve[7] = sent::ask::Title(uint32_t(Model(1).CurrentIndex()));
      EXPECT_EQ(polled, twelve) << what << ": the twelve first, the requests after them";
      std::vector<uint32_t> rights(2, kRead);  // the file and the title
      rights.insert(rights.end(), std::size_t(requests), kQuery);
      EXPECT_EQ(std::vector<uint32_t>(world.OpenedRights().begin() + long(openings), world.OpenedRights().end()),
                rights)
          << what;
    }
    EXPECT_EQ(Var("artist"), artist) << what;
    EXPECT_EQ(Var("album"), album) << what;
    EXPECT_EQ(world.Reservations(Player(1)->Pid()), 1) << what << ": one, made at the first request and kept";
    EXPECT_EQ(world.OpenProcessHandles(), 0) << what;
  }
}

// Without the file and title items the tag items learn the entry themselves, once per poll.
TEST_F(Tags, AloneTheyAskTheEntryOncePerPoll) {
  server.DefineVariable("album", Value::S(""));
  Store(1, testdata::kAlbumKey, "album");
  server.DefineVariable("artist", Value::S(""));
  Store(1, testdata::kArtistKey, "artist");
  Create(1);
  Model(1).Add("C:\\Music\\Giant Steps\\John Coltrane - Naima.mp3");
  world.ClearSent();
  world.Advance(250);
  const sent::Sequence entry = {sent::ask::kCurrent, sent::ask::kCount, sent::ask::File(0), sent::ask::Title(0)};
  sent::Sequence polled = Traffic(1);
  ASSERT_EQ(polled.size(), 6u);
  EXPECT_EQ(sent::Sequence(polled.begin(), polled.begin() + 4), entry);
  EXPECT_EQ(Requests(), 2);
  EXPECT_EQ(Var("album"), "Giant Steps");
  EXPECT_EQ(Var("artist"), "John Coltrane");
  world.ClearSent();
  world.Advance(250);
  EXPECT_EQ(Traffic(1), entry) << "the entry stayed: no request";
}

// While the player does not answer, the tags are kept; once it answers, the entry is asked again.
TEST_F(Tags, AHungPlayerKeepsTheTagsAndIsAskedAgainOnceItAnswers) {
  ChooseEleven(1);
  Create(1);
  Model(1).Add("C:\\Music\\Ballads\\John Coltrane - Say It.mp3");
  world.Advance(250);
  Player(1)->Hang(true);
  Model(1).Add("C:\\Music\\Crescent\\John Coltrane - Wise One.mp3");
  Model(1).OnCommand(pn::cmd::kNext);
  world.Advance(5000);
  EXPECT_EQ(Var("album"), "Ballads") << "kept while it hangs";
  Player(1)->Hang(false);
  world.Advance(7000);
  EXPECT_EQ(Var("album"), "Crescent");
}

// The bad inputs: each row on an instance and a player of its own. However it goes, no handle stays
// open, the player holds at most one reservation of ours while bound and none once let go, and
// nothing is opened with more rights than its use needs.
TEST_F(Tags, BadInputsCostNothing) {
  struct Row {
    const char* What;
    std::function<void(sim::SimPlayer&)> Prepare;
    std::function<std::string()> Act;
    std::string Expected;
    int Requests;
  };
  auto metadata = [this](std::string field) {
    return [this, field] { return Call(1, "WAC_GetMetadata", {Value::S(field)}).Str; };
  };
  const Row rows[] = {
      {"a 5,000-character tag: cut to the answer's room",
       [](sim::SimPlayer& p) { p.Model().SetTag(0, "artist", std::string(5000, 'a')); }, metadata("artist"),
       std::string(4095, 'a'), 1},
      {"answered 1, the buffer left unterminated: our zero ends it",
       [this](sim::SimPlayer& p) { world.Send(p.Window(), pn::kWmUser, 1, player::control::kUnterminatedTags); },
       metadata("album"),
       [] {
         std::string s;
         while (s.size() < 4096) s += "Crescent|";
         return s.substr(0, 4096);
       }(),
       1},
      {"the player exits between the reservation and the read", [](sim::SimPlayer& p) { p.DieAtTagQuery(); },
       metadata("artist"), "", 1},
      {"a field of 64 characters is never sent", nullptr, metadata(std::string(64, 'f')), "", 0},
      {"a field with a blank is never sent", nullptr, metadata("album artist"), "", 0},
      {"40 entry changes in a row",
       [](sim::SimPlayer& p) {
         for (int i = 1; i <= 40; ++i) p.Model().Add("C:\\Music\\Album " + std::to_string(i) + "\\x.mp3");
       },
       [this] {
         for (int i = 0; i < 40; ++i) {
           Call(1, "WAC_Next");
           world.Advance(250);
           EXPECT_LE(world.Reservations(Player(1)->Pid()), 1);
         }
         return Var("album");
       },
       "Album 40", 80},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    ChooseEleven(1);
    Create(1);
    sim::SimPlayer& p = *Player(1);
    const uint32_t pid = p.Pid();
    p.Model().Add("C:\\Music\\Crescent\\John Coltrane - Crescent.mp3");
    world.Advance(250);
    if (row.Prepare) row.Prepare(p);
    world.ClearSent();
    const std::string got = row.Act();
    EXPECT_EQ(got.size(), row.Expected.size());
    EXPECT_TRUE(got == row.Expected) << got.substr(0, 40);
    EXPECT_EQ(Requests(), row.Requests);
    EXPECT_EQ(world.OpenProcessHandles(), 0);
    EXPECT_LE(world.Reservations(pid), 1);
    if (world.ProcessAlive(pid)) {
      LetGoOfHungPlayer(1);
      EXPECT_TRUE(world.ProcessAlive(pid)) << "still there, hung, with the close command waiting";
      EXPECT_EQ(world.Reservations(pid), 0) << "released before the close command";
      p.Hang(false);
    }
    EXPECT_EQ(world.OpenProcessHandles(), 0);
    for (uint32_t rights : world.OpenedRights()) EXPECT_TRUE(rights == kRead || rights == kQuery || rights == kRelease);
    server.DestroyInstance(1);
  }
}

}  // namespace
}  // namespace instancetest
