// TKDOWinampScript: the WAC_ script functions of a control instance.
//
// Made by its instance after the services and the player link, it registers
// every function with the server's event scripter under the instance's
// identifier; destroyed, it unregisters them. The server then calls the
// registered handler, which runs the function of the called name. The classic
// fifteen come first, in the order of IKDOWinampControl's operations 3 to 17,
// which call the same operations after the same Enter; the additions follow them.
//
// It borrows the instance's services, settings and link for its whole life.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "instance/Services.h"
#include "winamp/WinAmp.h"
#include "control/Device.WinampControl_Types.h"

class TWinAmpControl;
class TKDOWinampFade;
class TKDOWinampAnnouncer;
class TKDOWinampTransfer;
class TKDOWinampNight;

class TKDOWinampScript {
 public:
  // Registers the functions; without an event scripter there is nothing to register.
  TKDOWinampScript(const TKDOWinampServices& services, uint16_t instanceId, IKDOModule& instance,
                   TWinAmpControl& link, const TKDOWinampControlSettings& settings, TKDOWinampFade& fade,
                   TKDOWinampAnnouncer& announcer, TKDOWinampTransfer& transfer, TKDOWinampNight& night);
  // Unregisters the functions; a failure leaves the rest to be unregistered.
  ~TKDOWinampScript();
  TKDOWinampScript(const TKDOWinampScript&) = delete;
  TKDOWinampScript& operator=(const TKDOWinampScript&) = delete;

  // The handler's work: runs the function of that name (A to Z without case)
  // with the first parameter value; a call that names none, brings fewer
  // values than declared or no result record runs nothing.
  void Handle(KDOString name, const TKDOPHPParameter* params, TKDOPHPParameter* result);
  // What every call of a function starts with, before its operation: its debug
  // line (when it has one, carrying `data` when the line carries any), an
  // announcement given back when the function moves the room on, and a
  // transfer from or to this room ended when the function changes the room.
  void Enter(TKDOScriptFunction function, std::string_view data = {});

  // The operations behind the functions.
  // Appends a file to the playlist; false, and nothing sent, for a name that is not a file name.
  bool AddFile(std::string_view fileName);
  void ClearPlaylist();
  void GetPlaylistLength(int32_t& length);
  // Positions count from 1 here and from 0 at the player.
  void GetPlaylistPosition(int32_t& position);
  void SetPlaylistPosition(int32_t position);
  // The file or title of the entry at a position, empty when there is none.
  void GetPlaylistFile(int32_t position, TKDOText& fileName);
  void GetPlaylistTitle(int32_t position, TKDOText& title);
  void Play();
  void Stop();
  void Pause();
  void Prev();
  void Next();
  // The player takes the low 8 bits; the volume variable, when chosen, the value
  // as given (unless the player did not answer: the variable keeps its value).
  void SetVolume(int32_t volume);
  // The player's command for the value, then the chosen variable, written
  // without reading (unless the player did not answer).
  void SetShuffle(bool on);
  void SetRepeat(bool on);
  void GetPlayState(int32_t& state);
  void GetTrackPosition(int32_t& seconds);
  void GetTrackLength(int32_t& seconds);
  // Moves within the track; `moved` says whether the player did.
  void SetTrackPosition(int32_t seconds, bool& moved);

  // 0..255, or -1 without an answering player.
  int32_t GetVolume();
  // Returns at once; the status ticks move the volume. False without an answering player.
  bool FadeVolume(int32_t volume, int32_t seconds);
  // The entry at a position from 1; false when out of range or without an answering player.
  bool DeletePlaylistEntry(int32_t position);
  bool SaveState();
  bool RestoreState();
  // Returns at once; the status ticks follow the announcement.
  bool Announce(std::string_view fileName, int32_t volume);
  // A tag field of the current entry's file, as the player names it ("artist",
  // "album", ...); empty without an answering player, an entry or the field,
  // and for a name that is not 1 to 63 letters or digits.
  void GetMetadata(std::string_view field, TKDOText& value);
  // Before the entry at a position from 1 (the length + 1 appends); the music
  // plays on. False for a position out of range, a name the player's record
  // cannot carry, or without an answering player or its playlist window. To a
  // slow player, or behind a question of ours or commands waiting their turn,
  // the three insertions wait their turn too: true once taken, put in order.
  bool InsertFile(std::string_view fileName, int32_t position);
  // Right after the current entry (during an announcement, the music's); the music plays on.
  bool PlayNext(std::string_view fileName);
  // Right after the current entry, then plays it from its start.
  bool PlayNow(std::string_view fileName);
  // Hands this room's music to room `target` over the next ticks; false, and
  // nothing sent, unless that is another room and both players answer.
  bool TransferTo(int32_t target, bool keepPlaying);
  // This room and the rooms `rooms` names (other instances' identifiers) announce the file together.
  bool AnnounceWith(std::string_view rooms, std::string_view fileName, int32_t volume);
  // No volume given to the player above `volume` (held to 0..255; 255: none) until the instance ends.
  bool SetVolumeLimit(int32_t volume);
  // The music faded out and stopped after `minutes` (0 cancels); false, and nothing changes, out of range or without a player.
  bool SleepTimer(int32_t minutes, int32_t fadeSeconds);

 private:
  void Debug(KDOString message, KDOString data);
  void Command(TWinAmpWord word);
  // A command now would go before work owed, or wait behind a question of ours: it waits its turn.
  bool WaitsItsTurn() const;
  std::optional<int32_t> InsertAfterCurrent(std::string_view fileName);
  // An insertion that waits its turn (index -1: after the current entry); false when it goes now.
  bool InsertsLater(std::string_view fileName, int32_t index, bool plays);
  bool Reached() const;
  void ReadEntry(int32_t position, void (TWinAmpControl::*read)(int32_t, std::string&), TKDOText& text);
  void Switch(bool on, void (TWinAmpControl::*onCommand)(), void (TWinAmpControl::*offCommand)(),
                   const TKDOText& variable);

  const TKDOWinampServices& FServices;
  uint16_t FInstanceID;
  IKDOModule& FInstance;
  TWinAmpControl& FLink;
  const TKDOWinampControlSettings& FSettings;
  TKDOWinampFade& FFade;
  TKDOWinampAnnouncer& FAnnouncer;
  TKDOWinampTransfer& FTransfer;
  TKDOWinampNight& FNight;
};
