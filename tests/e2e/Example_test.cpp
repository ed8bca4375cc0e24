// The example script shipped in the release zip runs under kdohost.exe the way
// its own comment tells a user to run it, and does what its comments say.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

TEST(Example, ScriptRunsUnderTheStandInServerAndClosesItsPlayer) {
  const std::string command =
      std::string("kdohost.exe --script \"") + WAC_SOURCE_DIR "/examples/example.kdo\" " + WAC_DLL_NAME + " 2>&1";
  FILE* pipe = _popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string printed;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) printed.append(buffer, n);
  EXPECT_EQ(_pclose(pipe), 0) << "every line ran and every reference was given back\n" << printed;

  for (const char* line : {"WAC_GetPlaylistLength(10) -> 2\n", "WAC_GetPlayState(10) -> 1\n",
                           "WAC_GetPlaylistTitle(10, 2) -> \"Coffee Jazz\"\n", "KitchenVolume = 160\n", "KitchenState = 1\n",
                           "WAC_Stop(10) -> true\n"})
    EXPECT_NE(printed.find(line), std::string::npos) << line << "--- printed:\n" << printed;
  EXPECT_EQ(FindWindowA("WA_KDO_10", nullptr), nullptr) << "the player closed with its instance";
}

}  // namespace
