// Construction and destruction of a control instance, its services and its interface lookup.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "host/KDOHost.h"
#include "LoadedModule.h"
#include "ModuleUnderTest.h"
#include "Services.h"
#include "control/Device.WinampControl_Types.h"

namespace {

class InstanceFrame : public LoadedModuleTest {
 protected:
  IKDOModule* Create(uint16_t id) {
    server.ClearLog();
    EXPECT_EQ(server.CreateInstance(info->ModuleID, id), KDO_S_OK);
    return server.Instance(id);
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& l : server.Log()) t.push_back(l.Text);
    return t;
  }
};

TEST_F(InstanceFrame, SenderCarriesTheIdentifierAtBothEnds) {
  for (uint16_t id : {uint16_t(0), uint16_t(65535)}) {
    Create(id);
    ASSERT_FALSE(server.Log().empty());
    EXPECT_EQ(server.Log().back(), (host::LogLine{10021, "Winamp Control #" + std::to_string(id), "Interface Create"}));
  }
}

TEST_F(InstanceFrame, AllServicesObtainedMeansNoRefusalLines) {
  Create(7);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Creating new Instance...", "Interface Create"}));
  for (const testdata::Service& service : testdata::kServices) EXPECT_EQ(server.Counter(*service.Iid).Held(), 1);
  EXPECT_EQ(server.Counter(IID_IKDOKernel).Held(), 2) << "module-wide and instance";
}

// One service refused: its line alone, and construction goes on.
TEST_F(InstanceFrame, ARefusedServiceAloneIsLoggedAndConstructionGoesOn) {
  uint16_t id = 7;
  for (const testdata::Service& service : testdata::kServices) {
    SCOPED_TRACE(service.Refused);
    server.Refuse(*service.Iid);
    Create(id);
    ASSERT_EQ(server.Log().size(), 3u);
    EXPECT_EQ(server.Log()[1], (host::LogLine{10024, "Winamp Control #" + std::to_string(id), service.Refused}));
    EXPECT_EQ(server.Log()[2].Text, "Interface Create");
    EXPECT_EQ(server.Counter(*service.Iid).Held(), 0);
    server.DestroyInstance(id++);
    server.Refuse(*service.Iid, false);
  }
}

// Whatever order the server refuses them in, the lines come in the order the services are asked for.
TEST_F(InstanceFrame, EveryRefusalIsLoggedInTableOrder) {
  testdata::RefuseAll(server);
  Create(9);
  std::vector<std::string> expected = {"Creating new Instance..."};
  for (const testdata::Service& service : testdata::kServices) expected.push_back(service.Refused);
  expected.push_back("Interface Create");
  EXPECT_EQ(Texts(), expected);
  for (size_t i = 1; i <= std::size(testdata::kServices); ++i) EXPECT_EQ(server.Log()[i].Type, 10024);
  // An instance without services still answers and dies cleanly.
  IKDOModule* m = server.Instance(9);
  EXPECT_EQ(m->LoadSettings(), KDO_S_OK);
  EXPECT_EQ(m->SaveSettings(), KDO_S_OK);
  server.DestroyInstance(9);
  EXPECT_EQ(server.Log().back().Text, "Interface Destroy");
}

TEST_F(InstanceFrame, DestructionLogsFirstThenReleasesEverything) {
  Create(4);
  server.ClearLog();
  server.DestroyInstance(4);
  ASSERT_EQ(server.Log().size(), 1u);
  EXPECT_EQ(server.Log()[0], (host::LogLine{10021, "Winamp Control #4", "Interface Destroy"}));
  EXPECT_EQ(server.HeldReferences(), 1) << "only the module-wide kernel reference remains";
}

TEST_F(InstanceFrame, LookupThroughTheModuleInterfaceFindsEveryInterface) {
  IKDOModule* m = Create(1);
  for (const TGUID* g : {&IID_IInterface, &IID_IKDOMessageSink, &IID_IKDOModule, &IID_IKDOWinampControl}) {
    void* obj = nullptr;
    EXPECT_EQ(m->QueryInterface(*g, &obj), KDO_S_OK);
    ASSERT_NE(obj, nullptr);
    static_cast<IInterface*>(obj)->Release();
  }
  void* obj = reinterpret_cast<void*>(uintptr_t(1));
  EXPECT_EQ(m->QueryInterface(IID_IKDOKernel, &obj), KDO_E_NOINTERFACE);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(m->GetReferenceCount(), 1);
}

TEST_F(InstanceFrame, LookupThroughTheControlInterfaceIsNarrow) {
  IKDOModule* m = Create(1);
  TKDORef<IKDOWinampControl> control;
  ASSERT_EQ(m->QueryInterface(IID_IKDOWinampControl, control.put()), KDO_S_OK);

  for (const TGUID* g : {&IID_IInterface, &IID_IKDOMessageSink, &IID_IKDOKernel}) {
    void* obj = reinterpret_cast<void*>(uintptr_t(1));
    EXPECT_EQ(control->QueryInterface(*g, &obj), KDO_E_NOINTERFACE);
    EXPECT_EQ(obj, nullptr);
  }
  TKDORef<IKDOModule> module;
  EXPECT_EQ(control->QueryInterface(IID_IKDOModule, module.put()), KDO_S_OK);
  EXPECT_EQ(module.get(), m) << "the instance's own IKDOModule";
  TKDORef<IKDOWinampControl> again;
  EXPECT_EQ(control->QueryInterface(info->ModuleID, again.put()), KDO_S_OK);
  EXPECT_EQ(again.get(), control.get());
  EXPECT_EQ(m->GetReferenceCount(), 4);
  module.reset();
  again.reset();
  control.reset();
  EXPECT_EQ(m->GetReferenceCount(), 1);
}

TEST_F(InstanceFrame, ControlOperationsAllSucceed) {
  IKDOModule* m = Create(2);
  TKDORef<IKDOWinampControl> c;
  ASSERT_EQ(m->QueryInterface(IID_IKDOWinampControl, c.put()), KDO_S_OK);
  EXPECT_EQ(c->ShowConfigurationPage(), KDO_S_OK);
  EXPECT_EQ(c->HideConfigurationPage(), KDO_S_OK);
  EXPECT_EQ(c->HideConfigurationPage(), KDO_S_OK);
  EXPECT_EQ(c->Play(), KDO_S_OK);
  EXPECT_EQ(c->SetVolume(300), KDO_S_OK);
  KDOString title = nullptr;
  EXPECT_EQ(c->GetPlaylistTitle(1, &title), KDO_S_OK);
  kdo::text::Release(title);
  EXPECT_EQ(c->GetReferenceCount(), 2);
}

}  // namespace
