// The installer package under Wine, as an administrator uses it with
// msiexec: a silent install and what it puts where, the service object
// created by its ProgID from the installed library, a second install,
// repair, an upgrade from an older package (and no downgrade), and
// uninstall, also after the files were deleted by hand, which keeps the
// device entries.
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "testing/wine/wine_support.h"

namespace {

constexpr char kUpgradeCode[] = "{7B2E4C1A-5D38-4F6B-9A0E-3C8D1F2B6A47}";
constexpr char kClsidKey[] = "CLSID\\{3C11BE62-5309-11D6-8E44-0050DAC580E1}";
const char* const kFiles[] = {"TALSCAN.dll", "Varnconf.exe", "ccoreg.exe",
                              "KorvaJposUsb.dll"};

std::string Package() {
  return wine::ProgramFolder() +
         "..\\package\\KorvaOposDriver-" DRIVER_SET_VERSION ".msi";
}
std::string OlderPackage() {
  return wine::ProgramFolder() +
         "..\\package\\older\\KorvaOposDriver-" OLDER_PACKAGE_VERSION ".msi";
}

std::string KnownFolder(int folder) {
  char path[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, folder, nullptr, 0, path);
  return path;
}
std::string InstallFolder() {
  return KnownFolder(CSIDL_PROGRAM_FILES) + "\\Korva\\OPOS Scanner\\";
}
bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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

int Msiexec(const std::string& action, const std::string& package,
            const std::string& properties = "") {
  return wine::RunProgram(
      "msiexec " + action + " \"" + package + "\" " + properties + " /qn",
      120000);
}

// The versions of the installed products of the driver set's upgrade code.
std::vector<std::string> InstalledVersions() {
  std::vector<std::string> versions;
  char product[39] = {};
  for (DWORD i = 0;
       MsiEnumRelatedProductsA(kUpgradeCode, 0, i, product) == ERROR_SUCCESS;
       ++i) {
    char version[64] = {};
    DWORD size = sizeof version;
    MsiGetProductInfoA(product, INSTALLPROPERTY_VERSIONSTRING, version, &size);
    versions.push_back(version);
  }
  return versions;
}

// What the COM registration of the service object holds: the five keys'
// default values, "<missing>" for each key that is not there.
std::vector<std::string> ComKeys() {
  std::vector<std::string> values;
  for (const std::string& key :
       {std::string("TALSCAN.ScannerSO"), std::string("TALSCAN.ScannerSO\\CLSID"),
        std::string(kClsidKey), std::string(kClsidKey) + "\\ProgID",
        std::string(kClsidKey) + "\\InProcServer32"}) {
    values.push_back(wine::DefaultValue(HKEY_CLASSES_ROOT, key));
  }
  return values;
}
const std::vector<std::string> kNoComKeys(5, "<missing>");

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override { UninstallEverything(); }
  void TearDown() override {
    UninstallEverything();
    // The build's registration, for the tests that follow.
    wine::RegisterLibrary(wine::ProgramFolder() + "TALSCAN.dll");
  }
  static void UninstallEverything() {
    char product[39] = {};
    while (MsiEnumRelatedProductsA(kUpgradeCode, 0, 0, product) ==
           ERROR_SUCCESS) {
      if (Msiexec("/x", product) != 0) break;
    }
  }
};

TEST_F(PackageTest, SilentInstallPutsEverythingInPlaceAndASecondChangesNothing) {
  ASSERT_EQ(Msiexec("/i", Package()), 0);
  for (const char* file : kFiles) {
    EXPECT_TRUE(Exists(InstallFolder() + file)) << file;
  }
  const std::string library = InstallFolder() + "TALSCAN.dll";
  EXPECT_EQ(ComKeys(), (std::vector<std::string>{
                           "TALSCAN.ScannerSO", "{3C11BE62-5309-11D6-8E44-0050DAC580E1}",
                           "TALSCAN.ScannerSO", "TALSCAN.ScannerSO", library}));
  EXPECT_TRUE(ShortcutExists());
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

  EXPECT_EQ(Msiexec("/i", Package()), 0) << "installed again";
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{DRIVER_SET_VERSION});
  EXPECT_TRUE(Exists(library));
}

// Repair as "/fa" asks for it; Wine's msiexec takes /f only in this form.
TEST_F(PackageTest, RepairPutsBackADeletedLibraryAndItsRegistration) {
  ASSERT_EQ(Msiexec("/i", Package()), 0);
  ASSERT_TRUE(DeleteFileA((InstallFolder() + "TALSCAN.dll").c_str()));
  wine::DeleteKeyTree(HKEY_CLASSES_ROOT, kClsidKey);
  EXPECT_EQ(Msiexec("/i", Package(), "REINSTALL=ALL REINSTALLMODE=amus"), 0);
  EXPECT_TRUE(Exists(InstallFolder() + "TALSCAN.dll"));
  EXPECT_EQ(ComKeys().back(), InstallFolder() + "TALSCAN.dll");
}

TEST_F(PackageTest, ANewerPackageReplacesAnOlderOneAndNeverTheReverse) {
  ASSERT_EQ(Msiexec("/i", OlderPackage()), 0);
  EXPECT_EQ(InstalledVersions(),
            std::vector<std::string>{OLDER_PACKAGE_VERSION});
  ASSERT_EQ(Msiexec("/i", Package()), 0);
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{DRIVER_SET_VERSION})
      << "one installation";
  for (const char* file : kFiles) {
    EXPECT_TRUE(Exists(InstallFolder() + file)) << file;
  }
  EXPECT_NE(Msiexec("/i", OlderPackage()), 0) << "no downgrade";
  EXPECT_EQ(InstalledVersions(), std::vector<std::string>{DRIVER_SET_VERSION});
  EXPECT_TRUE(Exists(InstallFolder() + "TALSCAN.dll"));
}

TEST_F(PackageTest, UninstallRemovesTheProgramAndKeepsTheDeviceEntries) {
  for (bool deletedByHand : {false, true}) {
    ASSERT_EQ(Msiexec("/i", Package()), 0);
    wine::WriteStandardEntry("Till", "Handheld", "COM3");
    if (deletedByHand) {
      for (const char* file : kFiles) {
        DeleteFileA((InstallFolder() + file).c_str());
      }
    }
    EXPECT_EQ(Msiexec("/x", Package()), 0) << deletedByHand;
    for (const char* file : kFiles) {
      EXPECT_FALSE(Exists(InstallFolder() + file)) << file;
    }
    EXPECT_FALSE(Exists(InstallFolder())) << deletedByHand;
    EXPECT_FALSE(ShortcutExists()) << deletedByHand;
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
