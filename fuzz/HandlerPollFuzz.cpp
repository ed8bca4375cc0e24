// Fuzzes the two ways into a control instance that run on the server's thread
// all day: the script-function handler and the status poll. The input
// scripts everything around the instance: the calls a script makes (names,
// parameter values, the junk in the result record), the player's replies
// message by message, the bytes in the player's memory, the types of the
// variables, settings changes, and time passing (hangs, deaths, restarts).
//
// Beyond what the sanitizers find, every run must end with the server's
// references balanced and no process handle left open.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "PlayerNumbers.h"
#include "host/KDOHost.h"
#include "control/Device.WinampControl_Types.h"
#include "module/Device.WinampControl.h"
#include "sim/SimWorld.h"
#include "player/sim/SimPlayer.h"

namespace {

namespace pn = playernumbers;
constexpr uint16_t kId = 1;
constexpr const char* kClass = "WA_KDO_1";
constexpr const char* kExe = "C:\\Winamp\\winamp.exe";

const char* const kFunctions[] = {
    "WAC_AddFile", "WAC_ClearPlaylist", "WAC_GetPlaylistLength", "WAC_GetPlaylistPosition",
    "WAC_SetPlaylistPosition", "WAC_GetPlaylistFile", "WAC_GetPlaylistTitle", "WAC_Play", "WAC_Stop",
    "WAC_Pause", "WAC_Prev", "WAC_Next", "WAC_SetVolume", "WAC_SetShuffle", "WAC_SetRepeat",
    "WAC_GetPlayState", "WAC_GetTrackPosition", "WAC_GetTrackLength", "WAC_SetTrackPosition",
    "WAC_GetVolume", "WAC_FadeVolume", "WAC_DeletePlaylistEntry", "WAC_SaveState", "WAC_RestoreState",
    "WAC_Announce", "WAC_GetMetadata", "WAC_InsertFile", "WAC_PlayNext", "WAC_PlayNow"};
const char* const kKeys[] = {"TrackPosVar", "TrackLenVar", "TrackFileVar", "TrackTitleVar",
                             "VolumeVar",   "ShuffleVar",  "RepeatVar",    "ArtistVar", "AlbumVar"};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "HandlerPollFuzz: %s\n", what);
  std::abort();
}

std::string Text(FuzzedDataProvider& in, std::size_t max = 40) { return in.ConsumeRandomLengthString(max); }

host::Value AnyValue(FuzzedDataProvider& in) {
  host::Value v;
  v.Type = in.PickValueInArray({host::VarType::Boolean, host::VarType::Integer, host::VarType::String});
  v.Bool = in.ConsumeBool();
  v.Int = in.ConsumeIntegral<int32_t>();
  v.Str = Text(in);
  return v;
}

// A player window whose every reply, and whose memory, the input decides.
class FuzzPlayer final : public sim::WindowProc {
 public:
  FuzzPlayer(sim::World& world, FuzzedDataProvider& in) : world_(world), in_(in) {
    pid_ = world.CreateProcess();
    window_ = world.CreateWindow(kClass, pid_, this);
    // A one-page region (texts may run into its end) and a larger one, with input bytes in both.
    small_ = world.Memory(pid_)->Map(1);
    large_ = world.Memory(pid_)->Map(2);
    Scribble(small_, platform::kPageSize);
    Scribble(large_, 2 * platform::kPageSize);
  }

  int32_t OnMessage(uint32_t message, uint32_t wParam, uintptr_t lParam) override {
    if (message == pn::kWmCopyData) {
      // Reads the record as a real player would: every byte it describes must be ours to read.
      const auto* record = reinterpret_cast<const platform::CopyDataRecord*>(lParam);
      if (!record) Fail("WM_COPYDATA without a record");
      const auto* bytes = static_cast<const unsigned char*>(record->lpData);
      unsigned sum = 0;
      for (uint32_t i = 0; i < record->cbData; ++i) sum += bytes[i];
      if (record->dwData == pn::copydata::kInsertFile) {  // the name ends within its MAX_PATH buffer
        if (record->cbData != sizeof(pn::InsertRecord) || !std::memchr(bytes, 0, sizeof(pn::InsertRecord::File)))
          Fail("an insert record not as documented");
      } else if (record->cbData == 0 || bytes[record->cbData - 1] != 0) {
        Fail("file name sent without its zero");
      }
      return int32_t(sum & 1);
    }
    if (message == pn::kWmCommand && (wParam & 0xFFFF) == pn::cmd::kClose && in_.ConsumeBool()) {
      world_.DestroyWindow(window_);
      world_.EndProcess(pid_);
      return 0;
    }
    if (message == pn::kWmUser && (lParam == pn::user::kFileAddress || lParam == pn::user::kTitleAddress) &&
        in_.ConsumeBool()) {
      // An address in or near our memory, so that the reads meet real bytes and page ends.
      const uint32_t base = in_.ConsumeBool() ? small_ : large_;
      return int32_t(base + in_.ConsumeIntegralInRange<uint32_t>(0, 3 * platform::kPageSize));
    }
    if (message == pn::kWmUser && lParam == 290 && in_.ConsumeBool()) {
      // An answer of input bytes, as long as the record allows, terminated or not.
      uint32_t record[4];
      if (!AddressSpace() || !AddressSpace()->Read(wParam, record, sizeof record))
        Fail("a tag request without its record");
      std::string bytes = Text(in_, 5000);
      bytes.resize(std::min<std::size_t>(bytes.size(), record[3]));
      if (!AddressSpace()->Write(record[2], bytes.data(), bytes.size()))
        Fail("a tag request's answer out of our memory");
    }
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0:
        return 0;
      case 1:
        return in_.ConsumeIntegralInRange<int32_t>(-2, 3);
      default:
        return in_.ConsumeIntegral<int32_t>();
    }
  }

  // Input bytes at an input-chosen place in a region.
  void Scribble(uint32_t region, uint32_t size) {
    const uint32_t at = in_.ConsumeIntegralInRange<uint32_t>(0, size - 1);
    std::string bytes = Text(in_, 600);
    if (bytes.size() > size - at) bytes.resize(size - at);
    if (sim::AddressSpace* memory = AddressSpace()) memory->Write(region + at, bytes.data(), bytes.size());
  }
  void Scribble() {
    if (in_.ConsumeBool())
      Scribble(small_, platform::kPageSize);
    else
      Scribble(large_, 2 * platform::kPageSize);
  }
  void Die() { world_.EndProcess(pid_); }
  uint32_t Pid() const { return pid_; }
  sim::AddressSpace* AddressSpace() { return world_.Memory(pid_); }
  void Hang(bool hung) { world_.SetHung(window_, hung); }

 private:
  sim::World& world_;
  FuzzedDataProvider& in_;
  uint32_t pid_ = 0;
  sim::WindowHandle window_ = 0;
  uint32_t small_ = 0;
  uint32_t large_ = 0;
};

// A counted parameter array as the server lays it out, with a count the input chooses.
struct RawParams {
  int32_t RefCount = -1;
  int32_t Count = 0;
  TKDOPHPParameter Items[2] = {};
};

void CallHandler(host::Server& server, FuzzedDataProvider& in) {
  std::string name = in.ConsumeBool() ? std::string(in.PickValueInArray(kFunctions)) : Text(in);
  if (in.ConsumeBool())
    for (char& c : name)
      if (in.ConsumeBool()) c = char(c ^ 0x20);
  if (in.ConsumeBool()) {
    // Through the server's dispatcher, with whatever values and initial result the input gives.
    std::vector<host::Value> params;
    for (int n = in.ConsumeIntegralInRange(0, 2); n > 0; --n) params.push_back(AnyValue(in));
    host::CallResult initial;
    initial.Bool = in.ConsumeIntegral<uint8_t>();
    initial.Int = in.ConsumeIntegral<int32_t>();
    initial.Str = Text(in);
    server.Call(name, kId, params, initial);
    return;
  }
  // Straight into the handler: a count that may lie low, no result record, no name.
  const host::Registration* reg = server.Function("WAC_Play", kId);
  if (!reg) return;
  RawParams raw;
  raw.Count = in.ConsumeIntegralInRange<int32_t>(-1, 2);
  TKDOText texts[2];
  for (int i = 0; i < 2; ++i) {
    raw.Items[i].BoolValue = in.ConsumeIntegral<uint8_t>();
    raw.Items[i].IntValue = in.ConsumeIntegral<int32_t>();
    texts[i] = TKDOText(Text(in));
    raw.Items[i].StringValue = texts[i].get();
  }
  TKDOPHPParameter result{};
  result.BoolValue = in.ConsumeIntegral<uint8_t>();
  result.StringValue = kdo::text::Make(Text(in));
  const TKDOText called = in.ConsumeBool() ? TKDOText(name) : TKDOText();
  reg->Code(reg->Object, called.get(), in.ConsumeBool() ? raw.Items : nullptr, in.ConsumeBool() ? &result : nullptr,
            kId);
  kdo::text::Release(result.StringValue);
}

void ChangeSettings(host::Server& server, FuzzedDataProvider& in) {
  IKDOModule* m = server.Instance(kId);
  if (!m) return;
  TKDORef<IKDOWinampControl> c;
  if (KDOFailed(m->QueryInterface(IID_IKDOWinampControl, c.put()))) Fail("no control interface");
  TKDOWinampControlSettings s;
  c->GetSettings(&s);
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
      s.WinampLocation = TKDOText(in.ConsumeBool() ? std::string(kExe) : Text(in));
      break;
    case 1: {
      const TKDOSettingsKey& row = KDOWinampControlSettingsKeys[in.ConsumeIntegralInRange<std::size_t>(1, 7)];
      s.*row.Record = TKDOText(in.ConsumeBool() ? "v" + std::to_string(in.ConsumeIntegralInRange(0, 7)) : Text(in));
      break;
    }
    default:
      s = TKDOWinampControlSettings();
      break;
  }
  c->SetSettings(KDOSettingsValue(s));
}

void ControlCalls(host::Server& server, FuzzedDataProvider& in) {
  IKDOModule* m = server.Instance(kId);
  if (!m) return;
  TKDORef<IKDOWinampControl> c;
  m->QueryInterface(IID_IKDOWinampControl, c.put());
  const int32_t arg = in.ConsumeIntegralInRange<int32_t>(-2, 4);
  KDOString out = kdo::text::Make(Text(in, 8));
  int32_t n = 0;
  switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0: c->GetPlaylistFile(arg, &out); break;
    case 1: c->GetPlaylistTitle(arg, &out); break;
    case 2: c->GetPlaylistLength(&n); break;
    case 3: c->SetPlaylistPosition(arg); break;
    case 4: c->AddFile(TKDOText(Text(in)).get()); break;
    case 5: m->LoadSettings(); break;
    default: m->SaveSettings(); break;
  }
  kdo::text::Release(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  sim::World world;
  sim::PlayerFarm farm(world);
  farm.InstallExecutable(kExe);
  FuzzPlayer player(world, in);
  {
    host::Server server;
    const TKDOModuleInfo* info = nullptr;
    if (KDOFailed(server.LoadModule(&KDOModuleInfo, &info))) Fail("module refused to load");

    // Eight variables of types the input picks (some may stay undefined), and the stored settings.
    for (int i = 0; i < 8; ++i)
      if (in.ConsumeIntegralInRange(0, 3) != 0) server.DefineVariable("v" + std::to_string(i), AnyValue(in));
    if (in.ConsumeBool()) server.SetSetting(kId, "Settings", "WinampLocation", in.ConsumeBool() ? kExe : Text(in));
    for (const char* key : kKeys)
      if (in.ConsumeBool())
        server.SetSetting(kId, "Settings", key, "v" + std::to_string(in.ConsumeIntegralInRange(0, 7)));

    if (KDOFailed(server.CreateInstance(info->ModuleID, kId))) Fail("instance not made");
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
      switch (in.ConsumeIntegralInRange(0, 11)) {
        case 0: case 1: case 2: CallHandler(server, in); break;
        case 3: case 4: world.Advance(250); break;
        case 5: world.Advance(in.ConsumeIntegralInRange<int64_t>(0, 65000)); break;
        case 6: player.Scribble(); break;
        case 7:
          // One call or one tick against a hung player. Longer hangs only pile up ticks that the
          // simulated clock then replays one by one (a real thread's timer fires once after a block).
          player.Hang(true);
          if (in.ConsumeBool())
            CallHandler(server, in);
          else
            world.Advance(250);
          player.Hang(false);
          break;
        case 8: player.Die(); break;
        case 9: ChangeSettings(server, in); break;
        case 10: ControlCalls(server, in); break;
        default:
          server.DefineVariable("v" + std::to_string(in.ConsumeIntegralInRange(0, 7)), AnyValue(in));
          break;
      }
    }
    server.DestroyAllInstances();
    server.UnloadModules();
    if (server.HeldReferences() != 0) Fail("references left on the server's services");
  }
  if (world.OpenProcessHandles() != 0) Fail("a process handle left open");
  if (world.Reservations(player.Pid()) != 0) Fail("memory left reserved in the player");
  return 0;
}
