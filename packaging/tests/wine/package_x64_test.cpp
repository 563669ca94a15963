// The x64 package in a 64-bit prefix, as on a 64-bit till: both
// architectures' files where each belongs, the service object registered
// in both registry views, a 64-bit and a 32-bit client each loading its
// own, a label reaching a 64-bit control object, uninstall that leaves
// nothing but the device entries, and one product after the x86 package
// or a rebuild of the same version.
#include "testing/wine/simulated_device_test.h"  // winsock2.h first

#include <shlobj.h>

#include <string>
#include <vector>

#include "packaging/tests/wine/package_support.h"

namespace {

using namespace package_test;

constexpr char kPort[] = "COM5";
constexpr char kDevice[] = "X64Till";
const Packages kPackages = PackagesOf(wine::ProgramFolder(), "-x64");
const Packages kX86Packages = PackagesOf(WIN32_BIN_DIR, "");

std::string Folder32() {
  return KnownFolder(CSIDL_PROGRAM_FILESX86) + "\\Korva\\OPOS Scanner\\";
}
std::string Folder64() {
  return KnownFolder(CSIDL_PROGRAM_FILES) + "\\Korva\\OPOS Scanner\\";
}

// The machine a library is built for, from its PE header.
WORD Machine(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  IMAGE_DOS_HEADER dos = {};
  IMAGE_NT_HEADERS32 nt = {};
  DWORD read = 0;
  WORD machine = 0;
  if (ReadFile(file, &dos, sizeof dos, &read, nullptr) &&
      SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) !=
          INVALID_SET_FILE_POINTER &&
      ReadFile(file, &nt, sizeof nt, &read, nullptr)) {
    machine = nt.FileHeader.Machine;
  }
  CloseHandle(file);
  return machine;
}

// A device entry in one registry view, as Varnconf keeps it in both.
bool EntryIn(REGSAM view) {
  return wine::DefaultValue(
             HKEY_LOCAL_MACHINE,
             std::string("SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\") +
                 kDevice,
             view) == "TALSCAN.ScannerSO";
}

class PackageX64Test : public wine::SimulatedDeviceTest {
 protected:
  PackageX64Test() : SimulatedDeviceTest(kPort, kDevice) {}
  void SetUp() override {
    SimulatedDeviceTest::SetUp();
    UninstallEverything();
  }
  void TearDown() override {
    SimulatedDeviceTest::TearDown();
    CoFreeUnusedLibrariesEx(0, 0);  // an installed library in use stays
    UninstallEverything();
    // The build's registration, for the tests that follow.
    wine::RegisterLibrary(wine::ProgramFolder() + "TALSCAN.dll");
  }
};

TEST_F(PackageX64Test, BothArchitecturesInstallAndEachClientLoadsItsOwn) {
  ASSERT_EQ(Msiexec("/i", kPackages.current), 0);
  for (const char* file : {"TALSCAN.dll", "KorvaJposUsb.dll"}) {
    EXPECT_EQ(Machine(Folder32() + file), IMAGE_FILE_MACHINE_I386) << file;
    EXPECT_EQ(Machine(Folder64() + file), IMAGE_FILE_MACHINE_AMD64) << file;
  }
  for (const char* program : {"Varnconf.exe", "ccoreg.exe"}) {
    EXPECT_EQ(Machine(Folder32() + program), IMAGE_FILE_MACHINE_I386);
    EXPECT_FALSE(Exists(Folder64() + program)) << program;
  }
  EXPECT_EQ(ComKeys(KEY_WOW64_64KEY), ComKeysFor(Folder64() + "TALSCAN.dll"));
  EXPECT_EQ(ComKeys(KEY_WOW64_32KEY), ComKeysFor(Folder32() + "TALSCAN.dll"));

  // A 32-bit client loads the 32-bit library.
  EXPECT_EQ(wine::RunProgram(std::string("\"") + WIN32_BIN_DIR +
                             "inproc_server_check.exe\" TALSCAN.ScannerSO \"" +
                             Folder32() + "TALSCAN.dll\""),
            0);

  // A 64-bit application's control object, this process's, opens the
  // device through the 64-bit library and gets a label.
  ASSERT_EQ(OpenEntry("Omni-directional Laser"), 0);
  EXPECT_NE(GetModuleHandleA((Folder64() + "TALSCAN.dll").c_str()), nullptr);
  ClaimAndEnable();
  sim.Feed(kPort, "A012345678905\r\n");
  ASSERT_TRUE(events->WaitFor(1, 5000, standin::kDataEvent));
  EXPECT_EQ(events->DataEvents()[0].scanData, "A012345678905");
  control.CallLong(L"Close");
}

TEST_F(PackageX64Test, UninstallLeavesOnlyTheDeviceEntriesOfBothViews) {
  ASSERT_EQ(Msiexec("/i", kPackages.current), 0);
  wine::WriteStandardEntry(kDevice, "Handheld", "COM3");
  wine::WriteDeviceEntry(kDevice, {wine::Text("", "TALSCAN.ScannerSO")},
                         KEY_WOW64_32KEY);
  ASSERT_EQ(Msiexec("/x", kPackages.current), 0);
  for (const std::string& folder : {Folder32(), Folder64()}) {
    EXPECT_FALSE(Exists(folder)) << folder;
  }
  EXPECT_EQ(ComKeys(KEY_WOW64_64KEY), kNoComKeys);
  EXPECT_EQ(ComKeys(KEY_WOW64_32KEY), kNoComKeys);
  EXPECT_TRUE(InstalledProducts().empty());
  EXPECT_TRUE(EntryIn(KEY_WOW64_64KEY));
  EXPECT_TRUE(EntryIn(KEY_WOW64_32KEY));
}

// One upgrade code for both architectures and every build: each package
// replaces what was there, never installs beside it.
TEST_F(PackageX64Test, ReplacesTheX86PackageAnOlderOneAndARebuild) {
  for (const std::string& package :
       {kPackages.older, kX86Packages.current, kPackages.current,
        kPackages.rebuilt}) {
    const std::vector<std::string> before = InstalledProducts();
    ASSERT_EQ(Msiexec("/i", package), 0) << package;
    const std::vector<std::string> after = InstalledProducts();
    ASSERT_EQ(after.size(), 1u) << package;
    EXPECT_NE(after, before) << package;
  }
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{DRIVER_SET_VERSION});
  EXPECT_TRUE(Exists(Folder64() + "TALSCAN.dll"));
  EXPECT_NE(Msiexec("/i", kPackages.older), 0) << "no downgrade";
}

}  // namespace
