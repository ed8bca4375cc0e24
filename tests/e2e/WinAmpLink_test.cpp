// The link against the real player.exe under Wine: start with the class
// switch, bind, commands and queries, texts read from the player's memory,
// closing, and a hung player.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "winamp/WinAmp.h"
#include "E2E.h"
#include "PlayerNumbers.h"
#include "player/PlayerModel.h"

namespace {

namespace pn = playernumbers;
namespace control = player::control;

using e2e::PlayerPath;
using e2e::PumpUntil;

class LinkE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    className = "WA_E2E_" + std::to_string(GetCurrentProcessId()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override { e2e::KillPlayers(className); }  // no player outlives its test
  // A link bound to a player it started from the player's path.
  std::unique_ptr<TWinAmpControl> StartBound() {
    auto link = std::make_unique<TWinAmpControl>();
    link->SetWinAmpClassName(className);
    FILETIME asked{};
    GetSystemTimeAsFileTime(&asked);
    link->SetWinAmpPath(PlayerPath());
    EXPECT_TRUE(PumpUntil([&] { return link->IsBound(); }, 15000)) << "bound within the check period";
    // The link started the player then: its process began within 5 s of the path being set.
    EXPECT_LT(std::abs(ProcessStart() - Ticks(asked)), int64_t(5) * 10000000) << "started at once";
    return link;
  }
  static int64_t Ticks(const FILETIME& t) { return int64_t((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime); }
  // When the process of the class's window began (100 ns units), or 0.
  int64_t ProcessStart() const {
    DWORD pid = 0;
    GetWindowThreadProcessId(FindWindowA(className.c_str(), nullptr), &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) return 0;
    FILETIME created{}, exited{}, kernel{}, user{};
    const BOOL ok = GetProcessTimes(process, &created, &exited, &kernel, &user);
    CloseHandle(process);
    return ok ? Ticks(created) : 0;
  }
  void SendText(TWinAmpControl& link, uint32_t dwData, const std::string& text) {
    platform::CopyDataRecord r{dwData, uint32_t(text.size() + 1), text.c_str()};
    link.SendPlayerMessage(pn::kWmCopyData, 0, reinterpret_cast<uintptr_t>(&r));
  }
  std::string className;
};

TEST_F(LinkE2E, StartsThePlayerWithItsClassAndBinds) {
  auto link = StartBound();
  ASSERT_TRUE(link->IsBound());
  // The link holds the class's window: what it sets, that window reports.
  link->SetVolume(77);
  EXPECT_EQ(SendMessageA(FindWindowA(className.c_str(), nullptr), pn::kWmUser, pn::user::kAskVolume, pn::user::kVolume),
            77);
  // Watching: a player that goes is noticed at the 30 s check, not within seconds.
  e2e::KillPlayers(className);
  host::PumpMessages(2500);
  EXPECT_TRUE(link->IsBound()) << "watching";
}

TEST_F(LinkE2E, CommandsAndQueriesRoundTrip) {
  auto link = StartBound();
  ASSERT_TRUE(link->IsBound());
  EXPECT_EQ(link->GetPlaylistLength(), 0);
  link->AddFile("C:\\Music\\First Song.mp3");
  link->AddFile("C:\\Music\\Second.ogg");
  EXPECT_EQ(link->GetPlaylistLength(), 2);
  std::string text;
  link->GetPlaylistFile(1, text);
  EXPECT_EQ(text, "C:\\Music\\Second.ogg");
  link->GetPlaylistTitle(0, text);
  EXPECT_EQ(text, "First Song");
  link->SetPlaylistPosition(1);
  EXPECT_EQ(link->GetPlaylistPosition(), 1);
  link->GetCurrentTitle(text);
  EXPECT_EQ(text, "Second");
  link->SetVolume(44);
  EXPECT_EQ(link->GetVolume(), 44);
  link->ShuffleOn();
  link->RepeatOn();
  EXPECT_TRUE(link->GetShuffle());
  EXPECT_TRUE(link->GetRepeat());
  link->ShuffleOff();
  EXPECT_FALSE(link->GetShuffle());
  EXPECT_EQ(link->GetTrackLength(), 205);
  link->Play();
  host::PumpMessages(1200);
  EXPECT_GE(link->GetTrackPosition(), 1);
  link->Stop();
  EXPECT_EQ(link->GetTrackPosition(), 0);
  link->ClearPlaylist();
  EXPECT_EQ(link->GetPlaylistLength(), 0);
  link->GetPlaylistFile(0, text);
  EXPECT_EQ(text, "");
}

TEST_F(LinkE2E, LongAndEndOfMemoryTitlesComeFromThePlayersMemory) {
  auto link = StartBound();
  ASSERT_TRUE(link->IsBound());
  link->AddFile("x.mp3");
  SendText(*link, control::kSetTitle, "  " + std::string(598, 'T'));  // 600 bytes with two leading blanks
  std::string text;
  link->GetPlaylistTitle(0, text);
  EXPECT_EQ(text, std::string(498, 'T')) << "the first 500 characters, trimmed";
  SendText(*link, control::kSetTitleAtEnd, " Last Words\t");
  link->GetPlaylistTitle(0, text);
  EXPECT_EQ(text, "Last Words") << "read up to the end of readable memory";
  link->SendPlayerMessage(pn::kWmUser, 1, control::kGarbageAddresses);
  link->GetPlaylistFile(0, text);
  EXPECT_EQ(text, "");
}

TEST_F(LinkE2E, EmptyPathClosesThePlayer) {
  auto link = StartBound();
  ASSERT_TRUE(link->IsBound());
  link->SetWinAmpPath("");
  EXPECT_FALSE(link->IsBound());
  EXPECT_TRUE(PumpUntil([&] { return FindWindowA(className.c_str(), nullptr) == nullptr; }, 5000));
}

TEST_F(LinkE2E, DestroyingABoundLinkClosesItsPlayer) {
  auto link = StartBound();
  ASSERT_TRUE(link->IsBound());
  link.reset();
  EXPECT_TRUE(PumpUntil([&] { return FindWindowA(className.c_str(), nullptr) == nullptr; }, 5000));
}

// Two players of the class: the one the link holds and another started beside it.
class TwoPlayersE2E : public LinkE2E {
 protected:
  std::unique_ptr<TWinAmpControl> StartBoundWithAnother() {
    auto link = StartBound();
    platform::ShellOpen(PlayerPath(), "/CLASS=\"" + className + "\"", platform::SW_MINIMIZE_);
    EXPECT_TRUE(PumpUntil([&] { return platform::FindWindowsByClass(className).size() == 2; }, 15000));
    return link;
  }
  // The window of the class that the link holds, seen from outside: the one
  // that reports a volume the link sets which no window of the class had.
  platform::WindowHandle Held(TWinAmpControl& link) {
    auto volume = [](platform::WindowHandle w) {
      return SendMessageA(HWND(uintptr_t(w)), pn::kWmUser, pn::user::kAskVolume, pn::user::kVolume);
    };
    const std::vector<platform::WindowHandle> windows = platform::FindWindowsByClass(className);
    uint8_t mark = 1;
    while (std::any_of(windows.begin(), windows.end(), [&](platform::WindowHandle w) { return volume(w) == mark; }))
      ++mark;
    link.SetVolume(mark);
    for (platform::WindowHandle w : windows)
      if (volume(w) == mark) return w;
    return 0;
  }
  // The window of the class that the link does not hold, once only one other is left.
  platform::WindowHandle Other(TWinAmpControl& link) {
    const platform::WindowHandle held = Held(link);
    for (platform::WindowHandle w : platform::FindWindowsByClass(className))
      if (w != held) return w;
    return 0;
  }
};

TEST_F(TwoPlayersE2E, AfterTheCloseCommandTheOtherPlayerIsBoundAndNoneStarted) {
  auto link = StartBoundWithAnother();
  ASSERT_TRUE(link->IsBound());
  const platform::WindowHandle old = Held(*link);
  const platform::WindowHandle other = Other(*link);
  ASSERT_NE(other, 0u);

  link->SetWinAmpPath(e2e::HostDirectory() + "\\.\\player.exe");  // another spelling: a different location
  EXPECT_EQ(Held(*link), other) << "the other player of the class, at once";
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(HWND(uintptr_t(old))); }, 5000)) << "the old one closed";
  host::PumpMessages(2000);
  EXPECT_EQ(platform::FindWindowsByClass(className).size(), 1u) << "no third player started";
  EXPECT_EQ(link->GetPlaylistLength(), 0) << "and it answers";
}

TEST_F(TwoPlayersE2E, EmptyLocationWhileBoundBindsTheOtherPlayerAtOnce) {
  auto link = StartBoundWithAnother();
  ASSERT_TRUE(link->IsBound());
  const platform::WindowHandle other = Other(*link);
  link->SetWinAmpPath("");
  EXPECT_EQ(Held(*link), other);
  EXPECT_TRUE(PumpUntil([&] { return platform::FindWindowsByClass(className).size() == 1; }, 5000));
}

TEST_F(LinkE2E, HungPlayerCostsAtMostTheSendLimit) {
  auto link = StartBound();
  ASSERT_TRUE(link->IsBound());
  link->AddFile("a.mp3");
  using Clock = std::chrono::steady_clock;
  auto ms = [](Clock::time_point a) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - a).count();
  };
  auto start = Clock::now();
  EXPECT_EQ(link->SendPlayerMessage(pn::kWmUser, 6000, control::kHang), -1) << "given up";  // hangs for 6 s
  EXPECT_LT(ms(start), 3500);
  for (int i = 0; i < 2; ++i) {
    start = Clock::now();
    EXPECT_EQ(link->GetPlaylistLength(), -1) << "a player that does not answer counts as none";
    EXPECT_LT(ms(start), 3500) << "each send is bounded";
  }
  EXPECT_TRUE(PumpUntil([&] { return link->GetPlaylistLength() == 1; }, 10000)) << "answers again after the hang";
}

}  // namespace
