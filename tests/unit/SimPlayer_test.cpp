// The player stand-in in the simulated world: started by the shell, reached
// through window messages, its texts read out of its own address space.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "PlayerNumbers.h"
#include "player/PlayerModel.h"
#include "platform/Platform.h"
#include "player/sim/SimPlayer.h"

namespace {

using platform::CopyDataRecord;
using namespace playernumbers;

constexpr char kExe[] = "C:\\Program Files\\Winamp\\winamp.exe";

class SimPlayerTest : public ::testing::Test {
 protected:
  int32_t User(uint32_t lParam, uint32_t wParam = 0) { return world.Send(window, kWmUser, wParam, lParam).Reply; }
  int32_t Command(uint32_t id) { return world.Send(window, kWmCommand, id, 0).Reply; }
  int32_t CopyData(uintptr_t dwData, const std::string& text) {
    CopyDataRecord record{dwData, uint32_t(text.size() + 1), text.c_str()};
    return world.Send(window, kWmCopyData, 0, reinterpret_cast<uintptr_t>(&record)).Reply;
  }
  bool Read(uint32_t address, void* buffer, std::size_t size) {
    return world.PeekProcess(player.Pid(), address, buffer, size);
  }
  // The caller's way: 500 bytes in one piece, then up to the zero.
  std::string ReadText(int32_t address) {
    char buffer[500];
    if (!Read(uint32_t(address), buffer, sizeof buffer)) return "<unreadable>";
    return std::string(buffer, strnlen(buffer, sizeof buffer));
  }

  sim::World world;
  sim::SimPlayer player{world, "WA_KDO_1"};
  platform::WindowHandle window = player.Window();
};

// ---------------------------------------------------------------- messages

TEST_F(SimPlayerTest, AnswersThroughTheWorldAndKeepsItsTextsInItsOwnMemory) {
  ASSERT_NE(window, 0u);
  EXPECT_EQ(world.FindWindow("WA_KDO_1"), window);
  EXPECT_EQ(world.WindowProcess(window), player.Pid());
  EXPECT_EQ(CopyData(copydata::kAddFile, "C:\\Music\\First Song.mp3"), 1);
  EXPECT_EQ(CopyData(copydata::kAddFile, "D:\\second.ogg"), 1);
  EXPECT_EQ(User(user::kCount), 2);
  EXPECT_EQ(ReadText(User(user::kFileAddress, 0)), "C:\\Music\\First Song.mp3");
  EXPECT_EQ(ReadText(User(user::kTitleAddress, 0)), "First Song");
  EXPECT_EQ(ReadText(User(user::kTitleAddress, 1)), "second");
  EXPECT_EQ(User(user::kTitleAddress, 2), 0);
}

TEST_F(SimPlayerTest, TheModelSeesTheWorldsClock) {
  CopyData(copydata::kAddFile, "a.mp3");
  Command(cmd::kPlay);
  world.Advance(1500);
  EXPECT_EQ(User(user::kTime, user::kPositionMs), 1500);
  player.SetReplyDelay(300);
  EXPECT_EQ(User(user::kTime, user::kPositionMs), 1800) << "the send waited for the reply";
  player.SetReplyDelay(0);
  Command(cmd::kPause);
  world.Advance(10000);
  EXPECT_EQ(User(user::kTime, user::kPositionMs), 1800);
}

TEST_F(SimPlayerTest, ClearingThePlaylistReleasesItsTexts) {
  CopyData(copydata::kAddFile, "a.mp3");
  const uint32_t file = uint32_t(User(user::kFileAddress, 0));
  const uint32_t title = uint32_t(User(user::kTitleAddress, 0));
  User(user::kClearPlaylist);
  char byte;
  EXPECT_FALSE(Read(file, &byte, 1));
  EXPECT_FALSE(Read(title, &byte, 1));
}

TEST_F(SimPlayerTest, ControlMessagesSetTheCurrentTitleAndLength) {
  CopyData(copydata::kAddFile, "a.mp3");
  CopyData(copydata::kAddFile, "b.mp3");
  User(user::kSetCurrent, 1);
  const uint32_t old = uint32_t(User(user::kTitleAddress, 1));
  const std::string longTitle(600, 'L');
  EXPECT_EQ(CopyData(player::control::kSetTitle, longTitle), 1);
  const uint32_t now = uint32_t(User(user::kTitleAddress, 1));
  std::vector<char> whole(longTitle.size() + 1);
  ASSERT_TRUE(Read(now, whole.data(), whole.size()));
  EXPECT_EQ(std::string(whole.data()), longTitle);
  char byte;
  EXPECT_FALSE(Read(old, &byte, 1)) << "the old title's memory is gone";
  EXPECT_EQ(ReadText(User(user::kTitleAddress, 0)), "a") << "only the current entry changes";

  User(player::control::kSetLength, 42);
  EXPECT_EQ(User(user::kTime, user::kLengthSeconds), 42);
  User(user::kSetCurrent, 0);
  EXPECT_EQ(User(user::kTime, user::kLengthSeconds), 205);
}

TEST_F(SimPlayerTest, ItsPlaylistWindowRemovesEntriesAndHidesFromTheMainClass) {
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) CopyData(copydata::kAddFile, name);
  User(user::kSetCurrent, 2);
  const platform::WindowHandle playlist = platform::WindowHandle(User(user::kPlaylistWindow));
  ASSERT_NE(playlist, 0u);
  EXPECT_NE(playlist, window);
  EXPECT_EQ(world.WindowProcess(playlist), player.Pid());
  EXPECT_EQ(world.FindWindows("WA_KDO_1"), std::vector<platform::WindowHandle>{window});

  EXPECT_EQ(world.Send(playlist, kWmUser, playlist::kRemove, 0).Reply, 0);
  EXPECT_EQ(User(user::kCount), 2);
  EXPECT_EQ(User(user::kCurrent), 1) << "the same entry, one place down";
  EXPECT_EQ(ReadText(User(user::kTitleAddress, 0)), "b");

  player.Hang(true);
  EXPECT_EQ(world.Send(playlist, kWmUser, playlist::kRemove, 0).Outcome, platform::SendOutcome::GivenUp)
      << "one thread serves both windows";
  player.Hang(false);
  EXPECT_EQ(Command(cmd::kClose), 0);
  EXPECT_FALSE(world.WindowAlive(playlist));
}

// ---------------------------------------------------------------- faults

TEST_F(SimPlayerTest, ATitleAtTheEndOfMemoryCannotBeReadAsAWhole500Bytes) {
  CopyData(copydata::kAddFile, "a.mp3");
  player.PlaceTitleAtEndOfMemory(0, "Edge");
  const uint32_t address = uint32_t(User(user::kTitleAddress, 0));
  EXPECT_EQ((address + 5) % platform::kPageSize, 0u) << "its zero is a page's last byte";
  char buffer[500];
  EXPECT_FALSE(Read(address, buffer, sizeof buffer));
  EXPECT_FALSE(Read(address, buffer, 6));
  ASSERT_TRUE(Read(address, buffer, 5));
  EXPECT_STREQ(buffer, "Edge");
  EXPECT_EQ(player.Model().At(0).Title, "Edge");
}

TEST_F(SimPlayerTest, TheEndOfMemoryControlMessagePlacesTheCurrentTitleLikewise) {
  CopyData(copydata::kAddFile, "a.mp3");
  const std::string title(5000, 'T');  // longer than a page
  EXPECT_EQ(CopyData(player::control::kSetTitleAtEnd, title), 1);
  const uint32_t address = uint32_t(User(user::kTitleAddress, 0));
  EXPECT_EQ((address + title.size() + 1) % platform::kPageSize, 0u);
  std::vector<char> whole(title.size() + 1);
  ASSERT_TRUE(Read(address, whole.data(), whole.size()));
  EXPECT_EQ(std::string(whole.data()), title);
  EXPECT_FALSE(Read(address, whole.data(), whole.size() + 1));
}

TEST_F(SimPlayerTest, GarbageAddressesAreNonZeroAndUnreadable) {
  CopyData(copydata::kAddFile, "a.mp3");
  const int32_t real = User(user::kFileAddress, 0);
  char byte;
  player.ReplyGarbageAddresses(true);
  for (uint32_t which : {user::kFileAddress, user::kTitleAddress}) {
    const int32_t reply = User(which, 0);
    EXPECT_NE(reply, 0);
    EXPECT_FALSE(Read(uint32_t(reply), &byte, 1)) << which;
    EXPECT_EQ(User(which, 1), 0) << "out of range is still 0";
  }
  player.ReplyGarbageAddresses(false);
  EXPECT_EQ(User(user::kFileAddress, 0), real);

  User(player::control::kGarbageAddresses, 1);
  EXPECT_FALSE(Read(uint32_t(User(user::kTitleAddress, 0)), &byte, 1));
  User(player::control::kGarbageAddresses, 0);
  EXPECT_EQ(ReadText(User(user::kTitleAddress, 0)), "a");
}

TEST_F(SimPlayerTest, AHungPlayerCostsTheSendLimitAndAnswersNothing) {
  CopyData(copydata::kAddFile, "a.mp3");
  player.Hang(true);
  const int64_t before = world.ElapsedMs();
  const platform::SendResult r = world.Send(window, kWmUser, 0, user::kCount);
  EXPECT_EQ(r.Outcome, platform::SendOutcome::GivenUp);
  EXPECT_EQ(r.Reply, 0);
  EXPECT_EQ(world.ElapsedMs() - before, int64_t(platform::kSendTimeoutMs));
  EXPECT_TRUE(player.Running());
  player.Hang(false);
  EXPECT_EQ(User(user::kCount), 1);
}

TEST_F(SimPlayerTest, CloseCommandDestroysTheWindowAndEndsTheProcess) {
  CopyData(copydata::kAddFile, "a.mp3");
  const uint32_t address = uint32_t(User(user::kFileAddress, 0));
  EXPECT_EQ(Command(cmd::kClose), 0);
  EXPECT_FALSE(world.WindowAlive(window));
  EXPECT_FALSE(world.ProcessAlive(player.Pid()));
  EXPECT_FALSE(player.Running());
  EXPECT_EQ(player.Window(), 0u);
  EXPECT_EQ(world.FindWindow("WA_KDO_1"), 0u);
  char byte;
  EXPECT_FALSE(Read(address, &byte, 1));
  EXPECT_EQ(User(user::kCount), 0) << "nobody answers";
}

TEST_F(SimPlayerTest, DyingTakesTheWindowAlong) {
  player.Die();
  EXPECT_FALSE(player.Running());
  EXPECT_FALSE(world.WindowAlive(window));
  EXPECT_EQ(world.FindWindow("WA_KDO_1"), 0u);
}

TEST(SimPlayerLifetime, EndsItsProcessWhenItGoes) {
  sim::World world;
  uint32_t pid = 0;
  platform::WindowHandle window = 0;
  {
    sim::SimPlayer player(world, "WA_KDO_2");
    pid = player.Pid();
    window = player.Window();
    EXPECT_TRUE(player.Running());
  }
  EXPECT_FALSE(world.ProcessAlive(pid));
  EXPECT_FALSE(world.WindowAlive(window));
}

TEST(SimPlayerLifetime, WithoutAWindowItRunsButCannotBeFound) {
  sim::World world;
  sim::SimPlayer player(world, "WA_KDO_3", false);
  EXPECT_EQ(player.Window(), 0u);
  EXPECT_TRUE(player.Running());
  EXPECT_TRUE(world.ProcessAlive(player.Pid()));
  EXPECT_EQ(world.FindWindow("WA_KDO_3"), 0u);
}

// ---------------------------------------------------------------- the farm

TEST(SimPlayerFarm, StartsAPlayerWithTheClassFromTheCommandLine) {
  sim::World world;
  sim::PlayerFarm farm(world);
  farm.InstallExecutable(kExe);
  EXPECT_TRUE(world.IsFile(kExe));
  EXPECT_EQ(farm.Launches(), 0);

  world.Shell(kExe, "/CLASS=\"WA_KDO_7\"", platform::SW_MINIMIZE_);
  ASSERT_EQ(farm.Launches(), 1);
  sim::SimPlayer* started = farm.Find("WA_KDO_7");
  ASSERT_NE(started, nullptr);
  EXPECT_EQ(started->ClassName(), "WA_KDO_7");
  EXPECT_EQ(world.FindWindow("WA_KDO_7"), started->Window());

  world.Shell(kExe, "/CLASS=Unquoted", platform::SW_MINIMIZE_);
  world.Shell(kExe, "", platform::SW_MINIMIZE_);
  ASSERT_EQ(farm.Launches(), 3);
  EXPECT_EQ(farm.Players()[1]->ClassName(), "Unquoted");
  EXPECT_EQ(farm.Players()[2]->ClassName(), "Winamp v1.x");
  EXPECT_NE(world.FindWindow("Winamp v1.x"), 0u);
  EXPECT_EQ(farm.Find("Nobody"), nullptr);
}

TEST(SimPlayerFarm, FindsTheNewestRunningPlayerOfAClass) {
  sim::World world;
  sim::PlayerFarm farm(world);
  farm.InstallExecutable(kExe);
  world.Shell(kExe, "/CLASS=\"Same\"", 0);
  world.Shell(kExe, "/CLASS=\"Same\"", 0);
  ASSERT_EQ(farm.Players().size(), 2u);
  sim::SimPlayer* older = farm.Players()[0].get();
  sim::SimPlayer* newer = farm.Players()[1].get();
  EXPECT_EQ(farm.Find("Same"), newer);
  world.Send(newer->Window(), kWmCommand, cmd::kClose, 0);
  EXPECT_EQ(farm.Find("Same"), older);
  older->Die();
  EXPECT_EQ(farm.Find("Same"), nullptr);
  EXPECT_EQ(farm.Players().size(), 2u) << "ended players stay on the list";
}

TEST(SimPlayerFarm, AWindowlessExecutableStartsPlayersThatNeverShowOne) {
  sim::World world;
  sim::PlayerFarm farm(world);
  farm.InstallExecutable(kExe, false);
  world.Shell(kExe, "/CLASS=\"Hidden\"", 0);
  ASSERT_EQ(farm.Launches(), 1);
  EXPECT_EQ(world.FindWindow("Hidden"), 0u);
  EXPECT_TRUE(farm.Players()[0]->Running());
  EXPECT_EQ(farm.Find("Hidden"), farm.Players()[0].get()) << "running, though it shows nothing";
}

// ---------------------------------------------------------------- as Windows delivers

// A given-up add lands only when the player had taken it: slow inside its procedure, the file is added
// when the procedure ends, from the copy of the record made at the send (the sender's is gone by
// then); behind a hang it is cancelled and never added.
TEST(SimPlayerDelivery, AGivenUpAddLandsOnlyWhenThePlayerHadTakenIt) {
  struct Row {
    const char* Name;
    bool SlowAdds;
    int64_t HangMs;
    std::size_t Added;
  };
  const Row rows[] = {{"slow inside its procedure", true, 0, 1}, {"behind a hang", false, 2500, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    sim::World world;
    sim::SimPlayer player(world, "WA_KDO_1");
    if (row.SlowAdds)
      player.SetHandlingTime([](const sim::SentMessage& m) {
        return m.Message == kWmCopyData ? std::optional<uint32_t>(2600) : std::nullopt;
      });
    if (row.HangMs) player.HangFor(row.HangMs);
    {
      const std::string file = "C:\\Music\\a.mp3";
      const CopyDataRecord record{copydata::kAddFile, uint32_t(file.size() + 1), file.c_str()};
      EXPECT_EQ(world.Send(player.Window(), kWmCopyData, 0, reinterpret_cast<uintptr_t>(&record)).Outcome,
                platform::SendOutcome::GivenUp);
    }
    EXPECT_EQ(player.Model().Count(), 0u) << "not when the sender gave up";
    world.Advance(1000);
    ASSERT_EQ(player.Model().Count(), row.Added);
    if (row.Added) {
      EXPECT_EQ(player.Model().At(0).FileName, "C:\\Music\\a.mp3");
    }
    EXPECT_EQ(world.LateCompletions(), int(row.Added));
    EXPECT_EQ(world.CancelledSends(), 1 - int(row.Added));
  }
}

// Both windows are one thread's: a send to the playlist window waits behind a question the main window
// is still handling, and given up there it is never handled.
TEST(SimPlayerDelivery, ThePlaylistWindowWaitsBehindTheMainWindowsQuestion) {
  sim::World world;
  sim::SimPlayer player(world, "WA_KDO_1");
  player.Model().Add("a.mp3");
  player.SetReplyDelay(1500);
  platform::AnswerQuestion question;
  int32_t count = -1;
  ASSERT_TRUE(question.Ask(player.Window(), kWmUser, 0, user::kCount, [&](int32_t reply) { count = reply; }));
  const platform::SendResult r = world.Send(player.PlaylistWindow(), kWmUser, playlist::kRemove, 0, 1000);
  EXPECT_EQ(r.Outcome, platform::SendOutcome::GivenUp);
  EXPECT_EQ(count, -1) << "its answer comes at 1500 ms";
  world.Advance(1000);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(player.Model().Count(), 1u) << "the removal never ran";
}

}  // namespace
