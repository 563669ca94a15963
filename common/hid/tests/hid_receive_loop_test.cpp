// The USB receive loop on a scripted device: reports to labels, the read
// errors and what each one does, and how the loop ends.
#include "common/hid/hid_receive_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "testing/fakes/fake_hid.h"
#include "testing/fakes/hid_reports.h"
#include "testing/fakes/wait_until.h"

namespace {

using fakes::UpcReport;
using Problem = hid::ReceiveClient::Problem;

class RecordingClient : public hid::ReceiveClient {
 public:
  bool KeepReading() override { return keepReading; }
  bool DeviceOpen() override { return deviceOpen; }
  void Report(Problem problem, uint32_t value) override {
    problems.push_back({problem, value});
  }
  void Deliver(const uint8_t* label, int length) override {
    labels.emplace_back(reinterpret_cast<const char*>(label), length);
  }

  bool keepReading = true;
  std::atomic<bool> deviceOpen{true};
  std::vector<std::pair<Problem, uint32_t>> problems;
  std::vector<std::string> labels;
};

class HidLoopTest : public ::testing::Test {
 protected:
  HidLoopTest() {
    scanner = bus.AddScanner("scanner");
    bus.Open("scanner", device);
    // Once the script is spent, the device is closed by the application.
    scanner->OnIdleSlice([this] { client.deviceOpen = false; });
  }
  void Run(hid::Trailers trailers = hid::Trailers::kServiceObject) {
    hid::RunReceiveLoop(*device, client, trailers);
  }

  fakes::FakeHidBus bus;
  std::shared_ptr<fakes::FakeHidInterface> scanner;
  std::unique_ptr<hid::Device> device;
  RecordingClient client;
};

TEST_F(HidLoopTest, ReportsBecomeLabelsInOrder) {
  scanner->AddReport(UpcReport("012345678905"));
  scanner->AddReport(UpcReport("111111111111"), /*atOnce=*/true);
  std::vector<uint8_t> unknown(65, 0);
  unknown[1] = 10;
  scanner->AddReport(unknown);
  Run();
  EXPECT_EQ(client.labels,
            (std::vector<std::string>{"A012345678905", "A111111111111", ""}));
  EXPECT_EQ(
      client.problems,
      (std::vector<std::pair<Problem, uint32_t>>{{Problem::kCancelling, 0}}));
  EXPECT_EQ(scanner->Cancels(), 1);
  EXPECT_TRUE(scanner->Closed()) << "the loop closes the handles when it ends";
}

TEST_F(HidLoopTest, ShortReadIsReportedAndTheNextReadFollows) {
  scanner->AddReport(std::vector<uint8_t>(40, 0));
  scanner->AddReport(UpcReport("012345678905"));
  Run();
  ASSERT_GE(client.problems.size(), 1u);
  EXPECT_EQ(client.problems[0], std::make_pair(Problem::kShortRead, 40u));
  EXPECT_EQ(client.labels, (std::vector<std::string>{"A012345678905"}));
}

TEST_F(HidLoopTest, ImmediateReadErrorEndsTheLoop) {
  scanner->AddReadError(31, /*atOnce=*/true);
  scanner->AddReport(UpcReport("012345678905"));
  Run();
  EXPECT_EQ(
      client.problems,
      (std::vector<std::pair<Problem, uint32_t>>{{Problem::kReadError, 31}}));
  EXPECT_TRUE(client.labels.empty());
  EXPECT_TRUE(scanner->Closed());
}

TEST_F(HidLoopTest, PendingAsAnImmediateErrorIsWaitedFor) {
  scanner->AddReadError(syserr::kIoPending, /*atOnce=*/true);
  scanner->AddReport(UpcReport("012345678905"));
  Run();
  EXPECT_EQ(client.labels, (std::vector<std::string>{"A012345678905"}));
}

TEST_F(HidLoopTest, FailedResultLosesThatReportOnly) {
  scanner->AddReadError(995);
  scanner->AddReport(UpcReport("012345678905"));
  Run();
  ASSERT_GE(client.problems.size(), 1u);
  EXPECT_EQ(client.problems[0], std::make_pair(Problem::kResultError, 995u));
  EXPECT_EQ(client.labels, (std::vector<std::string>{"A012345678905"}));
}

TEST_F(HidLoopTest, ClosedDeviceReportsNothing) {
  client.deviceOpen = false;
  scanner->AddReport(std::vector<uint8_t>(40, 0), /*atOnce=*/true);
  scanner->AddReadError(31, /*atOnce=*/true);
  Run();
  EXPECT_EQ(
      client.problems,
      (std::vector<std::pair<Problem, uint32_t>>{{Problem::kCancelling, 0}}))
      << "only the cancelled read";
}

TEST_F(HidLoopTest, RemovedDeviceIsReportedAndEndsTheLoop) {
  scanner->AddReport(UpcReport("012345678905"));
  scanner->AddReadError(syserr::kDeviceNotConnected);
  scanner->AddReport(UpcReport("111111111111"));
  Run();
  EXPECT_EQ(client.labels, (std::vector<std::string>{"A012345678905"}));
  EXPECT_EQ(client.problems,
            (std::vector<std::pair<Problem, uint32_t>>{
                {Problem::kDeviceRemoved, syserr::kDeviceNotConnected}}));
  EXPECT_TRUE(scanner->Closed());

  auto other = bus.AddScanner("other");
  bus.Open("other", device);
  other->AddReadError(syserr::kDeviceNotConnected, /*atOnce=*/true);
  client.problems.clear();
  Run();
  EXPECT_EQ(client.problems.size(), 1u);
  EXPECT_EQ(client.problems[0].first, Problem::kDeviceRemoved);
}

TEST_F(HidLoopTest, StoppingEndsTheLoopBeforeTheNextRead) {
  client.keepReading = false;
  scanner->AddReport(UpcReport("012345678905"), /*atOnce=*/true);
  Run();
  EXPECT_TRUE(client.labels.empty());
  EXPECT_TRUE(scanner->Closed());
}

TEST_F(HidLoopTest, BridgeTrailersReachOnlyTheBridge) {
  std::vector<uint8_t> report(65, 0);
  report[1] = 9;
  report[5] = '1';
  report[6] = '2';
  report[7] = 0x00;
  report[8] = 0x2A;
  report[9] = 0x0B;
  scanner->AddReport(report);
  scanner->AddReport(report);
  Run(hid::Trailers::kJavaPos);
  EXPECT_EQ(client.labels[0], "RS12");
}

// An idle device: the loop wakes at most once a second of waiting, and a
// close that stops the wait ends the loop without a slice running out.
TEST_F(HidLoopTest, IdleDeviceWakesOnceASecondAtMost) {
  int idle = 0;
  scanner->OnIdleSlice([&] {
    if (++idle == 5) client.deviceOpen = false;
  });
  Run();
  EXPECT_EQ(scanner->Expired(), 5);
  EXPECT_GE(scanner->ExpiredMs(), 5 * 1000u);
}

TEST_F(HidLoopTest, StoppedWaitEndsTheLoopAtOnce) {
  scanner->WaitInRealTime(true);
  scanner->OnIdleSlice(nullptr);
  std::thread loop([this] { Run(); });
  ASSERT_TRUE(fakes::WaitUntil([&] { return scanner->Waits() > 0; }));
  client.deviceOpen = false;
  device->StopWaiting();
  loop.join();
  EXPECT_EQ(scanner->Expired(), 0) << "no slice ran out";
  EXPECT_EQ(
      client.problems,
      (std::vector<std::pair<Problem, uint32_t>>{{Problem::kCancelling, 0}}));
  EXPECT_EQ(scanner->Cancels(), 1) << "the pending read is cancelled";
  EXPECT_TRUE(scanner->Closed());
}

}  // namespace
