// The export, the descriptor and its three callbacks, against the server stand-in.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/KDOHost.h"
#include "LoadedModule.h"
#include "ModuleUnderTest.h"

namespace {

constexpr TGUID kModuleID = {0x2999EBBB, 0x5D36, 0x407E, {0xA5, 0x2B, 0xE9, 0x14, 0x2A, 0x45, 0xF1, 0x9C}};

class ModuleEntry : public LoadedModuleTest {
 protected:
  void SetUp() override {
    ASSERT_NE(ModuleInfoProc(), nullptr);
    ASSERT_NO_FATAL_FAILURE(LoadedModuleTest::SetUp());
  }
};

TEST_F(ModuleEntry, ExportYieldsTheSameDescriptorEveryTime) {
  const TKDOModuleInfo* a = nullptr;
  const TKDOModuleInfo* b = nullptr;
  EXPECT_EQ(ModuleInfoProc()(&a), KDO_S_OK);
  EXPECT_EQ(ModuleInfoProc()(&b), KDO_S_OK);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, info);
}

TEST_F(ModuleEntry, DescriptorFieldsAreAsTabled) {
  EXPECT_EQ(info->ModuleID, kModuleID);
  EXPECT_EQ(info->InterfaceID, kModuleID);
  EXPECT_EQ(info->ModuleType, 3);
  for (uint8_t b : info->Reserved) EXPECT_EQ(b, 0);
  EXPECT_EQ(kdo::text::View(info->ModuleName), "Winamp Control");
  EXPECT_EQ(kdo::text::View(info->Description), "Control multiple Winamp Instances using Kadovis");
  for (KDOString t : {info->Author, info->WebAddress, info->ModuleName, info->Description}) {
    EXPECT_FALSE(kdo::text::View(t).empty());
    EXPECT_EQ(kdo::text::RefCount(t), -1) << "descriptor texts are constants";
    EXPECT_EQ(t[kdo::text::View(t).size()], '\0');
  }
  EXPECT_EQ(info->Version, 0x00070100u);
  EXPECT_DOUBLE_EQ(info->Date, 38418.3156009954);
  EXPECT_EQ(info->Build, 346);
  EXPECT_NE(info->OnRegister, nullptr);
  EXPECT_NE(info->OnUnregister, nullptr);
  EXPECT_NE(info->OnCreateInstance, nullptr);
}

// The 160 bytes as the 32-bit server reads them.
TEST_F(ModuleEntry, DescriptorBytesOnThe32BitTarget) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "byte layout applies where addresses are 32-bit";
  const auto* bytes = reinterpret_cast<const uint8_t*>(info);
  const uint8_t guid[16] = {0xBB, 0xEB, 0x99, 0x29, 0x36, 0x5D, 0x7E, 0x40,
                            0xA5, 0x2B, 0xE9, 0x14, 0x2A, 0x45, 0xF1, 0x9C};
  EXPECT_EQ(std::memcmp(bytes + 0, guid, 16), 0);
  EXPECT_EQ(std::memcmp(bytes + 16, guid, 16), 0);
  const uint8_t type[4] = {3, 0, 0, 0};
  EXPECT_EQ(std::memcmp(bytes + 32, type, 4), 0);
  for (int i = 36; i < 116; ++i) EXPECT_EQ(bytes[i], 0) << "offset " << i;
  auto textAt = [&](int offset) {
    uint32_t addr;
    std::memcpy(&addr, bytes + offset, 4);
    return kdo::text::View(reinterpret_cast<KDOString>(uintptr_t(addr)));
  };
  EXPECT_EQ(textAt(124), "Winamp Control");
  EXPECT_EQ(textAt(128), "Control multiple Winamp Instances using Kadovis");
  const uint8_t version[4] = {0x00, 0x01, 0x07, 0x00};
  EXPECT_EQ(std::memcmp(bytes + 132, version, 4), 0);
  const uint8_t date[8] = {0x3A, 0x42, 0x67, 0x19, 0x4A, 0xC2, 0xE2, 0x40};
  EXPECT_EQ(std::memcmp(bytes + 136, date, 8), 0);
  const uint8_t build[4] = {0x5A, 0x01, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(bytes + 144, build, 4), 0);
  for (int offset : {148, 152, 156}) {
    uint32_t addr;
    std::memcpy(&addr, bytes + offset, 4);
    EXPECT_NE(addr, 0u) << "callback at " << offset;
  }
}

TEST_F(ModuleEntry, RegisterAndUnregisterLogThroughTheKernel) {
  ASSERT_EQ(server.Log().size(), 1u);
  EXPECT_EQ(server.Log()[0], (host::LogLine{10021, "Winamp Control", "Register"}));
  EXPECT_EQ(server.Counter(IID_IKDOKernel).Held(), 1);
  EXPECT_EQ(info->OnUnregister(), KDO_S_OK);
  EXPECT_EQ(server.Log().back(), (host::LogLine{10021, "Winamp Control", "Unregister"}));
  EXPECT_EQ(server.Counter(IID_IKDOKernel).Held(), 0);
}

TEST_F(ModuleEntry, SecondRegisterReplacesTheKernel) {
  host::Server second;
  EXPECT_EQ(info->OnRegister(second.Kernel()), KDO_S_OK);
  EXPECT_EQ(server.Counter(IID_IKDOKernel).Held(), 0) << "first kernel's AddRef and Release balance";
  EXPECT_EQ(second.Counter(IID_IKDOKernel).Held(), 1);
  ASSERT_EQ(second.Log().size(), 1u);
  EXPECT_EQ(second.Log()[0].Text, "Register");
  EXPECT_EQ(server.Log().size(), 1u) << "nothing more through the first kernel";
  EXPECT_EQ(info->OnUnregister(), KDO_S_OK);
  EXPECT_EQ(second.Log().back().Text, "Unregister");
  EXPECT_EQ(second.HeldReferences(), 0);
}

TEST_F(ModuleEntry, UnregisterWithoutKernelIsHarmless) {
  EXPECT_EQ(info->OnUnregister(), KDO_S_OK);
  EXPECT_EQ(info->OnUnregister(), KDO_S_OK);
  EXPECT_EQ(server.Log().size(), 2u);
}

TEST_F(ModuleEntry, CreateInstanceUsesTheLow16BitsOfItsArgument) {
  IKDOModule* m = nullptr;
  ASSERT_EQ(info->OnCreateInstance(65537, &m), KDO_S_OK);
  ASSERT_NE(m, nullptr);
  std::vector<host::LogLine> expected = {
      {10021, "Winamp Control", "Register"},
      {10021, "Winamp Control", "Creating new Instance..."},
      {10021, "Winamp Control #1", "Interface Create"},
  };
  EXPECT_EQ(server.Log(), expected);
  EXPECT_EQ(m->GetReferenceCount(), 1);
  EXPECT_EQ(m->Release(), 0);
  EXPECT_EQ(server.Log().back(), (host::LogLine{10021, "Winamp Control #1", "Interface Destroy"}));
}

TEST_F(ModuleEntry, ServerReleaseOfTheOnlyReferenceDestroysTheInstance) {
  ASSERT_EQ(server.CreateInstance(kModuleID, 12), KDO_S_OK);
  IKDOModule* m = server.Instance(12);
  EXPECT_EQ(m->GetReferenceCount(), 1);
  EXPECT_EQ(m->AddRef(), 2);
  EXPECT_EQ(m->Release(), 1);
  EXPECT_GT(server.HeldReferences(), 0) << "the instance holds the kernel and its services";
  server.DestroyInstance(12);
  EXPECT_EQ(server.Log().back().Text, "Interface Destroy");
  EXPECT_EQ(server.Counter(IID_IKDOKernel).Held(), 1) << "only the module-wide reference is left";
  EXPECT_EQ(server.Counter(IID_IKDOSettings).Held(), 0);
}

TEST_F(ModuleEntry, CreateInstanceWithoutKernelFails) {
  info->OnUnregister();
  IKDOModule* m = nullptr;
  EXPECT_EQ(info->OnCreateInstance(5, &m), KDO_E_FAIL);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(info->OnCreateInstance(5, nullptr), KDO_E_FAIL);
}

TEST_F(ModuleEntry, FillInstanceRecordClearsBytes8To15Only) {
  ASSERT_EQ(server.CreateInstance(kModuleID, 3), KDO_S_OK);
  uint8_t record[16];
  std::memset(record, 0xFF, sizeof record);
  EXPECT_EQ(server.Instance(3)->FillInstanceRecord(record), KDO_S_OK);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(record[i], 0xFF) << i;
  for (int i = 8; i < 16; ++i) EXPECT_EQ(record[i], 0) << i;
}

TEST_F(ModuleEntry, ReceiveMessageFailsWhateverItsArgument) {
  ASSERT_EQ(server.CreateInstance(kModuleID, 3), KDO_S_OK);
  IKDOModule* m = server.Instance(3);
  for (uint32_t arg : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu}) EXPECT_EQ(m->ReceiveMessage(arg), KDO_E_FAIL);
  TKDORef<IKDOMessageSink> sink;
  ASSERT_EQ(m->QueryInterface(IID_IKDOMessageSink, sink.put()), KDO_S_OK);
  EXPECT_EQ(sink->ReceiveMessage(42), KDO_E_FAIL);
}

}  // namespace
