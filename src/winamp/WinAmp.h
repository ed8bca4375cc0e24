// TWinAmpControl: the link between one control instance and one Winamp
// player: the player's process (found by the class name of its main window,
// started, watched and closed: TWinAmpProcess), the conversation with it
// (TWinAmpChannel), and here the player's window messages as commands and
// queries. It never raises and never logs; an unbound link sends nothing and
// answers -1 (or what each query makes of it), and so does a player that
// counts as not answering.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "winamp/WinAmpChannel.h"
#include "winamp/WinAmpProcess.h"

// A text from the player without the blanks and control characters (codes 32 and below) at its ends.
std::string_view TrimBlanksAndControls(std::string_view text);

// The player's questions that a number answers, as the queries of the same
// name ask them; the addresses are those of an entry's file and title texts.
enum class TWinAmpQuestion : uint8_t {
  TrackPosition, TrackLength, Volume, Shuffle, Repeat, PlayState, PlaylistPosition, PlaylistLength,
  PlaylistFileAddress, PlaylistTitleAddress
};

// The transport and playlist commands that carry a value at most, as data: a
// command can wait its turn (behind an announcement's work) and be sent later.
enum class TWinAmpCommand : uint8_t {
  Play, Pause, Stop, Previous, Next, ClearPlaylist, SetPlaylistPosition, JumpToTime, SetVolume
};
struct TWinAmpWord {
  TWinAmpCommand Command;
  int32_t Value = 0;  // the index, the time in ms, or the volume (its low 8 bits)
};

class TWinAmpControl {
 public:
  static constexpr uint32_t kWatchInterval = TWinAmpProcess::kWatchInterval;
  static constexpr uint32_t kStartInterval = TWinAmpProcess::kStartInterval;
  static constexpr int64_t kRestartAfterSeconds = TWinAmpProcess::kRestartAfterSeconds;

  TWinAmpControl() = default;
  TWinAmpControl(const TWinAmpControl&) = delete;
  TWinAmpControl& operator=(const TWinAmpControl&) = delete;

  // Takes effect at the next lookup; a held handle stays until then.
  const std::string& WinAmpClassName() const { return FProcess.ClassName(); }
  void SetWinAmpClassName(std::string_view className) { FProcess.SetClassName(className); }
  // Writing a path that differs (letters A to Z compared without case) lets go
  // of the player, closing a bound one, then looks for or starts the new one.
  // Destroying the link closes its player: the bound one, or one it started
  // (at most 60 whole seconds ago, or still running) whose window has appeared
  // since the last lookup.
  const std::string& WinAmpPath() const { return FProcess.Path(); }
  void SetWinAmpPath(std::string_view path) { FProcess.SetPath(path); }

  bool IsBound() const { return FChannel.Window() != 0; }
  // False while the bound player counts as not answering.
  bool IsAnswering() const { return FChannel.IsAnswering(); }
  // Bound to a player that counts as not answering (not merely out of this dispatch's time).
  bool IsHung() const { return IsBound() && FChannel.Silent(); }
  // Bound to a player that answers: one worth asking.
  bool HasAnsweringPlayer() const { return IsBound() && IsAnswering(); }
  // How long the bound player has not answered: 0 while it answers.
  uint32_t SilentForMs() const { return FChannel.SilentForMs(); }
  // Its last two answers each took TWinAmpChannel::kSlowMs or more.
  bool IsSlow() const { return FChannel.Slow(); }
  // A send found the bound player's window gone; the link lets go of it only at its next watch.
  bool IsGone() const { return FChannel.Gone(); }
  // How many times the bound player has let a message be given up (TWinAmpChannel::GiveUps).
  uint32_t GiveUps() const { return FChannel.GiveUps(); }
  // How long the player took for the last message it answered.
  uint32_t LastAnswerMs() const { return FChannel.LastAnswerMs(); }
  // While the result lives, sends to a slow player are asked without waiting
  // through `question`, and `resume` runs with each answer (TWinAmpChannel::Deferring).
  TWinAmpChannel::Deferring Deferred(platform::AnswerQuestion& question, std::function<void()> resume,
                                     bool asks = true) {
    return {FChannel, question, std::move(resume), asks};
  }
  // The player's reply; -1 when unbound (nothing sent) or when the player did not answer.
  int32_t SendPlayerMessage(uint32_t message, uint32_t wParam, uintptr_t lParam);

  // ---- commands and queries
  // Sends a command: true when the player answered it.
  bool Send(TWinAmpWord word);
  // In a Deferring scope: the last send was asked without waiting instead (it is to be made again).
  bool AskedInstead() const { return FChannel.AskedInstead(); }
  void Play();
  void Pause();
  void Stop();
  void PreviousTrack();
  void NextTrack();
  // Held to the ceiling, whatever asks for it.
  void SetVolume(uint8_t volume);
  uint8_t GetVolume();
  // The most volume the player is given (255: no limit). It stays with the link, whichever player it holds.
  uint8_t VolumeCeiling() const { return FVolumeCeiling; }
  void SetVolumeCeiling(uint8_t ceiling) { FVolumeCeiling = ceiling; }
  // How many volumes have been sent: a volume asked before the last of them is no longer the player's.
  uint32_t VolumesGiven() const { return FVolumesGiven; }
  int32_t GetTrackLength();    // seconds
  int32_t GetTrackPosition();  // whole seconds, truncated toward zero
  void ClearPlaylist();
  int32_t GetPlaylistLength();
  int32_t GetPlaylistPosition();  // from 0
  void SetPlaylistPosition(int32_t index);
  bool GetShuffle();
  bool GetRepeat();
  void ShuffleOn();
  void ShuffleOff();
  void RepeatOn();
  void RepeatOff();
  // Appends a file: false, and nothing sent, for a name that is not a file name.
  bool AddFile(std::string_view fileName);
  // Texts read from the player's memory; empty when out of range or unreadable.
  void GetPlaylistFile(int32_t index, std::string& fileName);
  void GetPlaylistTitle(int32_t index, std::string& title);
  void GetCurrentFile(std::string& fileName);
  void GetCurrentTitle(std::string& title);
  // 1 playing, 3 paused, 0 stopped: the player's reply unchanged.
  int32_t GetPlayState();
  // Moves the current track to `ms`; the player's reply unchanged (0: moved
  // there), or -1 when unbound or when the player did not answer.
  int32_t JumpToTime(int32_t ms);
  // The volume as the player answered it, 0..255, or -1 when unbound or when
  // the player did not answer (where GetVolume gives 255, the unbound reply's low byte).
  int32_t AnsweredVolume();
  // The position in the current track in milliseconds: the player's reply unchanged.
  int32_t GetTrackPositionMs();
  // Removes the entry at `index` (from 0) through the player's playlist window;
  // false when out of range, unbound, or the player did not answer.
  bool DeletePlaylistEntry(int32_t index);
  // The two halves of that: the playlist window (0 when the player names
  // none or does not answer), and the removal through it, without the length check.
  platform::WindowHandle GetPlaylistWindow();
  bool RemoveEntryVia(platform::WindowHandle playlist, int32_t index);
  // The longest file name the insert request carries: its record holds
  // MAX_PATH bytes, the terminating zero among them.
  static constexpr std::size_t kInsertNameMax = 259;
  // A name that can only name a file: not all blanks, and no control character
  // (below 32, the zero among them) anywhere, which the player would read as
  // the end of the name or as part of another one.
  static bool IsFileName(std::string_view fileName);
  // A file name the insert request carries: at most kInsertNameMax characters.
  static bool IsInsertable(std::string_view fileName);
  // Inserts a file before the entry at `index` (from 0; the length appends)
  // through the playlist window; the player keeps its current entry current.
  // False for a name it cannot carry, an index out of range, unbound, no
  // playlist window, or no answer; nothing is inserted then.
  bool InsertFile(std::string_view fileName, int32_t index);
  // The insertion alone, for a caller that has asked the length and the playlist window itself.
  bool InsertEntryVia(platform::WindowHandle playlist, std::string_view fileName, int32_t index);
  // The player's manual-advance setting: on, a track that ends does not go on
  // to the next entry. Asked: 1 on, 0 off, -1 without an answer.
  int32_t GetManualAdvance();
  void SetManualAdvance(bool on);
  // Sends a question (`index`: the entry of an address) and reads its answer
  // as the query of the same name does.
  int32_t Ask(TWinAmpQuestion q, int32_t index = 0);
  // A question asked without waiting that the player may still be handling
  // (unanswered, asked less than a send limit ago): a send now waits behind it.
  bool QuestionOutstanding() const { return FChannel.QuestionOutstanding(); }
  // A question asked without waiting and not answered within the send limit:
  // the player counts as not answering from now on, as after a send given up.
  void GiveUpOverdue() { FChannel.GiveUpOverdue(); }
  // The text at an address the player gave for an entry's file or title: read
  // from its memory as GetPlaylistFile reads it, without asking anything.
  void ReadRemoteTextAt(uint32_t address, std::string& text);

  // The window the link holds (0 when unbound): another value means another player.
  platform::WindowHandle PlayerWindow() const { return FChannel.Window(); }

  // The player's own name of a tag field ("artist", "album", "year", ...): 1
  // to kFieldMax letters or digits. Anything else is never sent.
  static constexpr std::size_t kFieldMax = 63;
  static bool IsMetadataField(std::string_view field);
  // The longest answer taken from the player.
  static constexpr uint32_t kMetadataMax = 4096;
  // The field of a file as the player tells it (its extended file info
  // request, one send): true when it has it. `value` is empty otherwise, and
  // at most kMetadataMax characters, trimmed, when not. Nothing is sent for a
  // field that is not a field name, or a file name too long for the request.
  bool GetFileMetadata(std::string_view fileName, std::string_view field, std::string& value);

  // GetPlaylistFile and GetPlaylistTitle for an index the caller has checked
  // against the length it asked itself: no length query (one send fewer).
  void GetPlaylistFileInRange(int32_t index, std::string& fileName);
  void GetPlaylistTitleInRange(int32_t index, std::string& title);

 private:
  // The text of an entry (where: its file's or its title's address), read from
  // the player's memory; with the length query, or InRange without it.
  void ReadRemoteText(int32_t index, TWinAmpQuestion where, std::string& text);
  void ReadRemoteTextInRange(int32_t index, TWinAmpQuestion where, std::string& text);

  // The channel outlives the process part, which closes the player through it.
  TWinAmpChannel FChannel;
  TWinAmpProcess FProcess{FChannel};
  uint8_t FVolumeCeiling = 255;
  uint32_t FVolumesGiven = 0;
};
