// The installer package under Wine, as an administrator uses it with
// msiexec: a silent install and what it puts where, the service object
// created by its ProgID from the installed library, a second install,
// repair, an upgrade from an older package (and no downgrade), and
// uninstall, also after the files were deleted by hand, which keeps the
// device entries and the traces.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "packaging/tests/wine/package_support.h"
#include "testing/wine/wine_support.h"

namespace {

using namespace package_test;

const char* const kFiles[] = {"TALSCAN.dll", "Varnconf.exe", "ccoreg.exe",
                              "KorvaJposUsb.dll"};
const Packages kPackages = PackagesOf(wine::ProgramFolder(), "");

std::string InstallFolder() {
  return KnownFolder(CSIDL_PROGRAM_FILES) + "\\Korva\\OPOS Scanner\\";
}
std::string TraceFolder() {
  return KnownFolder(CSIDL_COMMON_APPDATA) + "\\Korva\\OPOS Scanner\\Traces";
}
// The Start menu's shortcut: all users' menu on Windows; Wine's installer
// puts a per-machine package's shortcuts in the user's menu.
bool ShortcutExists() {
  for (int menu : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    if (Exists(KnownFolder(menu) + "\\KORVA OPOS Driver\\Varnconf.lnk")) {
      return true;
    }
  }
  return false;
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override { UninstallEverything(); }
  void TearDown() override {
    UninstallEverything();
    // The build's registration, for the tests that follow.
    wine::RegisterLibrary(wine::ProgramFolder() + "TALSCAN.dll");
  }
};

TEST_F(PackageTest, SilentInstallPutsEverythingInPlaceAndASecondChangesNothing) {
  ASSERT_EQ(Msiexec("/i", kPackages.current), 0);
  for (const char* file : kFiles) {
    EXPECT_TRUE(Exists(InstallFolder() + file)) << file;
  }
  const std::string library = InstallFolder() + "TALSCAN.dll";
  EXPECT_EQ(ComKeys(), ComKeysFor(library));
  EXPECT_TRUE(ShortcutExists());
  EXPECT_TRUE(Exists(TraceFolder())) << "for the service object's traces";
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{DRIVER_SET_VERSION});

  // A client creates the service object by its ProgID, from there.
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(L"TALSCAN.ScannerSO", &clsid), S_OK);
  IDispatch* service = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IDispatch,
                             reinterpret_cast<void**>(&service)),
            S_OK);
  EXPECT_NE(GetModuleHandleA(library.c_str()), nullptr);
  service->Release();
  CoFreeUnusedLibrariesEx(0, 0);

  EXPECT_EQ(Msiexec("/i", kPackages.current), 0) << "installed again";
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{DRIVER_SET_VERSION});
  EXPECT_TRUE(Exists(library));
}

// Repair as "/fa" asks for it; Wine's msiexec takes /f only in this form.
TEST_F(PackageTest, RepairPutsBackADeletedLibraryAndItsRegistration) {
  ASSERT_EQ(Msiexec("/i", kPackages.current), 0);
  ASSERT_TRUE(DeleteFileA((InstallFolder() + "TALSCAN.dll").c_str()));
  wine::DeleteKeyTree(HKEY_CLASSES_ROOT, kClsidKey);
  EXPECT_EQ(Msiexec("/i", kPackages.current, "REINSTALL=ALL REINSTALLMODE=amus"), 0);
  EXPECT_TRUE(Exists(InstallFolder() + "TALSCAN.dll"));
  EXPECT_EQ(ComKeys().back(), InstallFolder() + "TALSCAN.dll");
}

TEST_F(PackageTest, ANewerPackageReplacesAnOlderOneAndNeverTheReverse) {
  ASSERT_EQ(Msiexec("/i", kPackages.older), 0);
  EXPECT_EQ(InstalledVersions(),
            std::vector<std::string>{OLDER_PACKAGE_VERSION});
  ASSERT_EQ(Msiexec("/i", kPackages.current), 0);
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{DRIVER_SET_VERSION})
      << "one installation";
  for (const char* file : kFiles) {
    EXPECT_TRUE(Exists(InstallFolder() + file)) << file;
  }
  EXPECT_NE(Msiexec("/i", kPackages.older), 0) << "no downgrade";
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{DRIVER_SET_VERSION});
  EXPECT_TRUE(Exists(InstallFolder() + "TALSCAN.dll"));

  // A rebuild of the same version replaces it: one entry in Programs and
  // Features, the rebuild's.
  const std::vector<std::string> before = InstalledProducts();
  ASSERT_EQ(Msiexec("/i", kPackages.rebuilt), 0);
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{DRIVER_SET_VERSION});
  EXPECT_NE(InstalledProducts(), before);
  EXPECT_TRUE(Exists(InstallFolder() + "TALSCAN.dll"));
}

TEST_F(PackageTest, UninstallRemovesTheProgramAndKeepsTheDeviceEntries) {
  for (bool deletedByHand : {false, true}) {
    ASSERT_EQ(Msiexec("/i", kPackages.current), 0);
    wine::WriteStandardEntry("Till", "Handheld", "COM3");
    const std::string trace = TraceFolder() + "\\Till.log";
    HANDLE file = CreateFileA(trace.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "the folder is there to write in";
    CloseHandle(file);
    if (deletedByHand) {
      for (const char* file : kFiles) {
        DeleteFileA((InstallFolder() + file).c_str());
      }
    }
    EXPECT_EQ(Msiexec("/x", kPackages.current), 0) << deletedByHand;
    for (const char* file : kFiles) {
      EXPECT_FALSE(Exists(InstallFolder() + file)) << file;
    }
    EXPECT_FALSE(Exists(InstallFolder())) << deletedByHand;
    EXPECT_FALSE(ShortcutExists()) << deletedByHand;
    EXPECT_TRUE(Exists(trace)) << "a trace is data, not program";
    DeleteFileA(trace.c_str());
    EXPECT_EQ(ComKeys(), kNoComKeys) << deletedByHand;
    EXPECT_TRUE(InstalledVersions().empty()) << deletedByHand;
    EXPECT_EQ(wine::DefaultValue(
                  HKEY_LOCAL_MACHINE,
                  "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\Till"),
              "TALSCAN.ScannerSO")
        << "configuration, not program";
  }
}

}  // namespace
