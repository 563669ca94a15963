// The USB scanner through the service object: opening and closing, the
// enable and disable reports, labels from the HID receive thread, and the
// messages and status of a failing or vanishing device.
#include <gtest/gtest.h>

#include "talscan/tests/service_fixture.h"
#include "testing/fakes/hid_reports.h"
#include "testing/fakes/wait_until.h"

namespace {

using fakes::UpcReport;
using fakes::WaitUntil;

class UsbServiceTest : public ServiceTest {
 protected:
  long OpenUsb(uint32_t debugLevel = 0) {
    WriteEntry("Usb", "OPOS USB Scanner");
    SetEntryDword("Usb", "DebugLevel", debugLevel);
    return Open("Usb");
  }
  // Opened and enabled, then the scanner is pulled out: its path is gone.
  void UnplugWhileEnabled(fakes::FakeHidInterface& scanner) {
    ASSERT_EQ(OpenUsb(1), opos::kSuccess);
    service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
    service.SetPropertyNumber(opos::pidx::DecodeData, 1);
    service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
    scanner.openError = 2;
    scanner.AddReadError(1167);
    ASSERT_TRUE(
        WaitUntil([&] { return HasStatus(opos::sue::PowerOffOffline); }));
    ASSERT_TRUE(WaitUntil([&] { return scanner.Closed(); }));
  }
  bool HasStatus(long status) {
    for (const auto& event : events.Events()) {
      if (event.kind == fakes::FiredEvent::kStatusUpdate &&
          event.number == status) {
        return true;
      }
    }
    return false;
  }
};

TEST_F(UsbServiceTest, NoScannerPresentFailsWithTheSearchError) {
  hid.AddInterface("keyboard", 0x046D, 0xC31C);
  EXPECT_EQ(OpenUsb(1), opos::kFailure);
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateClosed);
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(notifier.Boxes()[0].caption, "TALSCAN.ScannerSO");
  EXPECT_EQ(notifier.Boxes()[0].text,
            "Unable to open USB Scanner.\nError 259: System text of error "
            "259.\r\n");
  EXPECT_EQ(threads.Started(), 0);
}

TEST_F(UsbServiceTest, UnreadableAttributesAreAlwaysShown) {
  hid.AddInterface("broken", 1, 2)->attributesError = 31;
  EXPECT_EQ(OpenUsb(0), opos::kFailure);
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(notifier.Boxes()[0].caption, "TALSCAN");
  EXPECT_EQ(notifier.Boxes()[0].text, "Couldn't get HID attributes");
}

TEST_F(UsbServiceTest, ThreadThatCannotStartClosesTheDevice) {
  auto scanner = hid.AddScanner("scanner");
  threads.FailNextStart();
  EXPECT_EQ(OpenUsb(1), opos::kFailure);
  ASSERT_EQ(notifier.Boxes().size(), 2u);
  EXPECT_EQ(notifier.Boxes()[0].caption, "TALSCAN");
  EXPECT_EQ(notifier.Boxes()[0].text, "Can't start receive data thread");
  EXPECT_EQ(notifier.Boxes()[1].text.rfind("Unable to open USB Scanner.\n", 0),
            0u);
  EXPECT_TRUE(scanner->Closed());
}

TEST_F(UsbServiceTest, EnablingWritesTheTwelveByteReports) {
  auto scanner = hid.AddScanner("scanner");
  ASSERT_EQ(OpenUsb(), opos::kSuccess);
  service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
  service.SetPropertyNumber(opos::pidx::DeviceEnabled, 0);
  const auto reports = scanner->Reports();
  ASSERT_EQ(reports.size(), 2u);
  const std::array<uint8_t, 12> enable = {0, 0x11};
  const std::array<uint8_t, 12> disable = {0, 0x12};
  EXPECT_EQ(reports[0], enable) << "zeros after the command";
  EXPECT_EQ(reports[1], disable);
}

TEST_F(UsbServiceTest, FailedReportWriteIsShown) {
  auto scanner = hid.AddScanner("scanner");
  ASSERT_EQ(OpenUsb(), opos::kSuccess);
  scanner->FailWrites(31);
  service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(notifier.Boxes()[0].caption, "TALSCAN");
  EXPECT_EQ(notifier.Boxes()[0].text, "Send error= 31");
  EXPECT_EQ(Property(opos::pidx::DeviceEnabled), 1) << "the field keeps it";
}

TEST_F(UsbServiceTest, ReportsArriveAsDataEventsEvenWhileDisabled) {
  auto scanner = hid.AddScanner("scanner");
  ASSERT_EQ(OpenUsb(), opos::kSuccess);
  service.SetPropertyNumber(opos::pidx::DecodeData, 1);
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  scanner->AddReport(UpcReport("012345678905"));
  ASSERT_TRUE(WaitUntil([&] { return events.DataEvents() == 1; }));
  EXPECT_EQ(service.GetPropertyString(opos::pidx::ScanData), "A012345678905");
  EXPECT_EQ(Property(opos::pidx::ScanDataType), 101);
}

TEST_F(UsbServiceTest, ShortReportIsShownAndTheNextOneRead) {
  auto scanner = hid.AddScanner("scanner");
  ASSERT_EQ(OpenUsb(), opos::kSuccess);
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  scanner->AddReport(std::vector<uint8_t>(40, 0));
  scanner->AddReport(UpcReport("012345678905"));
  ASSERT_TRUE(WaitUntil([&] { return events.DataEvents() == 1; }));
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(notifier.Boxes()[0].text, "Only read 40 bytes");
}

TEST_F(UsbServiceTest, OpeningAnOpenScannerStartsNoSecondThread) {
  auto scanner = hid.AddScanner("scanner");
  ASSERT_EQ(OpenUsb(), opos::kSuccess);
  EXPECT_EQ(OpenUsb(), opos::kSuccess);
  EXPECT_EQ(threads.Started(), 1);
  EXPECT_EQ(scanner->Opens(), 1);
}

TEST_F(UsbServiceTest, CloseLetsThePendingReadGoAndClosesTheHandles) {
  auto scanner = hid.AddScanner("scanner");
  ASSERT_EQ(OpenUsb(), opos::kSuccess);
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_EQ(threads.Terminated(), 0) << "the thread ended by itself";
  EXPECT_TRUE(scanner->Closed());
  EXPECT_EQ(service.Close(), opos::kSuccess) << "a second Close as well";
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateClosed);
  ASSERT_EQ(OpenUsb(), opos::kSuccess) << "and it opens again";
  EXPECT_EQ(scanner->Opens(), 2);
}

TEST_F(UsbServiceTest, CloseOfAnIdleScannerEndsTheReadersWaitAtOnce) {
  auto scanner = hid.AddScanner("scanner");
  scanner->WaitInRealTime(true);
  ASSERT_EQ(OpenUsb(), opos::kSuccess);
  ASSERT_TRUE(WaitUntil([&] { return scanner->Waits() > 0; }));
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_EQ(scanner->Expired(), 0) << "no wait slice ran out";
  EXPECT_EQ(scanner->Cancels(), 1);
  EXPECT_EQ(threads.Terminated(), 0);
}

// Unplugged, then plugged in again under a new path: the application hears
// of both, the scanner that came back is told to scan again, and labels
// flow without the application doing anything.
TEST_F(UsbServiceTest, UnpluggedScannerIsFollowedWhenItComesBack) {
  auto scanner = hid.AddScanner("scanner");
  UnplugWhileEnabled(*scanner);
  auto again = hid.AddScanner("scanner again");
  ASSERT_TRUE(WaitUntil([&] { return HasStatus(opos::sue::PowerOnline); }));
  const std::array<uint8_t, 12> enable = {0, 0x11};
  EXPECT_EQ(again->Reports(), (std::vector<std::array<uint8_t, 12>>{enable}));
  again->AddReport(UpcReport("012345678905"));
  ASSERT_TRUE(WaitUntil([&] { return events.DataEvents() == 1; }));
  EXPECT_EQ(again->Opens(), 1);
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_TRUE(again->Closed());
  EXPECT_TRUE(notifier.Boxes().empty()) << "the search shows nothing";
}

// The application opens the device again while the scanner is out: the
// opening in force goes on, and follows the scanner when it comes back.
TEST_F(UsbServiceTest, OpeningAgainWhileUnpluggedKeepsFollowingIt) {
  auto scanner = hid.AddScanner("scanner");
  UnplugWhileEnabled(*scanner);
  EXPECT_EQ(OpenUsb(1), opos::kSuccess);
  EXPECT_EQ(threads.Started(), 1);
  EXPECT_TRUE(notifier.Boxes().empty());
  auto again = hid.AddScanner("scanner again");
  ASSERT_TRUE(WaitUntil([&] { return HasStatus(opos::sue::PowerOnline); }));
  again->AddReport(UpcReport("012345678905"));
  EXPECT_TRUE(WaitUntil([&] { return events.DataEvents() == 1; }));
}

TEST_F(UsbServiceTest, UnpluggedScannerIsWaitedForUntilClose) {
  auto scanner = hid.AddScanner("scanner");
  UnplugWhileEnabled(*scanner);
  ASSERT_TRUE(WaitUntil([&] { return clock.NowMs() > 3000; }))
      << "looked for again and again";
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_EQ(threads.Terminated(), 0) << "the wait ended with Close";
  EXPECT_FALSE(HasStatus(opos::sue::PowerOnline));
  EXPECT_TRUE(notifier.Boxes().empty());
}

TEST_F(UsbServiceTest, ClearInputEmptiesWhatIsHeld) {
  auto scanner = hid.AddScanner("scanner");
  ASSERT_EQ(OpenUsb(), opos::kSuccess);
  ASSERT_EQ(service.Claim(0), opos::kSuccess);
  scanner->AddReport(UpcReport("111111111111"));
  ASSERT_TRUE(WaitUntil([&] { return Property(opos::pidx::DataCount) == 1; }));
  EXPECT_EQ(service.ClearInput(), opos::kSuccess);
  EXPECT_EQ(Property(opos::pidx::DataCount), 0);
}

TEST_F(UsbServiceTest, DirectIOHasNoCommandsForUsb) {
  hid.AddScanner("scanner");
  ASSERT_EQ(OpenUsb(), opos::kSuccess);
  for (long command : {12345L, 200L, 100L, 0L}) {
    EXPECT_EQ(service.DirectIO(command), opos::kIllegal) << command;
  }
}

}  // namespace
