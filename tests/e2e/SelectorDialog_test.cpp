// The host's variable list: a person picks one, or cancels.
#include <gtest/gtest.h>

#include <windows.h>

#include "host/win32/SelectorDialog.h"

namespace {

int gPick = -1;  // the row the simulated person picks; -1 cancels

void CALLBACK Answer(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dialog = FindWindowA("KDOHostSelector", "Pick one");
  if (!dialog) return;
  KillTimer(nullptr, id);
  HWND list = GetWindow(dialog, GW_CHILD);
  if (gPick < 0) {
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  SendMessageA(list, LB_SETCURSEL, WPARAM(gPick), 0);
  SendMessageA(dialog, WM_COMMAND, IDOK, 0);
}

TEST(SelectorDialog, PickedNameOrNothingOnCancel) {
  gPick = 1;
  SetTimer(nullptr, 0, 100, Answer);
  EXPECT_EQ(host::ChooseFromList("Pick one", {"Kitchen.Volume", "Living.Volume"}), "Living.Volume");
  gPick = -1;
  SetTimer(nullptr, 0, 100, Answer);
  EXPECT_EQ(host::ChooseFromList("Pick one", {"Kitchen.Volume"}), std::nullopt);
  EXPECT_EQ(FindWindowA("KDOHostSelector", nullptr), nullptr);
}

}  // namespace
