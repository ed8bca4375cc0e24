// The demo's script, run the way ./run demo runs it, with its outcome checked.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CoverFiles.h"
#include "host/HostScript.h"
#include "host/KDOHost.h"
#include "ModuleUnderTest.h"
#include "Covers.h"
#include "E2E.h"
#include "host/win32/Screenshot.h"

namespace {

using coverfiles::Bytes;
namespace fs = std::filesystem;

// The pictures ./run demo writes: a valid 8×8 grey JPEG and a valid 1×1 orange PNG.
const Bytes kJpeg = coverfiles::Join({{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00}, Bytes(64, 1),
                                      {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00},
                                      {0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01}, Bytes(16, 0),
                                      {0xFF, 0xC4, 0x00, 0x14, 0x10, 0x01}, Bytes(16, 0),
                                      {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, 0x3F, 0xFF, 0xD9}});
const Bytes kPng = {0x89, 'P',  'N',  'G',  0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 'I',  'H',
                    'D',  'R',  0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
                    0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 'I',  'D',  'A',  'T',  0x78,
                    0xDA, 0x63, 0x38, 0x91, 0x22, 0x02, 0x00, 0x03, 0x38, 0x01, 0x41, 0xFC, 0xFE, 0x1A,
                    0xD3, 0x00, 0x00, 0x00, 0x00, 'I',  'E',  'N',  'D',  0xAE, 0x42, 0x60, 0x82};

using coverfiles::Read;
using coverfiles::Write;
using e2e::CoversFolder;

TEST(Demo, ScriptDrivesBothPlayersAndTheVariablesFollow) {
  host::Server server;
  const TKDOModuleInfo* info = nullptr;
  ASSERT_EQ(server.LoadModule(ModuleInfoProc(), &info), KDO_S_OK);
  host::ScriptRunner run(server, [](uint32_t ms) { host::PumpMessages(ms); });
  run.Module = info->ModuleID;
  run.Macros = {{"DIR", e2e::HostDirectory()}};
  run.Screenshot = [](uint16_t, const std::string& file) {
    host::PumpMessages(300);
    HWND page = FindWindowA("KDOForm", nullptr);
    return page && host::SaveWindowPng(page, file);
  };
  // The tagged files ./run demo writes into the folder the server and its players run in.
  e2e::WriteId3v1File("demo-cheek.mp3", "Cheek to Cheek", "Ella Fitzgerald", "Ella and Louis", "1956");
  e2e::WriteId3v1File("demo-summertime.mp3", "Summertime", "Louis Armstrong", "Porgy and Bess", "1957");
  // And for the covers: a file with its picture in its tag, and an album folder beside the program.
  e2e::WriteId3v1File("demo-mack.mp3", "Mack the Knife", "Ella Fitzgerald", "Ella in Berlin", "1960");
  Write("demo-mack.mp3", coverfiles::Join({coverfiles::Id3v2(3, {coverfiles::PictureFrame(3, 3, kPng)}),
                                           Read("demo-mack.mp3")}));
  const std::string album = e2e::HostDirectory() + "\\demo-album";
  fs::create_directories(album);
  Write(album + "\\folder.jpg", kJpeg);
  e2e::WriteId3v1File(album + "\\01 Autumn in New York.mp3", "Autumn in New York", "Ella Fitzgerald",
                      "Ella and Louis Again", "1957");
  // The album goes afterwards, and a kept cover that was not there before, however the test ends.
  const e2e::CoversOf covers(kPng);
  struct Cleanup {
    std::string album;
    ~Cleanup() {
      std::error_code error;
      fs::remove_all(album, error);
    }
  } cleanup{album};
  std::ifstream script(WAC_SOURCE_DIR "/demo/demo.kdo");
  ASSERT_TRUE(script) << "demo/demo.kdo";
  std::string line, out, error;
  std::map<std::string, std::string> shown;  // call line as written -> what it printed, the last time
  std::vector<int> trackPositions;            // each WAC_GetTrackPosition(1) answer, in order
  std::vector<std::string> coversShown;       // each "print Cover2" line's output, in order
  for (int n = 1; std::getline(script, line); ++n) {
    if (line == "print Cover2") {
      // On a busy machine the lookup may answer after the script's wait: give it longer to change.
      const std::string before = coversShown.empty() ? "" : coversShown.back();
      e2e::PumpUntil([&] { return "Cover2 = " + host::Show(*server.Variable("Cover2")) != before; }, 5000);
    }
    ASSERT_TRUE(run.Run(line, out, error)) << n << ": " << error;
    if (line == "print Cover2") coversShown.push_back(out);
    std::string err;
    const std::optional<host::Statement> st = host::ParseStatement(line, err);
    if (st && st->kind == host::Statement::Kind::Call) {
      // Each call is shown as written, arguments and all (the macro's value in its place), then its result.
      std::string written = line;
      for (std::size_t at; (at = written.find("$DIR")) != std::string::npos;)
        written.replace(at, 4, e2e::HostDirectory());
      EXPECT_EQ(out.rfind(written + " -> ", 0), 0u) << n << ": " << out;
      shown[line] = out;
      if (line == "WAC_GetTrackPosition(1)") trackPositions.push_back(std::atoi(out.c_str() + line.size() + 4));
    }
  }
  EXPECT_EQ(shown["WAC_AddFile(1, \"C:\\Music\\Morning Song.mp3\")"],
            "WAC_AddFile(1, \"C:\\Music\\Morning Song.mp3\") -> true");
  EXPECT_EQ(shown["WAC_GetPlaylistTitle(1, 2)"], "WAC_GetPlaylistTitle(1, 2) -> \"Afternoon Tea\"");
  EXPECT_EQ(shown["WAC_GetPlayState(1)"], "WAC_GetPlayState(1) -> 0") << "the last asked, after the stop";
  EXPECT_EQ(shown["WAC_GetPlayState(2)"], "WAC_GetPlayState(2) -> 3") << "paused";
  EXPECT_EQ(shown["WAC_GetTrackLength(1)"], "WAC_GetTrackLength(1) -> 205");
  EXPECT_EQ(shown["WAC_SetTrackPosition(1, 90)"], "WAC_SetTrackPosition(1, 90) -> true");
  // Right after the jump to 90 s, then after the doorbell: the music where it was or later, never
  // from its start (how much later depends on how busy the machine is).
  ASSERT_EQ(trackPositions.size(), 2u);
  EXPECT_GE(trackPositions[0], 90);
  EXPECT_GE(trackPositions[1], trackPositions[0]) << "after the doorbell, the music where it was";
  EXPECT_EQ(shown["WAC_FadeVolume(2, 40, 2)"], "WAC_FadeVolume(2, 40, 2) -> true");
  EXPECT_EQ(shown["WAC_Announce(1, \"C:\\Sounds\\Doorbell (2s).wav\", 230)"],
            "WAC_Announce(1, \"C:\\Sounds\\Doorbell (2s).wav\", 230) -> true");
  EXPECT_EQ(shown["WAC_GetPlaylistLength(1)"], "WAC_GetPlaylistLength(1) -> 3") << "the announcement's entry went again";
  EXPECT_EQ(shown["WAC_SetTrackPosition(1, 30)"], "WAC_SetTrackPosition(1, 30) -> false") << "stopped";
  EXPECT_EQ(shown["WAC_GetMetadata(2, \"year\")"], "WAC_GetMetadata(2, \"year\") -> \"1957\"") << "the file's own tag";
  // The kitchen's cover: the album folder's picture, then the tag's, kept in the folder of covers.
  ASSERT_EQ(coversShown.size(), 2u);
  EXPECT_EQ(coversShown[0], "Cover2 = \"" + album + "\\folder.jpg\"");
  const std::string start = "Cover2 = \"";
  ASSERT_EQ(coversShown[1].rfind(start, 0), 0u) << coversShown[1];
  const std::string kept = coversShown[1].substr(start.size(), coversShown[1].size() - start.size() - 1);
  EXPECT_EQ(kept.rfind(CoversFolder(), 0), 0u) << kept;
  EXPECT_TRUE(kept.size() > 4 && kept.compare(kept.size() - 4, 4, ".png") == 0) << kept;
  EXPECT_EQ(Read(kept), kPng) << kept;

  auto var = [&](const char* name) { return *server.Variable(name); };
  EXPECT_EQ(var("Title1").Str, "Afternoon Tea");
  EXPECT_EQ(var("File1").Str, "C:\\Music\\Afternoon Tea.mp3");
  EXPECT_EQ(var("Len1").Str, "0:03:25");
  EXPECT_EQ(var("Pos1").Str, "0:00:00") << "stopped";
  EXPECT_EQ(var("Volume1").Int, 200);
  EXPECT_TRUE(var("Shuffle1").Bool);
  EXPECT_FALSE(var("Repeat1").Bool);
  EXPECT_EQ(var("Title2").Str, "Kitchen Jazz");
  EXPECT_EQ(var("Album2").Str, "") << "the entry's own: an untagged file has no album";
  EXPECT_EQ(var("Volume2").Int, 120);
  EXPECT_FALSE(var("Shuffle2").Bool);
  EXPECT_TRUE(var("Repeat2").Bool);
  EXPECT_EQ(var("State1").Int, 0) << "stopped; the waitfor lines saw 1, 3 and 0 on the way";
  EXPECT_EQ(var("State2").Int, 0);
  EXPECT_EQ(server.InstanceIds().size(), 0u);
  EXPECT_EQ(FindWindowA("WA_KDO_1", nullptr), nullptr) << "both players closed";
  EXPECT_EQ(FindWindowA("WA_KDO_2", nullptr), nullptr);
  EXPECT_EQ(server.Setting(2, "Settings", "RepeatVar"), "Repeat2") << "settings stay in the store";
  WIN32_FILE_ATTRIBUTE_DATA png{};
  EXPECT_TRUE(GetFileAttributesExA("configuration-page.png", GetFileExInfoStandard, &png));
  EXPECT_GT(png.nFileSizeLow, 10000u);
  server.UnloadModules();
  EXPECT_EQ(server.HeldReferences(), 0);
}

}  // namespace
