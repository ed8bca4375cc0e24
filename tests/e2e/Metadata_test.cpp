// The tag request against player.exe under Wine. player.exe reads the record through the
// documented 32-bit declaration, so an answer that comes back proves the layout the link writes.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "E2E.h"
#include "PlayerNumbers.h"
#include "player/PlayerModel.h"
#include "winamp/WinAmp.h"

namespace {

namespace control = player::control;

class TagsE2E : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }
  // Binds the link to a player it starts.
  void Start() {
    className = "WA_E2E_TAGS_" + std::to_string(GetCurrentProcessId());
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
  int32_t User(uint32_t lParam, uint32_t wParam = 0) {
    return link->SendPlayerMessage(playernumbers::kWmUser, wParam, lParam);
  }
  std::string Tag(const std::string& file, const std::string& field) {
    std::string value = "?";
    link->GetFileMetadata(file, field, value);
    return value;
  }
  // MEM_COMMIT or MEM_FREE: the player's memory at `address`, and the size of its region.
  DWORD MemoryState(uint32_t address, SIZE_T* size = nullptr) const {
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    MEMORY_BASIC_INFORMATION info{};
    const bool asked = p && VirtualQueryEx(p, reinterpret_cast<LPCVOID>(uintptr_t(address)), &info, sizeof info);
    if (p) CloseHandle(p);
    if (size) *size = info.RegionSize;
    return asked ? info.State : 0;
  }

  std::string className;
  std::unique_ptr<TWinAmpControl> link = std::make_unique<TWinAmpControl>();
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
  DeleteFileA(tagged.c_str());
  SIZE_T size = 0;
  EXPECT_EQ(MemoryState(uint32_t(User(control::kLastTagRecord)), &size), DWORD(MEM_COMMIT));
  EXPECT_EQ(size, 8192u) << "one reservation of two pages: record, names and a 4 KB answer";
}

// The bad inputs on the real player: answers within their room, one reservation for every request
// until the player is let go (hung, so that it is still there), and a player dying mid-request.
TEST_F(TagsE2E, BadInputsOneReservationAndADyingPlayer) {
  const std::string file = "C:\\Music\\Ballads\\John Coltrane - Say It.mp3";
  link->AddFile(file);
  ASSERT_EQ(Tag(file, "album"), "Ballads");
  const uint32_t record = uint32_t(User(control::kLastTagRecord));
  const std::string tag = "artist=" + std::string(5000, 'a');
  platform::CopyDataRecord r{control::kSetTag, uint32_t(tag.size() + 1), tag.c_str()};
  link->SendPlayerMessage(playernumbers::kWmCopyData, 0, reinterpret_cast<uintptr_t>(&r));
  EXPECT_EQ(Tag(file, "artist"), std::string(4095, 'a')) << "a 5,000-character tag";
  User(control::kUnterminatedTags, 1);
  EXPECT_EQ(Tag(file, "album").size(), 4096u) << "unterminated: our own zero ends it";
  User(control::kUnterminatedTags, 0);
  EXPECT_EQ(Tag(file, std::string(64, 'f')), "");
  EXPECT_EQ(Tag(file, "album artist"), "");
  for (int i = 1; i <= 40; ++i) {
    const std::string entry = "C:\\Music\\Album " + std::to_string(i) + "\\x.mp3";
    link->AddFile(entry);
    EXPECT_EQ(Tag(entry, "album"), "Album " + std::to_string(i));
  }
  EXPECT_EQ(uint32_t(User(control::kLastTagRecord)), record) << "40 changes, one reservation";

  User(control::kDieAtTagQuery);
  EXPECT_EQ(Tag(file, "album"), "") << "died between the reservation and the read";
  ASSERT_TRUE(e2e::PumpUntil([&] { return !IsWindow(window); }, 5000));
  EXPECT_EQ(Tag(file, "album"), "") << "asked again of no player";

  // A new player, let go of while it hangs: its reservation is back before the close command.
  link->SetWinAmpPath("");
  Start();
  link->AddFile(file);
  ASSERT_EQ(Tag(file, "album"), "Ballads");
  const uint32_t second = uint32_t(User(control::kLastTagRecord));
  PostMessageA(window, playernumbers::kWmUser, 4000, control::kHang);
  User(playernumbers::user::kCount);  // given up: from now on the link leaves it alone
  link->SetWinAmpPath("");
  EXPECT_EQ(MemoryState(second), DWORD(MEM_FREE)) << "released before the close command";
}

}  // namespace
