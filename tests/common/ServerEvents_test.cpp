// The stand-in server's event scripts, as a real server's event scripter runs them: inside the write of
// a variable, on the writer's thread, before the write returns. Natively against the linked module in
// the simulated world delivering as Windows does, under Wine against the loaded DLL.
#include <gtest/gtest.h>

#include "LoadedModule.h"
#include "OtherThreads.h"
#include "SettingsKeys.h"

namespace {

using host::Value;

class ServerEvents : public LoadedModuleTest {
 protected:
  threads::Desktop desktop;  // natively the world the instance's timer ticks in
};

// The instance's first tick writes the play state of no player (-1): the event's call into the same
// instance comes back from inside that write.
TEST_F(ServerEvents, AVariableWriteRunsItsEventsInsideTheWrite) {
  server.DefineVariable("v_state", Value::I(5));
  server.SetSetting(1, "Settings", testdata::kPlayStateKey, "v_state");
  int depth = -1;
  host::CallResult inside;
  server.OnWrite("v_state", [&](const Value& written) {
    depth = server.WritesUnderWay();
    EXPECT_EQ(written, Value::I(-1));
    inside = server.Call("WAC_GetPlaylistLength", 1, {});
  });
  server.OnWrite("v_state", "WAC_GetPlayState", 1, {});
  ASSERT_EQ(server.CreateInstance(info->ModuleID, 1), KDO_S_OK);
  ASSERT_TRUE(desktop.RunLoopUntil([&] { return !server.EventCalls().empty(); }, 30000));

  EXPECT_EQ(depth, 1) << "inside the write";
  EXPECT_TRUE(inside.Routed);
  EXPECT_EQ(inside.Int, -1) << "no player";
  ASSERT_EQ(server.EventCalls().size(), 1u);
  EXPECT_EQ(server.EventCalls()[0].Variable, "v_state");
  EXPECT_EQ(server.EventCalls()[0].Function, "WAC_GetPlayState");
  EXPECT_EQ(server.EventCalls()[0].Result.Int, -1);
  ASSERT_GE(server.Debug().size(), 2u);
  EXPECT_EQ(server.Debug()[0].Message, "GET PLAYLIST LENGTH");
  EXPECT_EQ(server.Debug()[1].Message, "GET PLAY STATE");
  EXPECT_EQ(server.Variable("v_state"), Value::I(-1));
}

}  // namespace
