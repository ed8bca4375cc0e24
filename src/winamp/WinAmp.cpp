#include "winamp/WinAmp.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "sdk/KDOText.h"

namespace {

using platform::WM_COMMAND_;
using platform::WM_COPYDATA_;
using platform::WM_USER_;

// WM_COMMAND identifiers.
constexpr uint32_t kPrevious = 40044;
constexpr uint32_t kPlay = 40045;
constexpr uint32_t kPause = 40046;
constexpr uint32_t kStop = 40047;
constexpr uint32_t kNext = 40048;

// WM_USER requests, by lParam.
constexpr uint32_t kClearPlaylist = 101;
constexpr uint32_t kPlayState = 104;
constexpr uint32_t kTrackTime = 105;  // wParam 0: position (ms), 1: length (s)
constexpr uint32_t kJumpToTime = 106;  // wParam: the time in ms
constexpr uint32_t kSetPlaylistPosition = 121;
constexpr uint32_t kVolume = 122;  // wParam 0..255 sets, -666 asks
constexpr uint32_t kPlaylistLength = 124;
constexpr uint32_t kPlaylistPosition = 125;
constexpr uint32_t kPlaylistFile = 211;
constexpr uint32_t kPlaylistTitle = 212;
constexpr uint32_t kGetShuffle = 250;
constexpr uint32_t kGetRepeat = 251;
constexpr uint32_t kSetShuffle = 252;
constexpr uint32_t kSetRepeat = 253;
constexpr uint32_t kPlaylistWindow = 260;  // wParam 1: the playlist window's handle
constexpr uint32_t kGetManualAdvance = 634;
constexpr uint32_t kSetManualAdvance = 635;

// Requests to the playlist window: the request in wParam, its data in lParam.
constexpr uint32_t kRemoveEntry = 104;  // lParam: the index
constexpr uint32_t kAskVolume = uint32_t(-666);

constexpr uint32_t kAddFileData = 100;  // COPYDATA dwData
constexpr uint32_t kInsertFileData = 106;  // COPYDATA dwData, to the playlist window

// The insert request's record as the player declares it: the name in a
// MAX_PATH buffer, then the index (from 0) before which it goes.
struct InsertRecord {
  char File[TWinAmpControl::kInsertNameMax + 1];
  int32_t Index;
};
static_assert(sizeof(InsertRecord) == 264 && offsetof(InsertRecord, Index) == 260, "the player's layout");


constexpr std::size_t kReadSize = 500;

// Each question's message, and how its reply reads (an unbound link's -1 included).
struct QuestionRow {
  uint32_t WParam;  // kIndex: the entry's index
  uint32_t LParam;
  int32_t (*Read)(int32_t reply);
};
constexpr uint32_t kIndex = uint32_t(-1);
constexpr int32_t AsItIs(int32_t reply) { return reply; }
constexpr QuestionRow kQuestions[] = {
    {0, kTrackTime, [](int32_t ms) { return ms / 1000; }},  // whole seconds, truncated toward zero
    {1, kTrackTime, AsItIs},
    {kAskVolume, kVolume, [](int32_t reply) { return int32_t(uint32_t(reply) & 0xFFu); }},  // 255 unbound
    {0, kGetShuffle, [](int32_t reply) { return reply > 0 ? 1 : 0; }},
    {0, kGetRepeat, [](int32_t reply) { return reply > 0 ? 1 : 0; }},
    {0, kPlayState, AsItIs},
    {0, kPlaylistPosition, AsItIs},
    {0, kPlaylistLength, AsItIs},
    {kIndex, kPlaylistFile, AsItIs},
    {kIndex, kPlaylistTitle, AsItIs},
};
static_assert(std::size(kQuestions) == std::size_t(TWinAmpQuestion::PlaylistTitleAddress) + 1);

uint32_t WParamOf(const QuestionRow& row, int32_t index) { return row.WParam == kIndex ? uint32_t(index) : row.WParam; }

// Each command's message; kIndex: the word's value goes in wParam.
struct CommandRow {
  uint32_t Message, WParam, LParam;
};
constexpr CommandRow kCommands[] = {
    {WM_COMMAND_, kPlay, 0},     {WM_COMMAND_, kPause, 0},          {WM_COMMAND_, kStop, 0},
    {WM_COMMAND_, kPrevious, 0}, {WM_COMMAND_, kNext, 0},           {WM_USER_, 0, kClearPlaylist},
    {WM_USER_, kIndex, kSetPlaylistPosition},                        {WM_USER_, kIndex, kJumpToTime},
    {WM_USER_, kIndex, kVolume},
};
static_assert(std::size(kCommands) == std::size_t(TWinAmpCommand::SetVolume) + 1);

}  // namespace

std::string_view TrimBlanksAndControls(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// A player that does not answer counts as none: its caller sees what it sees without a player.
int32_t TWinAmpControl::SendPlayerMessage(uint32_t message, uint32_t wParam, uintptr_t lParam) {
  if (!IsBound()) return -1;
  const platform::SendResult result = FChannel.Send(FChannel.Window(), message, wParam, lParam);
  return result.Outcome == platform::SendOutcome::GivenUp ? -1 : result.Reply;
}

// ---------------------------------------------------------------- commands

bool TWinAmpControl::Send(TWinAmpWord word) {
  if (!IsBound()) return false;
  const CommandRow& row = kCommands[std::size_t(word.Command)];
  uint32_t wParam = row.WParam == kIndex ? uint32_t(word.Value) : row.WParam;
  if (word.Command == TWinAmpCommand::SetVolume)
    wParam = std::min(wParam & 0xFFu, uint32_t(FVolumeCeiling)), ++FVolumesGiven;
  return FChannel.Send(FChannel.Window(), row.Message, wParam, row.LParam).Outcome == platform::SendOutcome::Answered;
}

void TWinAmpControl::Play() { Send({TWinAmpCommand::Play}); }
void TWinAmpControl::Pause() { Send({TWinAmpCommand::Pause}); }
void TWinAmpControl::Stop() { Send({TWinAmpCommand::Stop}); }
void TWinAmpControl::PreviousTrack() { Send({TWinAmpCommand::Previous}); }
void TWinAmpControl::NextTrack() { Send({TWinAmpCommand::Next}); }
void TWinAmpControl::SetVolume(uint8_t volume) { Send({TWinAmpCommand::SetVolume, volume}); }
void TWinAmpControl::ClearPlaylist() { Send({TWinAmpCommand::ClearPlaylist}); }
void TWinAmpControl::SetPlaylistPosition(int32_t index) { Send({TWinAmpCommand::SetPlaylistPosition, index}); }
void TWinAmpControl::ShuffleOn() { SendPlayerMessage(WM_USER_, 1, kSetShuffle); }
void TWinAmpControl::ShuffleOff() { SendPlayerMessage(WM_USER_, 0, kSetShuffle); }
void TWinAmpControl::RepeatOn() { SendPlayerMessage(WM_USER_, 1, kSetRepeat); }
void TWinAmpControl::RepeatOff() { SendPlayerMessage(WM_USER_, 0, kSetRepeat); }

// The record and the text live until the synchronous send returns.
bool TWinAmpControl::AddFile(std::string_view fileName) {
  if (!IsFileName(fileName) || fileName.size() >= UINT32_MAX) return false;  // the record could not describe it
  const std::string text(fileName);                                          // zero-terminated
  const platform::CopyDataRecord record{kAddFileData, uint32_t(text.size() + 1), text.c_str()};
  SendPlayerMessage(WM_COPYDATA_, 0, reinterpret_cast<uintptr_t>(&record));
  return true;
}

// ---------------------------------------------------------------- queries

using Q = TWinAmpQuestion;

int32_t TWinAmpControl::Ask(TWinAmpQuestion q, int32_t index) {
  const QuestionRow& row = kQuestions[std::size_t(q)];
  return row.Read(SendPlayerMessage(WM_USER_, WParamOf(row, index), row.LParam));
}

uint8_t TWinAmpControl::GetVolume() { return uint8_t(Ask(Q::Volume)); }
int32_t TWinAmpControl::GetTrackLength() { return Ask(Q::TrackLength); }
int32_t TWinAmpControl::GetTrackPosition() { return Ask(Q::TrackPosition); }
int32_t TWinAmpControl::GetPlaylistLength() { return Ask(Q::PlaylistLength); }
int32_t TWinAmpControl::GetPlaylistPosition() { return Ask(Q::PlaylistPosition); }
bool TWinAmpControl::GetShuffle() { return Ask(Q::Shuffle) != 0; }
bool TWinAmpControl::GetRepeat() { return Ask(Q::Repeat) != 0; }

void TWinAmpControl::GetPlaylistFile(int32_t index, std::string& fileName) {
  ReadRemoteText(index, Q::PlaylistFileAddress, fileName);
}
void TWinAmpControl::GetPlaylistTitle(int32_t index, std::string& title) {
  ReadRemoteText(index, Q::PlaylistTitleAddress, title);
}
void TWinAmpControl::GetCurrentFile(std::string& fileName) { GetPlaylistFile(GetPlaylistPosition(), fileName); }
void TWinAmpControl::GetCurrentTitle(std::string& title) { GetPlaylistTitle(GetPlaylistPosition(), title); }
int32_t TWinAmpControl::GetPlayState() { return Ask(Q::PlayState); }
int32_t TWinAmpControl::AnsweredVolume() {
  const int32_t reply = SendPlayerMessage(WM_USER_, kAskVolume, kVolume);
  return reply == -1 && !HasAnsweringPlayer() ? -1 : int32_t(uint32_t(reply) & 0xFFu);
}
int32_t TWinAmpControl::GetTrackPositionMs() { return SendPlayerMessage(WM_USER_, 0, kTrackTime); }
int32_t TWinAmpControl::GetManualAdvance() { return SendPlayerMessage(WM_USER_, 0, kGetManualAdvance); }
void TWinAmpControl::SetManualAdvance(bool on) { SendPlayerMessage(WM_USER_, on ? 1 : 0, kSetManualAdvance); }

bool TWinAmpControl::DeletePlaylistEntry(int32_t index) {
  if (index < 0 || index >= GetPlaylistLength()) return false;
  const platform::WindowHandle playlist = GetPlaylistWindow();
  return playlist != 0 && RemoveEntryVia(playlist, index);
}

platform::WindowHandle TWinAmpControl::GetPlaylistWindow() {
  const int32_t playlist = SendPlayerMessage(WM_USER_, 1, kPlaylistWindow);
  return playlist == -1 ? 0 : platform::WindowHandle(playlist);
}

bool TWinAmpControl::RemoveEntryVia(platform::WindowHandle playlist, int32_t index) {
  if (!IsBound() || playlist == 0 || index < 0) return false;
  return FChannel.Send(playlist, WM_USER_, kRemoveEntry, uint32_t(index)).Outcome == platform::SendOutcome::Answered;
}

bool TWinAmpControl::IsFileName(std::string_view fileName) {
  return !TrimBlanksAndControls(fileName).empty() &&
         std::none_of(fileName.begin(), fileName.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

bool TWinAmpControl::IsInsertable(std::string_view fileName) {
  return IsFileName(fileName) && fileName.size() <= kInsertNameMax;
}

bool TWinAmpControl::InsertFile(std::string_view fileName, int32_t index) {
  if (!IsInsertable(fileName) || index < 0 || !HasAnsweringPlayer()) return false;
  const int32_t length = GetPlaylistLength();
  if (!IsAnswering() || index > length) return false;
  return InsertEntryVia(GetPlaylistWindow(), fileName, index);
}

// The record lives on our stack until the synchronous send returns; zeroed
// first, so the name ends in its zero and nothing else of ours goes along.
bool TWinAmpControl::InsertEntryVia(platform::WindowHandle playlist, std::string_view fileName, int32_t index) {
  if (!IsBound() || playlist == 0 || index < 0 || !IsInsertable(fileName)) return false;
  InsertRecord record{};
  std::memcpy(record.File, fileName.data(), fileName.size());
  record.Index = index;
  const platform::CopyDataRecord data{kInsertFileData, uint32_t(sizeof record), &record};
  return FChannel.Send(playlist, WM_COPYDATA_, 0, reinterpret_cast<uintptr_t>(&data)).Outcome ==
         platform::SendOutcome::Answered;
}

// Only an answer tells that the track moved: a send given up counts as "not moved".
int32_t TWinAmpControl::JumpToTime(int32_t ms) {
  if (!IsBound()) return -1;
  const platform::SendResult result = FChannel.Send(FChannel.Window(), WM_USER_, uint32_t(ms), kJumpToTime);
  return result.Outcome == platform::SendOutcome::Answered ? result.Reply : -1;
}

// Asks the player where the entry's text lies and reads it from the player's
// memory: at most 500 bytes, up to the first zero, trimmed of blanks and
// control characters. A text near the end of readable memory is read up to
// that end (the page boundary) when the whole 500 bytes cannot be.
void TWinAmpControl::ReadRemoteText(int32_t index, TWinAmpQuestion where, std::string& text) {
  text.clear();
  if (index < 0) return;
  if (index >= GetPlaylistLength()) return;
  ReadRemoteTextInRange(index, where, text);
}

void TWinAmpControl::GetPlaylistFileInRange(int32_t index, std::string& fileName) {
  ReadRemoteTextInRange(index, Q::PlaylistFileAddress, fileName);
}
void TWinAmpControl::GetPlaylistTitleInRange(int32_t index, std::string& title) {
  ReadRemoteTextInRange(index, Q::PlaylistTitleAddress, title);
}

void TWinAmpControl::ReadRemoteTextInRange(int32_t index, TWinAmpQuestion where, std::string& text) {
  text.clear();
  if (!IsBound()) return;
  const uint32_t address = uint32_t(Ask(where, index));
  if (!IsAnswering()) return;  // no address was given: nothing to read
  ReadRemoteTextAt(address, text);
}

void TWinAmpControl::ReadRemoteTextAt(uint32_t address, std::string& text) {
  text.clear();
  if (!IsBound()) return;
  const platform::ProcessHandle process(platform::access::kVmRead, platform::WindowProcessId(FChannel.Window()));
  char buffer[kReadSize + 1] = {};
  if (!process.Read(address, buffer, kReadSize)) {
    std::memset(buffer, 0, sizeof buffer);
    const uint32_t toPageEnd = platform::kPageSize - address % platform::kPageSize;
    if (toPageEnd >= kReadSize || !process.Read(address, buffer, toPageEnd)) std::memset(buffer, 0, sizeof buffer);
  }
  text.assign(TrimBlanksAndControls({buffer, std::strlen(buffer)}));
}
