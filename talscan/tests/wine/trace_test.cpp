// The trace of the real TALSCAN.dll under Wine: the file a level-2 entry
// leaves, none at level 0, the default folder, and a folder that cannot be
// written, which changes no result.
#include "testing/wine/simulated_device_test.h"  // winsock2.h first

#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr char kPort[] = "COM5";
constexpr char kDevice[] = "TracedTill";
constexpr char kFolder[] = "C:\\scanner-traces";

std::string Contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class TracedScanner : public wine::SimulatedDeviceTest {
 protected:
  TracedScanner() : SimulatedDeviceTest(kPort, kDevice) {}
  void SetUp() override {
    SimulatedDeviceTest::SetUp();
    DeleteFileA(Path().c_str());
  }
  std::string Path(const std::string& folder = kFolder) {
    return folder + "\\" + kDevice + ".log";
  }
  // Open, a label, Close: the results the application sees.
  std::string RunOpening(const std::vector<wine::EntryValue>& trace) {
    wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kPort);
    wine::WriteDeviceEntry(kDevice, trace);
    std::string results =
        std::to_string(control.CallLong(L"Open", {wine::Bstr(kDevice)}));
    ClaimAndEnable();
    sim.Feed(kPort, "A012345678905\r\n");
    const bool labelled = events->WaitFor(1, 5000, standin::kDataEvent);
    results += labelled ? " label" : " nothing";
    results += " " + std::to_string(control.CallLong(L"Close"));
    return results;
  }
};

TEST_F(TracedScanner, LevelTwoWritesTheOpeningAndItsLabels) {
  EXPECT_EQ(RunOpening({wine::Dword("TraceLevel", 2),
                        wine::Text("TraceFolder", kFolder)}),
            "0 label 0");
  const std::string trace = Contents(Path());
  for (const std::string& expected :
       {std::string("Open \"TracedTill\" ====\r\nprocess "),
        ", id " + std::to_string(GetCurrentProcessId()) + "\r\n",
        std::string(sizeof(void*) == 8 ? "64-bit" : "32-bit"),
        std::string("entry: Type 1, Port COM5, Compatibility 0"),
        std::string("] Open -> 0\r\n"), std::string("] ClaimDevice 0 -> 0\r\n"),
        std::string("] DeviceEnabled 1 -> 0\r\n"),
        std::string("] DataEvent: ScanData \"A012345678905\", ScanDataType 101"),
        std::string("] Close -> 0\r\n")}) {
    EXPECT_NE(trace.find(expected), std::string::npos) << expected << "\n"
                                                       << trace;
  }
  EXPECT_EQ(trace.find("read 1 byte"), std::string::npos) << "level 3 only";
}

TEST_F(TracedScanner, LevelZeroMakesNoFile) {
  EXPECT_EQ(RunOpening({wine::Dword("TraceLevel", 0),
                        wine::Text("TraceFolder", kFolder)}),
            "0 label 0");
  EXPECT_EQ(GetFileAttributesA(Path().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TracedScanner, WithoutAFolderTheTraceGoesUnderProgramData) {
  char data[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableA("ProgramData", data, MAX_PATH), 0u);
  const std::string folder =
      std::string(data) + "\\Korva\\OPOS Scanner\\Traces";
  DeleteFileA(Path(folder).c_str());
  EXPECT_EQ(RunOpening({wine::Dword("TraceLevel", 1)}), "0 label 0");
  EXPECT_NE(Contents(Path(folder)).find("] Close -> 0\r\n"), std::string::npos);
}

TEST_F(TracedScanner, AFolderThatCannotBeWrittenChangesNoResult) {
  // A folder below a file cannot be made.
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string folder = std::string(windows) + "\\win.ini\\traces";
  EXPECT_EQ(RunOpening({wine::Dword("TraceLevel", 3),
                        wine::Text("TraceFolder", folder)}),
            "0 label 0");
}

}  // namespace
