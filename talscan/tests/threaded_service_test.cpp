// The service object with its receive thread running: labels cross from
// the receive thread to the application while the application's thread
// works on the same device. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "talscan/tests/service_fixture.h"
#include "testing/fakes/wait_until.h"

namespace {

using fakes::WaitUntil;
using fakes::WaitUntilOrTimeout;

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
  std::vector<long> Statuses() {
    std::vector<long> statuses;
    for (const auto& event : events.Events()) {
      if (event.kind == fakes::FiredEvent::kStatusUpdate) {
        statuses.push_back(event.number);
      }
    }
    return statuses;
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

// A port that waits in real time, as a real one does: what must wake the
// receive thread's wait does, or the wait runs out and is counted.
TEST_F(ThreadedServiceTest, CloseEndsTheReceiveThreadsWaitForInput) {
  serial.BlockWaits(true);
  OpenEnabled();
  ASSERT_TRUE(WaitUntil([&] { return serial.WaitsInProgress() == 1; }));
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_EQ(threads.Terminated(), 0) << "the thread ended by itself";
  EXPECT_EQ(serial.WaitsNobodyEnded(), 0);
}

TEST_F(ThreadedServiceTest, ProgrammingRepliesAreNotTakenByTheWaitingThread) {
  serial.BlockWaits(true);
  WriteEntry("Till", "Handheld");
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  ASSERT_EQ(service.Claim(0), opos::kSuccess);
  service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
  ASSERT_TRUE(WaitUntil([&] { return serial.WaitsInProgress() == 1; }));
  // The scanner answers each command at once, while the receive thread
  // would still be waiting if the programming run had not ended its wait.
  serial.OnWrite([&](uint8_t byte) {
    if (byte == 0x04) serial.Feed("OK\r\n");
  });
  EXPECT_EQ(service.DirectIO(12345), opos::kSuccess);
  EXPECT_EQ(serial.WaitsNobodyEnded(), 0);
  EXPECT_TRUE(notifier.Boxes().empty()) << "no reply was read as a label";
  service.Close();
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

// An application that resets the scanner on a label: Close, Open, Claim
// and enable from inside its data event, on the receive thread. The device
// ends up open with one thread reading it, and every label after the reset
// comes once and whole.
TEST_F(ThreadedServiceTest, ResetInsideTheHandlerLeavesOneThreadReading) {
  OpenEnabled();
  std::mutex seenMutex;
  std::vector<std::string> seen;
  std::atomic<long> reset{-1};
  events.OnEvent([&](const fakes::FiredEvent&) {
    if (reset == -1) {
      reset = service.Close() + Open("Till") + service.Claim(0);
      service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
      service.SetPropertyNumber(opos::pidx::DecodeData, 1);
    } else {
      std::lock_guard<std::mutex> lock(seenMutex);
      seen.push_back(service.GetPropertyString(opos::pidx::ScanData));
    }
    service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  });
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("A012345678905\n");
  ASSERT_TRUE(WaitUntil([&] { return threads.Ended() == 1; }))
      << "the first thread ends once its handler has returned";
  EXPECT_EQ(reset, opos::kSuccess);
  EXPECT_EQ(threads.Started(), 2);
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateIdle);
  EXPECT_EQ(Property(opos::pidx::Claimed), 1);
  EXPECT_EQ(Property(opos::pidx::DeviceEnabled), 1);

  for (int i = 0; i < 40; ++i) serial.Feed(LabelNumber(i) + "\n");
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(seenMutex);
    return seen.size() >= 40;
  }));
  std::lock_guard<std::mutex> lock(seenMutex);
  ASSERT_EQ(seen.size(), 40u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(seen[i], LabelNumber(i)) << i;
}

// A message the application's thread handles while its Close waits for
// the receive thread closes and opens the device again: the outer Close
// ends the opening it began with and leaves the new one as it is.
TEST_F(ThreadedServiceTest, OpeningMadeDuringCloseOutlastsThatClose) {
  OpenEnabled();
  std::mutex gate;
  std::unique_lock<std::mutex> blocked(gate);
  std::atomic<int> handled{0};
  events.OnEvent([&](const fakes::FiredEvent&) {
    if (++handled == 1) std::lock_guard<std::mutex> wait(gate);
  });
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("A012345678905\n");
  ASSERT_TRUE(WaitUntil([&] { return handled == 1; }));
  long nested = -1;
  threads.DuringNextWait([&] {
    blocked.unlock();
    nested = service.Close();
    OpenEnabled();
  });
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_EQ(nested, opos::kSuccess);
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateIdle);
  EXPECT_EQ(Property(opos::pidx::DeviceEnabled), 1);
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("E01234565\n");
  ASSERT_TRUE(WaitUntil([&] { return handled == 2; }));
  EXPECT_EQ(service.GetPropertyString(opos::pidx::ScanData), "E01234565");
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

// A handler that blocks past Close's bound gets its thread stopped; what
// that thread held (a data event under way, its frame, its opening) must
// not reach the next opening.
TEST_F(ThreadedServiceTest, ThreadStoppedByForceLeavesNothingToTheNextOpening) {
  OpenEnabled();
  std::mutex gate;
  std::unique_lock<std::mutex> blocked(gate);
  std::atomic<int> handled{0};
  events.OnEvent([&](const fakes::FiredEvent& event) {
    if (event.kind != fakes::FiredEvent::kData) return;
    if (++handled == 1) std::lock_guard<std::mutex> wait(gate);
  });
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("A012345678905\n");
  ASSERT_TRUE(WaitUntil([&] { return handled == 1; }));
  threads.ExpireWaits(true);
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_EQ(threads.Terminated(), 1);
  threads.ExpireWaits(false);

  OpenEnabled();
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("E01234565\n");
  ASSERT_TRUE(WaitUntil([&] { return handled == 2; }))
      << "the label is delivered, not queued behind the stopped event";
  EXPECT_EQ(service.GetPropertyString(opos::pidx::ScanData), "E01234565");
  EXPECT_EQ(Property(opos::pidx::DataCount), 0);
  EXPECT_EQ(service.ClearInput(), opos::kSuccess);
  // Nothing the stopped thread holds is the next opening's.
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_EQ(threads.Ended(), 1) << "the second opening's thread";
  OpenEnabled();

  blocked.unlock();  // the stopped handler returns into its own opening
  ASSERT_TRUE(WaitUntil([&] { return threads.Ended() == 2; }));
  serial.Feed("F4006381333931\n");
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  ASSERT_TRUE(WaitUntil([&] { return handled == 3; }));
  EXPECT_EQ(service.GetPropertyString(opos::pidx::ScanData), "F4006381333931");
}

TEST_F(ThreadedServiceTest, EndingTheOpeningWithoutCloseFreesThePort) {
  OpenEnabled();
  service.EndOpening();
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_EQ(threads.Ended(), 1);
  EXPECT_EQ(Property(opos::pidx::State), opos::kStateClosed);
  OpenEnabled();
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("A012345678905\n");
  ASSERT_TRUE(WaitUntil([&] { return events.DataEvents() == 1; }));
}

// The enable byte comes from the application's thread while a programming
// run writes its commands byte by byte: it must go out between two
// commands, never inside one.
TEST_F(ThreadedServiceTest,
       EnableByteDuringAProgrammingRunGoesBetweenCommands) {
  OpenEnabled();
  serial.ClearWritten();
  std::thread enabler;
  std::atomic<bool> started{false};
  clock.OnSleep([&](uint32_t milliseconds) {
    // The first pause after the second byte of a command.
    if (milliseconds != 1 || serial.Written().size() != 2 ||
        started.exchange(true)) {
      return;
    }
    enabler = std::thread(
        [&] { service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1); });
    // Time for a writer that does not wait its turn to get its byte in.
    WaitUntilOrTimeout([&] { return serial.Written().size() > 2; },
                       std::chrono::milliseconds(100));
  });
  EXPECT_EQ(service.DirectIO(12345), opos::kFailure) << "no scanner answers";
  enabler.join();
  const std::string written = serial.WrittenText();
  const size_t enable = written.find('\x0E');
  ASSERT_NE(enable, std::string::npos);
  EXPECT_EQ(enable % 5, 0u) << "inside a five-byte command: " << enable;
  EXPECT_EQ(written.size(), 4 * 5 + 1u);
}

// A USB-to-serial adapter pulled out and plugged in again: the application
// hears of both, and labels flow again without a new opening.
TEST_F(ThreadedServiceTest, VanishedPortIsReportedReopenedAndReportedBack) {
  OpenEnabled();
  service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
  serial.Feed("A0123");
  ASSERT_TRUE(WaitUntil([&] { return serial.PendingInput() == 0; }));
  serial.Vanish(true);
  ASSERT_TRUE(WaitUntil([&] { return Statuses().size() == 1; }));
  EXPECT_EQ(Statuses()[0], opos::sue::PowerOffOffline);
  serial.Vanish(false);
  ASSERT_TRUE(WaitUntil([&] { return Statuses().size() == 2; }));
  EXPECT_EQ(Statuses()[1], opos::sue::PowerOnline);
  EXPECT_EQ(serial.Opens(), 2);
  EXPECT_EQ(serial.Settings()->BaudRate, 9600u) << "configured again";

  serial.Feed("E01234565\n");
  ASSERT_TRUE(WaitUntil([&] { return events.DataEvents() == 1; }));
  EXPECT_EQ(service.GetPropertyString(opos::pidx::ScanData), "E01234565")
      << "what came before the loss is not joined to what comes after";

  serial.Vanish(true);
  ASSERT_TRUE(WaitUntil([&] { return Statuses().size() == 3; }));
  EXPECT_EQ(service.Close(), opos::kSuccess) << "a vanished port closes";
  EXPECT_EQ(threads.Terminated(), 0);
}

}  // namespace
