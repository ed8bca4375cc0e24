#include "instance/Settings.h"

#include "platform/Platform.h"
#include "sdk/KDOText.h"
#include "winamp/WinAmp.h"

namespace {
constexpr kdo::text::Constant kSection("Settings");
}  // namespace

// Each field is the out-text of its own read: it keeps whatever the read leaves there.
void TKDOWinampSettings::Load() {
  if (FServices.SettingsStore) {
    const KDOString path[] = {kSection.get()};
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
      FServices.SettingsStore->ReadSettingString(FInstanceID, path, 0, row.Key, (FSettings.*row.Field).out());
  }
  Apply();
}

void TKDOWinampSettings::Save() const {
  if (!FServices.SettingsStore) return;
  const KDOString path[] = {kSection.get()};
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    FServices.SettingsStore->WriteSettingString(FInstanceID, path, 0, row.Key, (FSettings.*row.Field).get());
}

void TKDOWinampSettings::CopyRecord(TKDOWinampControlSettings& record) const {
  record = static_cast<const TKDOWinampControlSettings&>(FSettings);
}

void TKDOWinampSettings::TakeRecord(const TKDOWinampControlSettings& record) {
  static_cast<TKDOWinampControlSettings&>(FSettings) = record;
  Apply();
}

void TKDOWinampSettings::CopyExtra(TKDOWinampInstanceSettings& settings) const {
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    if (!row.Record) settings.*row.Field = FSettings.*row.Field;
}

void TKDOWinampSettings::TakeExtra(const TKDOWinampInstanceSettings& settings) {
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    if (!row.Record) FSettings.*row.Field = settings.*row.Field;
}

void TKDOWinampSettings::Apply() {
  const std::string_view location = FSettings.WinampLocation.view();
  FLink.SetWinAmpPath(location);
  // Said once per location, compared as the link compares paths: the settings are
  // applied again at every load and every Apply, and the log must not fill up.
  if (kdo::text::EqualIgnoringAZCase(location, FCheckedLocation)) return;
  FCheckedLocation = location;
  if (!location.empty() && !platform::FileExists(FCheckedLocation) && FReport)
    FReport(">WinampLocation \"" + FCheckedLocation + "\" names no file: no player is started");
}
