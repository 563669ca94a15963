// Setup Scanner and Test Device end to end: the real Varnconf.exe, the
// stand-in control object under the standard CLSID, the real TALSCAN.dll
// and the scanner simulator on COM5 (or the virtual USB scanner), all
// driven from outside.
#include "testing/wine/simulator_client.h"  // winsock2.h before windows.h

#include <string>

#include "testing/wine/virtual_scanner_client.h"
#include "testing/wine/wine_support.h"
#include "varnconf/tests/wine/varnconf_driver.h"

namespace {

using namespace varnconf_test;

constexpr char kComPort[] = "COM5";
constexpr char kDevice[] = "Till";
constexpr char kTestTitle[] = "Scanner Test ";
const char kSetupWarning[] =
    "Could not verify if scanner is setup correct. Please check, if the "
    "scanner driver is able to detect the symbology. If not, you need to "
    "setup the scanner manually by scanning 'Start of Configuration', "
    "'BarcodeID Enable', 'End of Configuration' from the User's Manual.";
// What Setup Scanner sends a Handheld scanner that answers each command.
const char kHandheldProgramming[] =
    "\x01\r\nS0680\r\n\x04\x01\r\nF0101\r\n\x04";
const char kDescription[] = "OPOS Scanner Driver, Release 2008 .";

enum TestId { kClose = 1021, kScanData = 1022, kLabel = 1023, kSymbology = 1024 };

class VarnconfScannerTest : public VarnconfTest {
 protected:
  void SetUp() override {
    VarnconfTest::SetUp();
    ASSERT_TRUE(sim.Connected()) << "run under with_simulator.sh";
    sim.OpenPort(kComPort);
  }
  void TearDown() override {
    VarnconfTest::TearDown();
    sim.ClosePort(kComPort);
    // Also after a test that took the control object away.
    wine::RegisterLibrary(wine::ProgramFolder() + "OposScannerStandIn.dll");
  }

  // The entry's description changed behind the program's back: a rewrite
  // of the entry puts it back.
  void Spoil() {
    wine::WriteDeviceEntry(kDevice, {wine::Text("Description", "spoilt")});
  }
  bool Rewritten() {
    return wine::PumpUntil(
        [&] { return Value(kDevice, "Description") == kDescription; }, 10000);
  }
  // The working controls enabled or not, all of them; AutoScan, hidden for
  // these types, counts only when they are disabled.
  bool ControlsEnabled(bool enabled) {
    for (int id : {kDevices, kType, kPort, kCompatibility, kAutoScan, kNew,
                   kDelete, kQuit, kSetup, kTestDevice}) {
      if (id == kAutoScan && enabled) continue;
      if (Enabled(id) != enabled) return false;
    }
    return true;
  }
  bool AllEnabled() { return ControlsEnabled(true); }
  bool NoneEnabled() { return ControlsEnabled(false); }
  std::string Written(size_t count) {
    std::string written;
    wine::PumpUntil(
        [&] {
          written += sim.Written(kComPort, 100, 0);
          return written.size() >= count;
        },
        15000);
    return written;
  }

  HWND OpenTest() {
    Press(main_, kTestDevice);
    test_ = WaitForWindow(kTestTitle);
    return test_;
  }
  std::string Shown(int id) {
    char text[256] = {};
    GetDlgItemTextA(test_, id, text, sizeof text);
    return text;
  }
  // The label the window shows once the scanned bytes have come.
  std::string Scan(const std::string& bytes, const std::string& label) {
    sim.Feed(kComPort, bytes);
    return ShownOnceLabelIs(label);
  }
  std::string ShownOnceLabelIs(const std::string& label) {
    wine::PumpUntil([&] { return Shown(kLabel) == label; }, 5000);
    return Shown(kScanData) + " | " + Shown(kLabel) + " | " + Shown(kSymbology);
  }
  // Test Device on an entry that cannot be opened: the box, then the
  // window with the main controls disabled until its Close.
  void FailedTestEndsWithClose(const std::string& message) {
    Press(main_, kTestDevice);
    EXPECT_EQ(AnswerBox(), message);
    test_ = WaitForWindow(kTestTitle);
    ASSERT_NE(test_, nullptr);
    EXPECT_TRUE(NoneEnabled());
    Press(test_, kClose);
    EXPECT_TRUE(wine::PumpUntil([&] { return !IsWindowVisible(test_); }, 10000));
    EXPECT_TRUE(Enabled(kTestDevice));
  }
  bool TestClosed() {
    return wine::PumpUntil(
        [&] { return !IsWindowVisible(test_) && AllEnabled(); }, 10000);
  }

  wine::SimulatorClient sim;
  HWND test_ = nullptr;
};

TEST_F(VarnconfScannerTest, SetupScannerProgramsAScannerThatAnswers) {
  wine::WriteStandardEntry(kDevice, "Handheld", kComPort);
  Start();
  Spoil();
  sim.Answer(kComPort, "\x04", "OK\r\n");
  Press(main_, kSetup);
  EXPECT_EQ(Written(sizeof kHandheldProgramming - 1), kHandheldProgramming);
  EXPECT_TRUE(Rewritten());
  EXPECT_TRUE(AllEnabled());
  EXPECT_EQ(FindWindowA("#32770", "Varnconf"), nullptr) << "no message";
}

// A control object whose Close handles messages for a while: a press on
// Delete that comes meanwhile finds the button still disabled, and the
// dialog is given back only after Close.
TEST_F(VarnconfScannerTest, DeleteWhileSetupScannerClosesDoesNothing) {
  wine::WriteStandardEntry(kDevice, "Handheld", kComPort);
  SetEnvironmentVariableA("STANDIN_CLOSE_PUMPS_MS", "1500");
  Start();
  SetEnvironmentVariableA("STANDIN_CLOSE_PUMPS_MS", nullptr);
  sim.Answer(kComPort, "\x04", "OK\r\n");
  Press(main_, kSetup);
  EXPECT_EQ(Written(sizeof kHandheldProgramming - 1), kHandheldProgramming);
  Press(main_, kDelete);
  EXPECT_TRUE(wine::PumpUntil([&] { return AllEnabled(); }, 10000));
  wine::PumpUntil([] { return false; }, 300);
  EXPECT_EQ(Items(kDevices), (std::vector<std::string>{kDevice}));
  EXPECT_EQ(Value(kDevice, "Type"), "Handheld");
}

TEST_F(VarnconfScannerTest, SetupScannerOnASilentScannerWarns) {
  wine::WriteStandardEntry(kDevice, "Handheld", kComPort);
  Start();
  Spoil();
  Press(main_, kSetup);
  HWND box = WaitForWindow("Varnconf", 30000);
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(NoneEnabled()) << "disabled while the scanner is programmed";
  EXPECT_EQ(AnswerBox(), kSetupWarning);
  EXPECT_TRUE(Rewritten());
  EXPECT_TRUE(wine::PumpUntil([&] { return AllEnabled(); }, 5000));
}

TEST_F(VarnconfScannerTest, AnEntryThatCannotOpenIsReported) {
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", "COM7");
  Start();
  Spoil();
  Press(main_, kSetup);
  EXPECT_EQ(AnswerBox(), "OPOS Error = 111.\nCould not open scanner device.");
  SendMessageA(main_, WM_NULL, 0, 0);  // the handler has returned
  EXPECT_TRUE(AllEnabled());
  EXPECT_EQ(Value(kDevice, "Description"), "spoilt") << "not rewritten";

  // Test Device: the error, then the window with what it showed last.
  FailedTestEndsWithClose("OPOS Error = 111.\nCould not open scanner device.");
  EXPECT_TRUE(Rewritten());
}

TEST_F(VarnconfScannerTest, TestDeviceShowsEachLabelInEachMode) {
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kComPort);
  Start();
  const struct {
    int mode;  // position in the Compatibility list
    const char* scanned;
    const char* label;
    const char* shown;
  } cases[] = {
      {0, "A012345678905", "012345678905",
       "A012345678905 | 012345678905 | 101 (UPC-A)"},
      {0, "FF12345670", "12345670", "FF12345670 | 12345670 | 103 (EAN-8)"},
      {1, "A012345678905", "012345678905",
       "c012345678905 | 012345678905 | 101 (UPC-A)"},
      {2, "E01234565", "01234565", "C01234565 | 01234565 | 102 (UPC-E)"},
      {3, "K1234", "1234", "D1234 | 1234 | 110 (Code 128)"},
      {3, "G5678", "5678", "G5678 | 5678 | 501 (Unknown)"},
  };
  int openMode = -1;
  for (const auto& c : cases) {
    if (c.mode != openMode) {
      if (openMode >= 0) {
        Press(test_, kClose);
        ASSERT_TRUE(TestClosed());
      }
      Choose(main_, kCompatibility, c.mode);
      ASSERT_NE(OpenTest(), nullptr);
      EXPECT_EQ(Shown(kScanData), "") << "each test starts empty";
      EXPECT_TRUE(NoneEnabled());
      openMode = c.mode;
    }
    EXPECT_EQ(Scan(std::string(c.scanned) + "\r\n", c.label), c.shown);
  }
  RECT frame = {};
  GetWindowRect(test_, &frame);
  EXPECT_EQ(frame.left,
            (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
  EXPECT_EQ(frame.top,
            (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);
  Spoil();
  Press(test_, kClose);
  EXPECT_TRUE(TestClosed());
  EXPECT_TRUE(Rewritten());
}

// The USB type has no port to set up: Test Device shows what the scanner
// on the USB bus reads, through Windows' HID stack.
TEST_F(VarnconfScannerTest, TestDeviceShowsALabelFromTheUsbScanner) {
  wine::VirtualScanner scanner;
  ASSERT_TRUE(scanner.Plugged()) << scanner.Started();
  wine::WriteStandardEntry(kDevice, "OPOS USB Scanner", kComPort);
  Start();
  ASSERT_NE(OpenTest(), nullptr);
  EXPECT_EQ(scanner.Scan("00180B", "USB-128"), "OK");
  EXPECT_EQ(ShownOnceLabelIs("USB-128"), "KUSB-128 | USB-128 | 110 (Code 128)");
  Press(test_, kClose);
  EXPECT_TRUE(wine::PumpUntil(
      [&] { return !IsWindowVisible(test_) && Enabled(kTestDevice); }, 10000));
  EXPECT_FALSE(Enabled(kSetup)) << "the type's rules apply again";
}

TEST_F(VarnconfScannerTest, EscapeAndEnterInTheTestWindowActAsClose) {
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kComPort);
  Start();
  // Each test opens the device again, which it could not if the key had
  // left it open.
  for (WPARAM key : {WPARAM{VK_ESCAPE}, WPARAM{VK_RETURN}, WPARAM{0}}) {
    ASSERT_NE(OpenTest(), nullptr);
    EXPECT_EQ(Scan("A012345678905\r\n", "012345678905"),
              "A012345678905 | 012345678905 | 101 (UPC-A)");
    if (key == 0) break;
    // The key as the keyboard brings it, to the window's focused button.
    PostMessageA(Control(test_, kClose), WM_KEYDOWN, key, 0);
    EXPECT_TRUE(TestClosed()) << key;
  }
  EXPECT_EQ(FindWindowA("#32770", "Varnconf"), nullptr) << "no open error";
}

TEST_F(VarnconfScannerTest, EventsFoundWithoutClassInformation) {
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kComPort);
  SetEnvironmentVariableA("STANDIN_WITHOUT_CLASS_INFO", "1");
  Start();
  SetEnvironmentVariableA("STANDIN_WITHOUT_CLASS_INFO", nullptr);
  ASSERT_NE(OpenTest(), nullptr);
  EXPECT_EQ(Scan("M123\r\n", "123"), "M123 | 123 | 108 (Code 39)");
}

TEST_F(VarnconfScannerTest, GarbageAndAFloodDuringATestEndCleanly) {
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kComPort);
  Start();
  ASSERT_NE(OpenTest(), nullptr);
  // No code letter: the driver's own warning, then it programs the
  // scanner, which answers; labels come again after that.
  sim.Answer(kComPort, "----", "\x06");
  sim.Answer(kComPort, "IS01", "\x06");
  sim.Feed(kComPort, "X1234\r\n");
  EXPECT_NE(AnswerBox("TALSCAN.ScannerSO").find("NOT SETUP"),
            std::string::npos);
  EXPECT_EQ(Written(11), "\x0E\xAA----\xAAIS01")
      << "the enable byte, then the programming";
  // The run ends after its replies' time-outs and a drain of what came
  // meanwhile; a label cut by the drain is garbage again, answered so.
  bool shown = false;
  for (int attempt = 0; attempt < 8 && !shown; ++attempt) {
    sim.Feed(kComPort, "A012345678905\r\n");
    shown = wine::PumpUntil(
        [&] {
          if (FindWindowA("#32770", "TALSCAN.ScannerSO")) {
            AnswerBox("TALSCAN.ScannerSO");
          }
          return Shown(kLabel) == "012345678905";
        },
        1500);
  }
  EXPECT_TRUE(shown) << "labels come again after the programming";
  EXPECT_EQ(Shown(kSymbology), "101 (UPC-A)");
  std::string flood;
  for (int i = 0; i < 200; ++i) flood += "M" + std::to_string(i) + "\r\n";
  sim.Feed(kComPort, flood);
  // Closed while the flood is still coming in.
  EXPECT_TRUE(wine::PumpUntil(
      [&] { return Shown(kSymbology) == "108 (Code 39)"; }, 5000));
  Press(test_, kClose);
  EXPECT_TRUE(TestClosed());
  EXPECT_NE(OpenTest(), nullptr) << "and a new test opens";
  Press(test_, kClose);
  EXPECT_TRUE(TestClosed());
}

TEST_F(VarnconfScannerTest, UsbScannerThatIsNotThere) {
  wine::WriteStandardEntry(kDevice, "OPOS USB Scanner", kComPort);
  Start();
  EXPECT_FALSE(Enabled(kSetup));
  FailedTestEndsWithClose("OPOS Error = 111.\nCould not open scanner device.");
  EXPECT_FALSE(Enabled(kSetup)) << "the type's rules apply again";
}

TEST_F(VarnconfScannerTest, AControlObjectThatFailsEveryCallIsAFailedOpen) {
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kComPort);
  SetEnvironmentVariableA("STANDIN_FAIL_EVERY_CALL", "1");
  Start();
  SetEnvironmentVariableA("STANDIN_FAIL_EVERY_CALL", nullptr);
  Press(main_, kSetup);
  EXPECT_EQ(AnswerBox(), "OPOS Error = 111.\nCould not open scanner device.");
  EXPECT_TRUE(AllEnabled());
  FailedTestEndsWithClose("OPOS Error = 111.\nCould not open scanner device.");
}

TEST_F(VarnconfScannerTest, WithoutTheControlObjectBothButtonsSaySo) {
  wine::DeleteKeyTree(HKEY_CLASSES_ROOT,
                      "CLSID\\{CCB90182-B81E-11D2-AB74-0040054C3719}");
  Start();
  EXPECT_EQ(Items(kDevices), std::vector<std::string>{"LX410"});
  Press(main_, kSetup);
  const std::string message = AnswerBox();
  EXPECT_NE(message.find("control object is not installed"), std::string::npos)
      << message;
  FailedTestEndsWithClose(message);
}

TEST_F(VarnconfScannerTest, QuittingDuringATestClosesItFirst) {
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kComPort);
  Start();
  ASSERT_NE(OpenTest(), nullptr);
  Spoil();
  PostMessageA(main_, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
  EXPECT_EQ(ExitCode(), 0);
  EXPECT_EQ(Value(kDevice, "Description"), kDescription)
      << "the test's Close wrote the entry";
}

}  // namespace
