// TKDOWinampControl: one configured "Winamp Control" instance, and how it lives.
// When the server calls it, and what may come meanwhile: control/Device.WinampControl_Lifecycle.h.
//
// The module's OnCreateInstance makes it; from then on its counted references
// decide its life and the last Release destroys it. Construction obtains the
// server's services (a refusal is logged and the instance goes on without
// that service), registers the script functions, binds the player link to the
// instance's own window class, starts the status mirror, loads the settings
// and logs "Interface Create". Destruction logs "Interface Destroy", hides the
// configuration page, unregisters the script functions, stops the status
// mirror, lets the link close a bound player, saves the settings and releases
// the services; a failing step does not stop the ones after it.
//
// Server code called back during an operation may release the server's last
// reference: an operation that calls out holds one of its own until it returns.
//
// Its parts, each in its own unit: its settings (instance/Settings),
// the IKDOWinampControl table (instance/ControlTable, which reaches the
// settings and the script functions itself), the script functions
// (instance/Script), the status mirror (instance/Status),
// the volume fade (announce/Fade), the saved state with the
// announcements (announce/Announcer) and the transfer of the room's
// music to another room (transfer/Transfer), which the status ticks
// drive; the instance is one of the module's rooms (transfer/Rooms).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "announce/Announcer.h"
#include "announce/Fade.h"
#include "night/Night.h"
#include "transfer/Transfer.h"
#include "transfer/Rooms.h"
#include "instance/Script.h"
#include "instance/Services.h"
#include "instance/Settings.h"
#include "instance/Status.h"
#include "instance/ControlTable.h"
#include "work/Pacer.h"
#include "control/Device.WinampControl_Types.h"
#include "sdk/KDOObjects.h"

class TWinAmpControl;
class TfrmPropertyPage;

class TKDOWinampControl final : public TKDOModuleObject {
 public:
  // Throws when a part cannot be made; the script functions are then unregistered again.
  TKDOWinampControl(IKDOKernel* kernel, uint16_t instanceId, const TKDOModuleInfo* moduleInfo);
  ~TKDOWinampControl() override;

  // Shows the one configuration page, making it first; the page holds a reference to the instance.
  KDOResult ShowConfigurationPage() override;
  // Hides and frees the page (once a modal dialog it runs has returned).
  KDOResult HideConfigurationPage() override;
  // Reads the twelve settings from the server's store, each into its field, and applies them.
  KDOResult LoadSettings() override;
  // Writes the twelve settings to the server's store.
  KDOResult SaveSettings() override;

  // The instance's settings: its store, the record of eight, the other four.
  TKDOWinampSettings& Settings() { return FSettings; }

 protected:
  IInterface* FindInterface(const TGUID& iid) noexcept override;

 private:
  std::string LogSender() const;
  void Log(int32_t type, std::string_view text) noexcept;
  void Debug(std::string_view message, std::string_view data) noexcept;
  void ObtainServices();

  TKDOWinampServices FServices;
  const TKDOModuleInfo* FModuleInfo;
  uint16_t FInstanceID;
  std::shared_ptr<TfrmPropertyPage> FConfigurationForm;  // a running modal dialog of the form may hold it too
  std::unique_ptr<TWinAmpControl> FPlayerLink;
  TKDOWinampSettings FSettings;
  std::optional<TKDOWinampAnnouncer> FAnnouncer;
  std::optional<TKDOWinampFade> FFade;  // steps the announcer's music volume while an announcement plays
  std::optional<TKDOWinampNight> FNight;  // the volume ceiling and the sleep timer
  std::optional<TKDOWinampTransfer> FTransfer;  // this room's music handed to another
  std::optional<kdo::rooms::Entry> FRoom;       // among the rooms while the parts above live
  std::optional<TKDOWinampScript> FScript;
  std::optional<TKDOWinampStatus> FStatus;
  std::optional<TKDOPacer> FPacer;  // gives the work above its turns; made after it, gone before it
  std::optional<TKDOWinampControlTable> FControlTable;  // made last and gone first
};
