// The portable scanners' packet protocol on a scripted port: the packets
// the driver writes, a whole download, the replies of the other
// operations, damaged and oversized packets, silence, unsolicited records,
// how records become labels, and the wake-up before each operation.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/opos/opos.h"
#include "talscan/core/event_path.h"
#include "talscan/core/portable/protocol.h"
#include "talscan/core/scanner_programmer.h"
#include "talscan/core/serial_receiver.h"
#include "talscan/tests/service_fixture.h"
#include "testing/fakes/recording_event_sink.h"
#include "testing/fakes/recording_notifier.h"
#include "testing/fakes/scripted_serial_port.h"
#include "testing/fakes/virtual_clock.h"
#include "testing/fakes/wait_until.h"

namespace {

using Bytes = std::vector<uint8_t>;
using fakes::FiredEvent;

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;

const char kReceiveError[] =
    "MESSAGE RECEIVE ERROR!\n\nThe data received from the scanner was "
    "invalid. Please check connection and/or contact your system "
    "administrator.";

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes operator+(Bytes left, const Bytes& right) {
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

// A packet as the scanner sends it: start, sequence, body, end, and the
// XOR of everything before the check byte.
Bytes Packet(uint8_t sequence, const Bytes& body) {
  Bytes packet{0x82, sequence};
  packet = packet + body;
  packet.push_back(0x83);
  uint8_t check = 0;
  for (uint8_t byte : packet) check ^= byte;
  packet.push_back(check);
  return packet;
}

Bytes Damaged(Bytes packet) {
  packet.back() ^= 0x10;
  return packet;
}

Bytes Nibbles(const Bytes& data) {
  Bytes out;
  for (uint8_t byte : data) {
    out.push_back(static_cast<uint8_t>(byte >> 4));
    out.push_back(static_cast<uint8_t>(byte & 0x0F));
  }
  return out;
}

// A text field of a fixed width, padded with zero bytes.
Bytes Field(const std::string& text, size_t width) {
  Bytes field = B(text);
  field.resize(width, 0);
  return field;
}

const Bytes kReady{0x82, 0x00, 0x52, 0x83, 0x53};
const Bytes kEndOfDownload{0x82, 0x04, 0x04, 0x83, 0x01};
const Bytes kDownloadRequest{0x82, 0x00, 0x4C, 0x83, 0x4D};

// A download header announcing `records` records.
Bytes Header(uint8_t sequence, const std::string& first,
             const std::string& second, uint16_t records) {
  return Packet(sequence, Field(first, 8) + Field(second, 8) +
                              Nibbles({static_cast<uint8_t>(records & 0xFF),
                                       static_cast<uint8_t>(records >> 8)}));
}

// An application sink whose DirectIO handler may write to pData, as a
// control object's handler can.
class ApplicationSink : public fakes::RecordingEventSink {
 public:
  void FireSODirectIO(long eventNumber, long& data,
                      std::string& text) override {
    fakes::RecordingEventSink::FireSODirectIO(eventNumber, data, text);
    if (onDirectIO) onDirectIO(eventNumber, data);
  }
  std::function<void(long, long&)> onDirectIO;
};

class PortableReceiverTest : public ::testing::Test {
 protected:
  PortableReceiverTest()
      : port(clock),
        events(state, opening, sink),
        link(port, clock, opening),
        programmer(link, clock, opening) {
    port.Open("COM1");
    opening.Entry.ScannerType = kTypePortableM20;
    state.DeviceEnabled = 1;
    state.DataEventEnabled = 1;
    state.DecodeData = 1;
    sink.OnEvent([this](const FiredEvent& event) {
      if (event.kind == FiredEvent::kData) {
        labels.push_back(events.ScanData());
        dataLabels.push_back(events.ScanDataLabel());
        state.DataEventEnabled = 1;
      }
      if (onEvent) onEvent(event);
    });
  }

  // Runs the receive loop on this thread until the script is spent and
  // the port has then been silent for `idleReads` reads. The receiver is
  // made here because it takes the scanner type when it is constructed.
  void Run(int idleReads = 3) {
    opening.ReceiveActive = true;
    port.OnIdleRead([this, idleReads](int reads) {
      idleReadsSoFar = reads;
      if (reads >= idleReads) {
        stateAtStop = opening.PortableState;
        opening.ReceiveActive = false;
      }
    });
    SerialReceiver receiver(state, opening, link, clock, notifier, events, sink,
                            programmer);
    receiver.Run();
  }

  Bytes Written() {
    Bytes bytes;
    for (const fakes::WrittenByte& written : port.Written()) {
      bytes.push_back(written.byte);
    }
    return bytes;
  }

  // The events as short lines: "data", "status N", "io N pData text".
  std::vector<std::string> Trace() {
    std::vector<std::string> lines;
    for (const FiredEvent& event : sink.Events()) {
      switch (event.kind) {
        case FiredEvent::kData: lines.push_back("data"); break;
        case FiredEvent::kStatusUpdate:
          lines.push_back("status " + std::to_string(event.number));
          break;
        case FiredEvent::kDirectIO:
          lines.push_back("io " + std::to_string(event.number) + " " +
                          std::to_string(event.data) + " " + event.text);
          break;
      }
    }
    return lines;
  }

  void Feed(const Bytes& bytes) { port.Feed(bytes); }

  void StartOver() {
    port.ClearWritten();
    sink.Clear();
    labels.clear();
    dataLabels.clear();
  }

  fakes::VirtualClock clock;
  fakes::ScriptedSerialPort port;
  ApplicationSink sink;
  fakes::RecordingNotifier notifier;
  ScannerState state;
  Opening opening{DeviceEntry()};
  EventPath events;
  PortLink link;
  ScannerProgrammer programmer;
  std::function<void(const FiredEvent&)> onEvent;
  std::vector<std::string> labels;
  std::vector<std::string> dataLabels;
  long stateAtStop = -1;
  int idleReadsSoFar = 0;
};

// --- Requests the driver writes after the scanner's ready packet ---------

TEST_F(PortableReceiverTest,
       ConfigurationGoesAsCommandCAndSixteenBytesInNibbles) {
  opening.Entry.PortableConfiguration = {
      0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x00, 0x3F,
      0x04, 0x00, 0x82, 0x83, 0x43, 0x4F, 0x11, 0x22, 0x00, 0x44};
  opening.PortableState = 10;
  Feed(kReady);
  Run();
  const Bytes body{'C', 1,   2,   3,   4,   5, 6, 7, 8, 9,   0xA,
                   0xB, 0xC, 0xD, 0xE, 0xF, 0, 0, 0, 3, 0xF, 0,
                   4,   0,   0,   8,   2,   8, 3, 4, 3, 4,   0xF};
  EXPECT_EQ(Written(), Packet(0, body)) << "bytes 16 to 19 are not sent";
  EXPECT_EQ(stateAtStop, 11);
  EXPECT_TRUE(Trace().empty());
}

TEST_F(PortableReceiverTest,
       ClockGoesAsTwelveDigitsAndConfigurationBytes16To18) {
  opening.Entry.PortableConfiguration[16] = 0x01;
  opening.Entry.PortableConfiguration[17] = 0xA2;
  opening.Entry.PortableConfiguration[18] = 0x00;
  opening.Entry.PortableConfiguration[19] = 0x77;
  clock.SetLocal({2008, 6, 16, 9, 5, 7});
  opening.PortableState = 20;
  Feed(kReady);
  Run();
  // 061608090507: month, day, year, hour, minute, second.
  const Bytes body{'T', 3, 0, 3, 6, 3, 1, 3, 6, 3, 0, 3,   8, 3, 0, 3,
                   9,   3, 0, 3, 5, 3, 0, 3, 7, 0, 1, 0xA, 2, 0, 0};
  EXPECT_EQ(Written(), Packet(0, body));
  EXPECT_EQ(stateAtStop, 21);
}

TEST_F(PortableReceiverTest, ClockDigitsAreTwoPerFieldWithYearModulo100) {
  const struct {
    LocalTime local;
    const char* digits;
  } cases[] = {
      {{2099, 12, 31, 23, 59, 58}, "123199235958"},
      {{2000, 1, 2, 0, 0, 0}, "010200000000"},
      {{2100, 10, 9, 8, 7, 6}, "100900080706"},
  };
  for (const auto& c : cases) {
    StartOver();
    clock.SetLocal(c.local);
    opening.PortableState = 20;
    Feed(kReady);
    Run();
    EXPECT_EQ(Written(), Packet(0, Bytes{'T'} + Nibbles(B(c.digits)) +
                                       Bytes{0, 0, 0, 0, 0, 0}))
        << c.digits;
  }
}

TEST_F(PortableReceiverTest, UserIdentifierGoesAsCommandUAndEightCharacters) {
  opening.Entry.UserID = "AB12cd90";
  opening.PortableState = 30;
  Feed(kReady);
  Run();
  const Bytes body{'U', 4, 1, 4, 2, 3, 1, 3, 2, 6, 3, 6, 4, 3, 9, 3, 0};
  EXPECT_EQ(Written(), Packet(0, body));
  EXPECT_EQ(stateAtStop, 31);
}

TEST_F(PortableReceiverTest, StatusAndGRequestsAreSingleLetterPackets) {
  opening.PortableState = 40;
  Feed(kReady);
  Run();
  EXPECT_EQ(Written(), (Bytes{0x82, 0x00, 0x53, 0x83, 0x52}));
  EXPECT_EQ(stateAtStop, 41);

  StartOver();
  opening.PortableState = 50;
  Feed(kReady);
  Run();
  EXPECT_EQ(Written(), (Bytes{0x82, 0x00, 0x47, 0x83, 0x46}));
  EXPECT_EQ(stateAtStop, 51);
}

TEST_F(PortableReceiverTest, ReadyPacketIsKnownBySequence0AndItsFirstBodyByte) {
  opening.PortableState = 1;
  Feed(Packet(0, B("rest is not looked at")));
  Run();
  EXPECT_EQ(Written(), kDownloadRequest) << "lower-case r, longer body";

  StartOver();
  opening.PortableState = 1;
  Feed(Packet(1, B("R")));
  Feed(Packet(0, B("S")));
  Run();
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(stateAtStop, 1);
  EXPECT_TRUE(Trace().empty());
}

TEST_F(PortableReceiverTest, ReadyPacketWhileNothingIsPendingIsIgnored) {
  Feed(kReady);
  Feed(Packet(0, B("r")));
  Run();
  EXPECT_TRUE(Written().empty());
  EXPECT_TRUE(Trace().empty());
  EXPECT_EQ(stateAtStop, 0);
}

// --- Download ------------------------------------------------------------

TEST_F(PortableReceiverTest,
       DownloadAnswersEveryPacketDeliversRecordsAndEnds800) {
  long stateAt800 = -1;
  size_t writtenAt800 = 0;
  onEvent = [&](const FiredEvent& event) {
    if (event.kind == FiredEvent::kStatusUpdate) {
      stateAt800 = opening.PortableState;
      writtenAt800 = port.Written().size();
    }
  };
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "DEVICE01", "ABC", 2));
  Feed(Packet(2, B("A012345678905")));
  Feed(Packet(3, B("E01234565")));
  Feed(kEndOfDownload);
  Run();

  const Bytes answers[] = {{0x82, 0x01, 0x06, 0x83, 0x06},
                           {0x82, 0x02, 0x06, 0x83, 0x05},
                           {0x82, 0x03, 0x06, 0x83, 0x04},
                           {0x82, 0x04, 0x06, 0x83, 0x03}};
  EXPECT_EQ(Written(), kDownloadRequest + answers[0] + answers[1] + answers[2] +
                           answers[3]);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"io 500 1 DEVICE01",
                                               "io 501 1 ABC", "io 502 2 ",
                                               "data", "data", "status 800"}));
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905", "E01234565"}));
  EXPECT_EQ(stateAt800, 0) << "the application may start again from 800";
  EXPECT_EQ(writtenAt800, 25u) << "800 only once the end was answered";
  EXPECT_EQ(stateAtStop, 0);
}

TEST_F(PortableReceiverTest, HeaderEventsComeBeforeItsAcknowledgementInState2) {
  std::vector<long> states;
  std::vector<size_t> written;
  onEvent = [&](const FiredEvent&) {
    states.push_back(opening.PortableState);
    written.push_back(port.Written().size());
  };
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "X", "Y", 1));
  Feed(Packet(2, B("A012345678905")));
  Run();
  EXPECT_EQ(states, (std::vector<long>{2, 2, 2, 3}));
  EXPECT_EQ(written, (std::vector<size_t>{5, 5, 5, 15}))
      << "header acknowledged after 502, record after its own ACK";
}

TEST_F(PortableReceiverTest, HeaderCountIsFourNibblesLowByteFirst) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Packet(1, Field("12345678", 8) + Field("", 8) + Bytes{2, 0xC, 0, 1}));
  Run();
  EXPECT_EQ(Trace(), (std::vector<std::string>{"io 500 1 12345678", "io 501 1 ",
                                               "io 502 300 "}));
  EXPECT_EQ(stateAtStop, 3);
}

TEST_F(PortableReceiverTest, HeaderTextsEndAtAZeroByte) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Packet(1, B("AB") + Bytes{0} + B("CDEFG") + B("Z") + Bytes{0} +
                     B("ZZZZZZ") + Nibbles({0xFF, 0xFF})));
  Run();
  EXPECT_EQ(Trace(), (std::vector<std::string>{"io 500 1 AB", "io 501 1 Z",
                                               "io 502 65535 "}));
}

TEST_F(PortableReceiverTest, Event501GetsThePDataThatThe500HandlerLeft) {
  sink.onDirectIO = [](long eventNumber, long& data) {
    if (eventNumber == 500) data = 42;
  };
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "A", "B", 7));
  Run();
  EXPECT_EQ(Trace(), (std::vector<std::string>{"io 500 1 A", "io 501 42 B",
                                               "io 502 7 "}));
}

TEST_F(PortableReceiverTest, EndOfDownloadIsAnsweredWithDWhenConfigured) {
  opening.Entry.PortableConfiguration[19] = 1;
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 0));
  Feed(Packet(2, B("M12345")));
  Feed(Packet(3, Bytes{0x04}));
  Run();
  const Bytes written = Written();
  ASSERT_GE(written.size(), 5u);
  EXPECT_EQ(Bytes(written.end() - 5, written.end()),
            (Bytes{0x82, 0x03, 0x44, 0x83, 0x46}));
  EXPECT_EQ(Trace().back(), "status 800");
}

TEST_F(PortableReceiverTest, EndAnswerThatCannotBeWrittenGives700) {
  // The port fails from the moment the last record has been acknowledged.
  port.OnWrite([this](uint8_t) {
    const Bytes written = Written();
    const Bytes ack2{0x82, 0x02, 0x06, 0x83, 0x05};
    if (written.size() >= 5 &&
        Bytes(written.end() - 5, written.end()) == ack2) {
      port.FailWrites(true);
    }
  });
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 1));
  Feed(Packet(2, B("A012345678905")));
  Feed(Packet(3, Bytes{0x04}));
  Run();
  const std::vector<std::string> trace = Trace();
  EXPECT_EQ(trace.back(), "status 700");
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "status 800"), 0);
  EXPECT_EQ(stateAtStop, 0);
}

TEST_F(PortableReceiverTest, SequenceNumberAfter127Is0) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 128));
  Bytes expected = kDownloadRequest + Packet(1, Bytes{kAck});
  std::vector<std::string> sent;
  // Records 2 to 127, then 0 and 1, then the end packet with 2; the
  // sequence numbers 'W' and 'w' are ordinary records here.
  int sequence = 2;
  for (int i = 0; i < 128; ++i) {
    char label[16];
    snprintf(label, sizeof label, "A%012d", i);
    sent.push_back(label);
    Feed(Packet(static_cast<uint8_t>(sequence), B(label)));
    expected = expected + Packet(static_cast<uint8_t>(sequence), Bytes{kAck});
    sequence = (sequence + 1) % 128;
  }
  ASSERT_EQ(sequence, 2);
  Feed(Packet(2, Bytes{0x04}));
  expected = expected + Packet(2, Bytes{kAck});
  Run();
  EXPECT_EQ(labels, sent);
  EXPECT_EQ(Written(), expected);
  EXPECT_EQ(Trace().back(), "status 800");
}

TEST_F(PortableReceiverTest, EachDownloadRequestRestartsTheSequenceAt1) {
  // The application asks for the next download from the 800 handler.
  onEvent = [this](const FiredEvent& event) {
    if (event.kind == FiredEvent::kStatusUpdate && event.number == 800 &&
        labels.size() == 1) {
      opening.PortableState = 1;
    }
  };
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 1));
  Feed(Packet(2, B("A012345678905")));
  Feed(Packet(3, Bytes{0x04}));
  Feed(kReady);
  Feed(Header(1, "", "", 1));
  Feed(Packet(2, B("E01234565")));
  Feed(Packet(3, Bytes{0x04}));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905", "E01234565"}));
  const std::vector<std::string> trace = Trace();
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "status 800"), 2);
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "status 700"), 0);
}

TEST_F(PortableReceiverTest, RecordWithTheWrongSequenceEndsTheDownloadWith700) {
  long stateAt700 = -1;
  onEvent = [&](const FiredEvent& event) {
    if (event.kind == FiredEvent::kStatusUpdate)
      stateAt700 = opening.PortableState;
  };
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 3));
  Feed(Packet(2, B("A012345678905")));
  Feed(Packet(5, B("E01234565")));
  // What the scanner sends after that belongs to no operation.
  Feed(Packet(3, B("E01234565")));
  Feed(Packet(4, Bytes{0x04}));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905"}))
      << "records delivered before the error stay delivered";
  EXPECT_EQ(Trace(),
            (std::vector<std::string>{"io 500 1 ", "io 501 1 ", "io 502 3 ",
                                      "data", "status 700"}));
  EXPECT_EQ(stateAt700, 0);
  EXPECT_EQ(Written(),
            kDownloadRequest + Packet(1, Bytes{kAck}) + Packet(2, Bytes{kAck}));
}

TEST_F(PortableReceiverTest, HeaderWithTheWrongSequenceEndsTheDownloadWith700) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(2, "DEVICE01", "", 1));
  Run();
  EXPECT_EQ(Trace(), (std::vector<std::string>{"status 700"}));
  EXPECT_EQ(Written(), kDownloadRequest) << "not acknowledged";
  EXPECT_EQ(stateAtStop, 0);
}

TEST_F(PortableReceiverTest, StrayReadyPacketDuringADownloadIsIgnored) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 1));
  Feed(kReady);
  Feed(Packet(2, B("A012345678905")));
  Feed(Packet(3, Bytes{0x04}));
  Run();
  EXPECT_EQ(labels.size(), 1u);
  EXPECT_EQ(Trace().back(), "status 800");
  EXPECT_EQ(Written().size(), 20u) << "request and three answers only";
}

TEST_F(PortableReceiverTest, UnsolicitedRecordDuringADownloadEndsItWith700) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 1));
  Feed(Packet('W', B("A012345678905")));
  Run();
  EXPECT_TRUE(labels.empty());
  EXPECT_EQ(Trace().back(), "status 700");
  EXPECT_EQ(stateAtStop, 0);
}

// Records the scanner was told are received are never discarded: one that
// is delivered at once while others wait (the control object thawed its
// events without asking for a label) goes behind them.
TEST_F(PortableReceiverTest, RecordDeliveredAtOnceKeepsTheRecordsThatWait) {
  state.COEventsFrozen = true;
  // Thawed as the third record is acknowledged, before it is delivered.
  port.OnWrite([this](uint8_t) {
    if (port.Written().size() == 21) state.COEventsFrozen = false;
  });
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 3));
  Feed(Packet(2, B("A012345678905")));
  Feed(Packet(3, B("E01234565")));
  Feed(Packet(4, B("FF96385074")));
  Feed(Packet(5, Bytes{0x04}));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905", "E01234565",
                                              "FF96385074"}));
  EXPECT_EQ(events.DataCount(), 0);
}

// A record whose acknowledgement cannot be written stays the scanner's: it
// is not delivered, and the download ends.
TEST_F(PortableReceiverTest, RecordThatCannotBeAcknowledgedIsNotDelivered) {
  port.OnWrite([this](uint8_t) {
    if (port.Written().size() == 15) port.FailWrites(true);
  });
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 2));
  Feed(Packet(2, B("A012345678905")));
  Feed(Packet(3, B("E01234565")));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905"}));
  EXPECT_EQ(Trace().back(), "status 700");
  EXPECT_EQ(stateAtStop, 0);
}

// --- Damaged packets -----------------------------------------------------

TEST_F(PortableReceiverTest,
       DamagedPacketWithTheExpectedSequenceIsDroppedSilently) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 2));
  Feed(Packet(2, B("A012345678905")));
  Feed(Damaged(Packet(3, B("E01234565"))));
  Feed(Packet(3, B("E01234565")));  // sent again
  Feed(kEndOfDownload);
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905", "E01234565"}));
  EXPECT_EQ(Trace().back(), "status 800");
  EXPECT_EQ(Written(), kDownloadRequest + Packet(1, Bytes{kAck}) +
                           Packet(2, Bytes{kAck}) + Packet(3, Bytes{kAck}) +
                           Packet(4, Bytes{kAck}))
      << "the damaged packet is not acknowledged";
}

TEST_F(PortableReceiverTest,
       DamagedPacketWithAnotherSequenceEndsTheOperationWith700) {
  long stateAt700 = -1;
  onEvent = [&](const FiredEvent& event) {
    if (event.kind == FiredEvent::kStatusUpdate)
      stateAt700 = opening.PortableState;
  };
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 2));
  Feed(Packet(2, B("A012345678905")));
  Feed(Damaged(Packet(9, B("E01234565"))));
  Feed(Packet(3, B("E01234565")));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905"}));
  EXPECT_EQ(Trace().back(), "status 700");
  EXPECT_EQ(stateAt700, 3) << "this 700 comes before the state is cleared";
  EXPECT_EQ(stateAtStop, 0);
}

TEST_F(PortableReceiverTest, DamagedPacketWhileNothingIsPendingIsIgnored) {
  Feed(Damaged(Packet('W', B("A012345678905"))));
  Feed(Damaged(Packet(9, B("A012345678905"))));
  Run();
  EXPECT_TRUE(Trace().empty());
  EXPECT_EQ(stateAtStop, 0);
}

// The expected sequence belongs to the download: after one has ended, a
// damaged packet cannot fail another operation as a download would fail.
TEST_F(PortableReceiverTest,
       DamagedPacketAfterADownloadLeavesLaterRequestsAlone) {
  const struct {
    long requested;
    const char* outcome;
  } cases[] = {{10, "status 801"}, {20, "status 802"}, {30, "status 803"}};
  for (const auto& c : cases) {
    StartOver();
    onEvent = [&](const FiredEvent& event) {
      if (event.number == 800) opening.PortableState = c.requested;
    };
    opening.PortableState = 1;
    Feed(kReady);
    Feed(Header(1, "", "", 1));
    Feed(Packet(2, B("A012345678905")));
    Feed(Packet(3, Bytes{0x04}));
    Feed(kReady);
    Feed(Damaged(Packet(0, Bytes{kAck})));
    Feed(Packet(0, Bytes{kAck}));
    Run();
    EXPECT_EQ(Trace().back(), c.outcome) << c.requested;
    EXPECT_EQ(Trace().size(), 6u) << c.requested;
  }
}

// --- Silence -------------------------------------------------------------

class PortableTimeOutTest : public PortableReceiverTest,
                            public ::testing::WithParamInterface<long> {};

TEST_P(PortableTimeOutTest, ElevenEmptyReadsEndTheOperationWith900) {
  long stateAt900 = -1;
  int readsAt900 = 0;
  uint64_t timeAt900 = 0;
  onEvent = [&](const FiredEvent&) {
    stateAt900 = opening.PortableState;
    readsAt900 = idleReadsSoFar;
    timeAt900 = clock.NowMs();
  };
  opening.PortableState = GetParam();
  Run(20);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"status 900"}));
  EXPECT_EQ(readsAt900, 11);
  EXPECT_EQ(timeAt900, 11u * (250 + 101)) << "eleven pauses and empty reads";
  EXPECT_EQ(stateAt900, 0);
  EXPECT_TRUE(Written().empty());
}

INSTANTIATE_TEST_SUITE_P(WaitingForTheScanner, PortableTimeOutTest,
                         ::testing::Values(2, 3, 11, 21, 31, 41));

class PortableNoTimeOutTest : public PortableReceiverTest,
                              public ::testing::WithParamInterface<long> {};

TEST_P(PortableNoTimeOutTest, SilenceNeverEndsTheOperation) {
  opening.PortableState = GetParam();
  Run(30);
  EXPECT_TRUE(Trace().empty());
  EXPECT_EQ(stateAtStop, GetParam());
}

INSTANTIATE_TEST_SUITE_P(WaitingForReadyOrNothing, PortableNoTimeOutTest,
                         ::testing::Values(0, 1, 10, 20, 30, 40, 50, 51));

TEST_F(PortableReceiverTest, TenEmptyReadsInTheMiddleOfADownloadAreTolerated) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 2));
  Feed(Packet(2, B("A012345678905")));
  port.Silence(10);
  Feed(Packet(3, B("E01234565")));
  Feed(kEndOfDownload);
  Run();
  EXPECT_EQ(labels.size(), 2u);
  EXPECT_EQ(Trace().back(), "status 800");
}

TEST_F(PortableReceiverTest, EleventhEmptyReadInTheMiddleOfADownloadEndsIt) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 2));
  Feed(Packet(2, B("A012345678905")));
  port.Silence(11);
  Feed(Packet(3, B("E01234565")));
  Feed(kEndOfDownload);
  Run();
  EXPECT_EQ(labels.size(), 1u);
  EXPECT_EQ(Trace().back(), "status 900");
  EXPECT_EQ(Written().size(), 15u) << "nothing after the time-out is answered";
}

TEST_F(PortableReceiverTest, TimeOutDropsThePacketBeingReceived) {
  // The application starts a new download from the 900 handler; its ready
  // packet must not be taken as the rest of the abandoned one.
  onEvent = [this](const FiredEvent& event) {
    if (event.number == 900) opening.PortableState = 1;
  };
  opening.PortableState = 2;
  Feed(Bytes{0x82, 0x01, 'D', 'E', 'V'});
  port.Silence(11);
  Feed(kReady);
  Run();
  EXPECT_EQ(Trace(), (std::vector<std::string>{"status 900"}));
  EXPECT_EQ(Written(), kDownloadRequest);
  EXPECT_EQ(stateAtStop, 2);
}

// Silence after the first one or two bytes of a packet empties the frame;
// the packet is given up with them, so that the rest of it, when it comes,
// is not taken for a packet of its own, and the scanner's next sending of
// it is read from its start.
TEST_F(PortableReceiverTest, PacketCutBySilenceIsGivenUpWithItsBytes) {
  const Bytes record = Packet(3, B("E01234565"));
  for (long cut : {1, 2}) {
    StartOver();
    opening.PortableState = 1;
    Feed(kReady);
    Feed(Header(1, "", "", 2));
    Feed(Packet(2, B("A012345678905")));
    Feed(Bytes(record.begin(), record.begin() + cut));
    port.Silence();
    Feed(Bytes(record.begin() + cut, record.end()));
    Feed(record);  // sent again, as it was not acknowledged
    Feed(Packet(4, Bytes{0x04}));
    Run();
    EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905", "E01234565"}))
        << cut;
    EXPECT_EQ(Trace().back(), "status 800") << cut;
  }
}

// A scanner lifted from its cradle in the middle of a packet, while
// nothing or only a request is pending: what it sends next is read from
// its start, whether the silence gave the cut packet up (eleven reads) or
// was shorter and the next start byte ends it.
TEST_F(PortableReceiverTest, PacketCutAfterItsThirdByteLosesNothingAfterIt) {
  const Bytes cut = Bytes{0x82, 'W', 'A', '0', '1', '2'};
  const Bytes record = Packet('W', B("E01234565"));
  const struct {
    long pending;
    int silentReads;
    Bytes next;
    const char* label;  // delivered from `next`, if any
    Bytes written;      // what the driver writes first
  } cases[] = {
      // The cut record and the first whole one are answered early.
      {0, 11, record, "E01234565", B("UUUU")},
      {0, 1, record, "E01234565", B("UUUU")},
      {1, 11, kReady, nullptr, kDownloadRequest},
      {1, 2, kReady, nullptr, kDownloadRequest},
      {50, 11, kReady, nullptr, Packet(0, B("G"))},
  };
  for (const auto& c : cases) {
    StartOver();
    opening.PortableState = c.pending;
    Feed(cut);
    port.Silence(c.silentReads);
    // More than a frame holds if it were all one packet.
    for (int i = 0; i < 30; ++i) Feed(c.next);
    Run();
    const size_t expected = c.label ? 30 : 0;
    EXPECT_EQ(labels.size(), expected) << c.pending << " " << c.silentReads;
    if (c.label && !labels.empty()) {
      EXPECT_EQ(labels.back(), c.label);
    }
    EXPECT_TRUE(notifier.Boxes().empty()) << "no receive error";
    const Bytes written = Written();
    EXPECT_EQ(Bytes(written.begin(),
                    written.begin() + std::min(written.size(),
                                               c.written.size())),
              c.written)
        << c.pending << " " << c.silentReads;
  }
}

// --- Replies to configuration, clock and user identifier -----------------

struct AckCase {
  long requested;
  long acknowledged;
  long refused;
};

class PortableAckTest : public PortableReceiverTest,
                        public ::testing::WithParamInterface<AckCase> {};

TEST_P(PortableAckTest, AckGives80xAnyOtherReply70x) {
  const AckCase c = GetParam();
  std::vector<long> states;
  onEvent = [&](const FiredEvent&) { states.push_back(opening.PortableState); };
  const std::string acknowledged = "status " + std::to_string(c.acknowledged);
  const std::string refused = "status " + std::to_string(c.refused);

  // The reply's sequence byte is not looked at.
  opening.PortableState = c.requested;
  Feed(kReady);
  Feed(Packet(7, Bytes{kAck}));
  Run();
  EXPECT_EQ(Trace(), (std::vector<std::string>{acknowledged}));

  const Bytes wrongReplies[] = {Packet(1, Bytes{kNak}),
                                Packet(1, Bytes{kAck, 'x'})};
  for (const Bytes& reply : wrongReplies) {
    StartOver();
    opening.PortableState = c.requested;
    Feed(kReady);
    Feed(reply);
    Run();
    EXPECT_EQ(Trace(), (std::vector<std::string>{refused}));
  }
  EXPECT_EQ(states, (std::vector<long>{0, 0, 0}));
}

INSTANTIATE_TEST_SUITE_P(SentOperations, PortableAckTest,
                         ::testing::Values(AckCase{10, 801, 701},
                                           AckCase{20, 802, 702},
                                           AckCase{30, 803, 703}));

// --- Status and G replies ------------------------------------------------

Bytes StatusData() {
  Bytes data;
  for (uint8_t i = 0; i < 15; ++i) data.push_back(i);
  data.push_back(250);
  return data + Field("USER0001", 8) + Field("ABC", 8) + Field("V1.2", 4);
}

TEST_F(PortableReceiverTest, StatusReplyGivesEvent504WithItsText) {
  long stateAt504 = -1;
  onEvent = [&](const FiredEvent&) { stateAt504 = opening.PortableState; };
  opening.PortableState = 40;
  Feed(kReady);
  const Bytes reply = Packet(1, Nibbles(StatusData()));
  ASSERT_EQ(reply.size(), 76u);
  Feed(reply);
  Run();
  EXPECT_EQ(
      Trace(),
      (std::vector<std::string>{
          "io 504 1 000102030405060708090a0b0c0d0efa,USER0001,ABC,V1.2"}));
  EXPECT_EQ(stateAt504, 0);
}

TEST_F(PortableReceiverTest, MalformedStatusReplyGives704) {
  Bytes shortData = StatusData();
  shortData.pop_back();
  const Bytes replies[] = {
      Packet(2, Nibbles(StatusData())),             // not sequence 1
      Packet(1, Nibbles(shortData)),                // end byte at 72
      Packet(1, Nibbles(StatusData() + Bytes{0})),  // end byte at 76
      Packet(1, Bytes{kAck}),
  };
  for (const Bytes& reply : replies) {
    StartOver();
    long stateAt704 = -1;
    onEvent = [&](const FiredEvent&) { stateAt704 = opening.PortableState; };
    opening.PortableState = 40;
    Feed(kReady);
    Feed(reply);
    Run();
    EXPECT_EQ(Trace(), (std::vector<std::string>{"status 704"}))
        << "reply of " << reply.size() << " bytes";
    EXPECT_EQ(stateAt704, 0);
  }
}

TEST_F(PortableReceiverTest, GReplyGivesEvent505WithItsTwelveCharacters) {
  long stateAt505 = -1;
  onEvent = [&](const FiredEvent&) { stateAt505 = opening.PortableState; };
  opening.PortableState = 50;
  Feed(kReady);
  Feed(Packet(1, B("M20-V2.01 JP")));
  Run();
  EXPECT_EQ(Trace(), (std::vector<std::string>{"io 505 1 M20-V2.01 JP"}));
  EXPECT_EQ(stateAt505, 0);

  StartOver();
  opening.PortableState = 50;
  Feed(kReady);
  Feed(Packet(1, B("ABC") + Bytes{0} + B("DEFGHIJK")));
  Run();
  EXPECT_EQ(Trace(), (std::vector<std::string>{"io 505 1 ABC"}));
}

TEST_F(PortableReceiverTest, MalformedGReplyGives705) {
  const Bytes replies[] = {
      Packet(2, B("M20-V2.01 JP")),   // not sequence 1
      Packet(1, B("M20-V2.01 J")),    // end byte at 13
      Packet(1, B("M20-V2.01 JPX")),  // end byte at 15
  };
  for (const Bytes& reply : replies) {
    StartOver();
    long stateAt705 = -1;
    onEvent = [&](const FiredEvent&) { stateAt705 = opening.PortableState; };
    opening.PortableState = 50;
    Feed(kReady);
    Feed(reply);
    Run();
    EXPECT_EQ(Trace(), (std::vector<std::string>{"status 705"}))
        << "reply of " << reply.size() << " bytes";
    EXPECT_EQ(stateAt705, 0);
  }
}

// --- Unsolicited records -------------------------------------------------

TEST_F(PortableReceiverTest,
       UnsolicitedRecordsAreDeliveredOnlyWhileNothingIsPending) {
  Feed(Packet('W', B("A012345678905")));
  Feed(Packet('w', B("E01234565")));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"A012345678905", "E01234565"}));

  for (long pending : {1L, 10L, 40L}) {
    StartOver();
    opening.PortableState = pending;
    Feed(Packet('W', B("A012345678905")));
    Run();
    EXPECT_TRUE(labels.empty()) << pending;
    EXPECT_TRUE(Trace().empty()) << pending;
    EXPECT_EQ(stateAtStop, pending);
  }
}

TEST_F(PortableReceiverTest, EarlyAnswerIsWrittenWhenTheThirdByteArrives) {
  for (uint8_t byte8 : {uint8_t{0xC0}, uint8_t{0xFF}}) {
    StartOver();
    opening.Entry.PortableConfiguration[8] = byte8;
    std::vector<size_t> unread;
    port.OnWrite([&](uint8_t) { unread.push_back(port.PendingInput()); });
    const Bytes record = Packet('w', B("A012345678905"));
    Feed(record);
    Run();
    EXPECT_EQ(Written(), (Bytes{0x55, 0x55})) << int{byte8};
    EXPECT_EQ(unread, (std::vector<size_t>(2, record.size() - 3)))
        << "written before the rest of the record was read";
    EXPECT_EQ(labels.size(), 1u);
  }
  port.OnWrite(nullptr);
}

TEST_F(PortableReceiverTest,
       NoEarlyAnswerWithoutBothTopBitsOrWhileAnOperationIsPending) {
  for (uint8_t byte8 : {uint8_t{0x80}, uint8_t{0x40}, uint8_t{0xBF}}) {
    StartOver();
    opening.Entry.PortableConfiguration[8] = byte8;
    Feed(Packet('W', B("A012345678905")));
    Run();
    EXPECT_TRUE(Written().empty()) << int{byte8};
    EXPECT_EQ(labels.size(), 1u);
  }

  StartOver();
  opening.Entry.PortableConfiguration[8] = 0xC0;
  opening.PortableState = 1;
  Feed(Packet('W', B("A012345678905")));
  Run();
  EXPECT_TRUE(Written().empty());
}

// --- Records as labels ---------------------------------------------------

TEST_F(PortableReceiverTest, TimeStampIsKeptInKorvaModeOnly) {
  const Bytes record = B("T080616090507A012345678905");
  Feed(Packet('W', record));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"T080616090507A012345678905"}));
  EXPECT_EQ(dataLabels, (std::vector<std::string>{"012345678905"}));

  for (long mode : {kModeMetrologic, kModeBeetle, kModeSymbol, kModeKvx}) {
    StartOver();
    opening.Entry.CompatibilityMode = mode;
    Feed(Packet('W', record));
    Run();
    ASSERT_EQ(labels.size(), 1u) << mode;
    EXPECT_EQ(labels[0].size(), 13u) << labels[0];
    EXPECT_EQ(dataLabels[0], "012345678905");
    EXPECT_EQ(events.ScanDataType(), opos::sdt::UPCA);
  }
}

TEST_F(PortableReceiverTest, DownloadedRecordsBecomeLabelsTheSameWay) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "", "", 2));
  Feed(Packet(2, B("T080616090507F0123")));
  Feed(Packet(3, B("B12")));
  Feed(kEndOfDownload);
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"T080616090507A123", "FF12"}));
}

TEST_F(PortableReceiverTest, LettersFAndBAreRewrittenOthersKept) {
  Feed(Packet('W', B("F0123")));
  Feed(Packet('W', B("B12")));
  Feed(Packet('W', B("F1234567890128")));
  Feed(Packet('W', B("F0")));
  Feed(Packet('W', B("M0123")));
  Feed(Packet('W', B("I0123")));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"A123", "FF12", "F1234567890128",
                                              "A", "M0123", "I0123"}));
}

TEST_F(PortableReceiverTest, Code128ValuesAreExpandedOnTheM40Only) {
  const Bytes record = Bytes{'K', 104, 33, 34};
  opening.Entry.ScannerType = kTypePortableM40;
  Feed(Packet('W', record));
  Feed(Packet('W', Bytes{'K', 105, 12, 34, 99, 5}));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"KAB", "K12349905"}));

  StartOver();
  opening.Entry.ScannerType = kTypePortableM20;
  Feed(Packet('W', record));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"Kh!\""}));
}

TEST_F(PortableReceiverTest, LabelLongerThanAFrameIsDeliveredWhole) {
  opening.Entry.ScannerType = kTypePortableM40;
  Bytes values{105};
  std::string digits;
  for (int i = 0; i < 109; ++i) {
    values.push_back(12);
    digits += "12";
  }
  const Bytes record = B("T080616090507K") + values;
  ASSERT_EQ(Packet('W', record).size(), 128u);
  Feed(Packet('W', record));
  Run();
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0], "T080616090507K" + digits);
  EXPECT_EQ(labels[0].size(), 232u);
  EXPECT_TRUE(notifier.Boxes().empty());
}

// --- Oversized packets ---------------------------------------------------

TEST_F(PortableReceiverTest, PacketOfExactly128BytesIsTaken) {
  const Bytes record = B("A") + B(std::string(123, '7'));
  ASSERT_EQ(Packet('W', record).size(), 128u);
  Feed(Packet('W', record));
  Run();
  EXPECT_EQ(labels, (std::vector<std::string>{"A" + std::string(123, '7')}));
  EXPECT_TRUE(notifier.Boxes().empty());
}

TEST_F(PortableReceiverTest, PacketLongerThan128BytesIsAbandonedWithAWarning) {
  opening.PortableState = 1;
  // 129 bytes before any end byte, then the rest of that packet.
  Feed(Bytes{0x82, 0x00} + B(std::string(127, 'R')) + Bytes{0x83, 0x01});
  Feed(kReady);
  Run();
  ASSERT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(notifier.Boxes()[0].caption, "TALSCAN.ScannerSO");
  EXPECT_EQ(notifier.Boxes()[0].text, kReceiveError);
  EXPECT_EQ(Written(), kDownloadRequest)
      << "only the next start byte begins a packet";
  EXPECT_TRUE(Trace().empty());
}

TEST_F(PortableReceiverTest, CheckByteBeyond128BytesAbandonsThePacket) {
  const Bytes record = B("A") + B(std::string(124, '7'));
  Feed(Packet('W', record));  // end byte is the 128th
  Feed(Packet('W', B("E01234565")));
  Run();
  EXPECT_EQ(notifier.Boxes().size(), 1u);
  EXPECT_EQ(labels, (std::vector<std::string>{"E01234565"}));
}

// --- A new request or a stop in the middle of an operation ---------------

TEST_F(PortableReceiverTest,
       RequestMadeDuringTheHeaderEventsReplacesTheDownload) {
  opening.PortableState = 1;
  // The application asks for the status while the header is reported.
  sink.onDirectIO = [this](long number, long&) {
    if (number == 500) opening.PortableState = 40;
  };
  Feed(kReady);
  Feed(Header(1, "SCANNER1", "BATCH-01", 1));
  Feed(Packet(2, B("A012345678905")));
  Feed(kReady);
  Run();
  EXPECT_TRUE(labels.empty()) << "the replaced download takes no record";
  EXPECT_EQ(stateAtStop, 41) << "the status request went out instead";
  const Bytes statusRequest{0x82, 0x00, 0x53, 0x83, 0x52};
  EXPECT_EQ(Written(), kDownloadRequest + Packet(1, {kAck}) + statusRequest);
}

TEST_F(PortableReceiverTest, StoppingInTheMiddleOfADownloadKeepsWhatCame) {
  opening.PortableState = 1;
  Feed(kReady);
  Feed(Header(1, "SCANNER1", "BATCH-01", 3));
  Feed(Packet(2, B("A111111111111")));
  Feed(Packet(3, B("A222222222222")));
  Feed(Packet(4, B("A333333333333")));
  onEvent = [this](const FiredEvent& event) {
    if (event.kind == FiredEvent::kData && labels.size() == 2) {
      opening.ReceiveActive = false;  // the device is being closed
    }
  };
  Run();
  EXPECT_EQ(labels,
            (std::vector<std::string>{"A111111111111", "A222222222222"}));
  EXPECT_EQ(opening.PortableState, 0)
      << "the loop ends the operation as it stops";
  EXPECT_EQ(port.PendingInput(), 17u) << "the third record stays unread";
  const std::vector<std::string> trace = Trace();
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "status 800"), 0);
}

// --- A download to an application that takes its labels slowly ----------

// A scanner on the scripted port that answers what the driver writes: the
// header after the download request, the next record after each
// acknowledgement, the end packet after the last.
class ScannerPlayer {
 public:
  ScannerPlayer(fakes::ScriptedSerialPort& port, int records)
      : port_(port), records_(records) {}
  static std::string Record(int i) { return "M" + std::to_string(100000 + i); }

  void Take(uint8_t byte) {
    written_.push_back(byte);
    if (written_.size() < 2 || written_[written_.size() - 2] != 0x83) return;
    const Bytes packet = written_;
    written_.clear();
    if (packet.size() < 5 || packet[0] != 0x82) return;
    if (packet[2] == 'L') {
      port_.Feed(Header(1, "", "", static_cast<uint16_t>(records_)));
      return;
    }
    const int next = sent_++;  // records sent so far
    const uint8_t sequence = static_cast<uint8_t>((next + 2) % 128);
    port_.Feed(next < records_ ? Packet(sequence, B(Record(next)))
                               : Packet(sequence, Bytes{0x04}));
  }

 private:
  fakes::ScriptedSerialPort& port_;
  const int records_;
  Bytes written_;
  int sent_ = 0;
};

class SlowApplicationTest : public ServiceTest {};

TEST_F(SlowApplicationTest, DownloadDeliversEveryAcknowledgedRecordOnce) {
  constexpr int kRecords = 1000;
  WriteEntry("Batch", "Portable Scanner M-20");
  ASSERT_EQ(Open("Batch"), opos::kSuccess);
  service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
  service.SetPropertyNumber(opos::pidx::DecodeData, 1);
  ScannerPlayer scanner(serial, kRecords);
  serial.OnWrite([&](uint8_t byte) { scanner.Take(byte); });
  std::mutex seenMutex;
  std::vector<std::string> seen;
  std::atomic<long> status{0};
  events.OnEvent([&](const FiredEvent& event) {
    if (event.kind == FiredEvent::kStatusUpdate) status = event.number;
    if (event.kind != FiredEvent::kData) return;
    std::lock_guard<std::mutex> lock(seenMutex);
    seen.push_back(service.GetPropertyString(opos::pidx::ScanData));
  });
  ASSERT_EQ(service.DirectIO(200), opos::kSuccess);
  serial.Feed(kReady);
  // The queue fills long before the application has taken its labels.
  ASSERT_TRUE(fakes::WaitUntil([&] {
    return service.GetPropertyNumber(opos::pidx::DataCount) ==
           LabelQueue::kCapacity;
  }));
  ASSERT_TRUE(fakes::WaitUntil([&] {
    service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    return status != 0 && service.GetPropertyNumber(opos::pidx::DataCount) == 0;
  }));
  EXPECT_EQ(status, portable::kDownloadComplete);
  std::lock_guard<std::mutex> lock(seenMutex);
  ASSERT_EQ(seen.size(), static_cast<size_t>(kRecords));
  for (int i = 0; i < kRecords; ++i) {
    EXPECT_EQ(seen[i], ScannerPlayer::Record(i)) << i;
  }
  serial.OnWrite(nullptr);
}

// --- Waking an M-20 before each operation --------------------------------

class PortableWakeTest : public ServiceTest {
 protected:
  struct Log {
    std::mutex mutex;
    // Each pause of the calling thread, with the line changes made so far.
    std::vector<std::pair<uint32_t, size_t>> pauses;
    // The line changes made so far when each byte was written.
    std::vector<size_t> writes;
  };

  void OpenWith(const std::string& type, uint8_t byte18) {
    WriteEntry("Handheld", type);
    std::vector<uint8_t> configuration(kDefaultPortableConfiguration.begin(),
                                       kDefaultPortableConfiguration.end());
    configuration[18] = byte18;
    registry.SetBinary(reg::Root::LocalMachine, DeviceKeyPathFor("Handheld"),
                       "Configuration", configuration);
    ASSERT_EQ(Open("Handheld"), opos::kSuccess);

    // The receive thread pauses too; only the caller's pauses count.
    const std::thread::id caller = std::this_thread::get_id();
    std::shared_ptr<Log> log = log_;
    clock.OnSleep([this, caller, log](uint32_t ms) {
      if (std::this_thread::get_id() != caller) return;
      std::lock_guard<std::mutex> lock(log->mutex);
      log->pauses.emplace_back(ms, serial.Signals().size());
    });
    serial.OnWrite([this, log](uint8_t) {
      std::lock_guard<std::mutex> lock(log->mutex);
      log->writes.push_back(serial.Signals().size());
    });
  }

  // What one DirectIO command did on the line, relative to before it.
  struct Wake {
    std::vector<LineSignal> signals;
    std::vector<std::pair<uint32_t, size_t>> pauses;
    std::vector<size_t> writes;
    std::string written;
  };

  Wake Command(long command) {
    const size_t before = serial.Signals().size();
    {
      std::lock_guard<std::mutex> lock(log_->mutex);
      log_->pauses.clear();
      log_->writes.clear();
    }
    serial.ClearWritten();
    EXPECT_EQ(service.DirectIO(command), opos::kSuccess) << command;
    Wake wake;
    const std::vector<LineSignal> signals = serial.Signals();
    wake.signals.assign(signals.begin() + static_cast<long>(before),
                        signals.end());
    std::lock_guard<std::mutex> lock(log_->mutex);
    for (auto [ms, count] : log_->pauses)
      wake.pauses.emplace_back(ms, count - before);
    for (size_t count : log_->writes) wake.writes.push_back(count - before);
    wake.written = serial.WrittenText();
    return wake;
  }

  void TearDown() override {
    clock.OnSleep(nullptr);
    serial.OnWrite(nullptr);
  }

  std::shared_ptr<Log> log_ = std::make_shared<Log>();
};

TEST_F(PortableWakeTest, M20WithByte18IsWokenBeforeEveryOperation) {
  OpenWith("Portable Scanner M-20", 1);
  for (long command : {200, 201, 202, 203, 204, 205}) {
    const Wake wake = Command(command);
    EXPECT_EQ(wake.signals, (std::vector<LineSignal>{
                                LineSignal::kSetRts, LineSignal::kClearDtr,
                                LineSignal::kSetDtr, LineSignal::kClearDtr}))
        << command;
    EXPECT_EQ(wake.pauses, (std::vector<std::pair<uint32_t, size_t>>{
                               {100, 1}, {300, 2}, {300, 3}}))
        << command;
    EXPECT_EQ(wake.written, "UU") << command;
    EXPECT_EQ(wake.writes, (std::vector<size_t>{3, 3}))
        << "after raising DTR, before dropping it";
  }
}

TEST_F(PortableWakeTest, CancelNeverWakes) {
  OpenWith("Portable Scanner M-20", 1);
  const Wake wake = Command(100);
  EXPECT_TRUE(wake.signals.empty());
  EXPECT_TRUE(wake.pauses.empty());
  EXPECT_TRUE(wake.written.empty());
}

TEST_F(PortableWakeTest, M20WithoutByte18IsNotWoken) {
  OpenWith("Portable Scanner M-20", 0);
  for (long command : {200, 201, 202, 203, 204, 205}) {
    const Wake wake = Command(command);
    EXPECT_TRUE(wake.signals.empty()) << command;
    EXPECT_TRUE(wake.pauses.empty()) << command;
    EXPECT_TRUE(wake.written.empty()) << command;
  }
}

TEST_F(PortableWakeTest, M40IsNeverWoken) {
  OpenWith("Portable Scanner M-40", 1);
  for (long command : {200, 201, 203, 204}) {
    const Wake wake = Command(command);
    EXPECT_TRUE(wake.signals.empty()) << command;
    EXPECT_TRUE(wake.pauses.empty()) << command;
    EXPECT_TRUE(wake.written.empty()) << command;
  }
}

}  // namespace
