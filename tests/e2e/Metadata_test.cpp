// The tag request against the real player.exe under Wine: player.exe reads the record through the
// documented 32-bit declaration, so an answer that comes back proves the layout we write; a real
// file's ID3v1 tag; the bad inputs; the one reservation in the player's memory and its release.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "E2E.h"
#include "PlayerNumbers.h"
#include "player/PlayerModel.h"
#include "winamp/WinAmp.h"

namespace {

namespace pn = playernumbers;
namespace control = player::control;

class TagsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    className = "WA_E2E_" + std::to_string(GetCurrentProcessId()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
    link = std::make_unique<TWinAmpControl>();
    link->SetWinAmpClassName(className);
    link->SetWinAmpPath(e2e::PlayerPath());
    ASSERT_TRUE(e2e::PumpUntil([&] { return link->IsBound(); }, 15000));
    window = FindWindowA(className.c_str(), nullptr);
    GetWindowThreadProcessId(window, &pid);
  }
  void TearDown() override {
    link.reset();
    e2e::KillPlayers(className);
  }
  int32_t User(uint32_t lParam, uint32_t wParam = 0) { return link->SendPlayerMessage(pn::kWmUser, wParam, lParam); }
  void SendText(uint32_t dwData, const std::string& text) {
    platform::CopyDataRecord r{dwData, uint32_t(text.size() + 1), text.c_str()};
    link->SendPlayerMessage(pn::kWmCopyData, 0, reinterpret_cast<uintptr_t>(&r));
  }
  std::string Tag(const std::string& file, const std::string& field) {
    std::string value = "?";
    link->GetFileMetadata(file, field, value);
    return value;
  }
  // The state of the player's memory at `address`: MEM_COMMIT, MEM_FREE, or 0 when it cannot be asked.
  DWORD MemoryState(uint32_t address, SIZE_T* size = nullptr) const {
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    MEMORY_BASIC_INFORMATION info{};
    const bool asked = p && VirtualQueryEx(p, reinterpret_cast<LPCVOID>(uintptr_t(address)), &info, sizeof info);
    if (p) CloseHandle(p);
    if (size) *size = info.RegionSize;
    return asked ? info.State : 0;
  }

  std::string className;
  std::unique_ptr<TWinAmpControl> link;
  HWND window = nullptr;
  DWORD pid = 0;
};

TEST_F(TagsE2E, ThePlayerReadsTheRecordAsDocumentedAndTheFilesId3v1Tag) {
  const std::string tagged = e2e::HostDirectory() + "\\tags_e2e_" + std::to_string(GetCurrentProcessId()) + ".mp3";
  e2e::WriteId3v1File(tagged, "Naima", "John Coltrane", "Giant Steps", "1960");
  link->AddFile(tagged);
  EXPECT_EQ(Tag(tagged, "artist"), "John Coltrane");
  EXPECT_EQ(Tag(tagged, "album"), "Giant Steps");
  EXPECT_EQ(Tag(tagged, "YEAR"), "1960");
  EXPECT_EQ(Tag(tagged, "genre"), "") << "none: answered 0";
  const std::string untagged = "C:\\Music\\Kind of Blue\\Miles Davis - So What.mp3";
  link->AddFile(untagged);
  EXPECT_EQ(Tag(untagged, "artist"), "Miles Davis") << "without a tag, the name's";
  const uint32_t record = uint32_t(User(control::kLastTagRecord));
  SIZE_T size = 0;
  EXPECT_EQ(MemoryState(record, &size), DWORD(MEM_COMMIT)) << "the record lies in the player's memory";
  EXPECT_EQ(size, 8192u) << "one reservation of two pages: record, names and a 4 KB answer";
  DeleteFileA(tagged.c_str());
}

// The bad inputs on the real player: nothing crashes, the answer stays within its room, and one
// reservation serves every request until the player is let go, when it is given back.
TEST_F(TagsE2E, BadInputsAndOneReservationGivenBackOnLettingGo) {
  const std::string file = "C:\\Music\\Ballads\\John Coltrane - Say It.mp3";
  link->AddFile(file);
  ASSERT_EQ(Tag(file, "album"), "Ballads");
  const uint32_t record = uint32_t(User(control::kLastTagRecord));
  ASSERT_NE(record, 0u);

  SendText(control::kSetTag, "artist=" + std::string(5000, 'a'));
  EXPECT_EQ(Tag(file, "artist"), std::string(4095, 'a')) << "a 5,000-character tag, cut to the answer's room";
  User(control::kUnterminatedTags, 1);
  EXPECT_EQ(Tag(file, "album").size(), 4096u) << "unterminated: our own zero ends it";
  User(control::kUnterminatedTags, 0);
  EXPECT_EQ(Tag(file, std::string(64, 'f')), "") << "a field of 64 characters";
  EXPECT_EQ(Tag(file, "album artist"), "") << "a field with a blank";
  for (int i = 1; i <= 40; ++i) {
    const std::string entry = "C:\\Music\\Album " + std::to_string(i) + "\\x.mp3";
    link->AddFile(entry);
    EXPECT_EQ(Tag(entry, "album"), "Album " + std::to_string(i));
  }
  EXPECT_EQ(uint32_t(User(control::kLastTagRecord)), record) << "40 changes, one reservation";

  // Let go of the player while it hangs: it is still there to look into, and the memory is back.
  PostMessageA(window, pn::kWmUser, 4000, control::kHang);
  User(pn::user::kCount);  // given up: from now on the link leaves it alone
  ASSERT_FALSE(link->IsAnswering());
  link->SetWinAmpPath("");
  EXPECT_EQ(MemoryState(record), DWORD(MEM_FREE)) << "released before the close command";
}

// A player that exits between the reservation and the read: nothing crashes, nothing is read.
TEST_F(TagsE2E, APlayerThatDiesDuringTheRequestCostsNothing) {
  const std::string file = "C:\\Music\\Crescent\\John Coltrane - Crescent.mp3";
  link->AddFile(file);
  User(control::kDieAtTagQuery);
  EXPECT_EQ(Tag(file, "album"), "");
  EXPECT_TRUE(e2e::PumpUntil([&] { return !IsWindow(window); }, 5000));
  EXPECT_EQ(Tag(file, "album"), "") << "asked again of no player";
}

}  // namespace
