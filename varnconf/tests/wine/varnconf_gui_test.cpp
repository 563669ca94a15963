// Varnconf.exe's configuration of entries, driven from outside under Wine.
#include <algorithm>
#include <string>
#include <vector>

#include "common/registry/win32/win32_registry.h"
#include "testing/wine/wine_support.h"
#include "varnconf/tests/wine/varnconf_driver.h"

namespace {

using namespace varnconf_test;

const char kNewTitle[] = "Create a new device... ";

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
  Press(main_, kNew);
  HWND dialog = WaitForWindow(kNewTitle);
  ASSERT_NE(dialog, nullptr);
  SetDlgItemTextA(dialog, kNewName, "Till 2");
  Choose(dialog, 1011, 1);  // Handheld
  Choose(dialog, 1009, 5);  // COM6
  Press(dialog, IDOK);
  ASSERT_TRUE(wine::PumpUntil([&] { return !IsWindow(dialog); }, 5000));
  wine::PumpUntil([&] { return SelectedText(kDevices) == "Till 2"; }, 2000);
  EXPECT_EQ(SelectedText(kDevices), "Till 2");
  EXPECT_EQ(Value("Till 2", "Type"), "Handheld");
  EXPECT_EQ(Value("Till 2", "Port"), "COM6");
  EXPECT_TRUE(Visible(kAutoScan));

  Press(main_, kNew);
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

// On 64-bit Windows the program, a 32-bit one, keeps the device entries
// of the 64-bit view the same as those of its own: the first start, New,
// a change and Delete are seen in both.
TEST_F(VarnconfTest, EntriesAreKeptTheSameInBothRegistryViews) {
  if (!reg::RunsUnderWow64()) {
    GTEST_SKIP() << "32-bit Windows has one registry view";
  }
  wine::DeleteKeyTree(HKEY_LOCAL_MACHINE, kRoot, KEY_WOW64_64KEY);
  // The two views are apart: what one holds the other does not show.
  wine::WriteDeviceEntry("Marker", {wine::Text("", "OTHER.ScannerSO")},
                         KEY_WOW64_32KEY);
  ASSERT_EQ(Value("Marker", "", KEY_WOW64_64KEY), "<missing>");

  auto inBoth = [](const std::string& device, const char* name) {
    const std::string own = Value(device, name, KEY_WOW64_32KEY);
    const std::string other = Value(device, name, KEY_WOW64_64KEY);
    return own == other ? own : own + " | 64-bit view: " + other;
  };
  Start();
  for (const char* name : {"", "Type", "Port", "Compatibility", "Service",
                           "Configuration", "UserID"}) {
    EXPECT_EQ(inBoth("LX410", name), Value("LX410", name)) << name;
  }
  Press(main_, kNew);
  HWND dialog = WaitForWindow(kNewTitle);
  ASSERT_NE(dialog, nullptr);
  SetDlgItemTextA(dialog, kNewName, "Till 2");
  Choose(dialog, 1011, 1);  // Handheld
  Press(dialog, IDOK);
  wine::PumpUntil([&] { return SelectedText(kDevices) == "Till 2"; }, 5000);
  EXPECT_EQ(inBoth("Till 2", "Type"), "Handheld");
  Choose(main_, kPort, 2);
  EXPECT_EQ(inBoth("Till 2", "Port"), "COM3");
  Click(main_, kDelete);
  EXPECT_EQ(inBoth("Till 2", ""), "<missing>");
  EXPECT_EQ(inBoth("LX410", ""), "TALSCAN.ScannerSO");
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

// The control that has the keyboard in the program's window.
int FocusedId(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0;
}

TEST_F(VarnconfTest, TabWalksTheControlsInOrderAndAltF4Ends) {
  Start();
  std::vector<int> order = {FocusedId(main_)};
  for (int i = 0; i < 9; ++i) {
    HWND focused = Control(main_, order.back());
    PostMessageA(focused, WM_KEYDOWN, VK_TAB, 0);
    wine::PumpUntil([&] { return FocusedId(main_) != order.back(); }, 2000);
    order.push_back(FocusedId(main_));
  }
  EXPECT_EQ(order, (std::vector<int>{kDevices, kNew, kDelete, kType,
                                     kCompatibility, kPort, kSetup, kTestDevice,
                                     kQuit, kDevices}))
      << "the hidden AutoScan box is passed over";
  // Alt+F4 on a button (Wine's drop-down lists keep Alt keys to
  // themselves).
  PostMessageA(Control(main_, kQuit), WM_SYSKEYDOWN, VK_F4, 1 << 29);
  EXPECT_EQ(ExitCode(), 0);
}

TEST_F(VarnconfTest, NamesThatCannotBeAnEntryAreRefusedWithAMessage) {
  Start();
  Press(main_, kNew);
  HWND dialog = WaitForWindow(kNewTitle);
  ASSERT_NE(dialog, nullptr);
  SetDlgItemTextA(dialog, kNewName, "a\\b");
  Press(dialog, IDOK);
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
  Press(main_, kDelete);
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

TEST_F(VarnconfTest, HostileEntriesAreReadSafelyAndOnlyListedOnesWritten) {
  // Thousands of other drivers' entries.
  for (int i = 0; i < 3000; ++i) {
    HKEY key = nullptr;
    const std::string path = std::string(kRoot) + "\\Other" + std::to_string(i);
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  wine::WriteStandardEntry("A first", "Omni-directional Laser", "COM1");
  const std::string longName(200, 'n');
  const std::string longValueName(1024, 'v');
  wine::WriteDeviceEntry(
      "Odd",
      {wine::Text("", "TALSCAN.ScannerSO"),
       {"Type", REG_BINARY, "Handheld"},  // no NUL, and not a string
       wine::Text("Port", "COM3"),        // written without its NUL
       wine::Text("Compatibility", std::string(2000, 'K')),
       wine::Text(longValueName, std::string(1024, 'x')),
       {"AutoScan", REG_SZ, "1"}});
  wine::WriteDeviceEntry(longName, {wine::Text("", "TALSCAN.ScannerSO")});
  // Begins with the ProgID but is longer than any reader takes.
  wine::WriteDeviceEntry("Huge", {wine::Text("", "TALSCAN.ScannerSO" +
                                                     std::string(1500, ' '))});
  Start();
  std::vector<std::string> listed = Items(kDevices);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"A first", "Odd", longName}));
  ASSERT_EQ(SelectedText(kDevices), "A first") << "the start rewrote it alone";
  const std::vector<std::string> items = Items(kDevices);
  Choose(main_, kDevices,
         static_cast<int>(std::find(items.begin(), items.end(), "Odd") -
                          items.begin()));
  EXPECT_EQ(SelectedText(kType), "Handheld");
  EXPECT_EQ(SelectedText(kPort), "COM3");
  EXPECT_EQ(Selection(kCompatibility), -1) << "too long: passed over";
  EXPECT_FALSE(IsDlgButtonChecked(main_, kAutoScan)) << "'1' is 49, not 0-2";
  Choose(main_, kPort, 1);
  EXPECT_EQ(Value("Odd", "Port"), "COM2");
  EXPECT_EQ(Value("Odd", "Type"), "Handheld");
  EXPECT_EQ(Value(longName, ""), "TALSCAN.ScannerSO");
  for (const char* other : {"Other0", "Other1234", "Other2999", "Huge"}) {
    EXPECT_EQ(Value(other, "Service"), "<missing>") << other;
  }
}

// Longer than the 256-byte buffer the path once went into, and still
// within MAX_PATH, which programs can start from.
TEST_F(VarnconfTest, AProgramPathLongerThan256BytesIsUsedWhole) {
  std::string folder = "C:";
  for (int length : {60, 60, 60, 59}) {
    folder += "\\" + std::string(length, static_cast<char>('a' + length % 7));
    CreateDirectoryA(folder.c_str(), nullptr);
  }
  const std::string program = folder + "\\Varnconf.exe";
  const std::string library = folder + "\\TALSCAN.dll";
  ASSERT_EQ(program.size(), 258u);
  ASSERT_TRUE(CopyFileA(DefaultProgram().c_str(), program.c_str(), FALSE));
  ASSERT_TRUE(CopyFileA((wine::ProgramFolder() + "TALSCAN.dll").c_str(),
                        library.c_str(), FALSE));
  Start(program);
  EXPECT_EQ(Value("LX410", "Service"), library);
  EXPECT_EQ(wine::DefaultValue(HKEY_CLASSES_ROOT,
                               "CLSID\\{3C11BE62-5309-11D6-8E44-0050DAC580E1}"
                               "\\InprocServer32"),
            library);
  PostMessageA(main_, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(ExitCode(), 0);
  DeleteFileA(program.c_str());
  DeleteFileA(library.c_str());
  for (int depth = 0; depth < 4; ++depth) {
    RemoveDirectoryA(folder.c_str());
    folder.erase(folder.find_last_of('\\'));
  }
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
