// Bad input at the server boundary: null, empty, huge and odd texts, short
// parameter arrays, junk in the records, refused services, a settings store
// that leaves its out-texts alone, variables of the wrong type, a server that
// deletes the instance from inside a call, and a player that dies. Each case
// has a defined outcome; AddressSanitizer and LeakSanitizer catch what the
// assertions cannot (a touched junk pointer, a text freed twice or never).
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "InstanceFixture.h"

namespace instancetest {
namespace {

using host::Value;

constexpr uint32_t WM_COPYDATA = 0x004A;

// Never a valid address: a handler that reads or releases it crashes under the sanitizers.
KDOString const kJunkText = reinterpret_cast<KDOString>(uintptr_t(0x10));

// A counted parameter array laid out as the server lays it out: the element
// count 4 bytes before the first element, the reference count 8 bytes before.
struct ParamBlock {
  int32_t RefCount = -1;
  int32_t Count = 0;
  TKDOPHPParameter Items[2];

  explicit ParamBlock(int32_t count) : Count(count) { std::memset(Items, 0xA5, sizeof Items); }
  TKDOPHPParameter* First() { return Items; }
};
static_assert(offsetof(ParamBlock, Items) == 2 * sizeof(int32_t));

// A result record whose every byte is junk, except the out-text, which the
// server initialises to a text of its own.
TKDOPHPParameter JunkResult(KDOString text) {
  TKDOPHPParameter r;
  std::memset(&r, 0x5A, sizeof r);
  r.StringValue = text;
  return r;
}

bool SameBytes(const TKDOPHPParameter& a, const TKDOPHPParameter& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

const char* const kWithParameter[] = {"WAC_AddFile",         "WAC_SetPlaylistPosition", "WAC_GetPlaylistFile",
                                      "WAC_GetPlaylistTitle", "WAC_SetVolume",          "WAC_SetShuffle",
                                      "WAC_SetRepeat"};

class BadInput : public InstanceTest {
 protected:
  // Calls the registered handler the way the server does, with a name of our making.
  void HandleRaw(uint16_t id, KDOString name, TKDOPHPParameter* params, TKDOPHPParameter* result) {
    const host::Registration* reg = server.Function("WAC_Play", id);
    ASSERT_NE(reg, nullptr);
    reg->Code(reg->Object, name, params, result, id);
  }
  void Handle(uint16_t id, std::string_view name, TKDOPHPParameter* params, TKDOPHPParameter* result) {
    const TKDOText text(name);
    HandleRaw(id, text.get(), params, result);
  }
  // The bytes each WM_COPYDATA carried, captured while the record was alive.
  void CaptureCopyData() {
    std::vector<std::string>* out = &copyData;
    world.OnSend = [out](const sim::SentMessage& m) {
      if (m.Message != WM_COPYDATA) return;
      const auto* r = reinterpret_cast<const platform::CopyDataRecord*>(m.LParam);
      out->emplace_back(static_cast<const char*>(r->lpData), r->cbData);
    };
  }
  void DefineAndChoose(uint16_t id, const char* key, const std::string& ident, Value initial) {
    server.DefineVariable(ident, std::move(initial));
    Store(id, key, ident);
  }

  std::vector<std::string> copyData;
};

// ---------------------------------------------------------------- names, arrays and records

TEST_F(BadInput, NamesThatAreNullEmptyOrOnlyAlmostRightRunNothing) {
  Create(1);
  Model(1).Add("a.mp3");
  const std::string names[] = {"",          "WAC_Play ",  " WAC_Play",    "WAC_Playx", "WAC_Pla",
                               "WAC_Pl\xC1y", "WAC_Pl\xE1y", {"WAC_Play\0x", 10}, {"WAC_Play\0", 9}, "WAC_Nothing"};
  for (const std::string& name : names) {
    TKDOPHPParameter result = JunkResult(nullptr);
    const TKDOPHPParameter before = result;
    Handle(1, name, nullptr, &result);
    EXPECT_TRUE(SameBytes(result, before)) << name;
  }
  TKDOPHPParameter result = JunkResult(nullptr);
  const TKDOPHPParameter before = result;
  HandleRaw(1, nullptr, nullptr, &result);
  EXPECT_TRUE(SameBytes(result, before)) << "null name";
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_TRUE(server.Debug().empty());
  EXPECT_EQ(Model(1).State(), player::PlayState::Stopped);
  EXPECT_FALSE(server.Call("WAC_Nothing", 1, {}).Routed);
}

TEST_F(BadInput, NoObjectOrNoResultRecordRunsNothing) {
  Create(1);
  const host::Registration* reg = server.Function("WAC_Play", 1);
  ASSERT_NE(reg, nullptr);
  const TKDOText play("WAC_Play");
  TKDOPHPParameter result = JunkResult(nullptr);
  const TKDOPHPParameter before = result;
  reg->Code(nullptr, play.get(), nullptr, &result, 1);
  EXPECT_TRUE(SameBytes(result, before));
  reg->Code(reg->Object, play.get(), nullptr, nullptr, 1);
  ParamBlock params(1);
  params.Items[0].IntValue = 3;
  params.Items[0].StringValue = nullptr;
  const TKDOText volume("WAC_SetVolume");
  reg->Code(reg->Object, volume.get(), params.First(), nullptr, 1);
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_TRUE(server.Debug().empty());
}

TEST_F(BadInput, ArraysShorterThanDeclaredRunNothingWhateverTheirCountSays) {
  server.DefineVariable("Vol", Value::I(7));
  Store(1, "VolumeVar", "Vol");
  Create(1);
  for (int32_t count : {0, -1, INT_MIN}) {
    for (const char* f : kWithParameter) {
      ParamBlock params(count);
      params.Items[0].StringValue = kJunkText;
      TKDOPHPParameter result = JunkResult(nullptr);
      const TKDOPHPParameter before = result;
      Handle(1, f, params.First(), &result);
      EXPECT_TRUE(SameBytes(result, before)) << f << " with count " << count;
    }
  }
  EXPECT_TRUE(world.Sent().empty());
  EXPECT_TRUE(server.Debug().empty());
  EXPECT_EQ(server.Variable("Vol")->Int, 7);
}

TEST_F(BadInput, OnlyTheFieldOfTheDeclaredTypeIsReadFromAParameter) {
  server.DefineVariable("Vol", Value::I(0));
  server.DefineVariable("Shuf", Value::B(false));
  Store(1, "VolumeVar", "Vol");
  Store(1, "ShuffleVar", "Shuf");
  Create(1);
  Model(1).Add("a.mp3");
  Model(1).Add("b.mp3");
  {
    ParamBlock params(2);  // a second element no function declares
    params.Items[0].IntValue = 300;
    params.Items[0].StringValue = kJunkText;
    TKDOPHPParameter result = JunkResult(nullptr);
    Handle(1, "WAC_SetVolume", params.First(), &result);
    EXPECT_EQ(result.BoolValue, 1);
    EXPECT_EQ(Model(1).Volume(), 44);
    EXPECT_EQ(server.Variable("Vol")->Int, 300);
  }
  {
    ParamBlock params(1);
    params.Items[0].BoolValue = 0x80;  // any non-zero byte is true
    params.Items[0].IntValue = 0;
    params.Items[0].StringValue = kJunkText;
    TKDOPHPParameter result = JunkResult(nullptr);
    Handle(1, "WAC_SetShuffle", params.First(), &result);
    EXPECT_TRUE(Model(1).Shuffle());
    EXPECT_EQ(server.Variable("Shuf")->Bool, true);
    params.Items[0].BoolValue = 0;
    params.Items[0].IntValue = -1;  // junk in the integer field does not make it true
    Handle(1, "WAC_SetShuffle", params.First(), &result);
    EXPECT_FALSE(Model(1).Shuffle());
    EXPECT_EQ(server.Variable("Shuf")->Bool, false);
  }
  {
    ParamBlock params(1);
    params.Items[0].IntValue = 2;
    params.Items[0].StringValue = kJunkText;
    TKDOPHPParameter result = JunkResult(nullptr);
    Handle(1, "WAC_SetPlaylistPosition", params.First(), &result);
    EXPECT_EQ(Model(1).CurrentIndex(), 1);
    KDOString old = kdo::text::Make("old");
    result = JunkResult(old);
    Handle(1, "WAC_GetPlaylistTitle", params.First(), &result);
    EXPECT_EQ(kdo::text::View(result.StringValue), "b");
    kdo::text::Release(result.StringValue);
  }
}

TEST_F(BadInput, JunkInTheResultIsOverwrittenOrLeftAndTheOutTextIsReleasedOnce) {
  Create(1);
  Model(1).Add("C:\\Music\\a.mp3");
  TKDOText held("server's text");
  {
    // Boolean result: the byte is written whole; nothing else is touched, the text included.
    TKDOPHPParameter result = JunkResult(held.get());
    TKDOPHPParameter expected = result;
    expected.BoolValue = 1;
    Handle(1, "WAC_Play", nullptr, &result);
    EXPECT_TRUE(SameBytes(result, expected));
    EXPECT_EQ(kdo::text::RefCount(held.get()), 1);
  }
  {
    TKDOPHPParameter result = JunkResult(held.get());
    TKDOPHPParameter expected = result;
    expected.IntValue = 1;
    Handle(1, "WAC_GetPlaylistLength", nullptr, &result);
    EXPECT_TRUE(SameBytes(result, expected));
  }
  {
    // Text result: the old text loses exactly the one reference the record held.
    kdo::text::AddRef(held.get());  // the record's reference
    ParamBlock params(1);
    params.Items[0].IntValue = 1;
    TKDOPHPParameter result = JunkResult(held.get());
    TKDOPHPParameter expected = result;
    Handle(1, "WAC_GetPlaylistFile", params.First(), &result);
    EXPECT_EQ(kdo::text::RefCount(held.get()), 1);
    EXPECT_EQ(kdo::text::View(result.StringValue), "C:\\Music\\a.mp3");
    expected.StringValue = result.StringValue;
    EXPECT_TRUE(SameBytes(result, expected)) << "the other fields keep their junk";
    kdo::text::Release(result.StringValue);
  }
  {
    // A constant text in the record is dropped without being freed; an empty answer leaves null.
    static constexpr kdo::text::Constant kConstant("constant");
    ParamBlock params(1);
    params.Items[0].IntValue = 99;
    TKDOPHPParameter result = JunkResult(kConstant.get());
    Handle(1, "WAC_GetPlaylistTitle", params.First(), &result);
    EXPECT_EQ(result.StringValue, nullptr);
    EXPECT_EQ(kdo::text::RefCount(kConstant.get()), -1);
  }
}

// ---------------------------------------------------------------- texts that cross

TEST_F(BadInput, AddFileHandsThePlayerExactlyTheBytesItGot) {
  Create(1);
  CaptureCopyData();
  // An empty name: the record still carries its terminating zero; the player takes no entry.
  ParamBlock empty(1);
  empty.Items[0].StringValue = nullptr;
  TKDOPHPParameter result = JunkResult(nullptr);
  Handle(1, "WAC_AddFile", empty.First(), &result);
  EXPECT_EQ(result.BoolValue, 1);
  EXPECT_EQ(Model(1).Count(), 0u);
  ASSERT_EQ(server.Debug().size(), 1u);
  EXPECT_EQ(server.Debug()[0], (host::DebugLine{1, "ADDFILE", ""}));

  const std::string odd = "\t\x01 C:\\M\xE4\xFCsik\\\x7F\xFF\x80.mp3 \r\n";
  Call(1, "WAC_AddFile", {Value::S(odd)});
  const std::string withZero("a.mp3\0b.mp3", 11);
  Call(1, "WAC_AddFile", {Value::S(withZero)});
  ASSERT_EQ(copyData.size(), 3u);
  EXPECT_EQ(copyData[0], std::string(1, '\0'));
  EXPECT_EQ(copyData[1], odd + '\0');
  EXPECT_EQ(copyData[2], withZero + '\0') << "the whole counted text, its zero included";
  ASSERT_EQ(Model(1).Count(), 2u);
  EXPECT_EQ(Model(1).At(0).FileName, odd);
  EXPECT_EQ(Model(1).At(1).FileName, "a.mp3") << "the player reads up to the first zero";
  EXPECT_EQ(server.Debug()[1].Data, odd);
  EXPECT_EQ(server.Debug()[2].Data, withZero);

  // Read back: blanks and control characters go at both ends only; bytes above 127 stay.
  EXPECT_EQ(Call(1, "WAC_GetPlaylistFile", {Value::I(1)}).Str, "C:\\M\xE4\xFCsik\\\x7F\xFF\x80.mp3");
  EXPECT_EQ(Call(1, "WAC_GetPlaylistTitle", {Value::I(1)}).Str, "\x7F\xFF\x80");
}

TEST_F(BadInput, AMegabyteFileNameReachesThePlayerAndComesBackCut) {
  server.DefineVariable("file", Value::S(""));
  Store(1, "TrackFileVar", "file");
  Create(1);
  std::string huge(1 << 20, 'x');
  huge.replace(0, 3, "C:\\");
  huge.back() = '!';
  EXPECT_EQ(Call(1, "WAC_AddFile", {Value::S(huge)}).Bool, 1);
  ASSERT_EQ(Model(1).Count(), 1u);
  EXPECT_EQ(Model(1).At(0).FileName, huge);
  ASSERT_EQ(server.Debug().size(), 1u);
  EXPECT_EQ(server.Debug()[0].Data.size(), huge.size());
  EXPECT_EQ(Call(1, "WAC_GetPlaylistFile", {Value::I(1)}).Str, huge.substr(0, 500));
  world.Advance(250);
  EXPECT_EQ(server.Variable("file")->Str, huge.substr(0, 500));
}

TEST_F(BadInput, NullTextsAndRecordsThroughTheControlInterface) {
  Create(1);
  TKDORef<IKDOWinampControl> c = Control(1);
  CaptureCopyData();
  EXPECT_EQ(c->AddFile(nullptr), KDO_S_OK);
  EXPECT_EQ(copyData, std::vector<std::string>{std::string(1, '\0')});
  EXPECT_EQ(c->GetSettings(nullptr), KDO_S_OK);
  EXPECT_EQ(c->GetPlaylistLength(nullptr), KDO_S_OK);
  EXPECT_EQ(c->GetPlaylistPosition(nullptr), KDO_S_OK);
  EXPECT_EQ(c->GetPlaylistFile(1, nullptr), KDO_S_OK);
  EXPECT_EQ(c->GetPlaylistTitle(1, nullptr), KDO_S_OK);
  EXPECT_EQ(c->QueryInterface(IID_IKDOModule, nullptr), KDO_E_NOINTERFACE);
  EXPECT_TRUE(Player(1)->Running()) << "null records change nothing";

  // A record of null texts: every setting empty, and the empty location lets the player go.
  TKDOWinampControlSettings none;
  EXPECT_EQ(c->SetSettings(KDOSettingsValue(none)), KDO_S_OK);
  EXPECT_EQ(Player(1), nullptr);
  TKDOWinampControlSettings got;
  got.VolumeVar = TKDOText("stale");
  EXPECT_EQ(c->GetSettings(&got), KDO_S_OK);
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    EXPECT_EQ((got.*row.Field).get(), nullptr) << kdo::text::View(row.Key);
  server.ClearSettingWrites();
  EXPECT_EQ(server.Instance(1)->SaveSettings(), KDO_S_OK);
  EXPECT_EQ(server.SettingWrites().size(), 8u);
  EXPECT_EQ(server.Setting(1, "Settings", "WinampLocation"), "");
  world.ClearSent();
  world.Advance(5000);
  EXPECT_TRUE(world.Sent().empty());
}

TEST_F(BadInput, IdentifiersAndLocationsAreUsedByteForByte) {
  const std::string ident = "Vol\xE4\t\x01 ";
  server.DefineVariable(ident, Value::I(0));
  server.DefineVariable("Vol", Value::I(0));
  Store(1, "VolumeVar", ident);
  Create(1);
  world.Advance(250);
  EXPECT_EQ(server.Variable(ident)->Int, 255);
  EXPECT_EQ(server.Variable("Vol")->Int, 0) << "no trimming, no folding of the identifier";

  // A location of odd bytes names no file: the player goes and nothing starts.
  TKDORef<IKDOWinampControl> c = Control(1);
  TKDOWinampControlSettings s;
  c->GetSettings(&s);
  s.WinampLocation = TKDOText("C:\\\x01\xFF\\winamp.exe\n");
  EXPECT_EQ(c->SetSettings(KDOSettingsValue(s)), KDO_S_OK);
  EXPECT_EQ(Player(1), nullptr);
  EXPECT_EQ(farm.Launches(), 1);
}

// ---------------------------------------------------------------- services

TEST_F(BadInput, EveryServiceRefusedStillLeavesAWorkingInstance) {
  for (const TGUID* g : {&IID_IKDOSettings, &IID_IKDOInstanceControl, &IID_IKDOVariableManager,
                         &IID_IKDOEventScripter, &IID_IKDODebugServer})
    server.Refuse(*g);
  server.DefineVariable("Vol", Value::I(7));
  ASSERT_EQ(server.CreateInstance(info->ModuleID, 1), KDO_S_OK);
  EXPECT_EQ(server.FunctionCount(), 0u) << "nothing to register with";
  TKDORef<IKDOWinampControl> c = Control(1);
  TKDOWinampControlSettings s;
  s.WinampLocation = TKDOText(kExe);
  s.VolumeVar = TKDOText("Vol");
  EXPECT_EQ(c->SetSettings(KDOSettingsValue(s)), KDO_S_OK);
  world.Advance(1000);
  ASSERT_NE(Player(1), nullptr);

  EXPECT_EQ(c->AddFile(TKDOText("a.mp3").get()), KDO_S_OK);
  EXPECT_EQ(c->Play(), KDO_S_OK);
  EXPECT_EQ(c->SetVolume(10), KDO_S_OK);
  EXPECT_EQ(c->SetShuffle(1), KDO_S_OK);
  EXPECT_EQ(c->SetRepeat(1), KDO_S_OK);
  int32_t n = -5;
  EXPECT_EQ(c->GetPlaylistLength(&n), KDO_S_OK);
  EXPECT_EQ(n, 1);
  KDOString title = nullptr;
  EXPECT_EQ(c->GetPlaylistTitle(1, &title), KDO_S_OK);
  EXPECT_EQ(kdo::text::View(title), "a");
  kdo::text::Release(title);
  EXPECT_EQ(c->LoadSettings(), KDO_S_OK);
  EXPECT_EQ(c->SaveSettings(), KDO_S_OK);
  EXPECT_EQ(Model(1).State(), player::PlayState::Playing);
  EXPECT_EQ(Model(1).Volume(), 10);
  world.Advance(1000);
  EXPECT_EQ(server.Variable("Vol")->Int, 7) << "no variable manager: nothing written";
  EXPECT_TRUE(server.Debug().empty());
  EXPECT_FALSE(server.Setting(1, "Settings", "WinampLocation").has_value());
  c.reset();
  EXPECT_TRUE(server.DestroyInstance(1));
  EXPECT_EQ(Player(1), nullptr) << "the player is closed all the same";
}

// A settings store written by hand, handed out by a kernel that takes every
// other service from the stand-in.
class HandMadeSettings final : public host::CountedService<IKDOSettings> {
 public:
  HandMadeSettings() : CountedService(IID_IKDOSettings) {}
  enum class Read { LeavesUntouched, FailsWithText, GivesConstant };
  Read mode = Read::LeavesUntouched;
  int reads = 0;
  std::map<std::string, std::string> written;

  KDOResult KDO_STDCALL WriteSettingString(uint32_t, const KDOString*, int32_t, KDOString name,
                                           KDOString value) override {
    written[std::string(kdo::text::View(name))] = std::string(kdo::text::View(value));
    return KDO_S_OK;
  }
  KDOResult KDO_STDCALL ReadSettingString(uint32_t, const KDOString*, int32_t, KDOString name,
                                          KDOString* value) override {
    static constexpr kdo::text::Constant kConstant("C:\\constant\\winamp.exe");
    ++reads;
    switch (mode) {
      case Read::LeavesUntouched:
        return KDO_E_FAIL;
      case Read::FailsWithText: {
        KDOString made = kdo::text::Make("left by a failed read: " + std::string(kdo::text::View(name)));
        kdo::text::Assign(value, made);
        kdo::text::Release(made);
        return KDO_E_FAIL;
      }
      case Read::GivesConstant:
        kdo::text::Assign(value, kConstant.get());
        return KDO_S_OK;
    }
    return KDO_E_FAIL;
  }
};

// Takes one service from `service` and everything else from the stand-in.
class SplitKernel final : public host::CountedService<IKDOKernel> {
 public:
  SplitKernel(IKDOKernel* server, const TGUID& iid, IInterface* service)
      : CountedService(IID_IKDOKernel), server_(server), iid_(iid), service_(service) {}

  KDOResult KDO_STDCALL QueryInterface(const TGUID& iid, void** obj) override {
    if (iid == iid_) return service_->QueryInterface(iid, obj);
    if (iid == IID_IKDOKernel || iid == IID_IInterface || iid == IID_IKDOMessageSink)
      return CountedService::QueryInterface(iid, obj);
    return server_->QueryInterface(iid, obj);
  }
  KDOResult KDO_STDCALL LogMessage(int32_t type, KDOString sender, KDOString message) override {
    return server_->LogMessage(type, sender, message);
  }

 private:
  IKDOKernel* server_;
  TGUID iid_;
  IInterface* service_;
};

class OddStore : public BadInput {
 protected:
  // Instances made from here on see the hand-made store.
  void SetUp() override {
    BadInput::SetUp();
    ASSERT_EQ(info->OnRegister(&kernel), KDO_S_OK);
  }
  void TearDown() override {
    BadInput::TearDown();
    EXPECT_EQ(kernel.Held(), 0);
    EXPECT_EQ(settings.Held(), 0);
  }
  HandMadeSettings settings;
  SplitKernel kernel{server.Kernel(), IID_IKDOSettings, &settings};
};

TEST_F(OddStore, ReadsThatLeaveTheOutTextAloneKeepTheCurrentSettings) {
  ASSERT_EQ(server.CreateInstance(info->ModuleID, 1), KDO_S_OK);
  EXPECT_EQ(settings.reads, 8);
  EXPECT_TRUE(world.ShellCalls().empty()) << "nothing read, nothing started";
  TKDORef<IKDOWinampControl> c = Control(1);
  TKDOWinampControlSettings s;
  s.WinampLocation = TKDOText(kExe);
  s.VolumeVar = TKDOText("Vol");
  c->SetSettings(KDOSettingsValue(s));
  world.Advance(1000);
  ASSERT_NE(Player(1), nullptr);
  world.ClearSent();

  EXPECT_EQ(server.Instance(1)->LoadSettings(), KDO_S_OK);
  EXPECT_EQ(settings.reads, 16);
  TKDOWinampControlSettings got;
  c->GetSettings(&got);
  EXPECT_EQ(got.WinampLocation.str(), kExe);
  EXPECT_EQ(got.VolumeVar.str(), "Vol");
  EXPECT_EQ(got.TrackPosVar.get(), nullptr);
  EXPECT_TRUE(world.Sent().empty()) << "same location: the player stays";
  EXPECT_EQ(farm.Launches(), 1);
  c.reset();
  server.DestroyAllInstances();
  EXPECT_EQ(settings.written["WinampLocation"], kExe);
  EXPECT_EQ(settings.written["VolumeVar"], "Vol");
}

TEST_F(OddStore, WhatAFailedReadLeavesIsKeptAndReleasedLater) {
  settings.mode = HandMadeSettings::Read::FailsWithText;
  ASSERT_EQ(server.CreateInstance(info->ModuleID, 1), KDO_S_OK);
  TKDOWinampControlSettings got;
  Control(1)->GetSettings(&got);
  EXPECT_EQ(got.TrackTitleVar.str(), "left by a failed read: TrackTitleVar");
  EXPECT_EQ(got.WinampLocation.str(), "left by a failed read: WinampLocation");
  EXPECT_TRUE(world.ShellCalls().empty()) << "no such file";
  EXPECT_EQ(server.Instance(1)->LoadSettings(), KDO_S_OK);  // replaces each text: the old ones are freed
}

TEST_F(OddStore, ConstantTextsFromTheStoreAreNeverFreed) {
  settings.mode = HandMadeSettings::Read::GivesConstant;
  ASSERT_EQ(server.CreateInstance(info->ModuleID, 1), KDO_S_OK);
  TKDOWinampControlSettings got;
  Control(1)->GetSettings(&got);
  EXPECT_EQ(got.RepeatVar.str(), "C:\\constant\\winamp.exe");
  EXPECT_EQ(kdo::text::RefCount(got.RepeatVar.get()), -1);
  server.DestroyAllInstances();
  EXPECT_EQ(settings.written["RepeatVar"], "C:\\constant\\winamp.exe");
}

// ---------------------------------------------------------------- variables

TEST_F(BadInput, VariablesOfTheWrongTypeOrMissingAreTriedAndLeftAsTheyAre) {
  DefineAndChoose(1, "TrackFileVar", "file", Value::I(5));
  DefineAndChoose(1, "TrackTitleVar", "title", Value::B(true));
  DefineAndChoose(1, "VolumeVar", "vol", Value::S("loud"));
  DefineAndChoose(1, "ShuffleVar", "shuf", Value::S("yes"));
  DefineAndChoose(1, "RepeatVar", "rep", Value::I(2));
  Store(1, "TrackPosVar", "nowhere");
  Create(1);
  Model(1).Add("C:\\a.mp3");
  std::map<std::string, int> writes;
  for (const char* v : {"file", "title", "vol", "shuf", "rep", "nowhere"}) writes[v] = server.VariableWrites(v);
  world.Advance(500);
  EXPECT_EQ(server.Variable("file"), Value::I(5));
  EXPECT_EQ(server.Variable("title"), Value::B(true));
  EXPECT_EQ(server.Variable("vol"), Value::S("loud"));
  EXPECT_EQ(server.Variable("shuf"), Value::S("yes"));
  EXPECT_EQ(server.Variable("rep"), Value::I(2));
  EXPECT_FALSE(server.Variable("nowhere").has_value());
  for (const char* v : {"file", "title", "vol", "shuf", "rep", "nowhere"})
    EXPECT_EQ(server.VariableWrites(v), writes[v] + 2) << v << ": each tick tries again";

  EXPECT_EQ(Call(1, "WAC_SetVolume", {Value::I(9)}).Bool, 1);
  EXPECT_EQ(Call(1, "WAC_SetShuffle", {Value::B(true)}).Bool, 1);
  EXPECT_EQ(Call(1, "WAC_SetRepeat", {Value::B(true)}).Bool, 1);
  EXPECT_EQ(Model(1).Volume(), 9) << "the player is set even when the variable refuses";
  EXPECT_TRUE(Model(1).Shuffle());
  EXPECT_TRUE(Model(1).Repeat());
  EXPECT_EQ(server.Variable("vol"), Value::S("loud"));

  // Fixed by the user: the next tick fills it.
  server.DefineVariable("vol", Value::I(0));
  server.DefineVariable("title", Value::S(""));
  world.Advance(250);
  EXPECT_EQ(server.Variable("vol")->Int, 9);
  EXPECT_EQ(server.Variable("title")->Str, "a");
}

// ---------------------------------------------------------------- a server that calls back

// Variables whose writes run the server's event scripts: here, one that deletes the instance.
class EventfulVariables final : public host::CountedService<IKDOVariableManager> {
 public:
  EventfulVariables() : CountedService(IID_IKDOVariableManager) {}
  std::function<void()> onWrite;  // runs once, at the next write
  int writes = 0;

  // Reads fail, so that every tick writes.
  KDOResult KDO_STDCALL ReadVariableBoolean(KDOString, uint8_t*) override { return KDO_E_FAIL; }
  KDOResult KDO_STDCALL ReadVariableInteger(KDOString, int32_t*) override { return KDO_E_FAIL; }
  KDOResult KDO_STDCALL ReadVariableString(KDOString, KDOString*) override { return KDO_E_FAIL; }
  KDOResult KDO_STDCALL WriteVariableBoolean(KDOString, uint8_t) override { return Written(); }
  KDOResult KDO_STDCALL WriteVariableInteger(KDOString, int32_t) override { return Written(); }
  KDOResult KDO_STDCALL WriteVariableString(KDOString, KDOString) override { return Written(); }

 private:
  KDOResult Written() {
    ++writes;
    if (std::function<void()> event = std::exchange(onWrite, nullptr)) event();
    return KDO_S_OK;
  }
};

// A debug server whose lines may likewise run server code.
class EventfulDebug final : public host::CountedService<IKDODebugServer> {
 public:
  EventfulDebug() : CountedService(IID_IKDODebugServer) {}
  std::function<void()> onDebug;  // runs once, at the next line

  KDOResult KDO_STDCALL SendDebug(uint32_t, KDOString, KDOString) override {
    if (std::function<void()> event = std::exchange(onDebug, nullptr)) event();
    return KDO_S_OK;
  }
};

class CallingBack : public BadInput {
 protected:
  void SetUp() override {
    BadInput::SetUp();
    ASSERT_EQ(info->OnRegister(&kernel), KDO_S_OK);
  }
  void TearDown() override {
    BadInput::TearDown();
    EXPECT_EQ(kernel.Held(), 0);
    EXPECT_EQ(debugKernel.Held(), 0);
    EXPECT_EQ(variables.Held(), 0);
    EXPECT_EQ(debug.Held(), 0);
  }
  EventfulVariables variables;
  EventfulDebug debug;
  SplitKernel debugKernel{server.Kernel(), IID_IKDODebugServer, &debug};
  SplitKernel kernel{&debugKernel, IID_IKDOVariableManager, &variables};
};

TEST_F(CallingBack, InstanceDeletedByAWriteOfItsOwnTickGoesWhenTheTickEnds) {
  for (const char* key : {"TrackPosVar", "TrackLenVar", "TrackFileVar", "TrackTitleVar", "VolumeVar", "ShuffleVar",
                          "RepeatVar"})
    Store(1, key, key);
  Create(1);
  Model(1).Add("a.mp3");  // every item has something to write
  variables.writes = 0;
  variables.onWrite = [&] { EXPECT_TRUE(server.DestroyInstance(1)); };
  world.Advance(250);
  EXPECT_EQ(server.Instance(1), nullptr);
  EXPECT_EQ(variables.writes, 7) << "the tick runs to its end";
  EXPECT_EQ(Player(1), nullptr) << "then the instance goes and closes its player";
  EXPECT_EQ(server.FunctionCount(), 0u);
  world.Advance(5000);
  EXPECT_EQ(variables.writes, 7) << "no tick after that";
}

TEST_F(CallingBack, InstanceDeletedDuringItsScriptCallGoesWhenTheCallEnds) {
  Create(1);
  CaptureCopyData();
  debug.onDebug = [&] { EXPECT_TRUE(server.DestroyInstance(1)); };  // the ADDFILE line comes first
  const host::CallResult r = Call(1, "WAC_AddFile", {Value::S("a.mp3")}, {false, 5, 0, ""});
  EXPECT_EQ(r.Bool, 1);
  EXPECT_EQ(copyData, std::vector<std::string>{std::string("a.mp3", 6)}) << "the call ran to its end";
  EXPECT_EQ(server.Instance(1), nullptr);
  EXPECT_EQ(Player(1), nullptr) << "then the instance went and closed its player";
  EXPECT_FALSE(server.Call("WAC_Play", 1, {}).Routed);
}

// ---------------------------------------------------------------- a player that dies

TEST_F(BadInput, KilledPlayerAnswersZerosAndIsStartedAgainOnlyAfterSixtySeconds) {
  server.DefineVariable("Vol", Value::I(0));
  Store(1, "VolumeVar", "Vol");
  Create(1);  // started at 0 s, bound at 1 s
  world.Advance(250);
  ASSERT_EQ(server.Variable("Vol")->Int, 255);
  Model(1).Add("a.mp3");
  sim::SimPlayer* first = Player(1);
  first->Die();

  const int64_t before = world.ElapsedMs();
  EXPECT_EQ(Call(1, "WAC_GetPlaylistLength").Int, 0);
  EXPECT_EQ(Call(1, "WAC_GetPlaylistPosition").Int, 1);
  EXPECT_EQ(Call(1, "WAC_GetPlaylistFile", {Value::I(1)}, {false, 0, 0, "stale"}).Str, "");
  EXPECT_EQ(Call(1, "WAC_Play").Bool, 1);
  EXPECT_EQ(world.ElapsedMs(), before) << "a dead window answers at once";
  world.Advance(250);
  EXPECT_EQ(server.Variable("Vol")->Int, 0);

  // The watch looks every 30 s; within 60 s of the launch it waits for the player to come up.
  world.Advance(61000 - world.ElapsedMs() - 1);
  EXPECT_EQ(farm.Launches(), 1);
  world.Advance(1);
  EXPECT_EQ(farm.Launches(), 2) << "more than 60 s after the launch: started again";
  EXPECT_EQ(world.ShellCalls().back().Parameters, "/CLASS=\"WA_KDO_1\"");
  world.Advance(1000);
  ASSERT_NE(Player(1), nullptr);
  EXPECT_NE(Player(1), first);
  EXPECT_EQ(server.Instance(1)->GetReferenceCount(), 1);
  Call(1, "WAC_AddFile", {Value::S("b.mp3")});
  EXPECT_EQ(Call(1, "WAC_GetPlaylistLength").Int, 1);
  EXPECT_EQ(Call(1, "WAC_GetPlaylistTitle", {Value::I(1)}).Str, "b");
  world.Advance(250);
  EXPECT_EQ(server.Variable("Vol")->Int, 255);
}

}  // namespace
}  // namespace instancetest
