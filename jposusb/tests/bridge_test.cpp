// The JavaPOS bridge on a scripted HID device: the one-label mailbox, the
// waiting call and its release, output reports, and the printed
// diagnostics.
#include "jposusb/bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "jposusb/auto_reset_event.h"
#include "testing/fakes/fake_hid.h"
#include "testing/fakes/hid_reports.h"
#include "testing/fakes/wait_until.h"

namespace {

using fakes::WaitUntil;

class TestPlatform : public jposusb::Platform {
 public:
  hid::Bus& Bus() override { return bus; }
  std::unique_ptr<jposusb::LabelEvent> CreateLabelEvent() override {
    return std::make_unique<jposusb::AutoResetEvent>();
  }
  void Print(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex);
    printed.push_back(line);
  }
  void Sleep(uint32_t) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::vector<std::string> Printed() {
    std::lock_guard<std::mutex> lock(mutex);
    return printed;
  }

  fakes::FakeHidBus bus;
  std::mutex mutex;
  std::vector<std::string> printed;
};

class BridgeTest : public ::testing::Test {
 protected:
  ~BridgeTest() override { bridge.Close(); }

  std::shared_ptr<fakes::FakeHidInterface> OpenScanner() {
    auto scanner = platform.bus.AddScanner("scanner");
    EXPECT_TRUE(bridge.OpenHID());
    return scanner;
  }
  // What GetUsbData gives: element 0 and the bytes after it.
  std::string Take() {
    uint8_t array[jposusb::kLabelArraySize] = {};
    const int length = bridge.GetUsbData(array, sizeof array);
    EXPECT_EQ(array[0], length);
    return std::string(reinterpret_cast<char*>(array + 1), length);
  }

  TestPlatform platform;
  jposusb::Bridge bridge{platform};
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
  EXPECT_TRUE(bridge.OpenHID());
  EXPECT_EQ(scanner->Opens(), 1);
  EXPECT_EQ(Take(), "A222222222222") << "the first label was dropped";
}

TEST_F(BridgeTest, CloseReleasesAWaitingCall) {
  OpenScanner();
  auto waiting = std::async(std::launch::async, [&] { return Take(); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)),
            std::future_status::timeout);
  EXPECT_EQ(bridge.Close(), -1);
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)),
            std::future_status::ready);
  EXPECT_EQ(waiting.get(), "");
  EXPECT_EQ(Take(), "") << "a call after Close returns at once";
}

TEST_F(BridgeTest, SeveralWaitingThreadsAreAllReleased) {
  OpenScanner();
  auto first = std::async(std::launch::async, [&] { return Take(); });
  auto second = std::async(std::launch::async, [&] { return Take(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  bridge.Close();
  EXPECT_EQ(first.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(second.wait_for(std::chrono::seconds(5)),
            std::future_status::ready);
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

}  // namespace
