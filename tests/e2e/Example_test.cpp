// The example scripts of the source tree (./run example) run under kdohost.exe the
// way their own comments tell a developer to run them, and do what their comments say.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The example scripts, each with the lines that show it did what its comments say.
TEST(Example, ScriptsRunUnderTheStandInServerAndCloseTheirPlayers) {
  struct Script {
    const char* File;
    const char* Class;
    std::vector<const char*> Lines;
    // Asked before the announcement and after it: the music goes on where it was, not from its start. Only the
    // order is checked, since a busy machine may read either time later than the script meant.
    const char* TrackPositionCall = nullptr;
  };
  const Script scripts[] = {
      {"kitchen.kdo", "WA_KDO_10",
       {"WAC_GetPlaylistLength(10) -> 2\n", "WAC_GetPlayState(10) -> 1\n",
        "WAC_GetPlaylistTitle(10, 2) -> \"Coffee Jazz\"\n", "KitchenVolume = 160\n", "KitchenState = 1\n",
        "WAC_Stop(10) -> true\n"}},
      // The announcement interrupts the music, and the music goes on at its volume where it was.
      {"doorbell-demo.kdo", "WA_KDO_20",
       {"WAC_Announce(20, \"C:\\Sounds\\Doorbell (2s).wav\", 230) -> true\n", "LivingTitle = \"Doorbell (2s)\"\n",
        "LivingTitle = \"Evening Jazz\"\n", "WAC_GetPlaylistLength(20) -> 2\n", "WAC_GetPlaylistPosition(20) -> 1\n",
        "LivingState = 1\n"},
       "WAC_GetTrackPosition(20) -> "},
      // The two queued after the song that plays come after it, in the order the script meant.
      {"morning-demo.kdo", "WA_KDO_30",
       {"WAC_GetPlaylistTitle(30, 2) -> \"Weather (2s)\"\n", "WAC_GetPlaylistTitle(30, 3) -> \"News (2s)\"\n",
        "BedroomTitle = \"News (2s)\"\n", "BedroomTitle = \"Coffee Time\"\n", "WAC_GetPlaylistLength(30) -> 4\n"}},
      // The kitchen takes the living room's music from where it was, and hands it back.
      {"follow.kdo", "WA_KDO_10",
       {"WAC_TransferTo(20, 10, false) -> true\n", "KitchenTitle = \"So What\"\n", "WAC_GetPlaylistLength(10) -> 3\n",
        "KitchenVolume = 90\n", "WAC_TransferTo(10, 20, false) -> true\n", "LivingTitle = \"So What\"\n"},
       "WAC_GetTrackPosition("},
      // The chime in three rooms at once, then each room's own music.
      {"doorbell-everywhere.kdo", "WA_KDO_30",
       {"WAC_AnnounceWith(20, \"10, 30\", \"C:\\Sounds\\Doorbell (2s).wav\", 230) -> true\n",
        "KitchenTitle = \"Doorbell (2s)\"\n", "BedroomTitle = \"Doorbell (2s)\"\n", "LivingTitle = \"Evening Jazz\"\n",
        "KitchenTitle = \"Kitchen Radio\"\n", "BedroomTitle = \"Lullaby\"\n"}},
  };
  for (const Script& script : scripts) {
    SCOPED_TRACE(script.File);
    std::ifstream file(std::string(WAC_SOURCE_DIR "/examples/") + script.File);
    std::string header, line;
    while (std::getline(file, line) && line.rfind("#", 0) == 0) header += line + " ";
    const std::string name(script.File, std::strlen(script.File) - 4);
    EXPECT_NE(header.find("./run example " + name + " "), std::string::npos) << "its first comment runs it";
    const std::string command = std::string("kdohost.exe --script \"") + WAC_SOURCE_DIR "/examples/" + script.File +
                                "\" " + WAC_DLL_NAME + " 2>&1";
    FILE* pipe = _popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string printed;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) printed.append(buffer, n);
    EXPECT_EQ(_pclose(pipe), 0) << "every line ran and every reference was given back\n" << printed;
    for (const char* line : script.Lines)
      EXPECT_NE(printed.find(line), std::string::npos) << line << "--- printed:\n" << printed;
    if (script.TrackPositionCall) {
      const std::size_t before = printed.find(script.TrackPositionCall);
      const std::size_t after = printed.find(script.TrackPositionCall, before + 1);
      ASSERT_NE(after, std::string::npos) << printed;
      const auto seconds = [&](std::size_t at) {
        return std::atoi(printed.c_str() + at + std::strlen(script.TrackPositionCall));
      };
      EXPECT_GE(seconds(before), 2) << "the music played on before it was asked";
      EXPECT_GE(seconds(after), seconds(before)) << "not from its start";
    }
    EXPECT_EQ(FindWindowA(script.Class, nullptr), nullptr) << "the player closed with its instance";
  }
}

}  // namespace
