#include "host/win32/SelectorDialog.h"

#include <windows.h>

namespace host {

namespace {

constexpr int kList = 100, kOk = IDOK, kCancel = IDCANCEL;

struct State {
  HWND list = nullptr;
  std::optional<std::string> picked;
  bool done = false;
};

void Pick(HWND dialog, State& s) {
  const LRESULT i = SendMessageA(s.list, LB_GETCURSEL, 0, 0);
  if (i != LB_ERR) {
    char name[512] = {};
    if (SendMessageA(s.list, LB_GETTEXTLEN, WPARAM(i), 0) < LRESULT(sizeof name)) {
      SendMessageA(s.list, LB_GETTEXT, WPARAM(i), reinterpret_cast<LPARAM>(name));
      s.picked = name;
    }
  }
  s.done = true;
  DestroyWindow(dialog);
}

LRESULT CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* s = reinterpret_cast<State*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_COMMAND:
      if (!s) break;
      if (LOWORD(wp) == kOk || (LOWORD(wp) == kList && HIWORD(wp) == LBN_DBLCLK)) {
        Pick(hwnd, *s);
      } else if (LOWORD(wp) == kCancel) {
        s->done = true;
        DestroyWindow(hwnd);
      }
      return 0;
    case WM_CLOSE:
      if (s) s->done = true;
      DestroyWindow(hwnd);
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace

std::optional<std::string> ChooseFromList(const std::string& title, const std::vector<std::string>& names) {
  static const char* kClass = "KDOHostSelector";
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DialogProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClass;
    registered = RegisterClassA(&wc) != 0;
  }
  State state;
  HWND owner = GetActiveWindow();
  HWND dialog = CreateWindowExA(WS_EX_DLGMODALFRAME, kClass, title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                CW_USEDEFAULT, CW_USEDEFAULT, 300, 320, owner, nullptr, GetModuleHandleA(nullptr),
                                nullptr);
  if (!dialog) return std::nullopt;
  SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  state.list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", nullptr,
                               WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | WS_TABSTOP, 8, 8, 276, 236, dialog,
                               reinterpret_cast<HMENU>(kList), nullptr, nullptr);
  HWND ok = CreateWindowExA(0, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 128, 252, 75, 23, dialog,
                            reinterpret_cast<HMENU>(kOk), nullptr, nullptr);
  HWND cancel = CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE, 209, 252, 75, 23, dialog,
                                reinterpret_cast<HMENU>(kCancel), nullptr, nullptr);
  for (HWND w : {state.list, ok, cancel}) SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  for (const std::string& n : names) SendMessageA(state.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(n.c_str()));
  SendMessageA(state.list, LB_SETCURSEL, 0, 0);
  if (owner) EnableWindow(owner, FALSE);
  ShowWindow(dialog, SW_SHOW);
  MSG msg;
  while (!state.done && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageA(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  if (owner) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
  }
  return state.picked;
}

}  // namespace host
