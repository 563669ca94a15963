// Programming sequences byte for byte with their pauses on the virtual
// clock, the reply rules, and draining the port.
#include "talscan/core/scanner_programmer.h"

#include <gtest/gtest.h>

#include <string>

#include "talscan/core/port_link.h"
#include "testing/fakes/scripted_serial_port.h"
#include "testing/fakes/virtual_clock.h"

namespace {

class ProgrammerTest : public ::testing::Test {
 protected:
  ProgrammerTest()
      : port(clock),
        link(port, clock, opening),
        programmer(link, clock, opening) {
    port.Open("COM1");
    opening.ReceiveActive = true;  // an open device
  }

  // Answers each command (its last byte is `end`) with the next reply.
  void Replies(char end, std::vector<std::string> replies) {
    auto queue = std::make_shared<std::vector<std::string>>(std::move(replies));
    port.OnWrite([this, end, queue](uint8_t byte) {
      if (byte != static_cast<uint8_t>(end) || queue->empty()) return;
      port.Feed(queue->front());
      port.Silence();
      queue->erase(queue->begin());
    });
  }
  std::vector<uint64_t> Gaps() {
    std::vector<uint64_t> gaps;
    const auto written = port.Written();
    for (size_t i = 1; i < written.size(); ++i) {
      gaps.push_back(written[i].timeMs - written[i - 1].timeMs);
    }
    return gaps;
  }

  fakes::VirtualClock clock;
  fakes::ScriptedSerialPort port;
  Opening opening{DeviceEntry()};
  PortLink link;
  ScannerProgrammer programmer;
};

TEST_F(ProgrammerTest, UnlistedTypeSendsTwoCommandsCheckedForOk) {
  opening.Entry.ScannerType = kTypeUnlisted;
  Replies('\x04', {"OK\r\n", "OK\r\n"});
  EXPECT_TRUE(programmer.ProgramScanner());
  EXPECT_EQ(port.WrittenText(),
            "\x01\r\nS0680\r\n\x04"
            "\x01\r\nF0101\r\n\x04");
  const auto gaps = Gaps();
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(gaps[i], 2u) << i;
  // After the first command's last byte: 2 ms, 1000 ms, the reply read.
  EXPECT_EQ(gaps[10], 2u + 1000u);
  EXPECT_FALSE(opening.ProgrammingActive);
}

TEST_F(ProgrammerTest, AutoScanChoosesTheAutomaticForm) {
  opening.Entry.ScannerType = kTypeUnlisted;
  opening.Entry.AutoScan = true;
  Replies('\x04', {"OK\r\n", "OK\r\n"});
  EXPECT_TRUE(programmer.ProgramScanner());
  EXPECT_NE(port.WrittenText().find("F0102"), std::string::npos);
}

TEST_F(ProgrammerTest, OkRuleCountsTheReplyBytes) {
  const struct {
    std::string reply;
    bool accepted;
  } cases[] = {
      {"OK\r\n", true},  {"xOKyz", true},       {"OK..", true},
      {"OK\r", false},   {"OK\r\n\r\n", false}, {"", false},
      {"ok\r\n", false}, {"xyOKz", false},
  };
  for (const auto& c : cases) {
    fakes::VirtualClock caseClock;
    fakes::ScriptedSerialPort casePort(caseClock);
    casePort.Open("COM1");
    Opening caseOpening{DeviceEntry()};
    caseOpening.ReceiveActive = true;
    PortLink caseLink(casePort, caseClock, caseOpening);
    ScannerProgrammer caseProgrammer(caseLink, caseClock, caseOpening);
    casePort.OnWrite([&](uint8_t byte) {
      if (byte == 0x04) {
        casePort.Feed(c.reply);
        casePort.Silence();
      }
    });
    EXPECT_EQ(caseProgrammer.ProgramScanner(), c.accepted) << c.reply;
    const std::string written = casePort.WrittenText();
    const size_t commands = std::count(written.begin(), written.end(), '\x04');
    EXPECT_EQ(commands, c.accepted ? 2u : 1u)
        << "the second command follows an accepted first: " << c.reply;
  }
}

TEST_F(ProgrammerTest, FixedLaserRetriesOnceForAnAck) {
  opening.Entry.ScannerType = kTypeFixedLaser;
  int commands = 0;
  port.OnWrite([&](uint8_t byte) {
    if (byte != '-' && byte != '1') return;
    const std::string text = port.WrittenText();
    if (text.size() < 5 || (text.substr(text.size() - 4) != "----" &&
                            text.substr(text.size() - 4) != "IS01")) {
      return;
    }
    // The first attempt is refused, every later one acknowledged.
    port.Feed(++commands == 1 ? "\x15" : "\x06");
    port.Silence();
  });
  EXPECT_TRUE(programmer.ProgramScanner());
  EXPECT_EQ(port.WrittenText(), "\xAA----\xAA----\xAAIS01");
  // Three 1 ms pauses after each byte; 1000 ms before the reply.
  const auto gaps = Gaps();
  EXPECT_EQ(gaps[0], 3u);
  EXPECT_EQ(gaps[4], 3u + 1000u);
}

TEST_F(ProgrammerTest, FixedLaserSendsTheSecondCommandEvenAfterAFailure) {
  opening.Entry.ScannerType = kTypeFixedLaser;
  port.OnWrite([&](uint8_t byte) {
    if (byte == '1') {  // only "IS01" is acknowledged
      port.Feed("\x06");
      port.Silence();
    }
  });
  EXPECT_FALSE(programmer.ProgramScanner());
  EXPECT_EQ(port.WrittenText(), "\xAA----\xAA----\xAAIS01");
}

TEST_F(ProgrammerTest, FixedLaserWantsExactlyOneAckByte) {
  opening.Entry.ScannerType = kTypeFixedLaser;
  port.OnWrite([&](uint8_t byte) {
    if (byte == '-' || byte == '1') {
      port.Feed("\x06\x06");
      port.Silence();
    }
  });
  EXPECT_FALSE(programmer.ProgramScanner());
}

TEST_F(ProgrammerTest, FixedLaserGivesUpAtOnceWhenAWriteFails) {
  opening.Entry.ScannerType = kTypeFixedLaser;
  port.FailWrites(true);
  EXPECT_FALSE(programmer.ProgramScanner());
  EXPECT_EQ(port.WrittenText(), "");
  EXPECT_LT(clock.NowMs(), 1000u) << "no reply is waited for";
}

TEST_F(ProgrammerTest, Model88SendsFifteenLinesAndNeverConfirms) {
  for (bool autoScan : {false, true}) {
    fakes::VirtualClock runClock;
    fakes::ScriptedSerialPort runPort(runClock);
    runPort.Open("COM1");
    Opening runOpening{DeviceEntry()};
    runOpening.ReceiveActive = true;
    runOpening.Entry.ScannerType = kTypeModel88;
    runOpening.Entry.AutoScan = autoScan;
    PortLink runLink(runPort, runClock, runOpening);
    ScannerProgrammer runProgrammer(runLink, runClock, runOpening);
    EXPECT_FALSE(runProgrammer.ProgramScanner());
    EXPECT_EQ(runPort.WrittenText(),
              std::string(">!IN\r\n>5AD00\r\n>8AB0D0A\r\n>6AH01\r\n>BAH4D\r\n"
                          ">DAH4B\r\n>IAH49\r\n>EAH4E\r\n>NAH41\r\n>GAH46\r\n"
                          ">CAH4C\r\n>OAH45\r\n>FAH4646\r\n>5AD07\r\n") +
                  (autoScan ? ">7AA04\r\n" : ">7AA01\r\n"));
    std::vector<uint32_t> sleeps = runClock.Sleeps();
    ASSERT_GE(sleeps.size(), 16u);
    EXPECT_EQ(sleeps[0], 450u);
    EXPECT_EQ(sleeps[1], 3000u);
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.begin() + 16, 450u), 15);
  }
}

TEST_F(ProgrammerTest, DrainOfASilentPortTakesItsFourReads) {
  EXPECT_TRUE(link.DrainPort());
  EXPECT_EQ(clock.NowMs(), 3u * (101 + 150) + 101);
  EXPECT_FALSE(opening.ProgrammingActive);
}

TEST_F(ProgrammerTest, DrainDiscardsWhatCameBeforeAndReportsQuiet) {
  port.Feed("A0123");
  port.Silence();
  port.Feed("stray");
  EXPECT_TRUE(link.DrainPort());
  EXPECT_EQ(port.PendingInput(), 0u);
}

TEST_F(ProgrammerTest, DrainOfAPortThatKeepsTalkingEndsAndSaysSo) {
  port.Feed(std::string(5000, 'x'));
  EXPECT_FALSE(link.DrainPort());
  EXPECT_FALSE(opening.ProgrammingActive);
  EXPECT_GT(port.PendingInput(), 1000u) << "each pass reads a bounded amount";
}

TEST_F(ProgrammerTest, DrainReportsAByteInItsLastRead) {
  port.Silence(3);
  port.Feed("y");
  EXPECT_FALSE(link.DrainPort());
}

TEST_F(ProgrammerTest, DrainOfAClosedPortIsNotQuiet) {
  port.Close();
  EXPECT_FALSE(link.DrainPort()) << "the last read failed";
}

TEST_F(ProgrammerTest, RunStopsWhenTheDeviceIsClosing) {
  opening.Entry.ScannerType = kTypeModel88;
  // Close clears ReceiveActive while the run waits after its first line.
  clock.OnSleep([this](uint32_t) { opening.ReceiveActive = false; });
  EXPECT_FALSE(programmer.ProgramScanner());
  EXPECT_EQ(port.WrittenText(), ">!IN\r\n") << "no further line is sent";
  EXPECT_FALSE(opening.ProgrammingActive) << "the port is handed back";
  EXPECT_LT(clock.NowMs(), 5000u) << "within the bound Close waits";
}

}  // namespace
