// TfrmPropertyPage: the configuration dialog of one control instance, and the
// variable picker that borrows the server's variable selector.
#pragma once

#include <memory>

#include "instance/Device.WinampControl_Types.h"
#include "platform/Gui.h"
#include "sdk/UKDOTypes.h"

// Creates a temporary selector instance through the server, lets it choose a
// variable of the types in `filter` into `variable`, and deletes the instance
// again before returning. The result is the selection's, or the failure of
// the step that failed before it (bit 31 set).
KDOResult PickVariable(IKDOInstanceControl* instanceControl, uint8_t filter, TKDOText& variable);

class TfrmPropertyPage {
 public:
  // Builds the form, hidden; FormCreate runs.
  TfrmPropertyPage();
  ~TfrmPropertyPage();
  TfrmPropertyPage(const TfrmPropertyPage&) = delete;
  TfrmPropertyPage& operator=(const TfrmPropertyPage&) = delete;

  // The instance hands these over before every show; each replaces what was held.
  void SetWinampControl(IKDOWinampControl* control) { FWinampControl = TKDORef<IKDOWinampControl>(control); }
  void SetInstanceControl(IKDOInstanceControl* control) { FInstanceControl = TKDORef<IKDOInstanceControl>(control); }
  void ClearWinampControl() { FWinampControl.reset(); }

  // Modeless; FormShow runs only when the form turns from hidden to visible.
  void Show();
  void Hide();
  platform::Form& Form() { return *FForm; }

  // Event handlers.
  void FormCreate();
  void FormShow();
  void btnApplyClick();
  void btnOKClick();
  void btnSelectWinampClick();
  void btnSelectVar1Click(int tag);

 private:
  std::unique_ptr<platform::Form> FForm;
  TKDOWinampControlSettings FSettings;
  TKDORef<IKDOWinampControl> FWinampControl;
  TKDORef<IKDOInstanceControl> FInstanceControl;
};
