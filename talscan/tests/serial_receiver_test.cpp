// The serial receive loop of the fixed scanner types on a scripted port:
// how bytes become frames, what silence does, and when the scanner is
// found not set up.
#include "talscan/core/serial_receiver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "talscan/core/event_path.h"
#include "talscan/core/scanner_programmer.h"
#include "testing/fakes/recording_event_sink.h"
#include "testing/fakes/recording_notifier.h"
#include "testing/fakes/scripted_serial_port.h"
#include "testing/fakes/virtual_clock.h"

namespace {

const char kNotSetUp[] =
    "BARCODE SCANNER IS NOT SETUP CORRECTLY!\n\nAfter you click OK the "
    "scanner will be configured. Please do not scan labels during this "
    "configuration of the scanner. The process may take up to 10 "
    "seconds.\n\nIf this message shows up again after the next scan, please "
    "contact your system administrator.";

class SerialReceiverTest : public ::testing::Test {
 protected:
  SerialReceiverTest()
      : port(clock),
        events(state, opening, sink),
        link(port, clock, opening),
        programmer(link, clock, opening),
        receiver(state, opening, link, clock, notifier, events, sink,
                 programmer) {
    port.Open("COM1");
    opening.Entry.ScannerType = kTypeFixedLaser;
    opening.ReceiveActive = true;
    state.DeviceEnabled = 1;
    state.DataEventEnabled = 1;
    state.DecodeData = 1;
    // Each label is taken by the application at once.
    sink.OnEvent([this](const fakes::FiredEvent&) {
      labels.push_back(events.ScanData());
      state.DataEventEnabled = 1;
    });
  }

  // Runs the loop until the script is spent and the port has been silent
  // for `idleReads` reads. Each of `later` is fed when the receive loop
  // (not a programming run) finds the port silent, one at a time.
  void RunUntilSilent(int idleReads = 30, std::vector<std::string> later = {}) {
    auto pending = std::make_shared<std::vector<std::string>>(std::move(later));
    port.OnIdleRead([this, idleReads, pending](int reads) {
      if (opening.ProgrammingActive) return;
      if (!pending->empty()) {
        port.Feed(pending->front());
        pending->erase(pending->begin());
      } else if (reads >= idleReads) {
        opening.ReceiveActive = false;
      }
    });
    receiver.Run();
  }

  fakes::VirtualClock clock;
  fakes::ScriptedSerialPort port;
  fakes::RecordingEventSink sink;
  fakes::RecordingNotifier notifier;
  ScannerState state;
  Opening opening{DeviceEntry()};
  EventPath events;
  PortLink link;
  ScannerProgrammer programmer;
  SerialReceiver receiver;
  std::vector<std::string> labels;
};

TEST_F(SerialReceiverTest, LineFeedEndsAFrameAndCarriageReturnsAreIgnored) {
  port.Feed("A012345678905\r\n");
  port.Feed("\rE0123\r4565\n");
  RunUntilSilent();
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905", "E01234565"}));
  EXPECT_TRUE(notifier.Boxes().empty());
}

TEST_F(SerialReceiverTest, EveryKnownCodeLetterStartsALabel) {
  for (char letter : std::string("AEFGHIKLMNP")) {
    port.Feed(std::string(1, letter) + "123\n");
  }
  RunUntilSilent();
  ASSERT_EQ(labels.size(), 11u);
  EXPECT_EQ(labels[10], "P123");
  EXPECT_TRUE(notifier.Boxes().empty());
}

TEST_F(SerialReceiverTest, LabelsKeepEveryByteExactlyAsScanned) {
  const std::string binary("P\x00\x7F\x80\xFF\x1B", 6);
  port.Feed(binary + "\n");
  RunUntilSilent();
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0], binary);
}

TEST_F(SerialReceiverTest, LineFeedWithoutAKnownLetterMeansNotSetUp) {
  // The programming run that follows each warning drains the port, so
  // each case comes after the previous run.
  port.Feed("\r\n\n");
  RunUntilSilent(30, {"B12345\n", "b12345\n", std::string("\0\n", 2)});
  EXPECT_TRUE(labels.empty());
  ASSERT_EQ(notifier.Boxes().size(), 4u);
  EXPECT_EQ(notifier.Boxes()[0].caption, "TALSCAN.ScannerSO");
  EXPECT_EQ(notifier.Boxes()[0].text, kNotSetUp);
}

TEST_F(SerialReceiverTest, NotSetUpProgramsTheScannerAfterTheWarning) {
  opening.Entry.ScannerType = kTypeUnlisted;
  size_t writtenAtWarning = 99;
  notifier.OnShow([&] { writtenAtWarning = port.Written().size(); });
  port.Feed("X\n");
  RunUntilSilent();
  EXPECT_EQ(writtenAtWarning, 0u) << "nothing is sent before the user's OK";
  EXPECT_EQ(port.WrittenText(), "\x01\r\nS0680\r\n\x04")
      << "no reply, so the second command is not sent";
  EXPECT_FALSE(opening.ProgrammingActive);
}

TEST_F(SerialReceiverTest, FrameOverflowMeansNotSetUpAndDropsTheFrame) {
  port.Feed("A" + std::string(127, '1'));  // 128 bytes fit
  port.Feed("2");                          // the 129th does not
  RunUntilSilent(30, {"A012345678905\n"});
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905"}));
}

TEST_F(SerialReceiverTest, FullFrameFollowedByLineFeedIsStillALabel) {
  port.Feed("A" + std::string(127, '7') + "\n");
  RunUntilSilent();
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].size(), 128u);
  EXPECT_TRUE(notifier.Boxes().empty());
}

TEST_F(SerialReceiverTest, OneOrTwoStrayBytesBeforeSilenceAreDropped) {
  port.Feed("A");
  port.Silence();
  port.Feed("E1234565\n");
  port.Feed("xy");
  port.Silence();
  port.Feed("A012345678905\n");
  RunUntilSilent();
  EXPECT_EQ(labels, (std::vector<std::string>{"E1234565", "A012345678905"}));
}

TEST_F(SerialReceiverTest, LongerFrameWaitsAcrossSilenceForItsLineFeed) {
  port.Feed("A1234");
  port.Silence(3);
  port.Feed("56789012\n");
  RunUntilSilent();
  EXPECT_EQ(labels, (std::vector<std::string>{"A123456789012"}));
}

TEST_F(SerialReceiverTest, FrameWhoseLineFeedNeverComesIsReported) {
  port.Feed("A1234");
  port.Silence(11);
  RunUntilSilent(30, {"A012345678905\n"});
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(notifier.Boxes()[0].text, kNotSetUp);
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905"}))
      << "the stale bytes are not joined to the next label";
}

TEST_F(SerialReceiverTest, TenSilentReadsStillKeepThePartialFrame) {
  port.Feed("A1234");
  port.Silence(10);
  port.Feed("56789012\n");
  RunUntilSilent();
  EXPECT_TRUE(notifier.Boxes().empty());
  EXPECT_EQ(labels, (std::vector<std::string>{"A123456789012"}));
}

TEST_F(SerialReceiverTest, DisablingInTheMiddleOfALabelDropsItsStart) {
  port.Feed("A0123");
  port.Silence();
  int idle = 0;
  port.OnIdleRead([&](int) {
    switch (++idle) {
      case 1:  // disabled: the rest of that label is read and dropped
        state.DeviceEnabled = 0;
        port.Feed("4567\r\n");
        break;
      case 2:
        state.DeviceEnabled = 1;
        port.Feed("A999999999999\r\n");
        break;
      default:
        if (idle > 5) opening.ReceiveActive = false;
    }
  });
  receiver.Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"A999999999999"}));
  EXPECT_TRUE(notifier.Boxes().empty());
}

TEST_F(SerialReceiverTest, DisabledDeviceReadsAndDropsEverything) {
  state.DeviceEnabled = 0;
  port.Feed("A012345678905\n\n\n");
  RunUntilSilent();
  EXPECT_TRUE(labels.empty());
  EXPECT_TRUE(notifier.Boxes().empty());
  EXPECT_EQ(port.PendingInput(), 0u) << "the bytes were read";
}

TEST_F(SerialReceiverTest, SilenceCountsInPausesOnlyWhileAFrameIsUnderWay) {
  // Four empty reads each time; the frame's first byte ended the first
  // wait at once.
  const struct {
    const char* fed;
    std::vector<uint32_t> pauses;
  } cases[] = {
      {"", {30000, 30000, 30000, 30000}},  // nothing to count: long waits
      {"A12", {250, 250, 250}},        // a frame waits for its line feed
  };
  for (const auto& c : cases) {
    clock.ClearSleeps();
    const uint64_t start = clock.NowMs();
    opening.ReceiveActive = true;
    port.Feed(c.fed);
    RunUntilSilent(4);
    EXPECT_EQ(clock.Sleeps(), c.pauses) << c.fed;
    uint64_t waited = 4 * 101;
    for (uint32_t pause : c.pauses) waited += pause;
    EXPECT_EQ(clock.NowMs() - start, waited) << c.fed;
  }
}

TEST_F(SerialReceiverTest, ALabelIsTakenTheMomentItArrives) {
  std::vector<uint64_t> deliveredAt;
  sink.OnEvent([&](const fakes::FiredEvent&) {
    deliveredAt.push_back(clock.NowMs());
    labels.push_back(events.ScanData());
    state.DataEventEnabled = 1;
  });
  port.Feed("A012345678905\n");      // there before the loop starts
  port.FeedAt(1234, "E01234565\n");   // during a long wait of an idle port
  port.FeedAt(3000, "F400");           // a frame that falls silent...
  port.FeedAt(3200, "6381333931\n");  // ...and goes on within its pause
  RunUntilSilent(3);
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905", "E01234565",
                                              "F4006381333931"}));
  EXPECT_EQ(deliveredAt, (std::vector<uint64_t>{0, 1234, 3200}));
}

// A driver that refuses the time-outs of a read that returns at its first
// byte, or ends such a read at once, still has its port read every read
// time-out: a label that comes during a long idle wait is taken within one.
// Silence is counted in periods as long as with a driver that waits.
TEST_F(SerialReceiverTest, DriversThatCannotWaitForTheFirstByteAreStillRead) {
  using Reads = fakes::ScriptedSerialPort::FirstByteReads;
  for (Reads reads : {Reads::kHonoured, Reads::kRefused, Reads::kEndedAtOnce}) {
    port.SetFirstByteReads(reads);
    labels.clear();
    uint64_t deliveredAt = 0;
    sink.OnEvent([&](const fakes::FiredEvent&) {
      deliveredAt = clock.NowMs();
      labels.push_back(events.ScanData());
      state.DataEventEnabled = 1;
    });
    const uint64_t scannedAt = clock.NowMs() + 12345;
    port.FeedAt(scannedAt, "A012345678905\n");
    opening.ReceiveActive = true;
    RunUntilSilent(200);
    ASSERT_EQ(labels, std::vector<std::string>{"A012345678905"});
    EXPECT_LE(deliveredAt - scannedAt,
              fakes::ScriptedSerialPort::kReadTimeoutMs);

    uint64_t shownAt = 0;
    notifier.OnShow([&] { shownAt = clock.NowMs(); });
    const uint64_t fedAt = clock.NowMs();
    port.Feed("A0123");  // a frame whose line feed never comes
    opening.ReceiveActive = true;
    RunUntilSilent(200);
    // The read that found the frame's end, then ten pauses and reads.
    EXPECT_EQ(shownAt - fedAt, 101u + 10 * (250 + 101));
  }
}

// Only a port whose state can no longer be read has gone; a read that
// fails on a port still there is an empty one.
TEST_F(SerialReceiverTest, FailedReadsOnAPortStillThereAreEmptyReads) {
  port.FailReads(3);
  port.Feed("A012345678905\n");
  RunUntilSilent(3);
  EXPECT_EQ(labels, std::vector<std::string>{"A012345678905"});
  EXPECT_EQ(sink.Events().size(), 1u) << "no status update";
  EXPECT_EQ(port.Opens(), 1) << "not reopened";
}

TEST_F(SerialReceiverTest, ProgrammingRunHoldsThePort) {
  opening.ProgrammingActive = true;
  port.Feed("A012345678905\n");
  int pauses = 0;
  clock.OnSleep([&](uint32_t) {
    if (++pauses == 5) opening.ReceiveActive = false;
  });
  receiver.Run();
  EXPECT_EQ(port.PendingInput(), 14u) << "nothing was read";
  EXPECT_TRUE(labels.empty());
}

TEST_F(SerialReceiverTest, ClearInputDropsTheFrameBeingAssembled) {
  port.Feed("A12345");
  port.FeedAt(1000, "E1234565\n");
  // The first pause comes after the partial frame fell silent.
  clock.OnSleep([&](uint32_t) { events.RequestFrameDiscard(); });
  RunUntilSilent();
  EXPECT_EQ(labels, (std::vector<std::string>{"E1234565"}));
}

TEST_F(SerialReceiverTest, StoppingClearsThePendingPortableOperation) {
  opening.PortableState = 3;
  // Told to stop during its pause, the loop notices before the next read.
  clock.OnSleep([&](uint32_t) { opening.ReceiveActive = false; });
  receiver.Run();
  EXPECT_EQ(opening.PortableState, 0);
  EXPECT_EQ(clock.Sleeps().size(), 1u);
}

}  // namespace
