// Binding the link to its player: lookups, starts, the check timer and its
// states, closing, on the simulated desktop with a virtual clock.
#include <gtest/gtest.h>

#include <memory>

#include <tuple>
#include <vector>

#include "LinkFixture.h"

namespace linktest {
namespace {

using Binding = LinkTest;

TEST_F(Binding, NewLinkWaitsAndBindsToAWindowSomebodyElseStarted) {
  TWinAmpControl link;
  link.SetWinAmpClassName("WA_KDO_7");
  EXPECT_FALSE(link.IsBound());
  EXPECT_EQ(CheckTimers(), Intervals{1000});
  world.Advance(1000);
  EXPECT_FALSE(link.IsBound());
  EXPECT_TRUE(world.ShellCalls().empty()) << "no path: nothing to start";

  ScriptedWindow& w = StartWindow("WA_KDO_7");
  world.Advance(999);
  EXPECT_FALSE(link.IsBound()) << "not before the next tick";
  world.Advance(1);
  EXPECT_TRUE(link.IsBound());
  EXPECT_EQ(HeldWindow(link), w.handle);
  EXPECT_EQ(CheckTimers(), Intervals{30000});
}

TEST_F(Binding, ClassNameChangeWaitsForTheNextLookup) {
  TWinAmpControl link;
  StartWindow("Winamp v1.x");
  StartWindow("WA_KDO_3");
  world.Advance(1000);
  ScriptedWindow& first = *windows[0];
  EXPECT_EQ(HeldWindow(link), first.handle) << "default class name";
  link.SetWinAmpClassName("WA_KDO_3");
  EXPECT_EQ(HeldWindow(link), first.handle) << "held handle stays";
  world.Advance(30000);
  EXPECT_EQ(HeldWindow(link), windows[1]->handle);
}

TEST_F(Binding, PathInOtherLetterCaseChangesNothing) {
  world.AddFile(kExe);
  TWinAmpControl link;
  link.SetWinAmpClassName("WA_KDO_1");
  StartWindow("WA_KDO_1");
  link.SetWinAmpPath(kExe);
  ASSERT_TRUE(link.IsBound());
  world.ClearSent();
  const int lookups = world.Lookups();
  link.SetWinAmpPath("c:\\PROGRAM FILES\\winamp\\WINAMP.EXE");
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_EQ(world.Lookups(), lookups);
  EXPECT_TRUE(world.ShellCalls().empty());
  EXPECT_EQ(link.WinAmpPath(), kExe) << "the stored text keeps its case";
}

TEST_F(Binding, OnlyLettersAToZIgnoreCase) {
  TWinAmpControl link;
  link.SetWinAmpPath("C:\\M\xC4USIK\\a.exe");  // upper-case A-umlaut in the system code page
  const int lookups = world.Lookups();
  link.SetWinAmpPath("C:\\m\xE4usik\\A.EXE");  // lower-case: a different path
  EXPECT_EQ(world.Lookups(), lookups + 1);
  link.SetWinAmpPath("C:\\m\xE4usik\\A.EXE ");  // no trimming either
  EXPECT_EQ(world.Lookups(), lookups + 2);
}

TEST_F(Binding, DifferentPathClosesThenStoresThenLooksUpAtOnce) {
  world.AddFile(kExe);
  world.AddFile("D:\\other\\winamp.exe");
  TWinAmpControl link;
  link.SetWinAmpClassName("WA_KDO_2");
  ScriptedWindow& old = StartWindow("WA_KDO_2");
  link.SetWinAmpPath(kExe);
  ASSERT_EQ(HeldWindow(link), old.handle);
  world.ClearSent();
  const int lookups = world.Lookups();

  link.SetWinAmpPath("D:\\other\\winamp.exe");
  EXPECT_EQ(sent::Of(world, old.handle), sent::Sequence{sent::kCloseSent});
  EXPECT_EQ(world.Lookups(), lookups + 1);
  ASSERT_EQ(world.ShellCalls().size(), 1u);
  EXPECT_EQ(world.ShellCalls()[0], (sim::ShellCall{"D:\\other\\winamp.exe", "/CLASS=\"WA_KDO_2\"", 6}));
  EXPECT_FALSE(link.IsBound());
  EXPECT_EQ(CheckTimers(), Intervals{1000});
}

TEST_F(Binding, EmptyPathWhileBoundClosesAndEndsIdle) {
  world.AddFile(kExe);
  TWinAmpControl link;
  link.SetWinAmpClassName("WA_KDO_4");
  StartWindow("WA_KDO_4");
  link.SetWinAmpPath(kExe);
  ASSERT_TRUE(link.IsBound());
  link.SetWinAmpPath("");
  EXPECT_EQ(CloseCommands(), 1);
  EXPECT_FALSE(link.IsBound());
  EXPECT_TRUE(CheckTimers().empty()) << "Idle: nothing can be started from an empty path";
  world.Advance(120000);
  EXPECT_TRUE(world.ShellCalls().empty());
}

TEST_F(Binding, DirectoryOrMissingFileStartsNothing) {
  world.AddDirectory("C:\\Program Files\\Winamp");
  for (const char* path : {"C:\\Program Files\\Winamp", "C:\\nowhere\\winamp.exe"}) {
    TWinAmpControl link;
    link.SetWinAmpPath(path);
    EXPECT_FALSE(link.IsBound());
    EXPECT_TRUE(CheckTimers().empty());
  }
  EXPECT_TRUE(world.ShellCalls().empty());
}

TEST_F(Binding, LaunchParametersNameTheClassWithoutBlanks) {
  world.AddFile(kExe);
  TWinAmpControl link;
  link.SetWinAmpClassName("WA_KDO_12345");
  link.SetWinAmpPath(kExe);
  ASSERT_EQ(world.ShellCalls().size(), 1u);
  EXPECT_EQ(world.ShellCalls()[0].Parameters, "/CLASS=\"WA_KDO_12345\"");
  EXPECT_EQ(world.ShellCalls()[0].Show, 6);
}

// A started player that never shows its window is started again at the first check after more
// than 60 whole seconds from its start: not at 60 s, nor at 60.999 s when the 60 s tick came late,
// but at 61 s; and each start counts anew. Each row in a world of its own, from the start of its day.
TEST_F(Binding, PlayerThatNeverShowsItsWindowIsStartedAgainAfterMoreThan60WholeSeconds) {
  enum Clock { kAdvance, kPass };  // kPass: the thread was busy, no timer fired
  struct Step {
    Clock How;
    int64_t Ms;
    int Starts;  // the starts so far once the clock moved; < 0: not looked at
  };
  const auto wholeSeconds = [](int n) { return std::vector<Step>(std::size_t(n), Step{kAdvance, 1000, -1}); };
  std::vector<Step> lateTick = wholeSeconds(59);
  lateTick.insert(lateTick.end(), {{kPass, 1999, -1},  // the 60 s tick comes at 60.999 s
                                   {kAdvance, 0, 1},   // and is still 60
                                   {kAdvance, 1, 2}}); // the 61 s tick
  const std::tuple<const char*, int64_t, std::vector<Step>> rows[] = {
      {"WA_KDO_12345", 0, {{kAdvance, 60000, 1}, {kAdvance, 1000, 2}}},
      {"WA_KDO_5", 123,  // started at an odd moment of the virtual day
       {{kAdvance, 60000, 1}, {kAdvance, 1000, 2}, {kAdvance, 60000, 2}, {kAdvance, 1000, 3}}},
      {"WA_KDO_6", 0, lateTick},
  };
  for (const auto& [className, startAt, steps] : rows) {
    sim::World day;  // the world the platform acts on while it lives
    day.Advance(startAt);
    day.AddFile(kExe);
    TWinAmpControl link;
    link.SetWinAmpClassName(className);
    link.SetWinAmpPath(kExe);
    ASSERT_EQ(day.ShellCalls().size(), 1u) << className;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const Step& step = steps[i];
      if (step.How == kPass)
        day.Pass(step.Ms);
      else
        day.Advance(step.Ms);
      if (step.Starts >= 0) {
        EXPECT_EQ(day.ShellCalls().size(), std::size_t(step.Starts)) << className << " step " << i;
      }
    }
  }
}

TEST_F(Binding, StatesWaitingWatchingLostAndBack) {
  world.AddFile(kExe);
  TWinAmpControl link;
  link.SetWinAmpClassName("WA_KDO_8");
  link.SetWinAmpPath(kExe);  // Waiting: started, 1000 ms
  ASSERT_EQ(world.ShellCalls().size(), 1u);
  ScriptedWindow& w = StartWindow("WA_KDO_8");
  world.Advance(1000);  // Watching
  EXPECT_TRUE(link.IsBound());
  EXPECT_EQ(CheckTimers(), Intervals{30000});

  w.Vanish();  // the player exits 1 s after its start
  world.Advance(30000);  // Lost: the last start was 31 s ago, nothing started
  EXPECT_FALSE(link.IsBound());
  EXPECT_EQ(CheckTimers(), Intervals{30000});
  EXPECT_EQ(world.ShellCalls().size(), 1u);

  ScriptedWindow& again = StartWindow("WA_KDO_8");
  world.Advance(30000);  // Lost -> Watching, the interval stays
  EXPECT_EQ(HeldWindow(link), again.handle);
  EXPECT_EQ(CheckTimers(), Intervals{30000});

  again.Vanish();
  world.Advance(30000);  // more than 60 s since the start: started again, Waiting
  EXPECT_FALSE(link.IsBound());
  EXPECT_EQ(world.ShellCalls().size(), 2u);
  EXPECT_EQ(CheckTimers(), Intervals{1000});
}

TEST_F(Binding, PlayerFoundAtOnceIsWatchedAndItsExitNoticed) {
  world.AddFile(kExe);
  TWinAmpControl link;
  link.SetWinAmpClassName("WA_KDO_9");
  ScriptedWindow& w = StartWindow("WA_KDO_9");
  link.SetWinAmpPath(kExe);
  EXPECT_TRUE(link.IsBound());
  EXPECT_TRUE(world.ShellCalls().empty());
  EXPECT_EQ(CheckTimers(), Intervals{30000});

  w.Vanish();
  world.Advance(30000);
  EXPECT_FALSE(link.IsBound()) << "the exit is noticed";
  EXPECT_EQ(world.ShellCalls().size(), 1u) << "never started by us: started at once";
}

TEST_F(Binding, WindowStillClosingAfterTheCloseCommandIsNotBoundAgainUntilItHasGone) {
  world.AddFile(kExe);
  world.AddFile("D:\\new\\winamp.exe");
  TWinAmpControl link;
  link.SetWinAmpClassName("WA_KDO_10");
  ScriptedWindow& slow = StartWindow("WA_KDO_10", /*closesOnCommand=*/false);
  link.SetWinAmpPath(kExe);
  ASSERT_EQ(HeldWindow(link), slow.handle);

  link.SetWinAmpPath("D:\\new\\winamp.exe");
  EXPECT_FALSE(link.IsBound());
  ASSERT_EQ(world.ShellCalls().size(), 1u);
  EXPECT_EQ(world.ShellCalls()[0].File, "D:\\new\\winamp.exe");
  world.Advance(5000);  // the check ticks pass over it too
  EXPECT_FALSE(link.IsBound());
  world.DestroyWindow(slow.handle);
  ScriptedWindow& next = StartWindow("WA_KDO_10");
  world.Advance(1000);
  EXPECT_EQ(HeldWindow(link), next.handle);
}

TEST_F(Binding, DestroyingABoundLinkClosesItsPlayerOnce) {
  {
    TWinAmpControl link;
    link.SetWinAmpClassName("WA_KDO_11");
    StartWindow("WA_KDO_11");
    world.Advance(1000);
    ASSERT_TRUE(link.IsBound());
    world.ClearSent();
  }
  ASSERT_EQ(world.Sent().size(), 1u);
  EXPECT_EQ(CloseCommands(), 1);
  world.Advance(60000);  // its timer is gone with it
  EXPECT_EQ(world.Sent().size(), 1u);
}

TEST_F(Binding, DestroyingAnUnboundLinkSendsNothing) {
  { TWinAmpControl link; }
  EXPECT_TRUE(world.Sent().empty());
}

TEST_F(Binding, AfterTheCloseCommandAnotherWindowOfTheClassIsBoundAndNothingStarted) {
  world.AddFile(kExe);
  world.AddFile("D:\\new\\winamp.exe");
  TWinAmpControl link;
  link.SetWinAmpClassName("WA_KDO_12");
  ScriptedWindow& slow = StartWindow("WA_KDO_12", /*closesOnCommand=*/false);
  link.SetWinAmpPath(kExe);
  ASSERT_EQ(HeldWindow(link), slow.handle);
  ScriptedWindow& second = StartWindow("WA_KDO_12");
  world.ClearSent();

  link.SetWinAmpPath("D:\\new\\winamp.exe");
  ASSERT_EQ(CloseCommands(), 1);
  EXPECT_EQ(world.Sent()[0].Window, slow.handle) << "the close command went to the old player";
  EXPECT_EQ(HeldWindow(link), second.handle) << "the other window of the class, passing over the closing one";
  EXPECT_TRUE(world.ShellCalls().empty()) << "a player of the class exists: nothing started";
  EXPECT_EQ(CheckTimers(), Intervals{30000}) << "watched like any player found at once";
}

TEST_F(Binding, EmptyLocationWhileBoundLooksUpAtOnceAndBindsAnotherWindowOfTheClass) {
  world.AddFile(kExe);
  TWinAmpControl link;
  link.SetWinAmpClassName("WA_KDO_13");
  ScriptedWindow& first = StartWindow("WA_KDO_13");
  link.SetWinAmpPath(kExe);
  ASSERT_EQ(HeldWindow(link), first.handle);
  ScriptedWindow& second = StartWindow("WA_KDO_13");
  const int lookups = world.Lookups();

  link.SetWinAmpPath("");
  EXPECT_EQ(CloseCommands(), 1);
  EXPECT_FALSE(world.WindowAlive(first.handle));
  EXPECT_EQ(world.Lookups(), lookups + 1) << "one lookup, at once";
  EXPECT_EQ(HeldWindow(link), second.handle);
  EXPECT_TRUE(world.ShellCalls().empty());
}

// A player started through the shell: its process, and maybe its window at once.
class StartedPlayer : public LinkTest {
 protected:
  enum Start { kWindowAtOnce, kNoProcessNamed, kProcessWithoutWindow };
  void Install(Start start) {
    world.AddFile(kExe, [this, start](const std::string&) -> uint32_t {
      if (start == kNoProcessNamed) return 0;
      if (start == kWindowAtOnce) return StartWindow("WA_KDO_14").pid;
      processes.push_back(world.CreateProcess());
      return processes.back();
    });
  }
  // A link of class WA_KDO_14 given the location: it starts the executable there.
  std::unique_ptr<TWinAmpControl> StartLink(const std::string& path = kExe) {
    auto link = std::make_unique<TWinAmpControl>();
    link->SetWinAmpClassName("WA_KDO_14");
    link->SetWinAmpPath(path);
    return link;
  }
  std::vector<uint32_t> processes;
};

TEST_F(StartedPlayer, DestroyingTheLinkBeforeItBoundClosesThePlayerItStarted) {
  Install(kWindowAtOnce);
  {
    auto link = StartLink();
    ASSERT_EQ(windows.size(), 1u);
    world.Advance(500);
    ASSERT_FALSE(link->IsBound()) << "the first check tick has not come yet";
  }
  EXPECT_EQ(CloseCommands(), 1);
  EXPECT_FALSE(world.WindowAlive(windows[0]->handle));
}

// The last look of a link going closes a player it started whose window has
// appeared since the last tick: up to 60.999 s after the start (the same 60
// whole seconds the restart waits), or later while the copy it started runs.
TEST_F(StartedPlayer, TheLastLookClosesALatePlayerItStarted) {
  struct Row {
    Start start;
    int64_t afterMs;
    int closes;
  };
  for (const Row& row : {Row{kNoProcessNamed, 60999, 1}, Row{kNoProcessNamed, 61000, 0},
                         Row{kProcessWithoutWindow, 300500, 1}}) {
    SCOPED_TRACE(row.afterMs);
    Install(row.start);
    {
      auto link = StartLink();
      world.RemoveFile(kExe);  // no second start, so the start time stays
      world.Advance(row.afterMs);
      StartWindow("WA_KDO_14");  // shows its window between two ticks
      ASSERT_FALSE(link->IsBound());
      world.ClearSent();
    }
    EXPECT_EQ(CloseCommands(), row.closes) << (row.closes ? "our late player" : "somebody else's player now");
    world.DestroyWindow(windows.back()->handle);
  }
}

TEST_F(StartedPlayer, APlayerShowingItsWindowAfterTheLinkWentStays) {
  Install(kNoProcessNamed);
  StartLink();  // gone at once
  world.Advance(500);
  ScriptedWindow& late = StartWindow("WA_KDO_14");
  world.Advance(5000);
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_TRUE(world.WindowAlive(late.handle)) << "found and bound by the next instance of the class";
}

// A copy stuck before its window (a first-run dialog, a wrong program) is not
// joined by more copies; once it has ended, the next is started.
TEST_F(StartedPlayer, ACopyRunningWithoutItsWindowIsNotStartedAgainUntilItEnds) {
  Install(kProcessWithoutWindow);
  auto link = StartLink();
  world.Advance(180000);
  EXPECT_EQ(world.ShellCalls().size(), 1u);
  EXPECT_EQ(CheckTimers(), Intervals{1000}) << "still looking for its window every second";
  world.EndProcess(processes[0]);
  world.Advance(1000);
  EXPECT_EQ(world.ShellCalls().size(), 2u);
}

TEST_F(StartedPlayer, ANewLocationOrTheLinkGoingLeavesTheStuckCopyAloneAndStartsNoMore) {
  Install(kProcessWithoutWindow);
  world.AddFile("D:\\new\\winamp.exe", [this](const std::string&) {
    processes.push_back(world.CreateProcess());
    return processes.back();
  });
  {
    auto link = StartLink();
    world.Advance(70000);
    link->SetWinAmpPath("D:\\new\\winamp.exe");
    EXPECT_EQ(world.ShellCalls().size(), 2u) << "the new location is started at once";
    world.Advance(70000);
  }
  world.Advance(70000);
  EXPECT_EQ(world.ShellCalls().size(), 2u);
  EXPECT_TRUE(world.Sent().empty() && world.Posted().empty()) << "nothing said to any program";
  EXPECT_TRUE(world.ProcessAlive(processes[0]) && world.ProcessAlive(processes[1]));
}

TEST_F(Binding, UnboundLinkSendsNothingAndAnswersMinusOne) {
  TWinAmpControl link;
  EXPECT_EQ(link.SendPlayerMessage(pn::kWmUser, 0, pn::user::kCount), -1);
  EXPECT_TRUE(world.Sent().empty());
}

}  // namespace
}  // namespace linktest

namespace linktest {
namespace {

// A tick that held the thread past the clock's target leaves the late one to the next call.
TEST(SimClock, MissedPeriodsMakeOneLateTick) {
  sim::World world;
  platform::Timer timer;
  int ticks = 0;
  timer.SetInterval(250);
  timer.SetOnTimer([&] {
    if (++ticks == 1) world.Pass(10000);  // a tick that blocks the thread for 10 s
  });
  world.Advance(250);
  EXPECT_EQ(ticks, 1);
  world.Advance(0);
  EXPECT_EQ(ticks, 2) << "one late tick for the 40 periods missed";
  world.Advance(249);
  EXPECT_EQ(ticks, 2);
  world.Advance(1);
  EXPECT_EQ(ticks, 3) << "then the period goes on";
}

}  // namespace
}  // namespace linktest
