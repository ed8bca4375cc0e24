// The instance's settings as the server's store holds them: the location's key, then the seven
// mirrored values' keys of the record with the type of variable each is written to (an empty value
// of it), then the play state's, artist's and album's keys, which the record does not carry.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/KDOHost.h"

namespace testdata {

using Mirrored = std::vector<std::pair<std::string, host::Value>>;

// The record's seven mirrored values in the store's order, each with an empty variable of its type.
inline Mirrored AllMirrored() {
  return {{"TrackPosVar", host::Value::S("")},  {"TrackLenVar", host::Value::S("")},
          {"TrackFileVar", host::Value::S("")}, {"TrackTitleVar", host::Value::S("")},
          {"VolumeVar", host::Value::I(0)},     {"ShuffleVar", host::Value::B(false)},
          {"RepeatVar", host::Value::B(false)}};
}

// The play state, mirrored into an integer variable; the record of eight does not carry it.
inline constexpr const char* kPlayStateKey = "PlayStateVar";

// The current file's artist and album, mirrored into text variables; nor does the record carry them.
inline constexpr const char* kArtistKey = "ArtistVar";
inline constexpr const char* kAlbumKey = "AlbumVar";
// The path of a picture of the current entry's cover, a text variable.
inline constexpr const char* kCoverKey = "CoverVar";

// All twelve keys in the order the instance reads and writes them.
inline std::vector<std::string> SettingsKeys() {
  std::vector<std::string> keys = {"WinampLocation"};
  for (const auto& item : AllMirrored()) keys.push_back(item.first);
  keys.insert(keys.end(), {kPlayStateKey, kArtistKey, kAlbumKey, kCoverKey});
  return keys;
}

// Defines the variable `name(key)` for each mirrored value and chooses it in instance `id`'s settings.
template <class Name>
void ChooseAll(host::Server& server, uint16_t id, Name name) {
  for (const auto& [key, empty] : AllMirrored()) {
    server.DefineVariable(name(key), empty);
    server.SetSetting(id, "Settings", key, name(key));
  }
}

}  // namespace testdata
