// A control instance at work in the simulated world: the server stand-in,
// the module, and players started through the shell from a stored location.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/KDOHost.h"
#include "LoadedModule.h"
#include "ModuleUnderTest.h"
#include "PlayerNumbers.h"
#include "SentMessages.h"
#include "player/PlayerModel.h"
#include "control/Device.WinampControl_Types.h"
#include "sim/SimWorld.h"
#include "player/sim/SimPlayer.h"

namespace instancetest {

namespace pn = playernumbers;

// The eight texts of a settings record, in the store's order.
inline std::vector<std::string> Texts(const TKDOWinampControlSettings& s) {
  std::vector<std::string> t;
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    if (row.Record) t.push_back((s.*row.Record).str());
  return t;
}

class InstanceTest : public LoadedModuleTest {
 protected:
  static constexpr const char* kExe = "C:\\Program Files\\Winamp\\winamp.exe";

  void SetUp() override {
    farm.InstallExecutable(kExe);
    ASSERT_NO_FATAL_FAILURE(LoadedModuleTest::SetUp());
  }

  void Store(uint16_t id, const std::string& key, const std::string& value) {
    server.SetSetting(id, "Settings", key, value);
  }
  // Creates the instance; with `bind`, its stored location starts a player and a tick binds it.
  IKDOModule* Create(uint16_t id, bool bind = true) {
    if (bind) Store(id, "WinampLocation", kExe);
    EXPECT_EQ(server.CreateInstance(info->ModuleID, id), KDO_S_OK);
    if (bind) {
      world.Advance(1000);
      EXPECT_NE(Player(id), nullptr);
    }
    world.ClearSent();
    server.ClearDebug();
    return server.Instance(id);
  }
  sim::SimPlayer* Player(uint16_t id) const { return farm.Find("WA_KDO_" + std::to_string(id)); }
  player::PlayerModel& Model(uint16_t id) const { return Player(id)->Model(); }
  TKDORef<IKDOWinampControl> Control(uint16_t id) {
    TKDORef<IKDOWinampControl> c;
    EXPECT_EQ(server.Instance(id)->QueryInterface(IID_IKDOWinampControl, c.put()), KDO_S_OK);
    return c;
  }
  host::CallResult Call(uint16_t id, const std::string& name, std::vector<host::Value> params = {},
                        host::CallResult initial = {}) {
    host::CallResult r = server.Call(name, id, params, initial);
    EXPECT_TRUE(r.Routed) << name;
    return r;
  }
  // Gets instance `id`'s settings, lets `edit` change them and sets them: SetSettings' result.
  template <class Edit>
  KDOResult EditSettings(uint16_t id, Edit edit) {
    TKDORef<IKDOWinampControl> c = Control(id);
    TKDOWinampControlSettings s;
    c->GetSettings(&s);
    edit(s);
    return c->SetSettings(KDOSettingsValue(s));
  }
  // From here on, the bytes each WM_COPYDATA carried, captured while the record was alive.
  void CaptureCopyData() {
    std::vector<std::string>* out = &copyData;
    world.OnSend = [out](const sim::SentMessage& m) {
      if (m.Message != pn::kWmCopyData) return;
      const auto* r = reinterpret_cast<const platform::CopyDataRecord*>(m.LParam);
      out->emplace_back(static_cast<const char*>(r->lpData), r->cbData);
    };
  }
  // Instance `id`'s player's traffic since the sends were last cleared, by window role.
  sent::Sequence Traffic(uint16_t id) const {
    const sim::SimPlayer* p = Player(id);
    return p ? sent::Of(world, p->Window(), p->PlaylistWindow()) : sent::Of(world, 0);
  }
  std::vector<std::string> DebugMessages() const {
    std::vector<std::string> m;
    for (const auto& d : server.Debug()) m.push_back(d.Message);
    return m;
  }

  sim::World world;
  sim::PlayerFarm farm{world};
  std::vector<std::string> copyData;
};

}  // namespace instancetest
