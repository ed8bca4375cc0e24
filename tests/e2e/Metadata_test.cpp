// The tag request against player.exe under Wine. player.exe reads the record through the
// documented 32-bit declaration, so an answer that comes back proves the layout the link writes.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "E2E.h"
#include "PlayerNumbers.h"
#include "TestFolder.h"
#include "player/PlayerModel.h"
#include "winamp/WinAmp.h"

namespace {

namespace control = player::control;

class TagsE2E : public ::testing::Test {
 protected:
  void TearDown() override {
    link.reset();
    e2e::KillPlayers(kClass);
  }
  // Binds the link to a player it starts, and names that player's window.
  void Start() {
    link->SetWinAmpClassName(kClass);
    link->SetWinAmpPath(e2e::PlayerPath());
    ASSERT_TRUE(e2e::PumpUntil([&] { return link->IsBound(); }, 15000));
    window = FindWindowA(kClass, nullptr);
  }
  int32_t User(uint32_t lParam, uint32_t wParam = 0) {
    return link->SendPlayerMessage(playernumbers::kWmUser, wParam, lParam);
  }
  std::string Tag(const std::string& file, const std::string& field) {
    std::string value = "?";
    link->GetFileMetadata(file, field, value);
    return value;
  }
  // The state of the player's memory (MEM_COMMIT, MEM_FREE) where the last request's record lay.
  DWORD RecordMemory(uint32_t record) const {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    MEMORY_BASIC_INFORMATION info{};
    const bool asked = p && VirtualQueryEx(p, reinterpret_cast<LPCVOID>(uintptr_t(record)), &info, sizeof info);
    if (p) CloseHandle(p);
    return asked ? info.State : 0;
  }

  static constexpr const char* kClass = "WA_E2E_TAGS";
  std::unique_ptr<TWinAmpControl> link = std::make_unique<TWinAmpControl>();
  HWND window = nullptr;
};

// A real file's ID3v1 tag, then what the player's own memory shows of the bad inputs (their
// answers are the native tests'): one reservation for every request until the player is let go
// (hung, so that it is still there), and a player dying between the reservation and the read.
TEST_F(TagsE2E, TheRecordAsDocumentedTheFilesTagAndTheBadInputs) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::string tagged = testfolder::Own() + "tags_e2e.mp3";
  e2e::WriteId3v1File(tagged, "Naima", "John Coltrane", "Giant Steps", "1960");
  link->AddFile(tagged);
  EXPECT_EQ(Tag(tagged, "artist"), "John Coltrane");
  EXPECT_EQ(Tag(tagged, "YEAR"), "1960");
  const uint32_t record = uint32_t(User(control::kLastTagRecord));
  EXPECT_EQ(RecordMemory(record), DWORD(MEM_COMMIT));
  User(control::kUnterminatedTags, 1);
  EXPECT_EQ(Tag(tagged, "album").size(), 4096u) << "unterminated: our own zero ends it";
  User(control::kUnterminatedTags, 0);
  for (int i = 1; i <= 40; ++i) {
    const std::string entry = "C:\\Music\\Artist " + std::to_string(i) + " - x.mp3";
    link->AddFile(entry);
    EXPECT_EQ(Tag(entry, "artist"), "Artist " + std::to_string(i));
  }
  EXPECT_EQ(uint32_t(User(control::kLastTagRecord)), record) << "40 changes, one reservation";
  DeleteFileA(tagged.c_str());

  User(control::kDieAtTagQuery);
  EXPECT_EQ(Tag(tagged, "album"), "") << "died between the reservation and the read";
  ASSERT_TRUE(e2e::PumpUntil([&] { return !IsWindow(window); }, 5000));
  EXPECT_EQ(Tag(tagged, "album"), "") << "asked again of no player";

  link->SetWinAmpPath("");
  ASSERT_NO_FATAL_FAILURE(Start());
  link->AddFile("C:\\Music\\Ballads\\John Coltrane - Say It.mp3");
  ASSERT_EQ(Tag("C:\\Music\\Ballads\\John Coltrane - Say It.mp3", "album"), "") << "untagged: no album";
  ASSERT_EQ(Tag("C:\\Music\\Ballads\\John Coltrane - Say It.mp3", "artist"), "John Coltrane");
  const uint32_t second = uint32_t(User(control::kLastTagRecord));
  PostMessageA(window, playernumbers::kWmUser, 4000, control::kHang);
  // A sent message comes before a posted one: wait until the player has taken up the hang, so that
  // neither this question nor the close command reaches it first.
  ASSERT_TRUE(e2e::PumpUntil([&] {
    DWORD_PTR reply = 0;
    return !SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 100, &reply);
  }, 3000));
  User(playernumbers::user::kCount);  // given up: from now on the link leaves it alone
  link->SetWinAmpPath("");
  EXPECT_EQ(RecordMemory(second), DWORD(MEM_FREE)) << "released while the close command waits";
}

}  // namespace
