// A fixed serial scanner under Wine: the real TALSCAN.dll opened through
// the stand-in control object on a COM port whose other end the scanner
// simulator plays.
#include <functional>

#include "testing/wine/simulated_device_test.h"

namespace {

constexpr char kPort[] = "COM5";
constexpr char kDevice[] = "SerialTill";
const char kNotSetUp[] =
    "BARCODE SCANNER IS NOT SETUP CORRECTLY!\n\nAfter you click OK the "
    "scanner will be configured. Please do not scan labels during this "
    "configuration of the scanner. The process may take up to 10 "
    "seconds.\n\nIf this message shows up again after the next scan, please "
    "contact your system administrator.";

class SerialScanner : public wine::SimulatedDeviceTest {
 protected:
  SerialScanner() : SimulatedDeviceTest(kPort, kDevice) {}

  bool WaitForDataCount(long count) {
    return wine::PumpUntil([&] { return Get(standin::kDataCount) == count; },
                           5000);
  }
  // The data event that the action brings, at once or from the receive
  // thread.
  wine::ControlEvent DataEventAfter(const std::function<void()>& action) {
    const size_t seen = events->DataEvents().size();
    action();
    EXPECT_TRUE(events->WaitFor(seen + 1, 5000, standin::kDataEvent));
    return events->DataEvents().size() > seen ? events->DataEvents()[seen]
                                              : wine::ControlEvent();
  }
  wine::ControlEvent Scan(const std::string& bytes) {
    return DataEventAfter([&] { sim.Feed(kPort, bytes); });
  }
  wine::ControlEvent EnableDataEvents() {
    return DataEventAfter(
        [&] { control.PutBool(standin::kDataEventEnabled, true); });
  }
  bool IsTrue(DISPID id) { return Get(id) != 0; }
};

TEST_F(SerialScanner, PortIsSetUpAsTheScannerNeedsIt) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  EXPECT_EQ(sim.Settings(kPort),
            "speed=9600 csize=8 parity=none stopbits=2 crtscts=0");
  control.CallLong(L"Close");
  ASSERT_EQ(OpenEntry("Portable Scanner M-40"), 0);
  EXPECT_EQ(sim.Settings(kPort),
            "speed=2400 csize=8 parity=none stopbits=2 crtscts=0");
}

TEST_F(SerialScanner, LabelsArriveInEachCompatibilityMode) {
  const struct {
    const char* mode;
    const char* scanned;
    const char* scanData;
    const char* label;
    long type;
  } cases[] = {
      {"KORVA", "A012345678905", "A012345678905", "012345678905", 101},
      {"METROLOGIC", "A012345678905", "c012345678905", "012345678905", 101},
      {"BEETLE", "E01234565", "C01234565", "01234565", 102},
      {"SYMBOL", "K1234", "D1234", "1234", 110},
      {"KVX", "FF12345670", "FF12345670", "12345670", 103},
      {"SYMBOL", "G1234", "G1234", "1234", 501},
      {"METROLOGIC", "F400638133393125", "F400638133393125", "400638133393125",
       119},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(OpenEntry("Model 73 Series", c.mode), 0) << c.mode;
    ClaimAndEnable();
    const wine::ControlEvent event = Scan(std::string(c.scanned) + "\r\n");
    EXPECT_EQ(event.number, 1);
    EXPECT_EQ(event.scanData, c.scanData) << c.mode;
    EXPECT_EQ(event.scanDataLabel, c.label) << c.mode;
    EXPECT_EQ(event.scanDataType, c.type) << c.mode;
    EXPECT_FALSE(IsTrue(standin::kDataEventEnabled)) << "disabled by delivery";
    control.CallLong(L"Close");
  }
}

TEST_F(SerialScanner, EnablingWritesTheEnableAndDisableBytes) {
  ASSERT_EQ(OpenEntry("Model 73 Series"), 0);
  control.PutBool(standin::kDeviceEnabled, true);
  control.PutBool(standin::kDeviceEnabled, false);
  EXPECT_EQ(sim.Written(kPort, 2000, 2), "\x0E\x0F");
}

TEST_F(SerialScanner, LabelsWaitWhileDataEventsAreDisabled) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable(false);
  sim.Feed(kPort, "A111111111111\r\nA222222222222\r\nA333333333333\r\n");
  ASSERT_TRUE(WaitForDataCount(3));
  EXPECT_TRUE(events->DataEvents().empty());
  EXPECT_EQ(EnableDataEvents().scanDataLabel, "111111111111");
  EXPECT_EQ(Get(standin::kDataCount), 2);
  EXPECT_FALSE(IsTrue(standin::kDataEventEnabled));
  EXPECT_EQ(EnableDataEvents().scanDataLabel, "222222222222");
  EXPECT_EQ(EnableDataEvents().scanDataLabel, "333333333333");
  EXPECT_TRUE(IsTrue(standin::kDataEventEnabled)) << "the queue is empty";
  EXPECT_EQ(Scan("E01234565\r\n").scanDataLabel, "01234565")
      << "delivered at once";
}

TEST_F(SerialScanner, FrozenEventsHoldLabelsUntilThawed) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable();
  control.PutBool(standin::kFreezeEvents, true);
  sim.Feed(kPort, "A111111111111\r\nA222222222222\r\n");
  ASSERT_TRUE(WaitForDataCount(2));
  EXPECT_EQ(DataEventAfter([&] {
              control.PutBool(standin::kFreezeEvents, false);
            }).scanDataLabel,
            "111111111111");
  EXPECT_EQ(Get(standin::kDataCount), 1);

  // The control object's own freeze holds labels too.
  control.PutBool(standin::kDataEventEnabled, true);
  ASSERT_EQ(events->DataEvents().size(), 2u);
  EXPECT_EQ(control.CallLong(L"COFreezeEvents", {wine::Long(1)}), 0);
  sim.Feed(kPort, "A333333333333\r\n");
  ASSERT_TRUE(WaitForDataCount(1));
  EXPECT_EQ(control.CallLong(L"COFreezeEvents", {wine::Long(0)}), 0);
  Sleep(200);
  wine::PumpUntil([] { return false; }, 100);
  EXPECT_EQ(events->DataEvents().size(), 2u) << "thawing delivers nothing";
}

TEST_F(SerialScanner, DisabledDeviceDropsWhatItReads) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable();
  control.PutBool(standin::kDeviceEnabled, false);
  sim.Feed(kPort, "A012345678905\r\n");
  wine::PumpUntil([] { return false; }, 800);
  EXPECT_TRUE(events->DataEvents().empty());
  EXPECT_EQ(Get(standin::kDataCount), 0);
  control.PutBool(standin::kDeviceEnabled, true);
  EXPECT_EQ(Scan("E01234565\r\n").scanDataLabel, "01234565");
}

TEST_F(SerialScanner, ClearInputDrainsThePortAndEmptiesTheQueue) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable(false);
  sim.Feed(kPort, "A111111111111\r\n");
  ASSERT_TRUE(WaitForDataCount(1));
  EXPECT_EQ(control.CallLong(L"ClearInput"), 0);
  EXPECT_EQ(Get(standin::kDataCount), 0);
  control.PutBool(standin::kDataEventEnabled, true);
  EXPECT_EQ(Scan("E01234565\r\n").scanDataLabel, "01234565");
}

TEST_F(SerialScanner, NotSetUpWarningComesBeforeTheProgrammingBytes) {
  wine::BoxAnswerer boxes;
  std::string writtenBeforeAnswer = "<none>";
  boxes.BeforeAnswer([&](const wine::BoxAnswerer::Box&) {
    wine::SimulatorClient peek;  // a second connection: this is another thread
    writtenBeforeAnswer = peek.Written(kPort, 300, 1);
  });
  ASSERT_EQ(OpenEntry("Handheld"), 0);
  ClaimAndEnable();
  sim.Answer(kPort, "\x04", "OK\r\n");
  sim.Feed(kPort, "X1234\r\n");
  ASSERT_TRUE(boxes.WaitForBoxes(1, 5000));
  EXPECT_EQ(boxes.Boxes()[0].caption, "TALSCAN.ScannerSO");
  EXPECT_EQ(boxes.Boxes()[0].text, kNotSetUp);
  const std::string expected = "\x01\r\nS0680\r\n\x04\x01\r\nF0101\r\n\x04";
  std::string written;
  wine::PumpUntil(
      [&] {
        written += sim.Written(kPort, 100, 0);
        return written.size() >= expected.size();
      },
      10000);
  EXPECT_EQ(writtenBeforeAnswer, "");
  EXPECT_EQ(written, expected);
  EXPECT_TRUE(events->DataEvents().empty());
}

TEST_F(SerialScanner, DirectIOProgramsTheScannerAndReportsItsReplies) {
  ASSERT_EQ(OpenEntry("Handheld"), 0);
  sim.Answer(kPort, "\x04", "OK\r\n");
  EXPECT_EQ(control.CallLong(L"DirectIO", {wine::Long(12345), wine::Long(0),
                                           wine::Bstr("")}),
            0);
  EXPECT_EQ(sim.Written(kPort, 0, 0),
            "\x01\r\nS0680\r\n\x04\x01\r\nF0101\r\n\x04");

  sim.ClearAnswers(kPort);
  sim.Answer(kPort, "\x04", "NO\r\n");
  EXPECT_EQ(control.CallLong(L"DirectIO", {wine::Long(12345), wine::Long(0),
                                           wine::Bstr("")}),
            111);
  EXPECT_EQ(sim.Written(kPort, 0, 0), "\x01\r\nS0680\r\n\x04")
      << "a refused first command ends the run";
  control.CallLong(L"Close");

  ASSERT_EQ(OpenEntry("Model 73 Series"), 0);
  sim.Answer(kPort, "----", "\x06");
  sim.Answer(kPort, "IS01", "\x06");
  EXPECT_EQ(control.CallLong(L"DirectIO", {wine::Long(12345), wine::Long(0),
                                           wine::Bstr("")}),
            0);
  EXPECT_EQ(sim.Written(kPort, 0, 0), "\xAA----\xAAIS01");
}

TEST_F(SerialScanner, MissingPortIsReportedWithTheSystemText) {
  wine::BoxAnswerer boxes;
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", "COM7", "KORVA",
                           1);
  EXPECT_EQ(control.CallLong(L"Open", {wine::Bstr(kDevice)}), 111);
  ASSERT_TRUE(boxes.WaitForBoxes(1, 5000));
  EXPECT_EQ(boxes.Boxes()[0].caption, "TALSCAN.ScannerSO");
  EXPECT_EQ(boxes.Boxes()[0].text.rfind("Unable to open COM7.\nError 2: ", 0),
            0u)
      << boxes.Boxes()[0].text;
}

TEST_F(SerialScanner, ControlObjectReadsTheLabelInsideTheCallback) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable();
  control.CallString(L"TakeCallbackLog");
  const wine::ControlEvent event = Scan("A012345678905\r\n");
  // The control object called back into the service object from inside
  // SOData, on the receive thread, and got the label: nothing is held.
  EXPECT_EQ(control.CallString(L"TakeCallbackLog"),
            "SOData 1 [A012345678905] 101 (other thread)\n");
  // And raised DataEvent on the thread that created it, as the standard
  // control object does.
  EXPECT_EQ(event.thread, GetCurrentThreadId());
}

TEST_F(SerialScanner, SecondControlObjectThatFailsToOpenTakesNoEvents) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable();
  {
    wine::Dispatch other = wine::Dispatch::Create(L"OPOS.Scanner");
    ASSERT_TRUE(other);
    EXPECT_EQ(other.CallLong(L"Open", {wine::Bstr(kDevice)}), 111)
        << "the port is the first opening's";
  }  // released: its pointer must not be called back
  EXPECT_EQ(Scan("A012345678905\r\n").scanData, "A012345678905");
}

TEST_F(SerialScanner, ApplicationMayCloseFromItsDataEventHandler) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable();
  long closed = -1;
  events->OnEvent([&](wine::ControlEvent& event) {
    if (event.id == standin::kDataEvent) closed = control.CallLong(L"Close");
  });
  Scan("A012345678905\r\n");
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(Get(standin::kState), 1);
}

TEST_F(SerialScanner, CloseEndsTheReceiveThreadWithinItsBound) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable();
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(control.CallLong(L"Close"), 0);
  // The thread ends on its own within a pause and a read; the 5000 ms
  // bound would mean it had to be stopped by force.
  EXPECT_LT(GetTickCount64() - start, 5000u);
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0) << "the port is free";
}

// The statuses the application has seen, in order.
std::vector<long> Statuses(const wine::ControlEvents& events) {
  std::vector<long> statuses;
  for (const auto& event : events.Events()) {
    if (event.id == standin::kStatusUpdateEvent)
      statuses.push_back(event.number);
  }
  return statuses;
}

TEST_F(SerialScanner, PortThatVanishesLeavesTheDeviceClosable) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable();
  sim.ClosePort(kPort);
  ASSERT_TRUE(events->WaitFor(1, 5000, standin::kStatusUpdateEvent));
  EXPECT_EQ(control.CallLong(L"Close"), 0);
  sim.OpenPort(kPort);
}

// A USB-to-serial adapter pulled out and plugged in again: the pty and its
// COM link go away and come back, and the scanner goes on where it was.
TEST_F(SerialScanner, RepluggedPortIsReportedAndLabelsFlowAgain) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable();
  EXPECT_EQ(Scan("A012345678905\r\n").scanData, "A012345678905");
  sim.ClosePort(kPort);
  ASSERT_TRUE(events->WaitFor(1, 5000, standin::kStatusUpdateEvent));
  sim.OpenPort(kPort);
  ASSERT_TRUE(events->WaitFor(2, 5000, standin::kStatusUpdateEvent));
  EXPECT_EQ(Statuses(*events), (std::vector<long>{2004, 2001}));
  EXPECT_EQ(sim.Settings(kPort),
            "speed=9600 csize=8 parity=none stopbits=2 crtscts=0")
      << "configured as at opening";
  control.PutBool(standin::kDataEventEnabled, true);
  EXPECT_EQ(Scan("E01234565\r\n").scanData, "E01234565");
}

// An application that is quitting closes the device on its way out: the
// quit message that came while Close waited is still there for its loop.
TEST_F(SerialScanner, CloseKeepsAQuitMessageForTheApplication) {
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  ClaimAndEnable();
  PostQuitMessage(7);
  EXPECT_EQ(control.CallLong(L"Close"), 0);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
}

// The control object lets go of the service object without closing it:
// the opening ends with the last reference, so the port is free again and
// nothing calls the control object any more.
TEST_F(SerialScanner, ReleaseWithoutCloseEndsTheOpening) {
  wine::WriteStandardEntry(device_, "Omni-directional Laser", kPort);
  wine::Dispatch callbacks = wine::Dispatch::Create(L"OPOS.Scanner");
  ASSERT_TRUE(callbacks);
  auto openService = [&](wine::Dispatch& so) {
    return so.CallLong(L"OpenService",
                       {wine::Bstr("Scanner"), wine::Bstr(kDevice),
                        wine::DispatchVariant(callbacks.get())});
  };
  {
    wine::Dispatch so = wine::Dispatch::Create(L"TALSCAN.ScannerSO");
    ASSERT_EQ(openService(so), 0);
    so.CallLong(L"SetPropertyNumber", {wine::Long(3), wine::Long(1)});
    so.CallLong(L"SetPropertyNumber", {wine::Long(2), wine::Long(1)});
  }  // released without Close
  callbacks.CallString(L"TakeCallbackLog");
  sim.Feed(kPort, "A012345678905\r\n");
  wine::PumpUntil([] { return false; }, 500);
  EXPECT_EQ(callbacks.CallString(L"TakeCallbackLog"), "")
      << "no callback after the last release";
  wine::Dispatch again = wine::Dispatch::Create(L"TALSCAN.ScannerSO");
  EXPECT_EQ(openService(again), 0) << "the port was closed";
  again.CallLong(L"Close");
}

}  // namespace
