// TKDOWinampSettings: a control instance's eleven settings. Read from the
// server's store under the section "Settings" and written back to it; the
// record of eight handed to and taken from IKDOWinampControl, and the other three to
// and from the instance's own page; the location given to the player link.
//
// The instance makes it after its link and keeps it for its whole life; the
// script functions and the status mirror read its texts afresh at each use.
#pragma once

#include <cstdint>

#include "control/Device.WinampControl_Types.h"
#include "instance/Device.WinampControl_Services.h"

class TWinAmpControl;

class TKDOWinampSettings {
 public:
  // `link` must outlive every call but Save.
  TKDOWinampSettings(const TKDOWinampServices& services, uint16_t instanceId, TWinAmpControl& link)
      : FServices(services), FInstanceID(instanceId), FLink(link) {}
  TKDOWinampSettings(const TKDOWinampSettings&) = delete;
  TKDOWinampSettings& operator=(const TKDOWinampSettings&) = delete;

  const TKDOWinampInstanceSettings& Current() const { return FSettings; }

  // Reads the eleven from the store, each into its field, and applies them.
  void Load();
  // Writes the eleven to the store.
  void Save() const;
  // New references to the record's eight.
  void CopyRecord(TKDOWinampControlSettings& record) const;
  // The record's eight, applied; the other three stay as they were. The store sees them at the next Save.
  void TakeRecord(const TKDOWinampControlSettings& record);
  // The settings outside the record, for the instance's own page; they count from the next poll.
  void CopyExtra(TKDOWinampInstanceSettings& settings) const;
  void TakeExtra(const TKDOWinampInstanceSettings& settings);

 private:
  // The location goes to the link; the identifiers count from the next poll.
  void Apply();

  const TKDOWinampServices& FServices;
  uint16_t FInstanceID;
  TWinAmpControl& FLink;
  TKDOWinampInstanceSettings FSettings;
};
