// The player stand-in's behaviour, free of any window system: a playlist, a
// transport, volume, shuffle and repeat, answering the window messages a
// Winamp-style player answers. The Windows program (win32/main.cpp) and the
// simulated shell (sim/SimPlayer.cpp) feed it messages and time; both give it
// the memory its texts live in, because callers read those texts straight out
// of the player's process at the addresses it replies.
//
// Decisions worth knowing when writing tests against it:
// - Next and previous wrap around the playlist; they keep the play state and
//   restart the position at 0. Making an entry current (lParam 121) does the same.
// - Play starts the current entry from 0 when stopped or playing, and resumes
//   when paused. Pause toggles between playing and paused; stopped stays stopped.
// - At the end of a track the next entry plays from 0. After the last entry it
//   wraps to the first when repeat is on, else it stops on the last entry. Time
//   beyond the end of a track is dropped, so one advance never crosses two
//   tracks. Shuffle is only a flag: the order never changes.
// - With manual advance on (lParam 635), a track's end stops the player on that
//   entry at 0, whatever repeat says.
// - Removing an entry (the playlist window's request 104) keeps the current
//   entry current. Removing the current entry makes the one that takes its index
//   current (the new last when it was the last) and stops playback: what played
//   is gone. Out-of-range indexes change nothing.
// - Inserting an entry (the playlist window's WM_COPYDATA 106) keeps the
//   current entry current: one inserted before it, or at its index, moves the
//   current index up by one; into an empty playlist it becomes the current one.
//   An index past the length, a record shorter than 264 bytes or an empty name
//   changes nothing.
// - A negative length means a track with no known end (a stream): it never ends.
// - A jump (lParam 106) moves a playing or paused track to the time (wParam, in
//   ms, taken unsigned) and replies 0; stopped it replies -1 and stays. A time at
//   or past the end replies 1 and ends the track as if it had played out.
// - Replies are 0 for anything not understood, and for commands and settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace player {

// WM_COMMAND identifiers (the low 16 bits of wParam).
namespace command {
constexpr uint32_t kClose = 40001;
constexpr uint32_t kPrevious = 40044;
constexpr uint32_t kPlay = 40045;
constexpr uint32_t kPause = 40046;
constexpr uint32_t kStop = 40047;
constexpr uint32_t kNext = 40048;
}  // namespace command

// WM_USER requests (lParam).
namespace user {
constexpr uint32_t kClearPlaylist = 101;
constexpr uint32_t kPlayState = 104;  // 1 playing, 3 paused, 0 stopped
constexpr uint32_t kTime = 105;  // wParam 0: position in ms; 1: length in seconds
constexpr uint32_t kJumpToTime = 106;  // wParam: ms; 0 moved, -1 stopped, 1 past the end
constexpr uint32_t kSetCurrent = 121;
constexpr uint32_t kVolume = 122;  // wParam 0..255 sets; kVolumeQuery replies
constexpr uint32_t kCount = 124;
constexpr uint32_t kCurrent = 125;
constexpr uint32_t kFileAddress = 211;
constexpr uint32_t kTitleAddress = 212;
constexpr uint32_t kGetShuffle = 250;
constexpr uint32_t kGetRepeat = 251;
constexpr uint32_t kSetShuffle = 252;
constexpr uint32_t kSetRepeat = 253;
constexpr uint32_t kPlaylistWindow = 260;  // the shells answer: the model knows no windows
constexpr uint32_t kExtendedFileInfo = 290;  // wParam: the address of the request's record, in our memory
constexpr uint32_t kGetManualAdvance = 634;
constexpr uint32_t kSetManualAdvance = 635;
constexpr uint32_t kVolumeQuery = 0xFFFFFD66;  // -666 as a wParam
}  // namespace user

// The playlist window's class: never a main window's, so lookups by the main class miss it.
constexpr char kPlaylistClass[] = "Player Playlist";

// WM_USER requests to the playlist window: the request in wParam, its data in lParam.
namespace playlist {
constexpr uint32_t kRemove = 104;  // lParam: the index of the entry to remove
}

// WM_COPYDATA dwData.
namespace copydata {
constexpr uint32_t kAddFile = 100;
constexpr uint32_t kInsertFile = 106;  // to the playlist window: the insert record below
}

// The insert record's layout as the player documents it, {char file[MAX_PATH];
// int index;}: the name up to its zero, then the index (from 0, 32-bit) before
// which it goes.
namespace insertrecord {
constexpr std::size_t kFileSize = 260;
constexpr std::size_t kIndexOffset = 260;
constexpr std::size_t kSize = 264;
}

// Our own messages for tests; never sent by a real client. The shells act on them.
namespace control {
constexpr uint32_t kHang = 0x7001;             // WM_USER: stop answering for wParam ms
constexpr uint32_t kDie = 0x7002;              // WM_USER: end the process at once
constexpr uint32_t kReplyDelay = 0x7003;       // WM_USER: delay every later reply by wParam ms
constexpr uint32_t kGarbageAddresses = 0x7004; // WM_USER: wParam 1/0: 211/212 reply unreadable addresses
constexpr uint32_t kSetLength = 0x7005;        // WM_USER: current entry's length := wParam seconds
constexpr uint32_t kUnterminatedTags = 0x7006; // WM_USER: wParam 1/0: 290 fills its whole answer, no zero
constexpr uint32_t kDieAtTagQuery = 0x7007;    // WM_USER: answer the next 290, then end the process
constexpr uint32_t kLastTagRecord = 0x7008;    // WM_USER: the address the last 290 named (0: none yet)
constexpr uint32_t kLastPlayAt = 0x7009;       // WM_USER: its clock (ms, low 32 bits) when last told to play
constexpr uint32_t kSetTitle = 0x7101;         // WM_COPYDATA: current entry's title := the text
constexpr uint32_t kSetTitleAtEnd = 0x7102;    // WM_COPYDATA: same, its zero the last readable byte
constexpr uint32_t kSetTag = 0x7103;           // WM_COPYDATA: "field=value", a tag of the current entry
}  // namespace control

enum class Placement {
  Heap,         // ordinary memory, with readable bytes after the text
  EndOfMemory,  // the terminating zero is the last readable byte before an inaccessible page
};

// Memory in the player's process for the texts it hands out by address.
class TextMemory {
 public:
  virtual ~TextMemory() = default;
  // Copies `text` and a terminating zero; returns the address, or 0 when no memory could be had.
  virtual uint32_t Store(std::string_view text, Placement placement) = 0;
  // Releases what Store returned; 0 is ignored.
  virtual void Free(uint32_t address) = 0;
};

enum class PlayState { Stopped, Playing, Paused };

// A file's tags by field name ("artist", "album", ...), names in lower case.
using Tags = std::map<std::string, std::string>;

// The ID3v1 tag in a file's last 128 bytes ("TAG", title 30, artist 30, album
// 30, year 4, comment 30 whose last byte is the track when the one before is
// 0, genre 1): its non-empty fields, the genre by its number; nothing without "TAG".
std::optional<Tags> ParseId3v1(const unsigned char (&tail)[128]);
// The stand-in's own tags when a file has none: "<artist> - <title>.ext" gives
// artist and title; what is missing is left out. No album: a folder's name says nothing of one.
Tags TagsFromFileName(std::string_view fileName);

struct Entry {
  std::string FileName;
  std::string Title;
  int32_t LengthSeconds = 0;
  uint32_t FileNameAddress = 0;  // 0 when the memory could not be had
  uint32_t TitleAddress = 0;
  Tags FileTags;
};

// The text a WM_COPYDATA carries: up to its first zero, never beyond `size` bytes.
std::string_view CopyDataText(const void* data, std::size_t size);
// The last path component without its extension ("C:\Music\a.b.mp3" -> "a.b").
std::string TitleFromFileName(std::string_view fileName);
// The window class named by /CLASS=name or /CLASS="name" (the switch in any
// letter case); "Winamp v1.x" when the switch is missing or names nothing.
std::string ClassFromCommandLine(std::string_view commandLine);
// Whether a switch such as "/NOWINDOW" appears as a word, in any letter case.
bool HasSwitch(std::string_view commandLine, std::string_view name);

// Whole milliseconds of a finer clock (the caller's microseconds), each handed out once: the rest below
// a millisecond waits for the next call, so a player asked thousands of times a second keeps true time.
class MillisecondClock {
 public:
  explicit MillisecondClock(int64_t startUs) : handedOutUs_(startUs) {}
  // The whole milliseconds since the last call (or the start).
  int64_t Elapsed(int64_t nowUs) {
    const int64_t ms = (nowUs - handedOutUs_) / 1000;
    handedOutUs_ += ms * 1000;
    return ms;
  }

 private:
  int64_t handedOutUs_;
};

class PlayerModel {
 public:
  static constexpr int32_t kDefaultLengthSeconds = 205;
  static constexpr int32_t kInitialVolume = 255;

  explicit PlayerModel(TextMemory& memory);
  ~PlayerModel();  // frees every text
  PlayerModel(const PlayerModel&) = delete;
  PlayerModel& operator=(const PlayerModel&) = delete;

  // ---- the messages; each returns the reply
  int32_t OnCommand(uint32_t wParam);
  int32_t OnUser(uint32_t wParam, uint32_t lParam);
  // WM_USER sent to the playlist window.
  int32_t OnPlaylistUser(uint32_t wParam, uint32_t lParam);
  // WM_COPYDATA sent to the playlist window: the insert record, read at its
  // documented offsets. Replies 1 when an entry was inserted, 0 otherwise.
  int32_t OnPlaylistCopyData(uintptr_t dwData, const void* data, std::size_t size);
  // Replies 1 when the data was taken, 0 otherwise.
  int32_t OnCopyData(uintptr_t dwData, const void* data, std::size_t size);
  // Moves a playing track on; negative or zero is nothing.
  void AdvanceTime(int64_t ms);

  // ---- state
  std::size_t Count() const { return entries_.size(); }
  int32_t CurrentIndex() const { return current_; }  // 0 when the playlist is empty
  const Entry& At(std::size_t index) const { return entries_.at(index); }
  PlayState State() const { return state_; }
  int64_t PositionMs() const { return positionMs_; }
  int32_t Volume() const { return volume_; }
  bool Shuffle() const { return shuffle_; }
  bool Repeat() const { return repeat_; }
  bool ManualAdvance() const { return manualAdvance_; }
  bool CloseRequested() const { return closeRequested_; }

  // ---- changes the shells and tests make directly; false for an index out of range
  bool Add(std::string_view fileName);  // false for an empty name
  // Before the entry at `index`; the count appends. False for an empty name or an index past the count.
  bool Insert(int32_t index, std::string_view fileName);
  bool SetTitle(int32_t index, std::string_view title, Placement placement = Placement::Heap);
  bool SetLength(int32_t index, int32_t seconds);
  bool Remove(int32_t index);
  bool SetTag(int32_t index, std::string_view field, std::string_view value);
  // Where a file's tags come from when it is added (player.exe: the file's own
  // ID3v1 tag); without a reader, or for a file it finds none in, the file's name.
  void SetTagReader(std::function<std::optional<Tags>(std::string_view fileName)> reader) {
    tagReader_ = std::move(reader);
  }
  // The field of a file (A to Z compared without case): an entry's, else what
  // the reader finds in the file; nothing when neither has it.
  std::optional<std::string> Tag(std::string_view fileName, std::string_view field) const;

 private:
  bool InRange(int32_t index) const { return index >= 0 && std::size_t(index) < entries_.size(); }
  void MakeCurrent(int32_t index);
  void Clear();
  int32_t TimeReply(uint32_t which) const;
  int32_t PlayStateReply() const;
  int32_t JumpTo(uint32_t ms);
  void EndTrack();

  TextMemory& memory_;
  std::vector<Entry> entries_;
  int32_t current_ = 0;
  PlayState state_ = PlayState::Stopped;
  int64_t positionMs_ = 0;
  int32_t volume_ = kInitialVolume;
  bool shuffle_ = false;
  bool repeat_ = false;
  bool manualAdvance_ = false;
  bool closeRequested_ = false;
  std::function<std::optional<Tags>(std::string_view)> tagReader_;
};

// The test control "field=value": a tag of the current entry; false without "=" or an entry.
bool SetTagFromControl(PlayerModel& model, std::string_view text);

// The test controls that both shells answer alike (unreadable entry addresses,
// a track's length); every other request goes to the model.
class SharedControls {
 public:
  // Replied instead of an entry's text address while addresses are garbage: in
  // the first 64 KB, which Windows never maps (nor Wine, nor the simulated
  // world, which maps from 0x00400000 up), so every read of it fails.
  static constexpr uint32_t kGarbageAddress = 0x00001000;
  int32_t OnUser(PlayerModel& model, uint32_t wParam, uint32_t lParam);
  void ReplyGarbageAddresses(bool on) { garbage_ = on; }

  // The extended file info request, its record read by the shell: the reply,
  // and the bytes to put at the record's answer (never more than `retlen`).
  // 1 and the field's text, cut to leave room for its zero; 0 and nothing
  // when the file has no such field. While unterminated, an answer fills all
  // `retlen` bytes and carries no zero.
  struct TagAnswer {
    int32_t Reply = 0;
    std::string Bytes;
  };
  TagAnswer ExtendedFileInfo(const PlayerModel& model, std::string_view fileName, std::string_view field,
                             uint32_t retlen) const;

 private:
  bool garbage_ = false;
  bool unterminated_ = false;
};

}  // namespace player
