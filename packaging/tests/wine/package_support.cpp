#include "packaging/tests/wine/package_support.h"

#include <msi.h>
#include <shlobj.h>

#include "testing/wine/wine_support.h"

namespace package_test {

namespace {
constexpr char kUpgradeCode[] = "{7B2E4C1A-5D38-4F6B-9A0E-3C8D1F2B6A47}";
}

const char kClsidKey[] = "CLSID\\{3C11BE62-5309-11D6-8E44-0050DAC580E1}";
const std::vector<std::string> kNoComKeys(5, "<missing>");

Packages PackagesOf(const std::string& binFolder, const std::string& suffix) {
  const std::string folder = binFolder + "..\\package\\";
  return {folder + "KorvaOposDriver-" DRIVER_SET_VERSION + suffix + ".msi",
          folder + "rebuilt\\KorvaOposDriver-" DRIVER_SET_VERSION + suffix +
              ".msi",
          folder + "older\\KorvaOposDriver-" OLDER_PACKAGE_VERSION + suffix +
              ".msi"};
}

std::string KnownFolder(int folder) {
  char path[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, folder, nullptr, 0, path);
  return path;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int Msiexec(const std::string& action, const std::string& package,
            const std::string& properties) {
  return wine::RunProgram(
      "msiexec " + action + " \"" + package + "\" " + properties + " /qn",
      120000);
}

std::vector<std::string> InstalledProducts() {
  std::vector<std::string> products;
  char product[39] = {};
  for (DWORD i = 0;
       MsiEnumRelatedProductsA(kUpgradeCode, 0, i, product) == ERROR_SUCCESS;
       ++i) {
    products.push_back(product);
  }
  return products;
}

std::vector<std::string> InstalledVersions() {
  std::vector<std::string> versions;
  for (const std::string& product : InstalledProducts()) {
    char version[64] = {};
    DWORD size = sizeof version;
    MsiGetProductInfoA(product.c_str(), INSTALLPROPERTY_VERSIONSTRING, version,
                       &size);
    versions.push_back(version);
  }
  return versions;
}

void UninstallEverything() {
  for (const std::string& product : InstalledProducts()) {
    if (Msiexec("/x", product) != 0) break;
  }
}

std::vector<std::string> ComKeys(REGSAM view) {
  std::vector<std::string> values;
  for (const std::string& key :
       {std::string("TALSCAN.ScannerSO"), std::string("TALSCAN.ScannerSO\\CLSID"),
        std::string(kClsidKey), std::string(kClsidKey) + "\\ProgID",
        std::string(kClsidKey) + "\\InProcServer32"}) {
    values.push_back(wine::DefaultValue(HKEY_CLASSES_ROOT, key, view));
  }
  return values;
}

std::vector<std::string> ComKeysFor(const std::string& library) {
  return {"TALSCAN.ScannerSO", "{3C11BE62-5309-11D6-8E44-0050DAC580E1}",
          "TALSCAN.ScannerSO", "TALSCAN.ScannerSO", library};
}

}  // namespace package_test
