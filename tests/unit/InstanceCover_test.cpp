// The cover variable in the simulated world, with real files: it follows the entry, is looked up
// only when the entry changed, and the lookup, off the server's thread, crosses entry changes and
// the instance's end without harm.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>

#include "CoverFiles.h"
#include "InstanceFixture.h"
#include "SettingsKeys.h"
#include "TestFolder.h"

namespace instancetest {
namespace {

namespace fs = std::filesystem;
using coverfiles::Bytes;
using host::Value;

using coverfiles::Write;

class Cover : public InstanceTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(InstanceTest::SetUp());
    root = testfolder::Own() + "instance_cover/";
    fs::remove_all(root);
    fs::create_directories(root + "album");
    fs::create_directories(root + "covers");
    world.SetCoversFolder(root + "covers");
    Write(root + "album/folder.jpg", coverfiles::Jpeg(1));
    Write(root + "album/01.mp3", coverfiles::Audio());
    for (const uint8_t seed : {2, 3}) {
      const Bytes tag = coverfiles::Id3v2(3, {coverfiles::PictureFrame(3, 3, coverfiles::Png(seed))});
      Write(Tagged(seed), coverfiles::Join({tag, coverfiles::Audio()}));
    }
    server.DefineVariable("Cover", Value::S("?"));
    Store(1, testdata::kCoverKey, "Cover");
  }
  void TearDown() override {
    InstanceTest::TearDown();
    fs::remove_all(root);
  }
  std::string Tagged(uint8_t seed) const { return root + "tagged" + std::to_string(seed) + ".mp3"; }
  std::string Covered() const { return server.Variable("Cover")->Str; }
  std::string Kept() const {
    for (const auto& entry : fs::directory_iterator(root + "covers")) return entry.path().string();
    return "none";
  }
  void Select(int32_t index) { Call(1, "WAC_SetPlaylistPosition", {Value::I(index + 1)}); }  // scripts count from 1

  std::string root;
};

// Each kind of entry, and no player: what the variable shows, and how many lookups it took.
TEST_F(Cover, TheVariableFollowsTheEntryLookingUpOnlyOnAChange) {
  Create(1);
  for (const std::string& file : {root + "album/01.mp3", Tagged(2), std::string("http://radio.example/live")})
    Model(1).Add(file);
  struct Row {
    const char* What;
    std::function<void()> Change;
    std::function<std::string()> Shown;
    int Lookups;
  };
  const Row rows[] = {
      {"a picture beside the file", [] {}, [&] { return root + "album/folder.jpg"; }, 1},
      {"nothing changed", [] {}, [&] { return root + "album/folder.jpg"; }, 0},
      {"a picture in the tag", [&] { Select(1); }, [&] { return Kept(); }, 1},
      {"a stream: none, nothing looked up", [&] { Select(2); }, [] { return std::string(); }, 0},
      {"back to the tagged file", [&] { Select(1); }, [&] { return Kept(); }, 1},
      {"no entry", [&] { Call(1, "WAC_ClearPlaylist"); }, [] { return std::string(); }, 0},
      {"an entry again", [&] { Model(1).Add(Tagged(2)); }, [&] { return Kept(); }, 1},
      {"no answering player", [&] { world.SetHung(Player(1)->Window(), true); }, [] { return std::string(); }, 0},
  };
  for (const Row& row : rows) {
    const int before = world.OffThreadRuns();
    row.Change();
    world.Advance(3000);
    EXPECT_EQ(Covered(), row.Shown()) << row.What;
    EXPECT_EQ(world.OffThreadRuns() - before, row.Lookups) << row.What;
  }
  EXPECT_EQ(Kept().substr(Kept().size() - 4), ".png");
}

// On a disk that takes 5 s, the server's thread never waits for it. An answer that comes after the
// entry changed is dropped, and the new entry's follows; an answer that comes after the instance,
// and the module, have gone touches neither (the sanitizers watch for what it would touch or leak).
TEST_F(Cover, ALookupCrossedWithAnEntryChangeAndTheInstancesEnd) {
  world.SetDiskMs(5000);
  Create(1);
  Model(1).Add(root + "album/01.mp3");
  Model(1).Add(Tagged(2));
  Model(1).Add(Tagged(3));
  world.ResetLongestDispatch();
  world.Advance(2000);  // the folder's picture is being looked up
  EXPECT_EQ(world.OffThreadPending(), 1u);
  Select(1);
  std::string shown;
  for (int tick = 0; tick < 60 && shown.empty(); ++tick) {
    world.Advance(250);
    EXPECT_NE(Covered(), root + "album/folder.jpg") << "the answer for the entry before is dropped";
    if (Covered() != "?") shown = Covered();
  }
  EXPECT_EQ(shown, Kept());
  EXPECT_EQ(world.OffThreadRuns(), 2);
  EXPECT_LT(world.LongestDispatchMs(), 250) << "the thread never opened a file itself";

  Select(2);
  world.Advance(1000);
  ASSERT_EQ(world.OffThreadPending(), 1u);
  const std::string before = Covered();
  server.DestroyInstance(1);
  server.UnloadModules();
  world.Advance(6000);  // the lookup ends with nothing left to hand its answer to
  EXPECT_EQ(world.OffThreadPending(), 0u);
  EXPECT_EQ(Covered(), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(root + "covers"), fs::directory_iterator()), 1)
      << "a lookup left alone keeps no picture";
}

}  // namespace
}  // namespace instancetest
