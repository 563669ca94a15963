// The version resources of the built binaries, read back as Windows shows
// them in a file's properties, and the manifests of the programs, as
// Windows reads them when it starts one.
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

// The manifest a program is started with: resource 1 of type RT_MANIFEST.
std::string Manifest(const std::string& path) {
  HMODULE file = LoadLibraryExA(path.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE);
  if (file == nullptr) return "";
  std::string text;
  HRSRC found = FindResourceA(file, MAKEINTRESOURCEA(1), RT_MANIFEST);
  if (HGLOBAL loaded = found ? LoadResource(file, found) : nullptr) {
    text.assign(static_cast<const char*>(LockResource(loaded)),
                SizeofResource(file, found));
  }
  FreeLibrary(file);
  return text;
}

// Both write under HKLM: they ask for an administrator's rights, so that
// nothing they write is sent to the user's VirtualStore.
TEST(Manifests, TheAdministratorsProgramsAskForElevation) {
  for (const char* program : {"Varnconf.exe", "ccoreg.exe"}) {
    const std::string manifest = Manifest(wine::ProgramFolder() + program);
    EXPECT_NE(manifest.find("<requestedExecutionLevel "
                            "level=\"requireAdministrator\" "
                            "uiAccess=\"false\"/>"),
              std::string::npos)
        << program << ":\n"
        << manifest;
  }
}

}  // namespace
