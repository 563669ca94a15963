// Portable (batch) scanners under Wine: the real TALSCAN.dll talking the
// packet protocol with the simulator's portable scanner on a pty.
#include <cstdio>

#include "testing/wine/simulated_device_test.h"

namespace {

constexpr char kPort[] = "COM8";
constexpr char kDevice[] = "BatchScanner";

class PortableScanner : public wine::SimulatedDeviceTest {
 protected:
  PortableScanner() : SimulatedDeviceTest(kPort, kDevice) {}

  void SetUp() override {
    SimulatedDeviceTest::SetUp();
    // The application takes every label and asks for the next.
    events->OnEvent([this](wine::ControlEvent& event) {
      if (event.id == standin::kDataEvent) {
        control.PutBool(standin::kDataEventEnabled, true);
      }
    });
  }

  void OpenScanner(const std::string& type, int records,
                   std::string configuration = "") {
    wine::WriteStandardEntry(kDevice, type, kPort);
    if (!configuration.empty()) {
      wine::WriteDeviceEntry(kDevice,
                             {{"Configuration", REG_BINARY, configuration}});
    }
    sim.Command("PORTABLE " + std::string(kPort) + " " +
                std::to_string(records));
    ASSERT_EQ(control.CallLong(L"Open", {wine::Bstr(kDevice)}), 0);
    ClaimAndEnable();
  }
  void Ready() { sim.Command("READY " + std::string(kPort)); }
  // Waits for the status update that ends an operation.
  long NextStatus(DWORD timeoutMs = 10000) {
    const size_t seen = Statuses().size();
    if (!events->WaitFor(seen + 1, timeoutMs, standin::kStatusUpdateEvent)) {
      return -1;
    }
    return Statuses()[seen];
  }
  std::vector<long> Statuses() {
    std::vector<long> numbers;
    for (const auto& event : events->Events()) {
      if (event.id == standin::kStatusUpdateEvent)
        numbers.push_back(event.number);
    }
    return numbers;
  }
  std::vector<wine::ControlEvent> DirectIOEvents() {
    std::vector<wine::ControlEvent> found;
    for (const auto& event : events->Events()) {
      if (event.id == standin::kDirectIOEvent) found.push_back(event);
    }
    return found;
  }
  std::string ScannerState() {
    return sim.Command("PSTATE " + std::string(kPort));
  }
  // The driver reports the end of a download once its answer is written;
  // the simulator reads it a moment later.
  bool ScannerGotEndAnswer(const std::string& answer) {
    return wine::PumpUntil(
        [&] {
          return ScannerState().find("end_answer=" + answer) !=
                 std::string::npos;
        },
        2000);
  }
  static std::string Label(int i) {
    char text[16];
    snprintf(text, sizeof text, "A%012lld", 100000000000LL + i);
    return text;
  }
};

TEST_F(PortableScanner, DownloadDeliversEveryRecordAsADataEvent) {
  constexpr int kRecords = 300;
  OpenScanner("Portable Scanner M-20", kRecords);
  ASSERT_EQ(DirectIO(200), 0);
  Ready();
  ASSERT_EQ(NextStatus(60000), 800);
  // Every record, once, in order, as the application reads it.
  const auto data = events->DataEvents();
  ASSERT_EQ(data.size(), static_cast<size_t>(kRecords));
  for (int i = 0; i < kRecords; ++i) {
    ASSERT_EQ(data[i].scanData, Label(i)) << i;
    ASSERT_EQ(data[i].scanDataType, 101);
  }
  const auto header = DirectIOEvents();
  ASSERT_EQ(header.size(), 3u);
  EXPECT_EQ(header[0].number, 500);
  EXPECT_EQ(header[0].data, 1);
  EXPECT_EQ(header[0].text, "SCANNER1");
  EXPECT_EQ(header[1].number, 501);
  EXPECT_EQ(header[1].text, "BATCH-01");
  EXPECT_EQ(header[2].number, 502);
  EXPECT_EQ(header[2].data, kRecords);
  EXPECT_TRUE(ScannerGotEndAnswer("06")) << ScannerState();
  EXPECT_EQ(Get(standin::kDataCount), 0);
}

// The control object hands SODirectIO, with its by-reference arguments, to
// its own window thread and waits for the answer. Close on that thread must
// let it through while it waits for the receive thread, so that the
// handler finishes and no thread is stopped by force.
TEST_F(PortableScanner, CloseLetsAnEventWaitingForTheCallersThreadThrough) {
  OpenScanner("Portable Scanner M-20", 5);
  bool closing = false;
  std::vector<bool> handledWhileClosing;
  events->OnEvent([&](wine::ControlEvent& event) {
    if (event.id == standin::kDirectIOEvent)
      handledWhileClosing.push_back(closing);
  });
  control.CallString(L"TakeCallbackLog");
  ASSERT_EQ(DirectIO(200), 0);
  Ready();
  // Without taking a message: the receive thread is then inside SODirectIO,
  // waiting for this thread.
  std::string log;
  for (int i = 0; i < 500 && log.find("SODirectIO 500") == std::string::npos;
       ++i) {
    Sleep(10);
    log += control.CallString(L"TakeCallbackLog");
  }
  ASSERT_NE(log.find("SODirectIO 500"), std::string::npos) << log;
  closing = true;
  EXPECT_EQ(control.CallLong(L"Close"), 0);
  closing = false;
  ASSERT_FALSE(handledWhileClosing.empty());
  EXPECT_TRUE(handledWhileClosing[0]) << "the event ran inside Close";
}

TEST_F(PortableScanner, ConfigurationCanEndTheDownloadWithD) {
  std::string configuration(
      "\x40\x06\x40\x01\x40\x06\x40\x06\xC0\x3F\x04\x00\x00\x00\x43\x4F\x00"
      "\x00\x00\x01",
      20);
  OpenScanner("Portable Scanner M-40", 3, configuration);
  ASSERT_EQ(DirectIO(200), 0);
  Ready();
  ASSERT_EQ(NextStatus(), 800);
  EXPECT_EQ(events->DataEvents().size(), 3u);
  EXPECT_TRUE(ScannerGotEndAnswer("44"))
      << ScannerState();
}

TEST_F(PortableScanner, WrongSequenceEndsTheDownload) {
  OpenScanner("Portable Scanner M-20", 10);
  sim.Command("FAULT " + std::string(kPort) + " sequence 4");
  ASSERT_EQ(DirectIO(200), 0);
  Ready();
  EXPECT_EQ(NextStatus(), 700);
  wine::PumpUntil([] { return false; }, 200);
  EXPECT_EQ(events->DataEvents().size(), 4u) << "earlier records stay";
}

TEST_F(PortableScanner, ScannerFallingSilentEndsTheDownload) {
  OpenScanner("Portable Scanner M-20", 10);
  sim.Command("FAULT " + std::string(kPort) + " silent 2");
  ASSERT_EQ(DirectIO(200), 0);
  Ready();
  EXPECT_EQ(NextStatus(), 900);
  EXPECT_EQ(events->DataEvents().size(), 2u);
}

TEST_F(PortableScanner, ConfigurationClockAndUserIDAreSentAndAcknowledged) {
  OpenScanner("Portable Scanner M-20", 0);
  ASSERT_EQ(DirectIO(201), 0);
  Ready();
  EXPECT_EQ(NextStatus(), 801);
  ASSERT_EQ(DirectIO(202), 0);
  SYSTEMTIME now;
  GetLocalTime(&now);
  Ready();
  EXPECT_EQ(NextStatus(), 802);
  ASSERT_EQ(DirectIO(203), 0);
  Ready();
  EXPECT_EQ(NextStatus(), 803);
  const std::string state = ScannerState();
  EXPECT_NE(state.find("config=40064001400640"
                       "06c03f040000"
                       "00434f"),
            std::string::npos)
      << state;
  char date[16];
  snprintf(date, sizeof date, "%02d%02d%02d", now.wMonth, now.wDay,
           now.wYear % 100);
  EXPECT_NE(state.find("clock=" + wine::Hex(date)), std::string::npos) << state;
  EXPECT_NE(state.find("000000 "), std::string::npos)
      << "the clock ends with configuration bytes 16 to 18: " << state;
  EXPECT_NE(state.find("userid=" + wine::Hex("00000000")), std::string::npos)
      << state;
}

TEST_F(PortableScanner, RefusedConfigurationIsReported) {
  OpenScanner("Portable Scanner M-20", 0);
  sim.Command("FAULT " + std::string(kPort) + " nak");
  ASSERT_EQ(DirectIO(201), 0);
  Ready();
  EXPECT_EQ(NextStatus(), 701);
  ASSERT_EQ(DirectIO(203), 0);
  Ready();
  EXPECT_EQ(NextStatus(), 703);
}

TEST_F(PortableScanner, StatusAndGQueriesComeBackAsDirectIOEvents) {
  OpenScanner("Portable Scanner M-20", 0);
  ASSERT_EQ(DirectIO(204), 0);
  Ready();
  ASSERT_TRUE(events->WaitFor(1, 10000, standin::kDirectIOEvent));
  ASSERT_EQ(DirectIO(205), 0);
  Ready();
  ASSERT_TRUE(events->WaitFor(2, 10000, standin::kDirectIOEvent));
  const auto replies = DirectIOEvents();
  EXPECT_EQ(replies[0].number, 504);
  EXPECT_EQ(replies[0].data, 1);
  EXPECT_EQ(replies[0].text,
            "000102030405060708090a0b0c0d0e0f,M40-SCAN,V1.2,OK");
  EXPECT_EQ(replies[1].number, 505);
  EXPECT_EQ(replies[1].text, "G-REPLY-1234");
  EXPECT_TRUE(Statuses().empty());
}

TEST_F(PortableScanner, UnsolicitedRecordsAreAnsweredAndDelivered) {
  OpenScanner("Portable Scanner M-20", 0);
  sim.Written(kPort, 0, 0);
  sim.Command("UNSOLICITED " + std::string(kPort) + " " +
              wine::Hex("F4006381333931"));
  ASSERT_TRUE(events->WaitFor(1, 5000, standin::kDataEvent));
  EXPECT_EQ(events->DataEvents()[0].scanData, "F4006381333931");
  EXPECT_EQ(events->DataEvents()[0].scanDataType, 104);
  EXPECT_EQ(sim.Written(kPort, 1000, 2), "UU");
}

TEST_F(PortableScanner, ClockAndGQueryAreRefusedOnTheM40) {
  OpenScanner("Portable Scanner M-40", 0);
  EXPECT_EQ(DirectIO(202), 106);
  EXPECT_EQ(DirectIO(205), 106);
  EXPECT_EQ(DirectIO(204), 0);
}

}  // namespace
