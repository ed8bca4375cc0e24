// player.exe, the player stand-in, as the module meets it on Windows: found by
// its window class, driven by window messages from another process, its texts
// read out of its memory at the addresses it replies.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "PlayerNumbers.h"
#include "player/PlayerModel.h"

namespace {

// The player's documented messages, and the stand-in's own test controls.
using namespace playernumbers::cmd;
using namespace playernumbers::user;
using namespace player::control;
using playernumbers::copydata::kAddFile;
using playernumbers::playlist::kRemove;
namespace pn = playernumbers;
constexpr DWORD kDiedExitCode = 3;
constexpr DWORD kPage = 4096;

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// A started player.exe, ended by force on the way out if it still runs.
class PlayerProcess {
 public:
  explicit PlayerProcess(const std::string& arguments) {
    std::string line = "player.exe " + arguments;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      CloseHandle(pi.hThread);
      process_ = pi.hProcess;
      id_ = pi.dwProcessId;
    }
  }
  ~PlayerProcess() {
    if (process_ && !Exited(0)) {
      TerminateProcess(process_, 99);
      WaitForSingleObject(process_, 5000);
    }
    if (process_) CloseHandle(process_);
  }
  PlayerProcess(const PlayerProcess&) = delete;
  PlayerProcess& operator=(const PlayerProcess&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD Id() const { return id_; }
  bool Exited(DWORD waitMs) const { return WaitForSingleObject(process_, waitMs) == WAIT_OBJECT_0; }
  DWORD ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

class PlayerExe : public ::testing::Test {
 protected:
  // Starts player.exe with a class of this test's own and waits for its window.
  void Start(const std::string& extra = "") {
    className_ = std::string("WA_TEST_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    process_ = std::make_unique<PlayerProcess>("/CLASS=\"" + className_ + "\" " + extra);
    ASSERT_TRUE(process_->Started()) << GetLastError();
    for (int i = 0; i < 500 && !window_ && !process_->Exited(0); ++i) {
      window_ = FindWindowA(className_.c_str(), nullptr);
      if (!window_) Sleep(20);
    }
    ASSERT_NE(window_, nullptr) << "no window of class " << className_;
    DWORD pid = 0;
    GetWindowThreadProcessId(window_, &pid);
    ASSERT_EQ(pid, process_->Id());
    memory_ = std::make_unique<Handle>(OpenProcess(PROCESS_VM_READ, FALSE, pid));
    ASSERT_NE(memory_->get(), nullptr);
  }

  // A send that never blocks the test for long; a send that fails is a test failure.
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR reply = 0;
    if (!SendMessageTimeoutA(window_, message, wParam, lParam, SMTO_NORMAL, 5000, &reply))
      ADD_FAILURE() << "no answer to " << message << "/" << lParam;
    return LRESULT(reply);
  }
  LRESULT User(LPARAM lParam, WPARAM wParam = 0) { return Send(pn::kWmUser, wParam, lParam); }
  LRESULT Command(UINT id) { return Send(pn::kWmCommand, id, 0); }
  LRESULT CopyData(ULONG_PTR dwData, const std::string& text) {
    COPYDATASTRUCT data{dwData, DWORD(text.size() + 1), const_cast<char*>(text.c_str())};
    return Send(pn::kWmCopyData, 0, reinterpret_cast<LPARAM>(&data));
  }
  bool Read(LRESULT address, void* buffer, std::size_t size) {
    SIZE_T got = 0;
    return ReadProcessMemory(memory_->get(), reinterpret_cast<LPCVOID>(address), buffer, size, &got) && got == size;
  }
  // As the module reads: 500 bytes in one piece, then up to the zero.
  std::string ReadText(LRESULT address) {
    char buffer[500];
    if (!Read(address, buffer, sizeof buffer)) return "<unreadable>";
    return std::string(buffer, strnlen(buffer, sizeof buffer));
  }

  std::string className_;
  std::unique_ptr<PlayerProcess> process_;
  HWND window_ = nullptr;
  std::unique_ptr<Handle> memory_;
};

TEST_F(PlayerExe, DrivesThePlaylistAndTransport) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(User(kTime, kPositionMs), -1) << "no track yet";
  EXPECT_EQ(CopyData(kAddFile, "C:\\Music\\one.mp3"), 1);
  EXPECT_EQ(CopyData(kAddFile, "C:\\Music\\two.mp3"), 1);
  EXPECT_EQ(User(kCount), 2);
  EXPECT_EQ(User(kCurrent), 0);
  EXPECT_EQ(User(kTime, kLengthSeconds), 205);

  Command(kPlay);
  Sleep(300);
  const LRESULT playing = User(kTime, kPositionMs);
  EXPECT_GE(playing, 250);
  EXPECT_LT(playing, 205000);
  Command(kPause);
  const LRESULT paused = User(kTime, kPositionMs);
  Sleep(200);
  EXPECT_EQ(User(kTime, kPositionMs), paused) << "pause freezes the position";
  Command(kPause);
  Sleep(100);
  EXPECT_GT(User(kTime, kPositionMs), paused) << "and pause again resumes";

  Command(kNext);
  EXPECT_EQ(User(kCurrent), 1);
  Command(kNext);
  EXPECT_EQ(User(kCurrent), 0) << "wraps to the first";
  Command(kPrevious);
  EXPECT_EQ(User(kCurrent), 1);
  Command(kStop);
  Sleep(100);
  EXPECT_EQ(User(kTime, kPositionMs), 0);
  User(kSetCurrent, 0);
  EXPECT_EQ(User(kCurrent), 0);
  User(kSetCurrent, 2);
  EXPECT_EQ(User(kCurrent), 0) << "out of range is ignored";

  User(kSetLength, 3);
  EXPECT_EQ(User(kTime, kLengthSeconds), 3);

  User(kClearPlaylist);
  EXPECT_EQ(User(kCount), 0);
}

TEST_F(PlayerExe, AnswersThePlayStateAndJumps) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(User(kPlayState), 0);
  EXPECT_EQ(User(kJump, 1000), -1) << "nothing playing";
  EXPECT_EQ(CopyData(kAddFile, "C:\\Music\\one.mp3"), 1);
  EXPECT_EQ(CopyData(kAddFile, "C:\\Music\\two.mp3"), 1);
  Command(kPlay);
  EXPECT_EQ(User(kPlayState), 1);
  EXPECT_EQ(User(kJump, 90000), 0);
  const LRESULT at = User(kTime, kPositionMs);
  EXPECT_GE(at, 90000);
  EXPECT_LT(at, 95000);
  Command(kPause);
  EXPECT_EQ(User(kPlayState), 3);
  EXPECT_EQ(User(kJump, 30000), 0);
  EXPECT_EQ(User(kTime, kPositionMs), 30000) << "paused: it stays where it jumped";
  EXPECT_EQ(User(kPlayState), 3);
  EXPECT_EQ(User(kJump, 205000), 1) << "past the end";
  EXPECT_EQ(User(kCurrent), 1) << "the track ended";
  Command(kStop);
  EXPECT_EQ(User(kPlayState), 0);
  EXPECT_EQ(User(kJump, 1000), -1);
}

TEST_F(PlayerExe, ItsPlaylistWindowRemovesEntriesAndHidesFromTheMainClass) {
  ASSERT_NO_FATAL_FAILURE(Start());
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) CopyData(kAddFile, name);
  User(kSetCurrent, 2);
  const HWND playlist = reinterpret_cast<HWND>(User(kPlaylistWindow));
  ASSERT_TRUE(IsWindow(playlist));
  EXPECT_NE(playlist, window_);
  EXPECT_EQ(FindWindowA(className_.c_str(), nullptr), window_);
  EXPECT_EQ(FindWindowExA(nullptr, window_, className_.c_str(), nullptr), nullptr) << "one window of the main class";

  DWORD_PTR reply = 1;
  ASSERT_TRUE(SendMessageTimeoutA(playlist, pn::kWmUser, kRemove, 0, SMTO_NORMAL, 5000, &reply));
  EXPECT_EQ(reply, 0u);
  EXPECT_EQ(User(kCount), 2);
  EXPECT_EQ(User(kCurrent), 1) << "the same entry, one place down";
  EXPECT_EQ(ReadText(User(kTitleAddress, 0)), "b");
}

TEST_F(PlayerExe, KeepsVolumeShuffleAndRepeat) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const WPARAM query = kAskVolume;
  User(kVolume, 77);
  EXPECT_EQ(User(kVolume, query), 77);
  User(kVolume, 256);
  EXPECT_EQ(User(kVolume, query), 77) << "256 is not a volume";
  User(kVolume, 0);
  EXPECT_EQ(User(kVolume, query), 0);

  User(kSetShuffle, 1);
  EXPECT_GT(User(kGetShuffle), 0);
  EXPECT_EQ(User(kGetRepeat), 0);
  User(kSetRepeat, 1);
  User(kSetShuffle, 0);
  EXPECT_EQ(User(kGetShuffle), 0);
  EXPECT_GT(User(kGetRepeat), 0);
}

TEST_F(PlayerExe, TextsAreReadableAtTheRepliedAddresses) {
  ASSERT_NO_FATAL_FAILURE(Start());
  CopyData(kAddFile, "C:\\Music\\Artist - Song.mp3");
  CopyData(kAddFile, "D:\\b.ogg");
  EXPECT_EQ(ReadText(User(kFileAddress, 0)), "C:\\Music\\Artist - Song.mp3");
  EXPECT_EQ(ReadText(User(kTitleAddress, 0)), "Artist - Song");
  EXPECT_EQ(ReadText(User(kTitleAddress, 1)), "b");
  EXPECT_EQ(User(kFileAddress, 2), 0);
  EXPECT_EQ(User(kTitleAddress, WPARAM(-1)), 0);

  const std::string longTitle(600, 'L');
  User(kSetCurrent, 1);
  EXPECT_EQ(CopyData(kSetTitle, longTitle), 1);
  std::vector<char> whole(longTitle.size() + 1);
  ASSERT_TRUE(Read(User(kTitleAddress, 1), whole.data(), whole.size()));
  EXPECT_EQ(std::string(whole.data()), longTitle);
  EXPECT_EQ(ReadText(User(kTitleAddress, 1)), longTitle.substr(0, 500)) << "a 500-byte read takes its start";
  EXPECT_EQ(ReadText(User(kTitleAddress, 0)), "Artist - Song") << "only the current entry changes";
}

TEST_F(PlayerExe, ATitleAtTheEndOfMemoryEndsAtAnInaccessiblePage) {
  ASSERT_NO_FATAL_FAILURE(Start());
  CopyData(kAddFile, "a.mp3");
  const std::string title = "Edge of memory";
  EXPECT_EQ(CopyData(kSetTitleAtEnd, title), 1);
  const LRESULT address = User(kTitleAddress, 0);
  EXPECT_EQ((DWORD(address) + title.size() + 1) % kPage, 0u);
  char buffer[500];
  EXPECT_FALSE(Read(address, buffer, sizeof buffer));
  EXPECT_FALSE(Read(address, buffer, title.size() + 2));
  ASSERT_TRUE(Read(address, buffer, title.size() + 1));
  EXPECT_STREQ(buffer, title.c_str());
}

TEST_F(PlayerExe, GarbageAddressesAreNonZeroAndUnreadable) {
  ASSERT_NO_FATAL_FAILURE(Start());
  CopyData(kAddFile, "a.mp3");
  User(kGarbageAddresses, 1);
  char byte;
  for (LPARAM which : {kFileAddress, kTitleAddress}) {
    const LRESULT reply = User(which, 0);
    EXPECT_NE(reply, 0);
    EXPECT_FALSE(Read(reply, &byte, 1)) << which;
  }
  User(kGarbageAddresses, 0);
  EXPECT_EQ(ReadText(User(kTitleAddress, 0)), "a");
}

// The close command ends it cleanly; the die control at once, with its own exit code. Either
// way its window goes with it.
TEST_F(PlayerExe, CloseCommandAndDieControlEndTheProcess) {
  const std::tuple<const char*, UINT, WPARAM, LPARAM, DWORD> rows[] = {
      {"close, sent", pn::kWmCommand, kClose, 0, 0},
      {"die, posted", pn::kWmUser, 0, kDie, kDiedExitCode},
  };
  for (const auto& [what, message, wParam, lParam, exitCode] : rows) {
    SCOPED_TRACE(what);
    window_ = nullptr;
    ASSERT_NO_FATAL_FAILURE(Start());
    if (message == pn::kWmCommand)
      Send(message, wParam, lParam);
    else
      ASSERT_TRUE(PostMessageA(window_, message, wParam, lParam));
    ASSERT_TRUE(process_->Exited(5000));
    EXPECT_EQ(process_->ExitCode(), exitCode);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(FindWindowA(className_.c_str(), nullptr), nullptr);
  }
}

TEST_F(PlayerExe, HangControlStopsAnswersForAWhile) {
  ASSERT_NO_FATAL_FAILURE(Start());
  // Queued as a sent message, so it is handled before the query below.
  ASSERT_TRUE(SendNotifyMessageA(window_, pn::kWmUser, 1500, kHang));
  DWORD_PTR reply = 0;
  EXPECT_FALSE(SendMessageTimeoutA(window_, pn::kWmUser, 0, kCount, SMTO_NORMAL, 300, &reply));
  EXPECT_EQ(User(kCount), 0) << "answers again once the hang is over";
}

TEST_F(PlayerExe, ReplyDelayHoldsEveryAnswer) {
  ASSERT_NO_FATAL_FAILURE(Start());
  // A delay long beside what a busy machine adds to one answer, so that only the lower bound is sharp.
  User(kReplyDelay, 1500);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(User(kCount), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1400));
  User(kReplyDelay, 0);
  const auto again = std::chrono::steady_clock::now();
  User(kCount);
  EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(1400)) << "no longer held";
}

TEST(PlayerExeNoWindow, RunsWithoutEverShowingItsWindow) {
  PlayerProcess process("/NOWINDOW /CLASS=\"WA_TEST_NOWINDOW\"");
  ASSERT_TRUE(process.Started());
  EXPECT_FALSE(process.Exited(1500));
  EXPECT_EQ(FindWindowA("WA_TEST_NOWINDOW", nullptr), nullptr);
}

}  // namespace
