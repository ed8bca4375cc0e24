// The instance's two tables as a server of the other side calls them: every
// entry of IKDOModule and IKDOWinampControl reached through raw stdcall calls
// built by hand (argument words pushed one by one, no declaration from the
// module's headers), with the stack pointer compared before and after each
// call. Texts are counted texts made here on the process heap.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/KDOHost.h"
#include "LoadedModule.h"
#include "ModuleUnderTest.h"
#include "SettingsKeys.h"

// Pushes `count` 32-bit words (args[0] first on top, as stdcall wants), calls
// `fn`, and stores how far the stack pointer moved over the call and the
// callee's pops: 0 when the callee popped exactly what was pushed.
extern "C" uint32_t RawCall(const void* fn, const uint32_t* args, uint32_t count, int32_t* imbalance);
asm(R"(
  .text
  .globl _RawCall
_RawCall:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 12(%ebp), %esi
  movl 16(%ebp), %ecx
  movl %esp, %ebx
1:
  testl %ecx, %ecx
  jz 2f
  decl %ecx
  pushl (%esi,%ecx,4)
  jmp 1b
2:
  call *8(%ebp)
  movl %esp, %ecx
  subl %ebx, %ecx
  movl 20(%ebp), %edx
  movl %ecx, (%edx)
  movl %ebx, %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");

namespace {

static_assert(sizeof(void*) == 4, "the raw calls are those of the 32-bit target");

constexpr uint16_t kId = 42017;
// IKDOWinampControl {2999EBBB-5D36-407E-A52B-E9142A45F19C} and IKDOModule {551860D7-8E44-430B-8C44-CBB5AA708470}.
constexpr uint8_t kControlIID[16] = {0xBB, 0xEB, 0x99, 0x29, 0x36, 0x5D, 0x7E, 0x40,
                                     0xA5, 0x2B, 0xE9, 0x14, 0x2A, 0x45, 0xF1, 0x9C};
constexpr uint8_t kModuleIID[16] = {0xD7, 0x60, 0x18, 0x55, 0x44, 0x8E, 0x0B, 0x43,
                                    0x8C, 0x44, 0xCB, 0xB5, 0xAA, 0x70, 0x84, 0x70};
const std::vector<std::string> kKeys = testdata::SettingsKeys();

uint32_t Word(const void* p) { return uint32_t(reinterpret_cast<uintptr_t>(p)); }

// A counted text as the server makes one: count, length, chars, on the process heap.
char* MakeText(const std::string& s) {
  auto* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, 8 + s.size() + 1));
  const int32_t head[2] = {1, int32_t(s.size())};
  std::memcpy(block, head, 8);
  std::memcpy(block + 8, s.c_str(), s.size() + 1);
  return block + 8;
}
int32_t Count(const char* t) {
  int32_t n;
  std::memcpy(&n, t - 8, 4);
  return n;
}
std::string Chars(const char* t) {
  if (!t) return {};
  int32_t len;
  std::memcpy(&len, t - 4, 4);
  return std::string(t, std::size_t(len));
}
// Our reference goes; a text nobody holds any more is scribbled over before it is freed.
void ReleaseText(char* t) {
  if (!t || Count(t) < 0) return;
  const int32_t n = Count(t) - 1;
  std::memcpy(t - 8, &n, 4);
  if (n > 0) return;
  std::memset(t, 'X', Chars(t).size());
  HeapFree(GetProcessHeap(), 0, t - 8);
}

class RawInterface : public LoadedModuleTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(LoadedModuleTest::SetUp());
    server.DefineVariable("Vol", host::Value::I(0));
    server.DefineVariable("Shuf", host::Value::B(false));
    server.DefineVariable("Rep", host::Value::B(false));
    server.SetSetting(kId, "Settings", "VolumeVar", "Vol");
    server.SetSetting(kId, "Settings", "ShuffleVar", "Shuf");
    server.SetSetting(kId, "Settings", "RepeatVar", "Rep");
    ASSERT_EQ(server.CreateInstance(info->ModuleID, kId), KDO_S_OK);
    module = server.Instance(kId);
    ASSERT_EQ(Call(module, 1, {Word(kControlIID), Word(&control)}), 0u);
    ASSERT_NE(control, nullptr);
  }
  void TearDown() override {
    if (control) Call(control, 3, {});
    LoadedModuleTest::TearDown();
  }

  // Entry `entry` (from 1) of the table of `itf`, with the argument words after the interface;
  // every call must leave the stack as it found it.
  uint32_t Call(void* itf, int entry, std::vector<uint32_t> args) {
    args.insert(args.begin(), Word(itf));
    const void* const* table = *static_cast<const void* const* const*>(itf);
    int32_t imbalance = -1;
    const uint32_t r = RawCall(table[entry - 1], args.data(), uint32_t(args.size()), &imbalance);
    EXPECT_EQ(imbalance, 0) << "entry " << entry << " popped " << (int32_t(args.size() * 4) + imbalance)
                            << " bytes, was given " << args.size() * 4;
    return r;
  }
  // GetSettings into a record of eight cleared slots; the texts, and our references dropped.
  std::vector<std::string> GetSettings() {
    char* record[8] = {};
    EXPECT_EQ(Call(control, 11, {Word(record)}), 0u);
    std::vector<std::string> texts;
    for (char* t : record) {
      if (t) {
        EXPECT_GE(Count(t), 1) << "a reference of the caller's own";
      }
      texts.push_back(Chars(t));
      ReleaseText(t);
    }
    return texts;
  }

  void* module = nullptr;
  void* control = nullptr;
};

TEST_F(RawInterface, SetSettingsTakesThirtyTwoBytesByValueAndGetSettingsFillsTheCallersRecord) {
  const std::vector<std::string> values = {"C:\\nowhere\\winamp.exe", "Pos", "Len", "File",
                                           "Title", "Vol2", "Shuf2", "Rep2"};
  std::vector<char*> texts;
  std::vector<uint32_t> args;  // the record itself, its eight addresses in key order
  for (const std::string& v : values) {
    texts.push_back(MakeText(v));
    args.push_back(Word(texts.back()));
  }
  EXPECT_EQ(Call(control, 12, args), 0u);
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(Chars(texts[i]), values[i]) << "the caller's text is unchanged";
    EXPECT_GE(Count(texts[i]), 1) << "and still alive: never released by the instance";
  }
  for (char* t : texts) ReleaseText(t);  // only the instance's own references are left
  EXPECT_EQ(GetSettings(), values);

  // Empty slots are empty texts.
  EXPECT_EQ(Call(control, 12, std::vector<uint32_t>(8, 0)), 0u);
  EXPECT_EQ(GetSettings(), std::vector<std::string>(8));
  texts.clear();
  args.clear();
  for (const std::string& v : values) {
    texts.push_back(MakeText(v));
    args.push_back(Word(texts.back()));
  }
  Call(control, 12, args);
  for (char* t : texts) ReleaseText(t);

  Call(control, 3, {});
  control = nullptr;
  server.ClearSettingWrites();
  ASSERT_TRUE(server.DestroyInstance(kId));
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(server.Setting(kId, "Settings", kKeys[i]), values[i]) << kKeys[i];
}

TEST_F(RawInterface, ModuleEntriesTakeTheirArgumentShapes) {
  void* answer = nullptr;
  EXPECT_EQ(Call(module, 1, {Word(kModuleIID), Word(&answer)}), 0u);
  EXPECT_EQ(answer, module);
  EXPECT_EQ(Call(module, 2, {}), 4u) << "server, control, the answer, and this AddRef";
  EXPECT_EQ(Call(module, 3, {}), 3u);
  EXPECT_EQ(Call(module, 3, {}), 2u);
  EXPECT_EQ(Call(module, 4, {0x12345678u}), 0x80004005u) << "ReceiveMessage";
  uint8_t record[16];
  std::memset(record, 0xFF, sizeof record);
  EXPECT_EQ(Call(module, 5, {Word(record)}), 0u) << "FillInstanceRecord";
  for (int i = 0; i < 16; ++i) EXPECT_EQ(record[i], i < 8 ? 0xFF : 0) << "byte " << i;
  EXPECT_EQ(Call(module, 6, {}), 0u) << "ShowConfigurationPage";
  EXPECT_EQ(Call(module, 10, {}), 3u) << "the page holds the instance";
  EXPECT_EQ(Call(module, 7, {}), 0u) << "HideConfigurationPage";
  EXPECT_EQ(Call(module, 10, {}), 2u);
  server.SetSetting(kId, "Settings", "VolumeVar", "Loaded");
  EXPECT_EQ(Call(module, 8, {}), 0u) << "LoadSettings";
  EXPECT_EQ(GetSettings()[5], "Loaded");
  server.ClearSettingWrites();
  EXPECT_EQ(Call(module, 9, {}), 0u) << "SaveSettings";
  EXPECT_EQ(server.SettingWrites(), kKeys);
  // The control table starts with the same ten.
  EXPECT_EQ(Call(control, 10, {}), 2u);
  EXPECT_EQ(Call(control, 4, {0}), 0x80004005u);
}

TEST_F(RawInterface, ControlEntriesTakeTheirArgumentShapes) {
  auto lastDebug = [&] { return server.Debug().empty() ? host::DebugLine{} : server.Debug().back(); };

  // A text by value is one address.
  char* file = MakeText("C:\\Music\\a.mp3");
  EXPECT_EQ(Call(control, 13, {Word(file)}), 0u);
  EXPECT_EQ(lastDebug().Message, "ADDFILE");
  EXPECT_EQ(lastDebug().Data, "C:\\Music\\a.mp3");
  EXPECT_EQ(Count(file), 1);
  ReleaseText(file);

  // No arguments.
  const std::pair<int, const char*> commands[] = {{14, "CLEAR PLAYLIST"}, {20, "PLAY"}, {21, "STOP"},
                                                  {22, "PAUSE"},          {23, "PREV"}, {24, "NEXT"}};
  for (const auto& [entry, line] : commands) {
    EXPECT_EQ(Call(control, entry, {}), 0u);
    EXPECT_EQ(lastDebug().Message, line) << "entry " << entry;
  }

  // Out-parameters are addresses; the link has no player, so the answers are the unbound ones.
  int32_t n = 77;
  EXPECT_EQ(Call(control, 15, {Word(&n)}), 0u);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(lastDebug().Message, "GET PLAYLIST LENGTH");
  n = 77;
  EXPECT_EQ(Call(control, 16, {Word(&n)}), 0u);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(Call(control, 17, {2u}), 0u);
  EXPECT_EQ(lastDebug().Message, "SET PLAYLIST POSITION");
  for (const auto& [entry, line] : {std::pair<int, const char*>{18, "GET PLAYLIST FILE"}, {19, "GET PLAYLIST TITLE"}}) {
    char* var = MakeText("held before");  // an out-text: the callee lets go of what the variable held
    EXPECT_EQ(Call(control, entry, {3u, Word(&var)}), 0u);
    EXPECT_EQ(lastDebug().Message, line);
    EXPECT_EQ(Chars(var), "");
    ReleaseText(var);
  }

  // Integers and booleans: one 32-bit slot each, a boolean in its low byte only.
  server.ClearDebug();
  EXPECT_EQ(Call(control, 25, {uint32_t(-5)}), 0u);
  EXPECT_EQ(server.Variable("Vol")->Int, -5);
  EXPECT_EQ(Call(control, 26, {0x00000001u}), 0u);
  EXPECT_EQ(server.Variable("Shuf")->Bool, true);
  EXPECT_EQ(Call(control, 26, {0xFFFFFF00u}), 0u);
  EXPECT_EQ(server.Variable("Shuf")->Bool, false) << "only the low byte counts";
  EXPECT_EQ(Call(control, 27, {0x00000001u}), 0u);
  EXPECT_EQ(server.Variable("Rep")->Bool, true);
  EXPECT_EQ(Call(control, 27, {0xABCD0100u}), 0u);
  EXPECT_EQ(server.Variable("Rep")->Bool, false);
  EXPECT_TRUE(server.Debug().empty()) << "the setters send no debug line";
}

}  // namespace
