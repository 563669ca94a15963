// The field engineer's trace: its lines, the repeat rule, rotation, a file
// that cannot be written, and what an opening of each level leaves in it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "talscan/core/trace.h"
#include "talscan/tests/service_fixture.h"
#include "testing/fakes/hid_reports.h"
#include "testing/fakes/wait_until.h"

namespace {

constexpr char kFile[] = "C:\\ProgramData\\Korva\\OPOS Scanner\\Traces\\Till_1.log";
constexpr char kStamp[] = "2026-12-10 09:15:02.045 [7] ";

class TraceTest : public ::testing::Test {
 protected:
  TraceTest() { clock.SetLocal({2026, 12, 10, 9, 15, 2, 45}); }
  bool Begin(int level) {
    return trace.Begin(level, "", "Till/1", {"entry: the values"});
  }
  std::string Body() {
    const std::string file = files.File(kFile);
    return file.substr(file.find("entry: the values\r\n") + 19);
  }

  fakes::MemoryTraceFiles files;
  fakes::VirtualClock clock;
  Trace trace{files, clock};
};

TEST_F(TraceTest, HeaderThenOneStampedLineAnEventUpToTheLevel) {
  ASSERT_TRUE(Begin(trace_level::kData));
  EXPECT_EQ(files.File(kFile),
            "==== 2026-12-10 09:15:02.045 Open \"Till/1\" ====\r\n"
            "process C:\\Till\\pos.exe, id 4242\r\n"
            "TALSCAN.dll 1.9.1.0, 32-bit\r\n"
            "entry: the values\r\n");
  trace.Write(trace_level::kOpening, "Open -> 0");
  trace.Write(trace_level::kData, "label\r\n");
  trace.Write(trace_level::kWire, "not at level 2");
  const uint8_t bytes[] = {0x02, 0x41};
  trace.Bytes("read", bytes, 2);
  EXPECT_EQ(Body(), std::string(kStamp) + "Open -> 0\r\n" + kStamp +
                        "label\r\n\r\n");
  EXPECT_EQ(TraceText("A\r\n\x01"), "A\\x0D\\x0A\\x01");
}

// What a device name may hold that a file name, or a line, cannot.
TEST_F(TraceTest, DeviceNamesMakeSafeFileNamesAndOneHeaderLine) {
  const struct {
    const char* device;
    const char* file;
  } cases[] = {
      {"COM1", "_COM1.log"},     {"nul.till", "_nul.till.log"},
      {"LPT9", "_LPT9.log"},     {"COM10", "COM10.log"},
      {"A:B*C", "A_B_C.log"},    {"Two\r\nLines", "Two__Lines.log"},
  };
  for (const auto& c : cases) {
    Trace named{files, clock};
    ASSERT_TRUE(named.Begin(trace_level::kOpening, "D:\\t", c.device, {}));
    const std::string file = files.File(std::string("D:\\t\\") + c.file);
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 3) << c.device;
  }
}

TEST_F(TraceTest, OffWritesNothingAndMakesNoFile) {
  EXPECT_FALSE(Begin(trace_level::kOff));
  trace.Write(trace_level::kOpening, "Open -> 0");
  trace.End();
  EXPECT_TRUE(files.Files().empty());
  EXPECT_FALSE(Trace::Off().Wants(trace_level::kOpening));
}

// A burst of the same line is written once and counted when it ends: at
// the next other line, at a pause longer than the burst gap, or at the end.
TEST_F(TraceTest, RepeatsInABurstAreCounted) {
  ASSERT_TRUE(Begin(trace_level::kOpening));
  for (int i = 0; i < 5; ++i) {
    trace.Write(trace_level::kOpening, "port gone");
    clock.Advance(100);
  }
  trace.Write(trace_level::kOpening, "port back");
  trace.Write(trace_level::kOpening, "same");
  clock.Advance(kTraceBurstGapMs + 1);
  trace.Write(trace_level::kOpening, "same");
  trace.Write(trace_level::kOpening, "same");
  trace.End();
  const std::string s = kStamp;
  EXPECT_EQ(Body(), s + "port gone\r\n" + s + "repeated 4 times\r\n" + s +
                        "port back\r\n" + s + "same\r\n" + s + "same\r\n" +
                        s + "repeated 1 time\r\n");
}

// A burst that goes on (a port gone for hours) is counted every minute.
TEST_F(TraceTest, ALongBurstIsCountedAsItGoes) {
  ASSERT_TRUE(Begin(trace_level::kOpening));
  for (int second = 0; second <= 150; ++second) {
    trace.Write(trace_level::kOpening, "reopening");
    clock.Advance(1000);
  }
  const std::string s = kStamp;
  EXPECT_EQ(Body(), s + "reopening\r\n" + s + "repeated 60 times\r\n" + s +
                        "repeated 60 times\r\n");
}

// Whole lines, never more than the limit in a file, four older files kept:
// the oldest lines go.
TEST_F(TraceTest, FilesAreMovedAsideAtTheLimitAndFourKept) {
  ASSERT_TRUE(Begin(trace_level::kOpening));
  const std::string line(1000, 'x');
  for (int i = 0; i < 7000; ++i) {
    trace.Write(trace_level::kOpening, std::to_string(i) + line);
  }
  const auto all = files.Files();
  ASSERT_EQ(all.size(), 5u);
  uint64_t total = 0;
  for (const auto& file : all) {
    EXPECT_LE(file.second.size(), kTraceFileLimit) << file.first;
    EXPECT_EQ(file.second.back(), '\n') << file.first;
    total += file.second.size();
  }
  EXPECT_LE(total, 5 * kTraceFileLimit);
  const std::string oldest = files.File(
      "C:\\ProgramData\\Korva\\OPOS Scanner\\Traces\\Till_1.4.log");
  EXPECT_EQ(oldest.find("Open \"Till/1\""), std::string::npos)
      << "the header went with the oldest lines";
  EXPECT_NE(files.File(kFile).find("] 6999x"), std::string::npos);
  EXPECT_EQ(files.LocksHeld(), 0);
}

TEST_F(TraceTest, AFileThatCannotBeWrittenTurnsTheTraceOffAndSaysWhy) {
  files.folderError = 5;
  EXPECT_FALSE(Begin(trace_level::kWire));
  EXPECT_EQ(trace.Stopped(),
            "cannot make C:\\ProgramData\\Korva\\OPOS Scanner\\Traces: error 5");
  EXPECT_EQ(files.Reports().size(), 1u) << "the system hears of it";
  files.folderError = 0;
  Trace second{files, clock};
  ASSERT_TRUE(second.Begin(trace_level::kWire, "D:\\traces", "Till", {}));
  files.appendError = 112;
  second.Write(trace_level::kOpening, "lost");
  EXPECT_FALSE(second.Wants(trace_level::kOpening));
  EXPECT_EQ(second.Stopped(), "cannot write D:\\traces\\Till.log: error 112");
  EXPECT_EQ(files.Reports().size(), 2u);

  // A file that cannot be moved aside does not grow past the limit.
  files.appendError = 0;
  files.moveError = 32;
  Trace stuck{files, clock};
  ASSERT_TRUE(stuck.Begin(trace_level::kOpening, "D:\\traces", "Stuck", {}));
  for (int i = 0; i < 2000 && stuck.Wants(trace_level::kOpening); ++i) {
    stuck.Write(trace_level::kOpening, std::to_string(i) + std::string(999, 'x'));
  }
  EXPECT_LE(files.File("D:\\traces\\Stuck.log").size(), kTraceFileLimit);
  EXPECT_EQ(stuck.Stopped(),
            "cannot move D:\\traces\\Stuck.log aside: error 32");
  files.moveError = 0;

  // A trace whose thread was stopped by force is never touched again.
  Trace third{files, clock};
  ASSERT_TRUE(third.Begin(trace_level::kOpening, "D:\\traces", "Other", {}));
  third.Abandon();
  third.Write(trace_level::kOpening, "after");
  third.End();
  EXPECT_EQ(files.File("D:\\traces\\Other.log").find("after"),
            std::string::npos);
  EXPECT_EQ(third.Stopped(), "its receive thread was stopped by force");
}

// Through the service object: what each level leaves of an opening.
class TracedServiceTest : public ServiceTest {
 protected:
  long OpenTraced(int level) {
    WriteEntry("Till", "Omni-directional Laser");
    SetEntryDword("Till", "TraceLevel", static_cast<uint32_t>(level));
    return Open("Till");
  }
  std::string File() {
    return traceFiles.File(
        "C:\\ProgramData\\Korva\\OPOS Scanner\\Traces\\Till.log");
  }
  bool Has(const std::string& text) {
    return File().find(text) != std::string::npos;
  }
};

TEST_F(TracedServiceTest, EachLevelAddsToTheOpeningsLines) {
  const struct {
    int level;
    bool opening, label, wire;
  } cases[] = {
      {1, true, false, false},
      {2, true, true, false},
      {3, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    ASSERT_EQ(OpenTraced(c.level), opos::kSuccess);
    ASSERT_EQ(service.Claim(1000), opos::kSuccess);
    service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
    service.SetPropertyNumber(opos::pidx::DecodeData, 1);
    service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
    serial.Feed("A012345678905\r\n");
    ASSERT_TRUE(fakes::WaitUntil([&] { return events.DataEvents() == 1; }));
    ASSERT_EQ(service.Close(), opos::kSuccess);
    EXPECT_EQ(Has("entry: Type 1, Port COM1"), c.opening);
    EXPECT_EQ(Has("] Open -> 0\r\n"), c.opening);
    EXPECT_EQ(Has("] ClaimDevice 1000 -> 0\r\n"), c.opening);
    EXPECT_EQ(Has("] DeviceEnabled 1 -> 0\r\n"), c.opening);
    EXPECT_EQ(Has("] Close -> 0\r\n"), c.opening);
    EXPECT_EQ(Has("DataEvent: ScanData \"A012345678905\", ScanDataType 101"),
              c.label);
    EXPECT_EQ(Has("] wrote 1 byte: 0E\r\n"), c.wire);
    EXPECT_EQ(Has("] read 1 byte: 41\r\n"), c.wire);
    events.Clear();
  }
}

TEST_F(TracedServiceTest, OffLeavesNoFileAndAFailedFileChangesNoResult) {
  ASSERT_EQ(OpenTraced(0), opos::kSuccess);
  ASSERT_EQ(service.Close(), opos::kSuccess);
  EXPECT_TRUE(traceFiles.Files().empty());

  traceFiles.appendError = 5;
  EXPECT_EQ(OpenTraced(1), opos::kSuccess);
  EXPECT_EQ(service.Claim(0), opos::kSuccess);
  EXPECT_EQ(service.Close(), opos::kSuccess);
  EXPECT_TRUE(notifier.Boxes().empty());
  traceFiles.appendError = 0;
  ASSERT_EQ(OpenTraced(1), opos::kSuccess);
  EXPECT_TRUE(Has("an earlier trace of this process stopped: cannot write "));
}

// Only a REG_DWORD sets the level: a text "0" must not mean "every byte".
TEST_F(TracedServiceTest, OnlyADwordSetsTheLevel) {
  const struct {
    const char* device;
    bool text;
    uint32_t level;
    bool traced, wire;
  } cases[] = {
      {"Text0", true, 0, false, false},
      {"Text3", true, 0, false, false},
      {"Dword9", false, 9, true, true},
  };
  for (const auto& c : cases) {
    WriteEntry(c.device, "Model 73 Series");
    if (c.text) {
      SetEntryValue(c.device, "TraceLevel", std::string(c.device).substr(4));
    } else {
      SetEntryDword(c.device, "TraceLevel", c.level);
    }
    ASSERT_EQ(Open(c.device), opos::kSuccess) << c.device;
    service.SetPropertyNumber(opos::pidx::DeviceEnabled, 1);
    ASSERT_EQ(service.Close(), opos::kSuccess);
    const std::string file = traceFiles.File(
        "C:\\ProgramData\\Korva\\OPOS Scanner\\Traces\\" +
        std::string(c.device) + ".log");
    EXPECT_EQ(!file.empty(), c.traced) << c.device;
    EXPECT_EQ(file.find("] wrote 1 byte: 0E") != std::string::npos, c.wire)
        << c.device;
  }
}

// A vanished port is tried once a second: one line, then its count.
TEST_F(TracedServiceTest, AVanishedPortsRetriesAreCounted) {
  ASSERT_EQ(OpenTraced(1), opos::kSuccess);
  serial.Vanish(true);
  // Noticed, then tried again and again, before the port comes back.
  ASSERT_TRUE(fakes::WaitUntil([&] { return Has("] reopening"); }));
  const uint64_t firstTry = clock.NowMs();
  ASSERT_TRUE(
      fakes::WaitUntil([&] { return clock.NowMs() > firstTry + 3000; }));
  serial.Vanish(false);
  ASSERT_TRUE(fakes::WaitUntil([&] { return Has("StatusUpdateEvent 2001"); }));
  const std::string file = File();
  const size_t first =
      file.find("] reopening: Unable to open COM1; error 2: System text");
  ASSERT_NE(first, std::string::npos) << file;
  EXPECT_EQ(file.find("] reopening", first + 1), std::string::npos);
  EXPECT_NE(file.find("] repeated ", first), std::string::npos);
  EXPECT_LT(file.find("StatusUpdateEvent 2004"), first);
}

// The application opens an open USB scanner again: its opening goes on, and
// so does its trace, without a second header in the middle.
TEST_F(TracedServiceTest, OpeningAnOpenUsbScannerAgainAddsALineNotAHeader) {
  hid.AddScanner("scanner");
  WriteEntry("Till", "OPOS USB Scanner");
  SetEntryDword("Till", "TraceLevel", 1);
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  ASSERT_EQ(Open("Till"), opos::kSuccess);
  ASSERT_EQ(service.Close(), opos::kSuccess);
  const std::string file = File();
  EXPECT_EQ(file.find("==== ", 1), std::string::npos) << file;
  EXPECT_NE(file.find("] Open of the open USB scanner -> 0\r\n"),
            std::string::npos);
  EXPECT_NE(file.find("] Close -> 0\r\n"), std::string::npos);
}

TEST_F(TracedServiceTest, AFailedOpenIsTracedWithTheSystemText) {
  WriteEntry("Till", "Omni-directional Laser", "COM4");
  SetEntryDword("Till", "TraceLevel", 1);
  serial.FailStep(fakes::ScriptedSerialPort::Step::kOpen, 2);
  EXPECT_EQ(Open("Till"), opos::kFailure);
  EXPECT_TRUE(Has("] Open failed: Unable to open COM4; CreateFile error 2: "
                  "System text of error 2.\r\n"))
      << File();
}

}  // namespace
