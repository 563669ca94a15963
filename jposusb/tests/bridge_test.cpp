// The JavaPOS bridge on a scripted HID device: the one-label mailbox, the
// waiting call and its release, output reports, and the printed
// diagnostics.
#include "jposusb/bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "testing/fakes/fake_bridge_platform.h"
#include "testing/fakes/hid_reports.h"
#include "testing/fakes/wait_until.h"

namespace {

using fakes::WaitUntil;
using std::chrono::milliseconds;

// What GetUsbData gives: element 0 and the bytes after it.
std::string Take(jposusb::Bridge& bridge) {
  uint8_t array[jposusb::kLabelArraySize] = {};
  const int length = bridge.GetUsbData(array, sizeof array);
  EXPECT_EQ(array[0], length);
  return std::string(reinterpret_cast<char*>(array + 1), length);
}

class BridgeTest : public ::testing::Test {
 protected:
  ~BridgeTest() override { bridge.Close(); }

  std::shared_ptr<fakes::FakeHidInterface> OpenScanner() {
    auto scanner = platform.bus.AddScanner("scanner");
    EXPECT_TRUE(bridge.OpenHID());
    return scanner;
  }
  std::string Take() { return ::Take(bridge); }

  fakes::FakeBridgePlatform platform;
  // A short wait with nothing open: these tests look at other things.
  jposusb::Bridge bridge{platform, milliseconds(20)};
};

TEST_F(BridgeTest, LabelReachesTheCallerWithItsLength) {
  auto scanner = OpenScanner();
  scanner->AddReport(fakes::HidReport("012345678905", {0x0D}));
  EXPECT_EQ(Take(), "A012345678905");
  scanner->AddReport(fakes::HidReport("12345678901234", {0x00, 0x2A, 0x0B}));
  EXPECT_EQ(Take(), "RS12345678901234");
  scanner->AddReport(fakes::HidReport("X", {0x00, 0x2B, 0x0B}));
  EXPECT_EQ(Take(), "RXX");
}

TEST_F(BridgeTest, NextReportIsReadOnlyAfterTheWaitingLabelWasTaken) {
  auto scanner = OpenScanner();
  scanner->AddReport(fakes::HidReport("111111111111", {0x0D}));
  scanner->AddReport(fakes::HidReport("222222222222", {0x0D}));
  // The first report is read and waits in the mailbox; the second stays
  // unread while it does.
  ASSERT_TRUE(WaitUntil([&] { return scanner->Unread() == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(scanner->Unread(), 1u);
  EXPECT_EQ(Take(), "A111111111111");
  EXPECT_EQ(Take(), "A222222222222");
}

TEST_F(BridgeTest, OpeningAgainDropsTheWaitingLabelAndSearchesNoMore) {
  auto scanner = OpenScanner();
  scanner->AddReport(fakes::HidReport("111111111111", {0x0D}));
  scanner->AddReport(fakes::HidReport("222222222222", {0x0D}));
  ASSERT_TRUE(WaitUntil([&] { return scanner->Unread() == 1; }));
  // The first report read is decoded into the mailbox meanwhile; nothing
  // shows when, so the test gives a loaded machine (Wine, sanitizers) time.
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_TRUE(bridge.OpenHID());
  EXPECT_EQ(scanner->Opens(), 1);
  EXPECT_EQ(Take(), "A222222222222") << "the first label was dropped";
}

TEST_F(BridgeTest, ShortArraysAreRefused) {
  auto scanner = OpenScanner();
  scanner->AddReport(fakes::HidReport("012345678905", {0x0D}));
  uint8_t small[20] = {99};
  EXPECT_EQ(bridge.GetUsbData(small, sizeof small), 0);
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(Take(), "A012345678905") << "the label was kept for a proper call";
  const uint8_t report[11] = {0, 0x12};
  bridge.USBSendCMD(report, sizeof report);
  EXPECT_TRUE(scanner->Reports().empty());
}

TEST_F(BridgeTest, OutputReportsGoOutOnlyWhileOpen) {
  const uint8_t disable[12] = {0, 0x12};
  bridge.USBSendCMD(disable, sizeof disable);
  auto scanner = platform.bus.AddScanner("scanner");
  EXPECT_TRUE(platform.Printed().empty()) << "nothing is said before opening";
  ASSERT_TRUE(bridge.OpenHID());
  bridge.USBSendCMD(disable, sizeof disable);
  ASSERT_EQ(scanner->Reports().size(), 1u);
  EXPECT_EQ(scanner->Reports()[0][1], 0x12);
  scanner->FailWrites(31);
  bridge.USBSendCMD(disable, sizeof disable);
  EXPECT_EQ(platform.Printed().back(), "Send error no= 31");
  bridge.Close();
  bridge.USBSendCMD(disable, sizeof disable);
  EXPECT_EQ(scanner->Reports().size(), 2u);
}

TEST_F(BridgeTest, SearchFailuresArePrinted) {
  auto locked = platform.bus.AddScanner("locked");
  locked->openError = 5;
  auto broken = platform.bus.AddInterface("broken", 1, 2);
  broken->attributesError = 31;
  EXPECT_FALSE(bridge.OpenHID());
  EXPECT_EQ(platform.Printed(),
            (std::vector<std::string>{"Open error= 5",
                                      "Couldn't get HID attributes"}));
}

TEST_F(BridgeTest, ReadProblemsArePrinted) {
  auto scanner = OpenScanner();
  scanner->AddReport(std::vector<uint8_t>(40, 0));
  scanner->AddReadError(995);
  scanner->AddReport(fakes::HidReport("012345678905", {0x0D}));
  EXPECT_EQ(Take(), "A012345678905");
  // Closed while the next read is pending, the read is cancelled.
  const int waits = scanner->Waits();
  ASSERT_TRUE(WaitUntil([&] { return scanner->Waits() > waits; }));
  bridge.Close();
  EXPECT_EQ(
      platform.Printed(),
      (std::vector<std::string>{"Only read 40 bytes",
                                "GetOverlappedResult error= 995", "CancelIo"}));
}

TEST_F(BridgeTest, ReadErrorEndsTheThreadAndReleasesTheCaller) {
  auto scanner = platform.bus.AddScanner("scanner");
  scanner->AddReadError(31, /*atOnce=*/true);  // the thread's first read
  ASSERT_TRUE(bridge.OpenHID());
  EXPECT_EQ(Take(), "");
  EXPECT_EQ(platform.Printed().front(), "Read error= 31");
  EXPECT_TRUE(scanner->Closed());
  // A later OpenHID searches again.
  platform.bus.AddScanner("scanner again");
  EXPECT_TRUE(bridge.OpenHID());
}

TEST_F(BridgeTest, RemovedDeviceReleasesTheCaller) {
  auto scanner = OpenScanner();
  scanner->AddReadError(syserr::kDeviceNotConnected);
  EXPECT_EQ(Take(), "");
  EXPECT_EQ(platform.Printed().front(), "Device removed");
}

// Calls that wait in GetUsbData, with or without a device open, and what
// lets them go. The bridge's wait with nothing open is long here, so that
// only the step under test can end it.
TEST(BridgeWaitTest, WaitingCallsEndOnlyWhenTheyShould) {
  struct Case {
    const char* name;
    bool openFirst;
    int callers;
    std::function<void(jposusb::Bridge&, fakes::FakeHidInterface&)> step;
    const char* label;  // what every caller gets
  };
  const Case cases[] = {
      {"Close with nothing open", false, 3,
       [](jposusb::Bridge& bridge, fakes::FakeHidInterface&) {
         EXPECT_EQ(bridge.Close(), -1);
       },
       ""},
      {"Close with the device open", true, 3,
       [](jposusb::Bridge& bridge, fakes::FakeHidInterface&) {
         EXPECT_EQ(bridge.Close(), -1);
       },
       ""},
      {"Close and at once a new opening", true, 2,
       [](jposusb::Bridge& bridge, fakes::FakeHidInterface&) {
         bridge.Close();
         EXPECT_TRUE(bridge.OpenHID());
       },
       ""},
      {"the device unplugged", true, 2,
       [](jposusb::Bridge&, fakes::FakeHidInterface& scanner) {
         scanner.AddReadError(syserr::kDeviceNotConnected);
       },
       ""},
      {"a label after a later OpenHID", false, 1,
       [](jposusb::Bridge& bridge, fakes::FakeHidInterface& scanner) {
         ASSERT_TRUE(bridge.OpenHID());
         scanner.AddReport(fakes::HidReport("012345678905", {0x0D}));
       },
       "A012345678905"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    fakes::FakeBridgePlatform platform;
    auto scanner = platform.bus.AddScanner("scanner");
    std::vector<std::future<std::string>> callers;
    // Destroyed before the callers: its Close lets a forgotten one go.
    jposusb::Bridge bridge(platform, std::chrono::minutes(1));
    if (test.openFirst) {
      ASSERT_TRUE(bridge.OpenHID());
    }
    for (int i = 0; i < test.callers; ++i) {
      callers.push_back(
          std::async(std::launch::async, [&] { return Take(bridge); }));
    }
    for (auto& caller : callers) {
      EXPECT_EQ(caller.wait_for(milliseconds(50)), std::future_status::timeout)
          << "a call waits";
    }
    test.step(bridge, *scanner);
    for (auto& caller : callers) {
      ASSERT_EQ(caller.wait_for(std::chrono::seconds(5)),
                std::future_status::ready);
      EXPECT_EQ(caller.get(), test.label);
    }
  }
}

// A Java thread that wants to stop gets control back.
TEST_F(BridgeTest, WithNothingOpenACallReturnsAfterItsWait) {
  EXPECT_FALSE(bridge.OpenHID());
  auto caller = std::async(std::launch::async, [&] { return Take(); });
  ASSERT_EQ(caller.wait_for(std::chrono::seconds(5)),
            std::future_status::ready);
  EXPECT_EQ(caller.get(), "");
}

// Close of an idle device ends the receive thread's wait for a report at
// once, instead of letting it run out.
TEST_F(BridgeTest, CloseOfAnIdleDeviceEndsTheReadersWaitAtOnce) {
  auto scanner = platform.bus.AddScanner("scanner");
  scanner->WaitInRealTime(true);
  ASSERT_TRUE(bridge.OpenHID());
  ASSERT_TRUE(WaitUntil([&] { return scanner->Waits() > 0; }));
  bridge.Close();
  EXPECT_EQ(scanner->Expired(), 0);
  EXPECT_EQ(platform.Printed(), std::vector<std::string>{"CancelIo"});
  EXPECT_EQ(scanner->Cancels(), 1);
}

TEST_F(BridgeTest, CloseEndsTheThreadWhileALabelWaitsUntaken) {
  auto scanner = OpenScanner();
  scanner->AddReport(fakes::HidReport("012345678905", {0x0D}));
  ASSERT_TRUE(WaitUntil([&] { return scanner->Unread() == 0; }));
  auto closing = std::async(std::launch::async, [&] { return bridge.Close(); });
  ASSERT_EQ(closing.wait_for(std::chrono::seconds(5)),
            std::future_status::ready);
  EXPECT_TRUE(scanner->Closed());
}

}  // namespace
