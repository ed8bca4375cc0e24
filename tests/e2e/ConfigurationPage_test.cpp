// The configuration page as a real window under Wine and Xvfb: its child
// windows, their classes, texts, places and sizes, clicks with real mouse
// messages, a pick through the stand-in selector, and a screenshot.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <map>
#include <string>

#include "host/HostSelector.h"
#include "host/KDOHost.h"
#include "LoadedModule.h"
#include "ModuleUnderTest.h"
#include "SettingsKeys.h"
#include "control/Device.WinampControl_Types.h"
#include "host/win32/CommittedMemory.h"
#include "host/win32/ModuleLibrary.h"
#include "host/win32/Screenshot.h"

namespace {

struct Child {
  HWND hwnd;
  std::string cls, text, parent;
  RECT rect;  // in the parent's client coordinates
  int tag;
  std::string hint;
};

std::string Name(HWND w) {
  const char* n = static_cast<const char*>(GetPropA(w, "KDOName"));
  return n ? n : "";
}

BOOL CALLBACK AddChild(HWND w, LPARAM lp) {
  auto& map = *reinterpret_cast<std::map<std::string, Child>*>(lp);
  Child c{w, {}, {}, {}, {}, 0, {}};
  char buf[256];
  GetClassNameA(w, buf, sizeof buf);
  c.cls = buf;
  GetWindowTextA(w, buf, sizeof buf);
  c.text = buf;
  HWND parent = GetParent(w);
  c.parent = Name(parent);
  GetWindowRect(w, &c.rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&c.rect), 2);
  c.tag = int(reinterpret_cast<intptr_t>(GetPropA(w, "KDOTag")));
  if (const char* h = static_cast<const char*>(GetPropA(w, "KDOHint"))) c.hint = h;
  map[Name(w)] = c;
  return TRUE;
}

// Every descendant window of the form, by component name.
std::map<std::string, Child> Walk(HWND form) {
  std::map<std::string, Child> out;
  EnumChildWindows(form, AddChild, reinterpret_cast<LPARAM>(&out));
  return out;
}

void ClickWithMouse(HWND w) {
  SendMessageA(w, WM_MOUSEMOVE, 0, MAKELPARAM(4, 4));
  SendMessageA(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  SendMessageA(w, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}

class PageE2E : public LoadedModuleTest {
 protected:
  static constexpr uint16_t kId = 41001;
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(LoadedModuleTest::SetUp());
    const std::vector<std::string> keys = testdata::SettingsKeys();
    values = {"C:\\nowhere\\winamp.exe", "Pos",   "Len",    "File",  "Title", "Vol",
              "Shuf",                    "Rep", "State", "Artist", "Album", "Cover"};
    for (std::size_t i = 0; i < keys.size(); ++i) server.SetSetting(kId, "Settings", keys[i], values[i]);
    ASSERT_EQ(server.CreateInstance(info->ModuleID, kId), KDO_S_OK);
    module = server.Instance(kId);
  }
  void TearDown() override {
    LoadedModuleTest::TearDown();
    EXPECT_EQ(FindWindowA("KDOForm", nullptr), nullptr) << "no window left behind";
  }
  HWND FormWindow() { return FindWindowA("KDOForm", "WinAmp Control - Configuration"); }
  std::vector<std::string> Settings() {
    TKDORef<IKDOWinampControl> c;
    module->QueryInterface(IID_IKDOWinampControl, c.put());
    TKDOWinampControlSettings s;
    c->GetSettings(&s);
    std::vector<std::string> t;
    for (const TKDOSettingsKey& row : KDOWinampControlSettingsKeys)
      if (row.Record) t.push_back((s.*row.Record).str());
    return t;
  }

  host::Selector selector{server};
  IKDOModule* module = nullptr;
  std::vector<std::string> values;
};

TEST_F(PageE2E, TheRealWindowMatchesTheLayout) {
  ASSERT_EQ(module->ShowConfigurationPage(), KDO_S_OK);
  HWND form = FormWindow();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(IsWindowVisible(form));
  RECT client;
  GetClientRect(form, &client);
  EXPECT_EQ(client.right, 422);
  EXPECT_EQ(client.bottom, 593);
  const LONG style = GetWindowLongA(form, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU) << "a close box";
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));

  auto children = Walk(form);
  struct Row {
    const char* name;
    const char* cls;
    const char* parent;
    const char* text;
    RECT rect;
  };
  const Row rows[] = {
      {"pTop", "KDOContainer", "frmPropertyPage", "", {0, 0, 422, 65}},
      {"Image1", "Static", "pTop", "", {16, 8, 48, 40}},
      {"Label1", "Static", "pTop", "WinAmp Control - Configuration", {72, 8, 250, 21}},
      {"Label2", "Static", "pTop", "You need a new WinAmp Location ", {88, 24, 256, 37}},
      {"Label3", "Static", "pTop", "for each WinAmp Control Instance", {88, 40, 250, 53}},
      {"Bevel2", "KDOBevel", "pTop", "", {0, 63, 422, 65}},
      {"GroupBox1", "KDOContainer", "frmPropertyPage", "WinAmp Player Location", {8, 80, 414, 153}},
      {"Label6", "Static", "GroupBox1", "Location:", {16, 36, 60, 49}},
      {"edLocation", "Edit", "GroupBox1", "C:\\nowhere\\winamp.exe", {88, 32, 358, 53}},
      {"btnSelectWinamp", "KDOSpeedButton", "GroupBox1", "", {367, 32, 390, 54}},
      {"GroupBox2", "KDOContainer", "frmPropertyPage", "Player Status", {8, 168, 414, 557}},
      {"btnApply", "KDOSpeedButton", "frmPropertyPage", "Apply", {336, 563, 414, 585}},
      {"btnOK", "KDOSpeedButton", "frmPropertyPage", "OK", {257, 563, 330, 585}},
  };
  for (const Row& r : rows) {
    ASSERT_TRUE(children.count(r.name)) << r.name;
    const Child& c = children[r.name];
    EXPECT_STRCASEEQ(c.cls.c_str(), r.cls) << r.name;
    EXPECT_EQ(c.parent, r.parent) << r.name;
    EXPECT_EQ(c.text, r.text) << r.name;
    EXPECT_EQ(c.rect.left, r.rect.left) << r.name;
    EXPECT_EQ(c.rect.top, r.rect.top) << r.name;
    if (c.cls == "Static" && !c.text.empty()) {
      EXPECT_GE(c.rect.right, r.rect.right) << r.name << ": labels grow to their text, never shrink";
    } else {
      EXPECT_EQ(c.rect.right, r.rect.right) << r.name;
    }
    EXPECT_EQ(c.rect.bottom, r.rect.bottom) << r.name;
  }
  // The eleven rows of the player status.
  const std::tuple<int, const char*, const char*, const char*, int, const char*> statusRows[] = {
      {32, "Label4", "Track Pos:", "edTrackPos", 1, "btnSelectVar1"},
      {64, "Label7", "Track Len:", "edTrackLen", 2, "btnSelectVar2"},
      {96, "Label10", "Track File:", "edTrackFile", 6, "SpeedButton4"},
      {128, "Label11", "Track Title:", "edTrackTitle", 7, "SpeedButton5"},
      {160, "Label5", "Volume:", "edVolume", 3, "SpeedButton1"},
      {192, "Label8", "Shuffle:", "edShuffle", 4, "SpeedButton2"},
      {224, "Label9", "Repeat:", "edRepeat", 5, "SpeedButton3"},
      {256, "Label12", "Play State:", "edPlayState", 8, "SpeedButton6"},
      {288, "Label13", "Artist:", "edArtist", 9, "SpeedButton7"},
      {320, "Label14", "Album:", "edAlbum", 10, "SpeedButton8"},
      {352, "Label15", "Cover:", "edCover", 11, "SpeedButton9"},
  };
  for (const auto& [top, label, caption, edit, tag, button] : statusRows) {
    EXPECT_EQ(children[label].text, caption);
    EXPECT_EQ(children[label].rect.left, 16);
    EXPECT_EQ(children[label].rect.top, top + 4);
    EXPECT_EQ(children[edit].parent, "GroupBox2");
    EXPECT_EQ(children[edit].rect.left, 88);
    EXPECT_EQ(children[edit].rect.top, top);
    EXPECT_EQ(children[edit].rect.right - children[edit].rect.left, 270);
    EXPECT_EQ(children[edit].rect.bottom - children[edit].rect.top, 21);
    EXPECT_FALSE(IsWindowEnabled(children[edit].hwnd)) << edit;
    EXPECT_EQ(children[button].rect.left, 367);
    EXPECT_EQ(children[button].rect.top, top);
    EXPECT_EQ(children[button].tag, tag) << button;
    EXPECT_EQ(children[button].hint, "List All Variables");
  }
  EXPECT_FALSE(IsWindowEnabled(children["edLocation"].hwnd));
  EXPECT_EQ(children["btnSelectWinamp"].hint, "Select Folder");
  EXPECT_EQ(children["edVolume"].text, "Vol") << "filled from the instance";
  EXPECT_EQ(children["edPlayState"].text, "State");
  EXPECT_EQ(children["edAlbum"].text, "Album");
  EXPECT_EQ(children["edCover"].text, "Cover");

  // The edits' tab order is their z-order within the group box.
  std::vector<std::string> tabOrder;
  for (HWND w = GetWindow(children["GroupBox2"].hwnd, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
    if (children[Name(w)].cls == "Edit") tabOrder.push_back(Name(w));
  EXPECT_EQ(tabOrder, (std::vector<std::string>{"edTrackPos", "edTrackLen", "edVolume", "edShuffle", "edRepeat",
                                                "edTrackFile", "edTrackTitle", "edPlayState", "edArtist",
                                                "edAlbum", "edCover"}));

  host::PumpMessages(300);
  EXPECT_TRUE(host::SaveWindowPng(form, "configuration-page.png"));
  module->HideConfigurationPage();
  EXPECT_EQ(FormWindow(), nullptr);
}

TEST_F(PageE2E, ApplyOkAndAPickWithRealMouseMessages) {
  ASSERT_EQ(module->ShowConfigurationPage(), KDO_S_OK);
  HWND form = FormWindow();
  ASSERT_NE(form, nullptr);
  auto children = Walk(form);

  selector.Answer = "PickedVolume";
  ClickWithMouse(children["SpeedButton1"].hwnd);
  EXPECT_EQ(selector.Filters, std::vector<uint8_t>{2}) << "integer variables";
  EXPECT_EQ(selector.Alive, 0);
  char text[64];
  GetWindowTextA(children["edVolume"].hwnd, text, sizeof text);
  EXPECT_STREQ(text, "PickedVolume");
  EXPECT_EQ(Settings()[5], "Vol") << "not yet applied";

  ClickWithMouse(children["btnApply"].hwnd);
  EXPECT_EQ(Settings()[5], "PickedVolume");
  EXPECT_TRUE(IsWindowVisible(form));

  selector.Answer = "PickedTitle";
  ClickWithMouse(children["SpeedButton5"].hwnd);
  selector.Answer = "PickedState";
  selector.Filters.clear();
  ClickWithMouse(children["SpeedButton6"].hwnd);
  EXPECT_EQ(selector.Filters, std::vector<uint8_t>{2}) << "the play state: integer variables";
  selector.Answer = "PickedAlbum";
  selector.Filters.clear();
  ClickWithMouse(children["SpeedButton8"].hwnd);
  EXPECT_EQ(selector.Filters, std::vector<uint8_t>{8}) << "the album: text variables";
  selector.Answer = "PickedCover";
  ClickWithMouse(children["SpeedButton9"].hwnd);
  ClickWithMouse(children["btnOK"].hwnd);
  EXPECT_EQ(Settings()[4], "PickedTitle");
  module->SaveSettings();
  EXPECT_EQ(server.Setting(kId, "Settings", "PlayStateVar"), "PickedState") << "OK hands the ninth over too";
  EXPECT_EQ(server.Setting(kId, "Settings", "AlbumVar"), "PickedAlbum") << "and the eleventh";
  EXPECT_EQ(server.Setting(kId, "Settings", "CoverVar"), "PickedCover") << "and the twelfth";
  EXPECT_FALSE(IsWindowVisible(form)) << "OK hides";
  EXPECT_EQ(module->GetReferenceCount(), 2) << "the hidden form still holds the instance";

  // The close box hides without applying; the next show reloads.
  module->ShowConfigurationPage();
  selector.Answer = "Dropped";
  ClickWithMouse(children["SpeedButton2"].hwnd);
  SendMessageA(form, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(form));
  module->ShowConfigurationPage();
  GetWindowTextA(children["edShuffle"].hwnd, text, sizeof text);
  EXPECT_STREQ(text, "Shuf");
  module->HideConfigurationPage();
  EXPECT_EQ(module->GetReferenceCount(), 1);
}

// The selector's modal wait lets the server act: it may hide the page, or end the instance.
TEST_F(PageE2E, HiddenOrDestroyedDuringAPickDropsTheAnswerAndLeavesNoWindow) {
  ASSERT_EQ(module->ShowConfigurationPage(), KDO_S_OK);
  bool formDuring = false;
  selector.Chooser = [&](uint8_t, const std::vector<std::string>&) -> std::optional<std::string> {
    module->HideConfigurationPage();
    formDuring = IsWindow(FormWindow()) != FALSE;
    return "Late";
  };
  ClickWithMouse(Walk(FormWindow())["SpeedButton1"].hwnd);
  EXPECT_TRUE(formDuring) << "the form outlives its own modal wait";
  EXPECT_EQ(FindWindowA("KDOForm", nullptr), nullptr);
  EXPECT_EQ(Settings()[5], "Vol");
  EXPECT_EQ(selector.Alive, 0);
  EXPECT_EQ(module->GetReferenceCount(), 1);

  ASSERT_EQ(module->ShowConfigurationPage(), KDO_S_OK);
  selector.Chooser = [&](uint8_t, const std::vector<std::string>&) -> std::optional<std::string> {
    module->HideConfigurationPage();
    server.DestroyInstance(kId);
    return "Late";
  };
  ClickWithMouse(Walk(FormWindow())["SpeedButton3"].hwnd);
  module = nullptr;
  EXPECT_EQ(server.Log().back().Text, "Interface Destroy");
  EXPECT_EQ(FindWindowA("KDOForm", nullptr), nullptr);
  EXPECT_EQ(server.Setting(kId, "Settings", "RepeatVar"), "Rep");
  EXPECT_EQ(selector.Alive, 0);
}

// Every icon, bitmap, brush and font a show creates goes with the page.
TEST_F(PageE2E, ShowAndHideCyclesLeaveCommittedMemoryFlat) {
  auto cycle = [&] {
    module->ShowConfigurationPage();
    host::PumpMessages(20);  // painted, as a user would see it
    module->HideConfigurationPage();
  };
  cycle();  // the first show loads what the process keeps (common controls, the module's resources)
  cycle();
  const std::size_t before = host::CommittedBytes();
  constexpr int kCycles = 30;
  for (int i = 0; i < kCycles; ++i) cycle();
  const std::ptrdiff_t grown = std::ptrdiff_t(host::CommittedBytes()) - std::ptrdiff_t(before);
  std::printf("committed memory after %d show/hide cycles: %+td bytes\n", kCycles, grown);
  EXPECT_LE(grown, 4 * 4096) << "within a few pages of where it started";
}

// ---------------------------------------------------------------- Windows refusing the page

BOOL CALLBACK CountPageWindow(HWND w, LPARAM lp) {
  char cls[64];
  GetClassNameA(w, cls, sizeof cls);
  if (lstrcmpiA(cls, "KDOForm") == 0 || lstrcmpiA(cls, TOOLTIPS_CLASSA) == 0) ++*reinterpret_cast<int*>(lp);
  return TRUE;
}

// The windows of this thread of the page's kinds: the form and the tooltip are top-level, the rest its children.
int PageWindowsOfThisThread() {
  int count = 0;
  EnumThreadWindows(GetCurrentThreadId(), CountPageWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

bool ClassRegistered(HINSTANCE module, const char* name) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  return GetClassInfoExA(module, name, &wc) != FALSE;
}

// Refuses, while it lives, the first window of a class that this thread creates, as a CBT hook may.
class RefuseFirstWindow {
 public:
  explicit RefuseFirstWindow(const char* cls) : hook_(SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId())) {
    target_ = cls;
    refused_ = 0;
  }
  ~RefuseFirstWindow() { UnhookWindowsHookEx(hook_); }
  RefuseFirstWindow(const RefuseFirstWindow&) = delete;
  RefuseFirstWindow& operator=(const RefuseFirstWindow&) = delete;
  bool Hooked() const { return hook_ != nullptr; }
  static int Refused() { return refused_; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_CREATEWND && refused_ == 0) {
      char cls[64];
      GetClassNameA(reinterpret_cast<HWND>(wp), cls, sizeof cls);
      if (lstrcmpiA(cls, target_) == 0) {
        ++refused_;
        return 1;
      }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }
  static inline const char* target_ = "";
  static inline int refused_ = 0;
  HHOOK hook_;
};

// A refused window class or window is never passed over: the show answers E_FAIL with the
// guard's one line naming its entry, and nothing of the page stays, neither a window nor a
// class nor the page's hold on the instance; the next show builds the page whole. Refused: a
// class whose name is taken for the library before the page registers it, and the first edit
// field, which comes after the form, the tooltip, the containers and the buttons.
TEST_F(PageE2E, ARefusedWindowClassOrWindowIsReportedAndLeavesNothingBehind) {
  const HINSTANCE dll = GetModuleHandleA(WAC_DLL_NAME);
  ASSERT_NE(dll, nullptr);
  for (const bool refuseClass : {true, false}) {
    SCOPED_TRACE(refuseClass ? "a class refused" : "a window refused halfway");
    ASSERT_FALSE(ClassRegistered(dll, "KDOForm"));
    const int before = PageWindowsOfThisThread();
    if (refuseClass) {
      WNDCLASSEXA taken{};
      taken.cbSize = sizeof taken;
      taken.hInstance = dll;
      taken.lpfnWndProc = DefWindowProcA;
      taken.lpszClassName = "KDOSpeedButton";
      ASSERT_NE(RegisterClassExA(&taken), 0);
    }
    server.ClearDebug();
    {
      std::optional<RefuseFirstWindow> refuse;
      if (!refuseClass) refuse.emplace("Edit");
      ASSERT_TRUE(refuseClass || refuse->Hooked());
      EXPECT_EQ(module->ShowConfigurationPage(), KDO_E_FAIL);
      if (!refuseClass) {
        EXPECT_EQ(RefuseFirstWindow::Refused(), 1);
      }
    }
    EXPECT_EQ(server.Debug(), (std::vector<host::DebugLine>{{0, "EXCEPTION", "IKDOModule.ShowConfigurationPage"}}));
    EXPECT_EQ(PageWindowsOfThisThread(), before) << "the windows made before the refusal are gone";
    EXPECT_FALSE(ClassRegistered(dll, "KDOForm")) << "registered before the refusal, unregistered again";
    EXPECT_FALSE(ClassRegistered(dll, "KDOContainer"));
    EXPECT_EQ(module->GetReferenceCount(), 1) << "no page holds the instance";

    if (refuseClass) {
      ASSERT_TRUE(UnregisterClassA("KDOSpeedButton", dll));
    }
    ASSERT_EQ(module->ShowConfigurationPage(), KDO_S_OK);
    EXPECT_TRUE(IsWindowVisible(FormWindow()));
    EXPECT_EQ(Walk(FormWindow()).size(), 46u);
    module->HideConfigurationPage();
    EXPECT_FALSE(ClassRegistered(dll, "KDOForm")) << "the last form unregisters the classes";
    EXPECT_FALSE(ClassRegistered(dll, "KDOSpeedButton"));
  }
}

// ---------------------------------------------------------------- the page at 96, 120 and 144 dpi

// The prefix's LogPixels while this lives: processes started meanwhile draw at `dpi`.
class PrefixDpi {
 public:
  explicit PrefixDpi(DWORD dpi) {
    RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                    nullptr, &key_, nullptr);
    DWORD size = sizeof old_;
    had_ = RegQueryValueExA(key_, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old_), &size) ==
           ERROR_SUCCESS;
    RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
  }
  ~PrefixDpi() {
    if (had_) {
      RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_), sizeof old_);
    } else {
      RegDeleteValueA(key_, "LogPixels");
    }
    RegCloseKey(key_);
  }
  PrefixDpi(const PrefixDpi&) = delete;
  PrefixDpi& operator=(const PrefixDpi&) = delete;

 private:
  HKEY key_ = nullptr;
  DWORD old_ = 96;
  bool had_ = false;
};

// Runs this program's test `filter` in a new process, which reads the prefix's dpi at its start.
DWORD RunChild(const std::string& filter, DWORD dpi) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string cmd = std::string("\"") + exe + "\" --gtest_also_run_disabled_tests --gtest_filter=" + filter;
  SetEnvironmentVariableA("WAC_PAGE_DPI", std::to_string(dpi).c_str());
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableA("WAC_PAGE_DPI", nullptr);
  if (!started) return DWORD(-1);
  DWORD code = DWORD(-2);
  if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  else TerminateProcess(pi.hProcess, 3);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

// One row per dpi: the list glyph's width there (its bullets and lines, 12 pixels as drawn for 16).
struct DpiRow {
  int Dpi, ListGlyphWidth;
};
constexpr DpiRow kDpiRows[] = {{96, 12}, {120, 15}, {144, 18}};

// Changes the dpi of the whole prefix for a moment: runs alone.
TEST(PageDpi, EveryChildInsideItsParentAndApartFromItsSiblingsAt96_120And144) {
  for (const DpiRow& row : kDpiRows) {
    PrefixDpi scope(DWORD(row.Dpi));
    EXPECT_EQ(RunChild("PageE2E.DISABLED_LayoutAtTheSystemDpi", DWORD(row.Dpi)), 0u) << row.Dpi << " dpi";
  }
}

// The width of what a button draws other than its face, its edge left out.
int GlyphWidth(HWND button) {
  RECT r;
  GetClientRect(button, &r);
  HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
  HGDIOBJ old = SelectObject(mem, bitmap);
  SendMessageA(button, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT);
  int first = r.right, last = -1;
  for (int y = 2; y < r.bottom - 2; ++y)
    for (int x = 2; x < r.right - 2; ++x)
      if (GetPixel(mem, x, y) != GetSysColor(COLOR_BTNFACE)) first = std::min(first, x), last = std::max(last, x);
  SelectObject(mem, old);
  DeleteObject(bitmap);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return last - first + 1;
}

// Run by the test above in a process of its own, at the dpi it names.
TEST_F(PageE2E, DISABLED_LayoutAtTheSystemDpi) {
  const char* asked = std::getenv("WAC_PAGE_DPI");
  ASSERT_NE(asked, nullptr) << "started by PageDpi";
  const int dpi = std::atoi(asked);
  const DpiRow* row =
      std::find_if(std::begin(kDpiRows), std::end(kDpiRows), [&](const DpiRow& r) { return r.Dpi == dpi; });
  ASSERT_NE(row, std::end(kDpiRows));
  HDC screen = GetDC(nullptr);
  ASSERT_EQ(GetDeviceCaps(screen, LOGPIXELSY), dpi) << "the prefix's LogPixels took effect";
  ReleaseDC(nullptr, screen);
  auto scale = [&](int v) { return MulDiv(v, dpi, 96); };

  const std::string location = "C:\\Program Files (x86)\\Winamp Living Room\\winamp.exe";
  TKDORef<IKDOWinampControl> control;
  ASSERT_EQ(module->QueryInterface(IID_IKDOWinampControl, control.put()), KDO_S_OK);
  TKDOWinampControlSettings settings;
  control->GetSettings(&settings);
  settings.WinampLocation = TKDOText(location);
  control->SetSettings(KDOSettingsValue(settings));

  ASSERT_EQ(module->ShowConfigurationPage(), KDO_S_OK);
  HWND form = FormWindow();
  ASSERT_NE(form, nullptr);
  RECT client;
  GetClientRect(form, &client);
  EXPECT_EQ(client.right, scale(422));
  EXPECT_EQ(client.bottom, scale(593));

  auto children = Walk(form);
  EXPECT_EQ(children.size(), 46u);
  for (const auto& [name, c] : children) {
    RECT parent;
    GetClientRect(GetParent(c.hwnd), &parent);
    EXPECT_TRUE(c.rect.left >= 0 && c.rect.top >= 0 && c.rect.right <= parent.right && c.rect.bottom <= parent.bottom)
        << name << " leaves " << c.parent << " at " << dpi << " dpi: " << c.rect.left << "," << c.rect.top << "-"
        << c.rect.right << "," << c.rect.bottom << " in " << parent.right << "x" << parent.bottom;
    for (const auto& [other, o] : children) {
      RECT both;
      if (name < other && o.parent == c.parent && IntersectRect(&both, &c.rect, &o.rect)) {
        ADD_FAILURE() << name << " and " << other << " overlap at " << dpi << " dpi";
      }
    }
  }
  EXPECT_EQ(children["Bevel2"].rect.bottom, children["pTop"].rect.bottom - children["pTop"].rect.top)
      << "the bevel sits on the panel's bottom edge";
  // The eleven rows, top to bottom: one step between each pair, for fields, buttons and labels alike.
  const char* rows[][3] = {{"edTrackPos", "btnSelectVar1", "Label4"}, {"edTrackLen", "btnSelectVar2", "Label7"},
                           {"edTrackFile", "SpeedButton4", "Label10"}, {"edTrackTitle", "SpeedButton5", "Label11"},
                           {"edVolume", "SpeedButton1", "Label5"},     {"edShuffle", "SpeedButton2", "Label8"},
                           {"edRepeat", "SpeedButton3", "Label9"},     {"edPlayState", "SpeedButton6", "Label12"},
                           {"edArtist", "SpeedButton7", "Label13"},    {"edAlbum", "SpeedButton8", "Label14"},
                           {"edCover", "SpeedButton9", "Label15"}};
  for (int column = 0; column < 3; ++column) {
    const int step = children[rows[1][column]].rect.top - children[rows[0][column]].rect.top;
    EXPECT_EQ(step, scale(32)) << rows[0][column];
    for (int r = 1; r < int(std::size(rows)); ++r) {
      EXPECT_EQ(children[rows[r][column]].rect.top - children[rows[r - 1][column]].rect.top, step) << rows[r][column];
      EXPECT_EQ(children[rows[r][column]].rect.bottom - children[rows[r][column]].rect.top,
                children[rows[0][column]].rect.bottom - children[rows[0][column]].rect.top)
          << rows[r][column] << ": rows of one height";
    }
  }
  // Both frames on the same edges, their fields and buttons in the same columns.
  for (const auto& [one, other] : {std::pair{"GroupBox1", "GroupBox2"}, std::pair{"edLocation", "edTrackPos"},
                                   std::pair{"btnSelectWinamp", "btnSelectVar1"}}) {
    EXPECT_EQ(children[one].rect.left, children[other].rect.left) << one << " and " << other << " at " << dpi;
    EXPECT_EQ(children[one].rect.right, children[other].rect.right) << one << " and " << other << " at " << dpi;
  }
  EXPECT_EQ(GlyphWidth(children["btnSelectVar1"].hwnd), row->ListGlyphWidth) << "the glyphs grow with the page";

  // The location, too long for its field: its start and its file name, as much as the field's real width holds.
  const Child& field = children["edLocation"];
  RECT room;
  SendMessageA(field.hwnd, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&room));
  HDC dc = GetDC(field.hwnd);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(field.hwnd, WM_GETFONT, 0, 0)));
  auto fits = [&](const std::string& s) {
    SIZE size{};
    return GetTextExtentPoint32A(dc, s.data(), int(s.size()), &size) && size.cx <= room.right - room.left;
  };
  const std::size_t dots = std::min(field.text.find("..."), field.text.size());
  EXPECT_FALSE(fits(location));
  EXPECT_TRUE(fits(field.text)) << field.text;
  EXPECT_EQ(field.text.substr(0, dots) + "...\\winamp.exe", location.substr(0, dots) + field.text.substr(dots));
  EXPECT_FALSE(fits(location.substr(0, dots + 1) + field.text.substr(dots))) << "one more character would not fit";
  SelectObject(dc, old);
  ReleaseDC(field.hwnd, dc);
  // The whole path as the tip over the field, which its frame shows: the disabled field gets no mouse.
  HWND tooltip = FindWindowExA(nullptr, nullptr, TOOLTIPS_CLASSA, nullptr);
  while (tooltip && GetWindow(tooltip, GW_OWNER) != form)
    tooltip = FindWindowExA(nullptr, tooltip, TOOLTIPS_CLASSA, nullptr);
  char tip[512] = {};
  TTTOOLINFOA tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = children["GroupBox1"].hwnd;
  tool.uId = reinterpret_cast<UINT_PTR>(field.hwnd);
  tool.lpszText = tip;
  ASSERT_TRUE(SendMessageA(tooltip, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&tool)));
  EXPECT_TRUE(EqualRect(&tool.rect, &field.rect));
  SendMessageA(tooltip, TTM_GETTEXTA, sizeof tip, reinterpret_cast<LPARAM>(&tool));
  EXPECT_EQ(std::string(tip), location);

  host::PumpMessages(300);
  EXPECT_TRUE(host::SaveWindowPng(form, "configuration-page-" + std::to_string(dpi) + ".png"));
  ClickWithMouse(children["btnApply"].hwnd);
  EXPECT_EQ(Settings()[0], location) << "the setting stays the whole path";
  module->HideConfigurationPage();
}

}  // namespace
