// The contract of a control instance: what the server, other modules and the
// configuration page may see of it. Its own interface, the settings records and
// the settings table, and the names of the script functions, by which both the
// script functions and the interface's operations find their rows.
// When the server calls what, from load to unload: Device.WinampControl_Lifecycle.h.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

#include "sdk/UKDOTypes.h"

// Same value as the module descriptor's ModuleID and InterfaceID.
constexpr TGUID IID_IKDOWinampControl = {0x2999EBBB, 0x5D36, 0x407E, {0xA5, 0x2B, 0xE9, 0x14, 0x2A, 0x45, 0xF1, 0x9C}};

// The eight settings texts, in their fixed order. Each field owns its text and
// is one pointer wide, so the record has the layout of eight counted texts.
struct TKDOWinampControlSettings {
  TKDOText WinampLocation;
  TKDOText TrackPosVar;
  TKDOText TrackLenVar;
  TKDOText TrackFileVar;
  TKDOText TrackTitleVar;
  TKDOText VolumeVar;
  TKDOText ShuffleVar;
  TKDOText RepeatVar;
};
static_assert(sizeof(TKDOWinampControlSettings) == 8 * sizeof(KDOString));

// The same eight texts as SetSettings receives them: borrowed addresses, by
// value. Trivially copyable, so a by-value argument is pushed whole (32 bytes
// on the 32-bit target) rather than passed by hidden reference.
struct TKDOWinampControlSettingsValue {
  KDOString WinampLocation;
  KDOString TrackPosVar;
  KDOString TrackLenVar;
  KDOString TrackFileVar;
  KDOString TrackTitleVar;
  KDOString VolumeVar;
  KDOString ShuffleVar;
  KDOString RepeatVar;
};
static_assert(std::is_trivially_copyable_v<TKDOWinampControlSettingsValue>);
static_assert(sizeof(TKDOWinampControlSettingsValue) == 8 * sizeof(KDOString));

// The twelve settings an instance keeps: the eight of the record that crosses
// IKDOWinampControl, and the play state, artist, album and cover variables, which
// never cross it (the record's callers see them unchanged; the instance's own
// page reaches them through IKDOWinampExtraSettings).
struct TKDOWinampInstanceSettings : TKDOWinampControlSettings {
  TKDOText PlayStateVar;
  TKDOText ArtistVar;
  TKDOText AlbumVar;
  TKDOText CoverVar;
};

// What the status mirror asks the player for a setting's value.
enum class TKDOPlayerQuery : uint8_t {
  None,           // not mirrored: the location
  TrackPosition,  // seconds, shown as a time of day
  TrackLength,    // seconds, shown as a time of day
  PlaylistFile,   // the current entry's file
  PlaylistTitle,  // the current entry's title
  Volume,
  Shuffle,
  Repeat,
  PlayState,  // 1 playing, 3 paused, 0 stopped; -1 written while there is no answering player
  Artist,     // the current file's tags, asked only when the entry changed
  Album,
  Cover,  // the path of a picture of the current entry's cover, looked up when the entry changed
};

using TKDOSettingsField = TKDOText TKDOWinampInstanceSettings::*;
using TKDORecordField = TKDOText TKDOWinampControlSettings::*;
using TKDOValueField = KDOString TKDOWinampControlSettingsValue::*;

// One setting: its store key, its field among the instance's twelve, in the
// record of eight and in the by-value one (both null for a setting the record
// does not carry), the page's field and select button, and for the mirrored
// values the variable type (the only one the picker admits, the one the
// mirror writes in) and what the mirror asks the player.
struct TKDOSettingsKey {
  KDOString Key;
  TKDOSettingsField Field;
  TKDORecordField Record;
  TKDOValueField Value;
  const char* Edit;
  const char* Button;
  int8_t Type;  // KDO_TYPE_*, or -1 when not mirrored
  TKDOPlayerQuery Query;
};

namespace kdo::settings {
// A setting that the record of eight carries: the same field in the instance's twelve.
constexpr TKDOSettingsKey InRecord(KDOString key, TKDORecordField record, TKDOValueField value, const char* edit,
                                   const char* button, int8_t type, TKDOPlayerQuery query) {
  return {key, record, record, value, edit, button, type, query};
}
}  // namespace kdo::settings

// The twelve settings in the order they are read, written, shown and polled.
inline constexpr std::array<TKDOSettingsKey, 12> KDOWinampControlSettingsKeys = {{
    // key, record field, by-value field, page field, select button, variable type, player query
    kdo::settings::InRecord(kdo::text::Const<"WinampLocation">(), &TKDOWinampControlSettings::WinampLocation,
                            &TKDOWinampControlSettingsValue::WinampLocation, "edLocation", "btnSelectWinamp", -1,
                            TKDOPlayerQuery::None),
    kdo::settings::InRecord(kdo::text::Const<"TrackPosVar">(), &TKDOWinampControlSettings::TrackPosVar,
                            &TKDOWinampControlSettingsValue::TrackPosVar, "edTrackPos", "btnSelectVar1",
                            KDO_TYPE_STRING, TKDOPlayerQuery::TrackPosition),
    kdo::settings::InRecord(kdo::text::Const<"TrackLenVar">(), &TKDOWinampControlSettings::TrackLenVar,
                            &TKDOWinampControlSettingsValue::TrackLenVar, "edTrackLen", "btnSelectVar2",
                            KDO_TYPE_STRING, TKDOPlayerQuery::TrackLength),
    kdo::settings::InRecord(kdo::text::Const<"TrackFileVar">(), &TKDOWinampControlSettings::TrackFileVar,
                            &TKDOWinampControlSettingsValue::TrackFileVar, "edTrackFile", "SpeedButton4",
                            KDO_TYPE_STRING, TKDOPlayerQuery::PlaylistFile),
    kdo::settings::InRecord(kdo::text::Const<"TrackTitleVar">(), &TKDOWinampControlSettings::TrackTitleVar,
                            &TKDOWinampControlSettingsValue::TrackTitleVar, "edTrackTitle", "SpeedButton5",
                            KDO_TYPE_STRING, TKDOPlayerQuery::PlaylistTitle),
    kdo::settings::InRecord(kdo::text::Const<"VolumeVar">(), &TKDOWinampControlSettings::VolumeVar,
                            &TKDOWinampControlSettingsValue::VolumeVar, "edVolume", "SpeedButton1", KDO_TYPE_INTEGER,
                            TKDOPlayerQuery::Volume),
    kdo::settings::InRecord(kdo::text::Const<"ShuffleVar">(), &TKDOWinampControlSettings::ShuffleVar,
                            &TKDOWinampControlSettingsValue::ShuffleVar, "edShuffle", "SpeedButton2",
                            KDO_TYPE_BOOLEAN, TKDOPlayerQuery::Shuffle),
    kdo::settings::InRecord(kdo::text::Const<"RepeatVar">(), &TKDOWinampControlSettings::RepeatVar,
                            &TKDOWinampControlSettingsValue::RepeatVar, "edRepeat", "SpeedButton3", KDO_TYPE_BOOLEAN,
                            TKDOPlayerQuery::Repeat),
    // Outside the record: key, field, no record fields, page field, select button, variable type, player query
    {kdo::text::Const<"PlayStateVar">(), &TKDOWinampInstanceSettings::PlayStateVar, nullptr, nullptr, "edPlayState",
     "SpeedButton6", KDO_TYPE_INTEGER, TKDOPlayerQuery::PlayState},
    {kdo::text::Const<"ArtistVar">(), &TKDOWinampInstanceSettings::ArtistVar, nullptr, nullptr, "edArtist",
     "SpeedButton7", KDO_TYPE_STRING, TKDOPlayerQuery::Artist},
    {kdo::text::Const<"AlbumVar">(), &TKDOWinampInstanceSettings::AlbumVar, nullptr, nullptr, "edAlbum",
     "SpeedButton8", KDO_TYPE_STRING, TKDOPlayerQuery::Album},
    {kdo::text::Const<"CoverVar">(), &TKDOWinampInstanceSettings::CoverVar, nullptr, nullptr, "edCover",
     "SpeedButton9", KDO_TYPE_STRING, TKDOPlayerQuery::Cover},
}};

// The owning record's texts, borrowed for a by-value SetSettings.
inline TKDOWinampControlSettingsValue KDOSettingsValue(const TKDOWinampControlSettings& settings) noexcept {
  TKDOWinampControlSettingsValue value{};
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    if (row.Record) value.*row.Value = (settings.*row.Record).get();
  return value;
}

// The instance's own path, for its configuration page, to the settings that
// the record of eight does not carry. It never crosses the server boundary.
class IKDOWinampExtraSettings {
 public:
  // Assigns them into `settings`; the eight there are left alone.
  virtual void GetExtraSettings(TKDOWinampInstanceSettings& settings) = 0;
  // Takes them from `settings`; the eight go through SetSettings.
  virtual void SetExtraSettings(const TKDOWinampInstanceSettings& settings) = 0;

 protected:
  ~IKDOWinampExtraSettings() = default;
};

// The script functions, in the order they are registered. The classic fifteen
// come first and are also IKDOWinampControl's operations 3 to 17, in order.
enum class TKDOScriptFunction : uint8_t {
  AddFile, ClearPlaylist, GetPlaylistLength, GetPlaylistPosition, SetPlaylistPosition, GetPlaylistFile,
  GetPlaylistTitle, Play, Stop, Pause, Prev, Next, SetVolume, SetShuffle, SetRepeat,
  // additions
  GetPlayState, GetTrackPosition, GetTrackLength, SetTrackPosition, GetVolume, FadeVolume, DeletePlaylistEntry,
  SaveState, RestoreState, Announce, GetMetadata, InsertFile, PlayNext, PlayNow, TransferTo, AnnounceWith,
  SetVolumeLimit,
  SleepTimer,
  Count
};
inline constexpr std::size_t KDOScriptFunctionCount = std::size_t(TKDOScriptFunction::Count);

// Operations 1 to 17 follow IKDOModule's entries (table entries 11 to 27).
// Every one returns 0; outputs are out-parameters. GetSettings takes the
// record's address and assigns eight new references into it; SetSettings
// takes the eight borrowed texts by value and keeps references of its own.
class IKDOWinampControl : public IKDOModule {
 public:
  virtual KDOResult KDO_STDCALL GetSettings(TKDOWinampControlSettings* settings) = 0;        // 1
  virtual KDOResult KDO_STDCALL SetSettings(TKDOWinampControlSettingsValue settings) = 0;   // 2
  virtual KDOResult KDO_STDCALL AddFile(KDOString fileName) = 0;                             // 3
  virtual KDOResult KDO_STDCALL ClearPlaylist() = 0;                                         // 4
  virtual KDOResult KDO_STDCALL GetPlaylistLength(int32_t* length) = 0;                      // 5
  virtual KDOResult KDO_STDCALL GetPlaylistPosition(int32_t* position) = 0;                  // 6
  virtual KDOResult KDO_STDCALL SetPlaylistPosition(int32_t position) = 0;                   // 7
  virtual KDOResult KDO_STDCALL GetPlaylistFile(int32_t position, KDOString* fileName) = 0;  // 8
  virtual KDOResult KDO_STDCALL GetPlaylistTitle(int32_t position, KDOString* title) = 0;    // 9
  virtual KDOResult KDO_STDCALL Play() = 0;                                                  // 10
  virtual KDOResult KDO_STDCALL Stop() = 0;                                                  // 11
  virtual KDOResult KDO_STDCALL Pause() = 0;                                                 // 12
  virtual KDOResult KDO_STDCALL Prev() = 0;                                                  // 13
  virtual KDOResult KDO_STDCALL Next() = 0;                                                  // 14
  virtual KDOResult KDO_STDCALL SetVolume(int32_t volume) = 0;                               // 15
  virtual KDOResult KDO_STDCALL SetShuffle(uint8_t on) = 0;                                  // 16
  virtual KDOResult KDO_STDCALL SetRepeat(uint8_t on) = 0;                                   // 17

 protected:
  ~IKDOWinampControl() = default;
};
