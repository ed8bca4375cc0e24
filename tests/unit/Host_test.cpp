// The server stand-in itself: if it is wrong, the module's tests prove nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "host/KDOHost.h"
#include "ModuleUnderTest.h"
#include "TestFolder.h"

namespace {

struct PathText {
  TKDOText section{"Settings"};
  KDOString path[1];
  PathText() { path[0] = section.get(); }
};

TEST(HostSettings, SurviveARestartThroughTheFile) {
  std::string file = testfolder::Own() + "host_settings.txt";
  std::remove(file.c_str());
  PathText p;
  TKDOText key("WinampLocation"), value("C:\\Program Files\\Winamp\\winamp.exe\twith\ttabs\nand lines");
  TKDOText emptyKey("RepeatVar");
  {
    host::Server s(file);
    TKDORef<IKDOSettings> settings;
    ASSERT_EQ(s.Kernel()->QueryInterface(IID_IKDOSettings, settings.put()), KDO_S_OK);
    EXPECT_EQ(settings->WriteSettingString(7, p.path, 0, key.get(), value.get()), KDO_S_OK);
    EXPECT_EQ(settings->WriteSettingString(7, p.path, 0, emptyKey.get(), nullptr), KDO_S_OK);
  }
  host::Server restarted(file);
  EXPECT_EQ(restarted.Setting(7, "Settings", "WinampLocation"), value.str());
  EXPECT_EQ(restarted.Setting(7, "Settings", "RepeatVar"), "");
  EXPECT_EQ(restarted.Setting(8, "Settings", "WinampLocation"), std::nullopt) << "keyed by instance";
  std::remove(file.c_str());
}

TEST(HostSettings, MissingKeyReadsEmptyAndFails) {
  host::Server s;
  TKDORef<IKDOSettings> settings;
  ASSERT_EQ(s.Kernel()->QueryInterface(IID_IKDOSettings, settings.put()), KDO_S_OK);
  PathText p;
  TKDOText key("Nope"), out("previous");
  EXPECT_TRUE(KDOFailed(settings->ReadSettingString(1, p.path, 0, key.get(), out.out())));
  EXPECT_TRUE(out.empty());
}

TEST(HostVariables, TypedReadsAndWrites) {
  host::Server s;
  s.DefineVariable("vol", host::Value::I(5));
  s.DefineVariable("title", host::Value::S("x"));
  TKDORef<IKDOVariableManager> vars;
  ASSERT_EQ(s.Kernel()->QueryInterface(IID_IKDOVariableManager, vars.put()), KDO_S_OK);
  TKDOText vol("vol"), title("title"), unknown("unknown"), text("Song");
  EXPECT_EQ(vars->WriteVariableInteger(vol.get(), 44), KDO_S_OK);
  EXPECT_TRUE(KDOFailed(vars->WriteVariableBoolean(vol.get(), 1))) << "wrong type";
  EXPECT_TRUE(KDOFailed(vars->WriteVariableInteger(unknown.get(), 1)));
  int32_t i = -7;
  EXPECT_TRUE(KDOFailed(vars->ReadVariableInteger(title.get(), &i)));
  EXPECT_EQ(i, -7) << "a failed read leaves the out-parameter";
  EXPECT_EQ(vars->ReadVariableInteger(vol.get(), &i), KDO_S_OK);
  EXPECT_EQ(i, 44);
  EXPECT_EQ(vars->WriteVariableString(title.get(), text.get()), KDO_S_OK);
  TKDOText got;
  EXPECT_EQ(vars->ReadVariableString(title.get(), got.out()), KDO_S_OK);
  EXPECT_EQ(got.view(), "Song");
  EXPECT_EQ(s.VariableWrites("vol"), 2);
  EXPECT_EQ(s.VariableReads("title"), 2) << "failed reads count too";
}

// A handler that reports what arrived.
struct Seen {
  std::string name;
  int32_t count = -1;
  int32_t firstInt = 0;
  std::string firstStr;
  uint32_t id = 0;
};
void KDO_STDCALL Handler(void* object, KDOString name, TKDOPHPParameter* params, TKDOPHPParameter* result,
                         uint32_t id) {
  auto* seen = static_cast<Seen*>(object);
  seen->name = std::string(kdo::text::View(name));
  seen->count = KDOParamCount(params);
  if (seen->count > 0) {
    seen->firstInt = params[0].IntValue;
    seen->firstStr = std::string(kdo::text::View(params[0].StringValue));
  }
  seen->id = id;
  result->BoolValue = 1;
  result->IntValue = 99;
  TKDOText r("result");
  kdo::text::Assign(&result->StringValue, r.get());
}

TEST(HostFunctions, CallsRouteByNameWithoutCaseAndById) {
  host::Server s;
  TKDORef<IKDOEventScripter> scripter;
  ASSERT_EQ(s.Kernel()->QueryInterface(IID_IKDOEventScripter, scripter.put()), KDO_S_OK);
  Seen seen;
  TKDOText name("WAC_Test"), pname("Position");
  TKDONamedVarType param{pname.get(), KDO_TYPE_INTEGER, {}};
  ASSERT_EQ(scripter->RegisterFunction(name.get(), &param, 0, KDO_TYPE_STRING, &Handler, &seen, 12), KDO_S_OK);
  const host::Registration* reg = s.Function("wac_test", 12);
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg->Params.size(), 1u);
  EXPECT_EQ(reg->Params[0].first, "Position");

  EXPECT_FALSE(s.Call("WAC_Test", 13, {}).Routed) << "other instance";
  host::CallResult r = s.Call("wac_TEST", 12, {host::Value::I(-3)});
  EXPECT_TRUE(r.Routed);
  EXPECT_EQ(seen.name, "wac_TEST") << "the handler sees the name as called";
  EXPECT_EQ(seen.count, 1);
  EXPECT_EQ(seen.firstInt, -3);
  EXPECT_EQ(seen.id, 12u);
  EXPECT_EQ(r.Bool, 1);
  EXPECT_EQ(r.Int, 99);
  EXPECT_EQ(r.Str, "result");
  s.Call("WAC_Test", 12, {});
  EXPECT_EQ(seen.count, 0) << "no parameters: a null array";

  EXPECT_EQ(scripter->UnregisterFunction(name.get(), 12), KDO_S_OK);
  EXPECT_FALSE(s.Call("WAC_Test", 12, {}).Routed);
}

TEST(HostInstanceControl, CreateInstanceFillsTheRecordAndDeleteRemovesIt) {
  host::Server s;
  const TKDOModuleInfo* info = nullptr;
  ASSERT_EQ(s.LoadModule(ModuleInfoProc(), &info), KDO_S_OK);
  TKDORef<IKDOInstanceControl> control;
  ASSERT_EQ(s.Kernel()->QueryInterface(IID_IKDOInstanceControl, control.put()), KDO_S_OK);
  TKDOModuleInstance record{};
  EXPECT_TRUE(KDOFailed(control->CreateInstance(IID_IKDOKernel, &record, 0))) << "unknown module";
  EXPECT_EQ(record.Module, nullptr);
  ASSERT_EQ(control->CreateInstance(info->ModuleID, &record, 0), KDO_S_OK);
  ASSERT_NE(record.Module, nullptr);
  EXPECT_EQ(s.Instance(record.InstanceID), record.Module);
  EXPECT_EQ(record.Module->GetReferenceCount(), 2) << "the server's and the record's";
  EXPECT_EQ(control->DeleteInstance(record.InstanceID), KDO_S_OK);
  EXPECT_EQ(s.Instance(record.InstanceID), nullptr);
  EXPECT_EQ(record.Module->Release(), 0) << "the record's reference was the last";
  EXPECT_TRUE(KDOFailed(control->DeleteInstance(record.InstanceID)));
  control.reset();
  s.UnloadModules();
  EXPECT_EQ(s.HeldReferences(), 0);
}

}  // namespace
