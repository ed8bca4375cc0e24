// The example event scripts that the release zip ships with the user's guide run on a server as they
// stand: calls only, each of a function the instance registers, with arguments it takes and a result
// that says it was done.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/HostScript.h"
#include "InstanceFixture.h"

namespace instancetest {
namespace {

using ReleaseExamples = InstanceTest;

// The examples name the kitchen's instance 10, the living room's 20 and the bedroom's 30, which the server has set up
// with their players, so a line that sets up anything itself would not belong in an event's script.
TEST_F(ReleaseExamples, EveryLineIsACallThatTheInstanceCarriesOut) {
  Create(10);
  Create(20);
  Create(30);
  host::ScriptRunner run(server, [&](uint32_t ms) { world.Advance(ms); });
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(WAC_SOURCE_DIR "/docs/examples"))
    files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  for (const auto& path : files) {
    SCOPED_TRACE(path.filename().string());
    std::ifstream file(path);
    std::string line, out, error;
    int calls = 0;
    while (std::getline(file, line)) {
      const auto statement = host::ParseStatement(line, error);
      ASSERT_TRUE(statement) << line << ": " << error;
      if (statement->kind == host::Statement::Kind::Empty) continue;
      if (statement->kind != host::Statement::Kind::Call) {
        ADD_FAILURE() << line << ": not a call";
        continue;
      }
      EXPECT_TRUE(run.Run(line, out, error)) << line << ": " << error;
      EXPECT_EQ(out.find("-> false"), std::string::npos) << out;
      ++calls;
    }
    EXPECT_GT(calls, 0);
  }
}

}  // namespace
}  // namespace instancetest
