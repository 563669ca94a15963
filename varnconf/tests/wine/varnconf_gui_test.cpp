// Varnconf.exe driven from outside under Wine, as an administrator uses it:
// its windows found by title, controls worked by id with the notifications
// real input sends, what they show read back, and the registry checked.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "testing/wine/wine_support.h"

namespace {

const char kRoot[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner";
const char kMainTitle[] = "Ravelconf 1.9.1";
const char kNewTitle[] = "Create a new device... ";

enum Id {
  kDelete = 1003,
  kNew = 1004,
  kNewName = 1007,
  kDevices = 1009,
  kType = 1011,
  kPort = 1014,
  kAutoScan = 1016,
  kSetup = 1017,
  kQuit = 1020,
  kCompatibility = 1021,
};

std::string Value(const std::string& device, const char* name) {
  char data[1100] = {};
  DWORD size = sizeof data - 1;
  DWORD type = REG_NONE;
  const std::string path = std::string(kRoot) + "\\" + device;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name,
                   RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                   &size) != ERROR_SUCCESS) {
    return "<missing>";
  }
  std::string value(data, size);
  // The terminating NUL that reading a REG_SZ adds.
  if (type == REG_SZ && !value.empty() && value.back() == '\0') {
    value.pop_back();
  }
  return value;
}

HWND WaitForWindow(const char* title, DWORD timeoutMs = 10000) {
  HWND window = nullptr;
  // Shown once its initialisation has run.
  wine::PumpUntil(
      [&] {
        window = FindWindowA("#32770", title);
        return window != nullptr && IsWindowVisible(window);
      },
      timeoutMs);
  return window;
}

class VarnconfTest : public ::testing::Test {
 protected:
  void SetUp() override { wine::DeleteKeyTree(HKEY_LOCAL_MACHINE, kRoot); }
  void TearDown() override {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      if (main_) PostMessageA(main_, WM_COMMAND, IDCANCEL, 0);
      if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 1);
      }
    }
    CloseHandle(process_);
  }

  void Start() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string line = "\"" + wine::ProgramFolder() + "Varnconf.exe\"";
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    main_ = WaitForWindow(kMainTitle);
    ASSERT_NE(main_, nullptr) << "the main dialog did not appear";
  }
  int ExitCode(DWORD timeoutMs = 10000) {
    DWORD code = 12345;
    if (WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process_, &code);
    }
    return static_cast<int>(code);
  }

  HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }
  int Selection(int id) {
    return static_cast<int>(
        SendMessageA(Control(main_, id), CB_GETCURSEL, 0, 0));
  }
  // A list entry's text; asked for in UTF-16, which crosses between
  // processes whatever the list keeps.
  std::string ItemText(int id, int index) {
    WCHAR text[1100] = {};
    SendMessageW(Control(main_, id), CB_GETLBTEXT, index,
                 reinterpret_cast<LPARAM>(text));
    char ansi[2200] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof ansi, nullptr,
                        nullptr);
    return ansi;
  }
  std::string SelectedText(int id) {
    const int index = Selection(id);
    return index < 0 ? "" : ItemText(id, index);
  }
  std::vector<std::string> Items(int id) {
    std::vector<std::string> items;
    const int count =
        static_cast<int>(SendMessageA(Control(main_, id), CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) items.push_back(ItemText(id, i));
    return items;
  }
  // As a user's choice in the list: the selection, then its notification.
  void Choose(HWND dialog, int id, int index) {
    SendMessageA(Control(dialog, id), CB_SETCURSEL, index, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Control(dialog, id)));
  }
  void Click(HWND dialog, int id) {
    SendMessageA(Control(dialog, id), BM_CLICK, 0, 0);
  }
  bool Visible(int id) { return IsWindowVisible(Control(main_, id)) != 0; }
  bool Enabled(int id) { return IsWindowEnabled(Control(main_, id)) != 0; }

  HANDLE process_ = nullptr;
  HWND main_ = nullptr;
};

TEST_F(VarnconfTest, FirstStartCreatesTheDefaultEntryAndShowsIt) {
  Start();
  EXPECT_EQ(Items(kDevices), std::vector<std::string>{"LX410"});
  EXPECT_EQ(SelectedText(kDevices), "LX410");
  EXPECT_EQ(SelectedText(kType), "Omni-directional Laser");
  EXPECT_EQ(SelectedText(kPort), "COM1");
  EXPECT_EQ(SelectedText(kCompatibility), "KORVA");
  EXPECT_FALSE(Visible(kAutoScan));
  EXPECT_EQ(Value("LX410", ""), "TALSCAN.ScannerSO");
  EXPECT_EQ(Value("LX410", "Type"), "Omni-directional Laser");
  EXPECT_EQ(Value("LX410", "Service"), wine::ProgramFolder() + "TALSCAN.dll");
  EXPECT_EQ(Value("LX410", "Version"), "1.9.0");
}

TEST_F(VarnconfTest, OtherDriversEntriesAreNeitherListedNorWritten) {
  wine::WriteStandardEntry("Till", "Handheld", "com3");
  wine::WriteDeviceEntry(
      "Other", {wine::Text("", "OTHER.ScannerSO"), wine::Text("Port", "COM2")});
  wine::WriteDeviceEntry("Lower", {wine::Text("", "talscan.scannerso"),
                                   wine::Text("Port", "COM2")});
  Start();
  EXPECT_EQ(Items(kDevices), std::vector<std::string>{"Till"});
  EXPECT_EQ(SelectedText(kPort), "COM3") << "prefix search without case";
  EXPECT_EQ(Value("Till", "Port"), "COM3") << "the start rewrites it";
  EXPECT_EQ(Value("Other", "Service"), "<missing>");
  EXPECT_EQ(Value("Lower", "Service"), "<missing>");
}

TEST_F(VarnconfTest, TypeRulesShowAutoScanAndDisableTheSerialControlsForUsb) {
  Start();
  Choose(main_, kType, 1);  // Handheld
  EXPECT_TRUE(Visible(kAutoScan));
  Click(main_, kAutoScan);
  EXPECT_EQ(Value("LX410", "AutoScan"), std::string("\x01\0\0\0", 4));
  Choose(main_, kType, 3);  // OPOS USB Scanner
  EXPECT_FALSE(Visible(kAutoScan));
  EXPECT_FALSE(Enabled(kPort));
  EXPECT_FALSE(Enabled(kCompatibility));
  EXPECT_FALSE(Enabled(kSetup));
  EXPECT_EQ(Value("LX410", "Type"), "OPOS USB Scanner");
  EXPECT_EQ(Value("LX410", "AutoScan"), std::string("\x01\0\0\0", 4))
      << "written while hidden";
  Choose(main_, kPort, 4);
  EXPECT_EQ(Value("LX410", "Port"), "COM5");
}

TEST_F(VarnconfTest, NewCreatesAndSelectsTheEntryAndEscapeCancels) {
  Start();
  PostMessageA(Control(main_, kNew), BM_CLICK, 0, 0);
  HWND dialog = WaitForWindow(kNewTitle);
  ASSERT_NE(dialog, nullptr);
  SetDlgItemTextA(dialog, kNewName, "Till 2");
  Choose(dialog, 1011, 1);  // Handheld
  Choose(dialog, 1009, 5);  // COM6
  PostMessageA(Control(dialog, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(wine::PumpUntil([&] { return !IsWindow(dialog); }, 5000));
  wine::PumpUntil([&] { return SelectedText(kDevices) == "Till 2"; }, 2000);
  EXPECT_EQ(SelectedText(kDevices), "Till 2");
  EXPECT_EQ(Value("Till 2", "Type"), "Handheld");
  EXPECT_EQ(Value("Till 2", "Port"), "COM6");
  EXPECT_TRUE(Visible(kAutoScan));

  PostMessageA(Control(main_, kNew), BM_CLICK, 0, 0);
  dialog = WaitForWindow(kNewTitle);
  ASSERT_NE(dialog, nullptr);
  SetDlgItemTextA(dialog, kNewName, "Cancelled");
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(wine::PumpUntil([&] { return !IsWindow(dialog); }, 5000));
  EXPECT_EQ(Value("Cancelled", ""), "<missing>");
  EXPECT_EQ(Items(kDevices).size(), 2u);
}

TEST_F(VarnconfTest, DeleteSelectsTheFirstRemainingEntry) {
  wine::WriteStandardEntry("A", "Handheld", "COM1");
  wine::WriteStandardEntry("B", "OPOS USB Scanner", "COM2");
  Start();
  Click(main_, kDelete);
  EXPECT_EQ(Value("A", ""), "<missing>");
  EXPECT_EQ(Items(kDevices), std::vector<std::string>{"B"});
  EXPECT_EQ(SelectedText(kDevices), "B");
  EXPECT_EQ(SelectedText(kType), "OPOS USB Scanner");
}

TEST_F(VarnconfTest, QuitEndsTheProgram) {
  Start();
  Click(main_, kQuit);
  EXPECT_EQ(ExitCode(), 0);
}

}  // namespace
