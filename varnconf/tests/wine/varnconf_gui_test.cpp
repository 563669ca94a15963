// Varnconf.exe driven from outside under Wine, as an administrator uses it:
// its windows found by title, controls worked by id with the notifications
// real input sends, what they show read back, and the registry checked.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
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

  void Launch(const std::string& program) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string line = "\"" + program + "\" any arguments";
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    process_ = info.hProcess;
  }
  void Start(const std::string& program = wine::ProgramFolder() +
                                          "Varnconf.exe") {
    Launch(program);
    main_ = WaitForWindow(kMainTitle);
    ASSERT_NE(main_, nullptr) << "the main dialog did not appear";
  }
  // The text of the message box captioned "Varnconf", answered with OK;
  // empty when none came.
  std::string AnswerBox() {
    HWND box = WaitForWindow("Varnconf", 10000);
    if (box == nullptr) return "";
    char text[1024] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return text;
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

TEST_F(VarnconfTest, StoredTextsThatNoListEntryBeginsWithSelectNothing) {
  wine::WriteStandardEntry("A", "Model 88 Series", "COM10");
  wine::WriteStandardEntry("B", "Handheld", "COM");
  Start();
  EXPECT_EQ(Selection(kType), -1);
  EXPECT_EQ(Selection(kPort), -1);
  EXPECT_EQ(Value("A", "Type"), "") << "the start rewrote what it showed";
  Choose(main_, kDevices, 1);
  EXPECT_EQ(SelectedText(kType), "Handheld");
  EXPECT_EQ(SelectedText(kPort), "COM1");
  EXPECT_TRUE(Visible(kAutoScan));
  EXPECT_EQ(Value("B", "Port"), "COM") << "selecting an entry writes nothing";
}

TEST_F(VarnconfTest, TheCloseBoxEndsTheProgram) {
  Start();
  PostMessageA(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(ExitCode(), 0);
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

TEST_F(VarnconfTest, EnterAndEscapeEndTheProgramAndTheAboutBoxOpens) {
  Start();
  PostMessageA(main_, WM_SYSCOMMAND, 0x10, 0);
  HWND about = WaitForWindow("About Varnconf");
  ASSERT_NE(about, nullptr);
  std::vector<std::string> texts;
  for (HWND child = GetWindow(about, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char text[64] = {};
    GetWindowTextA(child, text, sizeof text);
    texts.push_back(text);
  }
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Version 2.0.0.3"),
            texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Varnconf"), texts.end());
  PostMessageA(about, WM_COMMAND, IDCANCEL, 0);  // Escape
  ASSERT_TRUE(wine::PumpUntil([&] { return !IsWindow(about); }, 5000));
  PostMessageA(main_, WM_COMMAND, IDOK, 0);  // Enter
  EXPECT_EQ(ExitCode(), 0);
}

TEST_F(VarnconfTest, NamesThatCannotBeAnEntryAreRefusedWithAMessage) {
  Start();
  PostMessageA(Control(main_, kNew), BM_CLICK, 0, 0);
  HWND dialog = WaitForWindow(kNewTitle);
  ASSERT_NE(dialog, nullptr);
  SetDlgItemTextA(dialog, kNewName, "a\\b");
  PostMessageA(Control(dialog, IDOK), BM_CLICK, 0, 0);
  EXPECT_NE(AnswerBox().find("backslash"), std::string::npos);
  EXPECT_EQ(Value("a", ""), "<missing>");
  EXPECT_EQ(Items(kDevices), std::vector<std::string>{"LX410"});
}

TEST_F(VarnconfTest, DeletingEveryEntryLeavesButtonsThatTouchNothing) {
  Start();
  Click(main_, kDelete);
  ASSERT_TRUE(Items(kDevices).empty());
  Choose(main_, kType, 1);
  Choose(main_, kPort, 2);
  EXPECT_EQ(Value("LX410", ""), "<missing>");
  PostMessageA(Control(main_, kDelete), BM_CLICK, 0, 0);
  EXPECT_NE(AnswerBox().find("no device"), std::string::npos);
  HKEY root = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRoot, 0, KEY_READ, &root),
            ERROR_SUCCESS);
  DWORD values = 1;
  RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(root);
  EXPECT_EQ(values, 0u) << "nothing is written to the Scanner key itself";
}

// Varnconf.exe copied alone into a folder, with what stands there as
// TALSCAN.dll: nothing, a damaged file, or a library without the export.
class VarnconfRegistrationTest : public VarnconfTest {
 protected:
  void SetUp() override {
    VarnconfTest::SetUp();
    CreateDirectoryA(kFolder, nullptr);
    ASSERT_TRUE(CopyFileA((wine::ProgramFolder() + "Varnconf.exe").c_str(),
                          (std::string(kFolder) + "\\Varnconf.exe").c_str(),
                          FALSE));
  }
  void TearDown() override {
    VarnconfTest::TearDown();
    DeleteFileA((std::string(kFolder) + "\\Varnconf.exe").c_str());
    DeleteFileA((std::string(kFolder) + "\\TALSCAN.dll").c_str());
    RemoveDirectoryA(kFolder);
  }
  static constexpr char kFolder[] = "C:\\varnconf-alone";
};

TEST_F(VarnconfTest, StartedFromADriveRootTheServiceIsAtTheRoot) {
  const std::string program = "C:\\Varnconf.exe";
  const std::string library = "C:\\TALSCAN.dll";
  ASSERT_TRUE(CopyFileA((wine::ProgramFolder() + "Varnconf.exe").c_str(),
                        program.c_str(), FALSE));
  ASSERT_TRUE(CopyFileA((wine::ProgramFolder() + "TALSCAN.dll").c_str(),
                        library.c_str(), FALSE));
  Start(program);
  EXPECT_EQ(Value("LX410", "Service"), library);
  PostMessageA(main_, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(ExitCode(), 0);
  DeleteFileA(program.c_str());
  DeleteFileA(library.c_str());
  // Registered from there: put the build's registration back.
  ASSERT_EQ(wine::RegisterLibrary(wine::ProgramFolder() + "TALSCAN.dll"), S_OK);
}

TEST_F(VarnconfRegistrationTest, ALibraryThatIsMissingOrCannotRegisterEndsIt) {
  const std::string program = std::string(kFolder) + "\\Varnconf.exe";
  const std::string library = std::string(kFolder) + "\\TALSCAN.dll";
  const struct {
    const char* what;
    const char* message;
  } cases[] = {
      {"missing",
       "Missing file:\nTALSCAN.dll\n\nPlease reinstall the KORVA OPOS Driver."},
      {"damaged", "Failed to register OPOS Scanner Service Object DLL."},
      {"no export", "Failed to register OPOS Scanner Service Object DLL."},
  };
  for (const auto& c : cases) {
    const std::string what = c.what;
    if (what == "damaged") {
      HANDLE file = CreateFileA(library.c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr);
      DWORD written = 0;
      WriteFile(file, "not a library", 13, &written, nullptr);
      CloseHandle(file);
    } else if (what == "no export") {
      ASSERT_TRUE(
          CopyFileA((wine::ProgramFolder() + "KorvaJposUsb.dll").c_str(),
                    library.c_str(), FALSE));
    }
    Launch(program);
    EXPECT_EQ(AnswerBox(), c.message) << what;
    EXPECT_EQ(ExitCode(), 0) << what;
    EXPECT_EQ(FindWindowA("#32770", kMainTitle), nullptr) << what;
    CloseHandle(process_);
    process_ = nullptr;
  }
  EXPECT_EQ(Value("LX410", ""), "<missing>") << "no entry was listed or made";
}

}  // namespace
