// The service object with its receive thread running: labels cross from
// the receive thread to the application while the application's thread
// works on the same device. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <thread>


#include "talscan/tests/service_fixture.h"
#include "testing/fakes/wait_until.h"

namespace {

using fakes::WaitUntil;

class ThreadedServiceTest : public ServiceTest {
 protected:
  void OpenEnabled() {
    WriteEntry("Till", "Omni-directional Laser");
    ASSERT_EQ(Open("Till"), opos::kSuccess);
    ASSERT_EQ(service.Claim(0), opos::kSuccess);
    service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
    service.SetPropertyNumber(opos::pidx::DecodeData, 1);
  }
  static std::string LabelNumber(int i) {
    return "M" + std::to_string(100000 + i);
  }
};

TEST_F(ThreadedServiceTest, HandlerOnTheReceiveThreadMayAskForTheNextLabel) {
  OpenEnabled();
  std::mutex seenMutex;
  std::vector<std::string> seen;
  events.OnEvent([&](const fakes::FiredEvent&) {
    // Inside SOData, on the receive thread: read the label and re-enable.
    const std::string label = service.GetPropertyString(opos::pidx::ScanData);
    service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
    std::lock_guard<std::mutex> lock(seenMutex);
    seen.push_back(label);
  });
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  for (int i = 0; i < 50; ++i) serial.Feed(LabelNumber(i) + "\r\n");
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(seenMutex);
    return seen.size() == 50;
  }));
  std::lock_guard<std::mutex> lock(seenMutex);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i], LabelNumber(i));
}

TEST_F(ThreadedServiceTest, EveryLabelArrivesOnceWhileTheApplicationWorks) {
  OpenEnabled();
  constexpr int kLabels = 200;
  std::mutex seenMutex;
  std::vector<std::string> seen;
  events.OnEvent([&](const fakes::FiredEvent&) {
    std::lock_guard<std::mutex> lock(seenMutex);
    seen.push_back(service.GetPropertyString(opos::pidx::ScanData));
  });
  std::thread scanner([&] {
    for (int i = 0; i < kLabels; ++i) serial.Feed(LabelNumber(i) + "\n");
  });
  // The application enables data events again and again, as it takes each
  // label, while labels arrive: some go at once, some wait in the queue.
  ASSERT_TRUE(WaitUntil([&] {
    service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
    service.GetPropertyNumber(opos::pidx::DataCount);
    std::lock_guard<std::mutex> lock(seenMutex);
    return seen.size() >= static_cast<size_t>(kLabels);
  }));
  scanner.join();
  std::lock_guard<std::mutex> lock(seenMutex);
  ASSERT_EQ(seen.size(), static_cast<size_t>(kLabels));
  for (int i = 0; i < kLabels; ++i) EXPECT_EQ(seen[i], LabelNumber(i)) << i;
}

TEST_F(ThreadedServiceTest, CloseFromInsideTheDataEventDoesNotWaitForItself) {
  OpenEnabled();
  std::atomic<long> closed{-1};
  events.OnEvent([&](const fakes::FiredEvent&) { closed = service.Close(); });
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("A012345678905\r\n");
  ASSERT_TRUE(WaitUntil([&] { return events.DataEvents() == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return closed == opos::kSuccess; }));
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateClosed);
  EXPECT_EQ(threads.Terminated(), 0);
}

TEST_F(ThreadedServiceTest, ReopeningInsideTheHandlerWaitsForTheOldThread) {
  OpenEnabled();
  std::atomic<long> reopened{-1};
  events.OnEvent([&](const fakes::FiredEvent&) {
    if (reopened != -1) return;
    service.Close();
    // The old receive thread runs this handler: a new one may not start
    // beside it on the same port.
    reopened = Open("Till");
  });
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("A012345678905\r\n");
  ASSERT_TRUE(WaitUntil([&] { return reopened != -1; }));
  EXPECT_EQ(reopened, opos::kFailure);
  EXPECT_EQ(threads.Started(), 1);
  // Once that thread has ended the device opens again.
  ASSERT_TRUE(WaitUntil([&] { return Open("Till") == opos::kSuccess; }));
  EXPECT_EQ(threads.Started(), 2);
}

TEST_F(ThreadedServiceTest, CloseInTheMiddleOfALabelEndsTheThread) {
  OpenEnabled();
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("A0123");
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_EQ(threads.Terminated(), 0);
  EXPECT_EQ(events.DataEvents(), 0);
}

TEST_F(ThreadedServiceTest, ClearInputEmptiesWhatTheReceiveThreadQueued) {
  OpenEnabled();
  for (int i = 0; i < 20; ++i) serial.Feed(LabelNumber(i) + "\n");
  ASSERT_TRUE(WaitUntil([&] { return Property(opos::pidx::DataCount) == 20; }));
  EXPECT_EQ(service.ClearInput(), opos::kSuccess);
  EXPECT_EQ(Property(opos::pidx::DataCount), 0);
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("E01234565\n");
  ASSERT_TRUE(WaitUntil([&] { return events.DataEvents() == 1; }));
  EXPECT_EQ(service.GetPropertyString(opos::pidx::ScanData), "E01234565")
      << "the receive thread goes on after the drain";
}

}  // namespace
