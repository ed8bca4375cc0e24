// TKDOWinampSettings: a control instance's twelve settings. Read from the
// server's store under the section "Settings" and written back to it; the
// record of eight handed to and taken from IKDOWinampControl, and the other four to
// and from the instance's own page; the location given to the player link.
//
// The instance makes it after its link and keeps it for its whole life; the
// script functions and the status mirror read its texts afresh at each use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "control/Device.WinampControl_Types.h"
#include "instance/Services.h"

class TWinAmpControl;

class TKDOWinampSettings {
 public:
  // Tells the server's log what is wrong with a setting.
  using Report = std::function<void(std::string_view text)>;
  // `link` must outlive every call but Save.
  TKDOWinampSettings(const TKDOWinampServices& services, uint16_t instanceId, TWinAmpControl& link, Report report)
      : FServices(services), FInstanceID(instanceId), FLink(link), FReport(std::move(report)) {}
  TKDOWinampSettings(const TKDOWinampSettings&) = delete;
  TKDOWinampSettings& operator=(const TKDOWinampSettings&) = delete;

  const TKDOWinampInstanceSettings& Current() const { return FSettings; }

  // Reads the twelve from the store, each into its field, and applies them.
  void Load();
  // Writes the twelve to the store.
  void Save() const;
  // New references to the record's eight.
  void CopyRecord(TKDOWinampControlSettings& record) const;
  // The record's eight, applied; the other four stay as they were. The store sees them at the next Save.
  void TakeRecord(const TKDOWinampControlSettings& record);
  // The settings outside the record, for the instance's own page; they count from the next poll.
  void CopyExtra(TKDOWinampInstanceSettings& settings) const;
  void TakeExtra(const TKDOWinampInstanceSettings& settings);

 private:
  // The location goes to the link; the identifiers count from the next poll. A
  // location that names no file is reported once, and again only once changed.
  void Apply();

  const TKDOWinampServices& FServices;
  uint16_t FInstanceID;
  TWinAmpControl& FLink;
  Report FReport;
  std::string FCheckedLocation;  // the location last looked at, reported or not
  TKDOWinampInstanceSettings FSettings;
};
