// The version resources of the built binaries, read back as Windows shows
// them in a file's properties.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "testing/wine/wine_support.h"

namespace {

struct Version {
  std::string fixedFile;     // from the fixed part: a.b.c.d
  std::string fixedProduct;
  std::string text(const char* name) const {
    for (const auto& entry : texts) {
      if (entry.first == name) return entry.second;
    }
    return "<missing>";
  }
  std::vector<std::pair<std::string, std::string>> texts;
};

std::string Dotted(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) +
         "." + std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

bool ReadVersion(const std::string& path, Version& version) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed),
                      &length)) {
    return false;
  }
  version.fixedFile = Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  version.fixedProduct =
      Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  for (const char* name : {"CompanyName", "FileDescription", "FileVersion",
                           "OriginalFilename", "ProductName",
                           "ProductVersion"}) {
    char* text = nullptr;
    const std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (VerQueryValueA(data.data(), query.c_str(),
                       reinterpret_cast<void**>(&text), &length)) {
      version.texts.emplace_back(name, text);
    }
  }
  return true;
}

TEST(VersionResources, EveryBinaryNamesItselfAndTheDriverSet) {
  const struct {
    const char* file;
    const char* version;
  } binaries[] = {
      {"TALSCAN.dll", DRIVER_SET_VERSION},
      {"Varnconf.exe", VARNCONF_VERSION},
      {"ccoreg.exe", DRIVER_SET_VERSION},
      {"KorvaJposUsb.dll", DRIVER_SET_VERSION},
  };
  for (const auto& binary : binaries) {
    Version version;
    ASSERT_TRUE(ReadVersion(wine::ProgramFolder() + binary.file, version))
        << binary.file;
    EXPECT_EQ(version.fixedFile, binary.version) << binary.file;
    EXPECT_EQ(version.fixedProduct, binary.version) << binary.file;
    EXPECT_EQ(version.text("FileVersion"), binary.version) << binary.file;
    EXPECT_EQ(version.text("ProductVersion"), binary.version) << binary.file;
    EXPECT_EQ(version.text("OriginalFilename"), binary.file);
    EXPECT_EQ(version.text("CompanyName"), "Korva") << binary.file;
    EXPECT_EQ(version.text("ProductName"), "KORVA OPOS Driver") << binary.file;
    EXPECT_NE(version.text("FileDescription"), "<missing>") << binary.file;
  }
}

}  // namespace
