// TfrmPropertyPage: the configuration dialog of one control instance, and the
// variable picker that borrows the server's variable selector.
#pragma once

#include <memory>

#include "control/Device.WinampControl_Types.h"
#include "platform/Gui.h"
#include "sdk/UKDOTypes.h"

// Creates a temporary selector instance through the server, lets it choose a
// variable of the types in `filter` into `variable`, and deletes the instance
// again before returning. The result is the selection's, or the failure of
// the step that failed before it (bit 31 set).
KDOResult PickVariable(IKDOInstanceControl* instanceControl, uint8_t filter, TKDOText& variable);

// Held through a shared pointer: while one of its modal dialogs runs, the
// handler keeps the form alive, so that a hide (or the instance's end) that
// the server brings about meanwhile frees it only once the dialog returned.
// The server's calls to the page and what may come during a dialog:
// control/Device.WinampControl_Lifecycle.h.
class TfrmPropertyPage : public std::enable_shared_from_this<TfrmPropertyPage> {
 public:
  // Builds the form, hidden; FormCreate runs.
  TfrmPropertyPage();
  ~TfrmPropertyPage();
  TfrmPropertyPage(const TfrmPropertyPage&) = delete;
  TfrmPropertyPage& operator=(const TfrmPropertyPage&) = delete;

  // The instance hands these over before every show; each replaces what was held.
  // `extra` is the same instance's path to the settings outside the record;
  // the reference to `control` keeps it alive.
  void SetWinampControl(IKDOWinampControl* control, IKDOWinampExtraSettings* extra = nullptr) {
    FWinampControl = TKDORef<IKDOWinampControl>(control);
    FExtraSettings = control ? extra : nullptr;
  }
  void SetInstanceControl(IKDOInstanceControl* control) { FInstanceControl = TKDORef<IKDOInstanceControl>(control); }
  void ClearWinampControl() { SetWinampControl(nullptr); }

  // Modeless; FormShow runs only when the form turns from hidden to visible.
  void Show();
  void Hide();
  platform::Form& Form() { return *FForm; }

  // True when the form may take an answer after a modal wait begun at `shown`:
  // no hide came meanwhile and the form is still on screen.
  bool StillShown(unsigned shown) const;

  // Event handlers.
  void FormCreate();
  void FormShow();
  void btnApplyClick();
  void btnOKClick();
  void btnSelectWinampClick();
  // Every select button's click, whichever it is: the button's tag tells the setting.
  void btnSelectVar1Click(int tag);

 private:
  // Runs a modal dialog; its answer goes to `take` only when the page was not hidden meantime.
  template <class Dialog, class Take>
  void RunModal(Dialog&& dialog, Take&& take);

  std::unique_ptr<platform::Form> FForm;
  unsigned FHides = 0;  // hides so far: a modal wait that saw one drops its answer
  TKDOWinampInstanceSettings FSettings;
  TKDORef<IKDOWinampControl> FWinampControl;
  IKDOWinampExtraSettings* FExtraSettings = nullptr;  // valid while FWinampControl is held
  TKDORef<IKDOInstanceControl> FInstanceControl;
};
