// The instance's eight settings: loaded from and saved to the server's
// per-instance store, handed to and taken from the configuration page, and
// applied (the location goes to the link).
#include "instance/Device.WinampControl_Interface.h"
#include "winamp/WinAmp.h"

namespace {

constexpr kdo::text::Constant kSection("Settings");

}  // namespace

// Each field is the out-text of its own read: it keeps whatever the read leaves there.
KDOResult TKDOWinampControl::LoadSettings() {
  if (FSettingsStore) {
    const KDOString path[] = {kSection.get()};
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
      FSettingsStore->ReadSettingString(FInstanceID, path, 0, row.Key, (FSettings.*row.Field).out());
  }
  ApplySettings();
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::SaveSettings() {
  if (!FSettingsStore) return KDO_S_OK;
  const KDOString path[] = {kSection.get()};
  for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
    FSettingsStore->WriteSettingString(FInstanceID, path, 0, row.Key, (FSettings.*row.Field).get());
  return KDO_S_OK;
}

KDOResult TKDOWinampControl::GetSettings(TKDOWinampControlSettings& settings) {
  settings = FSettings;
  return KDO_S_OK;
}

// Stores nothing: the store sees the new texts at the next SaveSettings.
KDOResult TKDOWinampControl::SetSettings(const TKDOWinampControlSettings& settings) {
  FSettings = settings;
  ApplySettings();
  return KDO_S_OK;
}

// The location goes to the link; the identifiers count from the next poll.
void TKDOWinampControl::ApplySettings() {
  if (FPlayerLink) FPlayerLink->SetWinAmpPath(FSettings.WinampLocation.view());
}
