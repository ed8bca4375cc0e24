// player.exe: the player stand-in as a real Windows program. One hidden
// top-level window answers the player's window messages through the portable
// model (../PlayerModel.h); a second, the playlist window (its own class, owned
// by the first, on the same thread), answers the playlist's requests. Its texts live in this process's memory, at the
// addresses it replies, for callers to read with ReadProcessMemory. Play time
// is real time.
//
// Command line:
//   /CLASS=name, /CLASS="name"  the main window's class; default "Winamp v1.x"
//   /NOWINDOW                   never create the window; exit by itself after 120 s
//
// Test controls, our own messages (no real client sends them):
//   WM_USER     lParam 0x7001  hang: stop answering for wParam ms (sleeps inside the handler)
//   WM_USER     lParam 0x7002  die at once, window and all (TerminateProcess, exit code 3)
//   WM_USER     lParam 0x7003  from now on, delay every reply by wParam ms
//   WM_USER     lParam 0x7004  wParam 1/0: replies to 211/212 are unreadable, non-zero addresses
//   WM_USER     lParam 0x7005  the current entry's length := wParam seconds
//   WM_USER     lParam 0x7006  wParam 1/0: answers to 290 fill the whole buffer, no zero
//   WM_USER     lParam 0x7007  answer the next 290, then die (TerminateProcess, exit code 3)
//   WM_USER     lParam 0x7008  reply the record address the last 290 named (0: none yet)
//   WM_COPYDATA dwData 0x7101  the current entry's title := the text (any length)
//   WM_COPYDATA dwData 0x7102  the same, placed so that its terminating zero is
//                              the last byte ReadProcessMemory can read: a
//                              PAGE_NOACCESS page follows it (under Wine, which
//                              ignores page protection there, unmapped space does)
//   WM_COPYDATA dwData 0x7103  "field=value": a tag of the current entry
//
// The playlist window inserts an entry on WM_COPYDATA dwData 106, its record
// {char file[MAX_PATH]; int index;} read as declared (see PlayerModel.h).
//
// The extended file info request (WM_USER, lParam 290) reads its record as the
// player's documentation declares it; a file's tags are its ID3v1 tag when it
// has one, else what its name gives (see PlayerModel.h).
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "player/PlayerModel.h"

namespace {

constexpr UINT kDiedExitCode = 3;
constexpr DWORD kNoWindowLifetimeMs = 120000;
constexpr UINT_PTR kClockTimer = 1;
constexpr UINT kClockTickMs = 100;
// An ordinary text has at least this much readable memory from its start, as a
// fixed-size buffer would: callers read 500 bytes in one piece.
constexpr std::size_t kReadRoom = 512;

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// Pages from VirtualAlloc, released on destruction.
class VirtualRegion {
 public:
  VirtualRegion() = default;
  VirtualRegion(void* at, std::size_t bytes, DWORD type, DWORD protect)
      : base_(static_cast<char*>(VirtualAlloc(at, bytes, type, protect))) {}
  ~VirtualRegion() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  VirtualRegion(VirtualRegion&& other) noexcept : base_(std::exchange(other.base_, nullptr)) {}
  VirtualRegion& operator=(VirtualRegion&& other) noexcept {
    std::swap(base_, other.base_);
    return *this;
  }
  char* Base() const { return base_; }

 private:
  char* base_ = nullptr;
};

// Whether ReadProcessMemory, the callers' way in, can read this byte.
bool Readable(const void* address) {
  char byte;
  SIZE_T got = 0;
  return ReadProcessMemory(GetCurrentProcess(), address, &byte, 1, &got) && got == 1;
}

// Read-write memory whose end is followed by memory ReadProcessMemory cannot read.
struct EdgeRegion {
  VirtualRegion Region;
  char* End = nullptr;  // null when none could be had
};

EdgeRegion AllocateBeforeInaccessible(std::size_t bytes) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const std::size_t page = info.dwPageSize;
  const std::size_t readable = (bytes + page - 1) / page * page;
  {
    // Windows' way: a no-access page after the text.
    EdgeRegion edge{VirtualRegion(nullptr, readable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)};
    DWORD old = 0;
    if (!edge.Region.Base()) return {};
    edge.End = edge.Region.Base() + readable;
    if (VirtualProtect(edge.End, page, PAGE_NOACCESS, &old) && !Readable(edge.End)) return edge;
  }
  // Wine's ReadProcessMemory reads no-access and reserved pages alike; only
  // address space it leaves unmapped stops it. Take the top of a free range
  // that such space follows.
  const std::size_t granule = info.dwAllocationGranularity;
  const std::size_t size = (bytes + granule - 1) / granule * granule;
  MEMORY_BASIC_INFORMATION range;
  for (auto at = reinterpret_cast<uintptr_t>(info.lpMinimumApplicationAddress);
       at < reinterpret_cast<uintptr_t>(info.lpMaximumApplicationAddress) &&
       VirtualQuery(reinterpret_cast<void*>(at), &range, sizeof range);
       at = reinterpret_cast<uintptr_t>(range.BaseAddress) + range.RegionSize) {
    const uintptr_t end = reinterpret_cast<uintptr_t>(range.BaseAddress) + range.RegionSize;
    if (range.State != MEM_FREE || range.RegionSize < size || end % granule ||
        Readable(reinterpret_cast<void*>(end)))
      continue;
    char* want = reinterpret_cast<char*>(end - size);
    EdgeRegion edge{VirtualRegion(want, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)};
    if (edge.Region.Base() == want) {
      edge.End = want + size;
      return edge;
    }
  }
  return {};
}

class ProcessTextMemory final : public player::TextMemory {
 public:
  uint32_t Store(std::string_view text, player::Placement placement) override {
    const std::size_t bytes = text.size() + 1;
    Block block;
    char* at = nullptr;
    if (placement == player::Placement::EndOfMemory) {
      EdgeRegion edge = AllocateBeforeInaccessible(bytes);
      if (!edge.End) return 0;
      block.region = std::move(edge.Region);
      at = edge.End - bytes;
    } else {
      block.heap = std::make_unique<char[]>(std::max(bytes, kReadRoom));  // zeroed
      at = block.heap.get();
    }
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = 0;
    const uint32_t address = AddressOf(at);
    blocks_[address] = std::move(block);
    return address;
  }

  void Free(uint32_t address) override { blocks_.erase(address); }

 private:
  struct Block {
    std::unique_ptr<char[]> heap;
    VirtualRegion region;
  };
  std::map<uint32_t, Block> blocks_;
};

// The extended file info request's record, as documented for 32-bit players.
struct extendedFileInfoStruct {
  const char* filename;
  const char* metadata;
  char* ret;
  size_t retlen;
};
static_assert(sizeof(extendedFileInfoStruct) == 16, "the documented 32-bit layout");

// The insert request's record, as documented: the playlist window takes it as
// WM_COPYDATA dwData 106.
struct fileinfo {
  char file[MAX_PATH];
  int index;
};
static_assert(sizeof(fileinfo) == player::insertrecord::kSize, "the documented 32-bit layout");

// The ID3v1 tag in the file's last 128 bytes, if it has one.
std::optional<player::Tags> ReadId3v1(std::string_view fileName) {
  const std::string name(fileName);
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  unsigned char tail[128];
  DWORD got = 0;
  LARGE_INTEGER back;
  back.QuadPart = -128;
  const bool read = SetFilePointerEx(file, back, nullptr, FILE_END) &&
                    ReadFile(file, tail, sizeof tail, &got, nullptr) && got == sizeof tail;
  CloseHandle(file);
  return read ? player::ParseId3v1(tail) : std::nullopt;
}

class Player {
 public:
  Player() { model_.SetTagReader(&ReadId3v1); }
  void SetPlaylistWindow(HWND window) { playlist_ = window; }

  // The playlist window's messages: the request in wParam, its data in lParam;
  // an insertion as a WM_COPYDATA record, read through its documented declaration.
  std::optional<LRESULT> HandlePlaylist(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_USER && message != WM_COPYDATA) return std::nullopt;
    if (replyDelayMs_) Sleep(replyDelayMs_);
    CatchUp();
    if (message == WM_USER) return model_.OnPlaylistUser(uint32_t(wParam), uint32_t(lParam));
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!data || data->dwData != player::copydata::kInsertFile || data->cbData < sizeof(fileinfo)) return 0;
    const auto* record = static_cast<const fileinfo*>(data->lpData);
    return model_.Insert(record->index, player::CopyDataText(record->file, sizeof record->file)) ? 1 : 0;
  }

  // Returns the reply when the message is one of ours.
  std::optional<LRESULT> Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_TIMER:
        if (wParam != kClockTimer) return std::nullopt;
        CatchUp();
        return 0;
      case WM_DESTROY:
        KillTimer(window, kClockTimer);
        PostQuitMessage(0);
        return 0;
      case WM_COMMAND:
      case WM_USER:
      case WM_COPYDATA:
        break;
      default:
        return std::nullopt;
    }
    if (message == WM_USER && lParam == player::control::kReplyDelay) {
      replyDelayMs_ = DWORD(wParam);
      return 0;
    }
    // When it was told, by its own clock: the moment the message reached it, before it takes its time.
    if (message == WM_COMMAND && wParam == player::command::kPlay) lastPlayAtMs_ = uint32_t(NowUs() / 1000);
    if (replyDelayMs_) Sleep(replyDelayMs_);
    CatchUp();
    if (message == WM_COMMAND) {
      LRESULT reply = model_.OnCommand(uint32_t(wParam));
      if (model_.CloseRequested()) DestroyWindow(window);
      return reply;
    }
    if (message == WM_USER) return OnUser(uint32_t(wParam), uint32_t(lParam));
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!data) return 0;
    const std::string_view text = player::CopyDataText(data->lpData, data->cbData);
    switch (data->dwData) {
      case player::control::kSetTitle:
        return model_.SetTitle(model_.CurrentIndex(), text) ? 1 : 0;
      case player::control::kSetTitleAtEnd:
        return model_.SetTitle(model_.CurrentIndex(), text, player::Placement::EndOfMemory) ? 1 : 0;
      case player::control::kSetTag:
        return player::SetTagFromControl(model_, text) ? 1 : 0;
    }
    return model_.OnCopyData(data->dwData, data->lpData, data->cbData);
  }

 private:
  LRESULT OnUser(uint32_t wParam, uint32_t lParam) {
    switch (lParam) {
      case player::control::kHang:
        Sleep(wParam);
        return 0;
      case player::control::kDie:
        TerminateProcess(GetCurrentProcess(), kDiedExitCode);
        return 0;
      case player::user::kPlaylistWindow:
        return reinterpret_cast<LRESULT>(playlist_);
      case player::control::kDieAtTagQuery:
        dieAtTagQuery_ = true;
        return 0;
      case player::control::kLastTagRecord:
        return LRESULT(lastTagRecord_);
      case player::control::kLastPlayAt:
        return LRESULT(lastPlayAtMs_);
      case player::user::kExtendedFileInfo:
        lastTagRecord_ = wParam;
        return ExtendedFileInfo(reinterpret_cast<extendedFileInfoStruct*>(uintptr_t(wParam)));
    }
    return controls_.OnUser(model_, wParam, lParam);
  }

  LRESULT ExtendedFileInfo(extendedFileInfoStruct* info) {
    if (!info || !info->filename || !info->metadata || !info->ret) return 0;
    const player::SharedControls::TagAnswer answer =
        controls_.ExtendedFileInfo(model_, info->filename, info->metadata, uint32_t(info->retlen));
    std::memcpy(info->ret, answer.Bytes.data(), answer.Bytes.size());
    if (dieAtTagQuery_) TerminateProcess(GetCurrentProcess(), kDiedExitCode);
    return answer.Reply;
  }

  void CatchUp() { model_.AdvanceTime(clock_.Elapsed(NowUs())); }
  static int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  ProcessTextMemory memory_;
  player::PlayerModel model_{memory_};
  player::MillisecondClock clock_{NowUs()};
  DWORD replyDelayMs_ = 0;
  bool dieAtTagQuery_ = false;
  uint32_t lastTagRecord_ = 0;
  uint32_t lastPlayAtMs_ = 0;
  player::SharedControls controls_;
  HWND playlist_ = nullptr;
};

// Both windows carry the player in their user data, from their creation on.
template <auto Handler>
LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (auto* player = reinterpret_cast<Player*>(GetWindowLongPtrA(window, GWLP_USERDATA))) {
    try {
      if (auto reply = Handler(*player, window, message, wParam, lParam)) return *reply;
    } catch (...) {
      return 0;  // out of memory: the message goes unanswered, the player lives on
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

std::optional<LRESULT> MainMessage(Player& player, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return player.Handle(window, message, wParam, lParam);
}

std::optional<LRESULT> PlaylistMessage(Player& player, HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  return player.HandlePlaylist(message, wParam, lParam);
}

bool RegisterWindowClass(HINSTANCE instance, const char* name, WNDPROC proc) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.lpszClassName = name;
  return RegisterClassA(&windowClass) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  const std::string_view line = commandLine ? commandLine : "";
  if (player::HasSwitch(line, "/NOWINDOW")) {
    Sleep(kNoWindowLifetimeMs);
    return 0;
  }
  const std::string className = player::ClassFromCommandLine(line);

  if (!RegisterWindowClass(instance, className.c_str(), PlayerWindowProc<MainMessage>) ||
      !RegisterWindowClass(instance, player::kPlaylistClass, PlayerWindowProc<PlaylistMessage>))
    return 1;

  Player player;
  HWND window = CreateWindowExA(0, className.c_str(), "Player", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                400, 120, nullptr, nullptr, instance, &player);
  if (!window) return 1;
  // Owned by the main window, so it goes when that goes.
  HWND playlist = CreateWindowExA(0, player::kPlaylistClass, "Playlist", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 300, 200, window, nullptr, instance, &player);
  if (!playlist) return 1;
  player.SetPlaylistWindow(playlist);
  SetTimer(window, kClockTimer, kClockTickMs, nullptr);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
