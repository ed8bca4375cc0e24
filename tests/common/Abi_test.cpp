// The binary boundary, checked independently of the SDK header: table
// positions of every operation used, and a kernel built by hand as a raw
// table of stdcall functions that the module must call at the right entries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ModuleUnderTest.h"
#include "control/Device.WinampControl_Types.h"

namespace {

// Table entry (from 1) of a virtual operation, read from its member pointer
// (the compiler's own slot assignment: the pointer holds 1 + byte offset).
template <class M>
int EntryOf(M member) {
  struct {
    uintptr_t ptr;
    ptrdiff_t adj;
  } rep;
  static_assert(sizeof(M) == sizeof rep);
  std::memcpy(&rep, &member, sizeof rep);
  return int((rep.ptr - 1) / sizeof(void*)) + 1;
}

TEST(Abi, ServerOperationsSitAtOwnNumberPlusFour) {
  EXPECT_EQ(EntryOf(&IInterface::QueryInterface), 1);
  EXPECT_EQ(EntryOf(&IInterface::AddRef), 2);
  EXPECT_EQ(EntryOf(&IInterface::Release), 3);
  EXPECT_EQ(EntryOf(&IKDOMessageSink::ReceiveMessage), 4);
  EXPECT_EQ(EntryOf(&IKDOKernel::LogMessage), 4 + 4);
  EXPECT_EQ(EntryOf(&IKDOKernel::Reserved8), 8 + 4);
  EXPECT_EQ(EntryOf(&IKDOSettings::WriteSettingString), 9 + 4);
  EXPECT_EQ(EntryOf(&IKDOSettings::ReadSettingString), 13 + 4);
  EXPECT_EQ(EntryOf(&IKDOSettings::Reserved26), 26 + 4);
  EXPECT_EQ(EntryOf(&IKDOInstanceControl::CreateInstance), 1 + 4);
  EXPECT_EQ(EntryOf(&IKDOInstanceControl::DeleteInstance), 2 + 4);
  EXPECT_EQ(EntryOf(&IKDOInstanceControl::Reserved14), 14 + 4);
  EXPECT_EQ(EntryOf(&IKDOVariableManager::ReadVariableBoolean), 3 + 4);
  EXPECT_EQ(EntryOf(&IKDOVariableManager::WriteVariableBoolean), 4 + 4);
  EXPECT_EQ(EntryOf(&IKDOVariableManager::ReadVariableInteger), 5 + 4);
  EXPECT_EQ(EntryOf(&IKDOVariableManager::WriteVariableInteger), 6 + 4);
  EXPECT_EQ(EntryOf(&IKDOVariableManager::ReadVariableString), 9 + 4);
  EXPECT_EQ(EntryOf(&IKDOVariableManager::WriteVariableString), 10 + 4);
  EXPECT_EQ(EntryOf(&IKDOVariableManager::Reserved20), 20 + 4);
  EXPECT_EQ(EntryOf(&IKDOEventScripter::RegisterFunction), 12 + 4);
  EXPECT_EQ(EntryOf(&IKDOEventScripter::UnregisterFunction), 13 + 4);
  EXPECT_EQ(EntryOf(&IKDOEventScripter::Reserved17), 17 + 4);
  EXPECT_EQ(EntryOf(&IKDODebugServer::SendDebug), 2 + 4);
}

TEST(Abi, ModuleInterfacesFollowTheirBases) {
  EXPECT_EQ(EntryOf(&IKDOModule::FillInstanceRecord), 5);
  EXPECT_EQ(EntryOf(&IKDOModule::ShowConfigurationPage), 6);
  EXPECT_EQ(EntryOf(&IKDOModule::HideConfigurationPage), 7);
  EXPECT_EQ(EntryOf(&IKDOModule::LoadSettings), 8);
  EXPECT_EQ(EntryOf(&IKDOModule::SaveSettings), 9);
  EXPECT_EQ(EntryOf(&IKDOModule::GetReferenceCount), 10);
  // IKDOWinampControl: 3 + 1 + 6 entries, then its seventeen.
  EXPECT_EQ(EntryOf(&IKDOWinampControl::GetSettings), 11);
  EXPECT_EQ(EntryOf(&IKDOWinampControl::SetSettings), 12);
  EXPECT_EQ(EntryOf(&IKDOWinampControl::GetPlaylistTitle), 19);
  EXPECT_EQ(EntryOf(&IKDOWinampControl::Play), 20);
  EXPECT_EQ(EntryOf(&IKDOWinampControl::SetRepeat), 27);
}

TEST(Abi, RecordSizesOnThe32BitTarget) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "record layout applies where addresses are 32-bit";
  EXPECT_EQ(sizeof(TKDOModuleInfo), 160u);
  EXPECT_EQ(sizeof(TKDOModuleInstance), 344u);
  EXPECT_EQ(sizeof(TKDONamedVarType), 8u);
  EXPECT_EQ(sizeof(TKDOPHPParameter), 20u);
  EXPECT_EQ(sizeof(TKDOWinampControlSettings), 32u);
}

// ---------------------------------------------------------------- a kernel from raw stdcall entries

struct RawKernel {
  void** table = nullptr;
  int refs = 0;
  int wrongEntries = 0;
  std::vector<std::string> lines;  // "type|sender|text"
};

KDOResult KDO_STDCALL RawQueryInterface(RawKernel* self, const TGUID* iid, void** obj) {
  if (*iid == IID_IKDOKernel || *iid == IID_IInterface) {
    ++self->refs;
    *obj = self;
    return KDO_S_OK;
  }
  *obj = reinterpret_cast<void*>(uintptr_t(0xDEAD));  // junk on refusal: the module must not keep it
  return KDO_E_NOINTERFACE;
}
int32_t KDO_STDCALL RawAddRef(RawKernel* self) { return ++self->refs; }
int32_t KDO_STDCALL RawRelease(RawKernel* self) { return --self->refs; }
KDOResult KDO_STDCALL RawWrong(RawKernel* self) {
  ++self->wrongEntries;
  return KDO_E_FAIL;
}
KDOResult KDO_STDCALL RawLogMessage(RawKernel* self, int32_t type, KDOString sender, KDOString text) {
  self->lines.push_back(std::to_string(type) + "|" + std::string(kdo::text::View(sender)) + "|" +
                        std::string(kdo::text::View(text)));
  return KDO_S_OK;
}

TEST(Abi, ModuleCallsAHandBuiltKernelAtEntriesOneToThreeAndEight) {
  void* table[12];
  for (void*& e : table) e = reinterpret_cast<void*>(&RawWrong);
  table[0] = reinterpret_cast<void*>(&RawQueryInterface);
  table[1] = reinterpret_cast<void*>(&RawAddRef);
  table[2] = reinterpret_cast<void*>(&RawRelease);
  table[7] = reinterpret_cast<void*>(&RawLogMessage);  // own operation 4
  RawKernel kernel;
  kernel.table = table;

  const TKDOModuleInfo* info = nullptr;
  ModuleInfoProc()(&info);
  auto* asKernel = reinterpret_cast<IKDOKernel*>(&kernel);
  EXPECT_EQ(info->OnRegister(asKernel), KDO_S_OK);
  IKDOModule* m = nullptr;
  ASSERT_EQ(info->OnCreateInstance(0x12345, &m), KDO_S_OK);  // low 16 bits: 0x2345 = 9029
  // Entry 10 by hand: the count.
  EXPECT_EQ(CallEntry<int32_t>(m, 10), 1);
  EXPECT_EQ(CallEntry<KDOResult>(m, 4, uint32_t(7)), KDO_E_FAIL);
  EXPECT_EQ(CallEntry<int32_t>(m, 3), 0);  // Release destroys it
  EXPECT_EQ(info->OnUnregister(), KDO_S_OK);

  EXPECT_EQ(kernel.wrongEntries, 0);
  EXPECT_EQ(kernel.refs, 0);
  std::vector<std::string> expected = {
      "10021|Winamp Control|Register",
      "10021|Winamp Control|Creating new Instance...",
      "10024|Winamp Control #9029|>Couldn't obtain Settings Object",
      "10024|Winamp Control #9029|>Couldn't obtain InstanceControl Object",
      "10024|Winamp Control #9029|>Couldn't obtain VariableManager Object",
      "10024|Winamp Control #9029|>Couldn't obtain EventScripter Object",
      "10024|Winamp Control #9029|>Couldn't obtain DebugServer Object",
      "10021|Winamp Control #9029|Interface Create",
      "10021|Winamp Control #9029|Interface Destroy",
      "10021|Winamp Control|Unregister",
  };
  EXPECT_EQ(kernel.lines, expected);
}

}  // namespace
