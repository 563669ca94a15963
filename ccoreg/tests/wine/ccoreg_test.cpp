// ccoreg.exe under Wine. Started in a folder that holds a control object
// library named OPOSScanner.ocx (the stand-in control object, which
// records where it was registered from), it registers that library and
// ends at once with 0, whatever its arguments; where the registration tool
// cannot be found it ends with 0 all the same, having shown nothing (a
// box would have kept it from ending).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "testing/wine/wine_support.h"

namespace {

constexpr char kFolder[] = "C:\\ccoreg-test";
constexpr char kServerKey[] =
    "CLSID\\{CCB90182-B81E-11D2-AB74-0040054C3719}\\InprocServer32";

class Ccoreg : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA(kFolder, nullptr);
    ASSERT_TRUE(CopyFileA((wine::ProgramFolder() + "ccoreg.exe").c_str(),
                          Path("ccoreg.exe").c_str(), FALSE));
    wine::DeleteKeyTree(HKEY_CLASSES_ROOT, kServerKey);
  }
  void TearDown() override {
    DeleteFileA(Path("ccoreg.exe").c_str());
    DeleteFileA(Path("OPOSScanner.ocx").c_str());
    RemoveDirectoryA(kFolder);
    // The build's stand-in, for the tests that follow.
    wine::RegisterLibrary(wine::ProgramFolder() + "OposScannerStandIn.dll");
  }
  static std::string Path(const char* name) {
    return std::string(kFolder) + "\\" + name;
  }
  // The launcher's exit code, started in the folder; -1 when it did not
  // end within five seconds.
  int Launch(const std::string& arguments) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = "\"" + Path("ccoreg.exe") + "\" " + arguments;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        kFolder, &startup, &process)) {
      return -2;
    }
    CloseHandle(process.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 5000) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process.hProcess, &code);
    } else {
      TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
  }
  static bool Registered(const std::string& server) {
    return wine::PumpUntil(
        [&] { return wine::DefaultValue(HKEY_CLASSES_ROOT, kServerKey) == server; },
        10000);
  }
};

TEST_F(Ccoreg, RegistersTheControlBesideItWhateverTheArguments) {
  ASSERT_TRUE(
      CopyFileA((wine::ProgramFolder() + "OposScannerStandIn.dll").c_str(),
                Path("OPOSScanner.ocx").c_str(), FALSE));
  for (const char* arguments : {"", "/u", "/s /u other.ocx \"quoted text\""}) {
    wine::DeleteKeyTree(HKEY_CLASSES_ROOT, kServerKey);
    EXPECT_EQ(Launch(arguments), 0) << arguments;
    EXPECT_TRUE(Registered(Path("OPOSScanner.ocx"))) << arguments;
  }
}

TEST_F(Ccoreg, WithoutTheControlItEndsQuietly) {
  EXPECT_EQ(Launch(""), 0);
  Sleep(1000);  // what the registration tool would have done by now
  EXPECT_EQ(wine::DefaultValue(HKEY_CLASSES_ROOT, kServerKey), "<missing>");
}

TEST_F(Ccoreg, WithoutTheRegistrationToolItEndsQuietly) {
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, sizeof system);
  const std::string tool = std::string(system) + "\\regsvr32.exe";
  const std::string hidden = tool + ".hidden";
  ASSERT_TRUE(MoveFileA(tool.c_str(), hidden.c_str()));
  ASSERT_TRUE(
      CopyFileA((wine::ProgramFolder() + "OposScannerStandIn.dll").c_str(),
                Path("OPOSScanner.ocx").c_str(), FALSE));
  const int code = Launch("");
  Sleep(1000);
  const std::string server = wine::DefaultValue(HKEY_CLASSES_ROOT, kServerKey);
  ASSERT_TRUE(MoveFileA(hidden.c_str(), tool.c_str()));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(server, "<missing>") << "no tool, no registration";
}

}  // namespace
