// What the package tests of both architectures share: the packages a
// build makes, msiexec as an administrator runs it, and what an installed
// product leaves in the file system and the registry.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace package_test {

extern const char kClsidKey[];

// The packages of a build whose programs are in `binFolder`: this
// version's, a second build of it (another product code), and an older
// version's. `suffix` is "" for x86 and "-x64".
struct Packages {
  std::string current;
  std::string rebuilt;
  std::string older;
};
Packages PackagesOf(const std::string& binFolder, const std::string& suffix);

std::string KnownFolder(int folder);
bool Exists(const std::string& path);
int Msiexec(const std::string& action, const std::string& package,
            const std::string& properties = "");

// The product codes and versions installed under the driver set's upgrade
// code.
std::vector<std::string> InstalledProducts();
std::vector<std::string> InstalledVersions();
void UninstallEverything();

// The default values of the service object's five registration keys in a
// registry view (0: the program's own), "<missing>" for each key that is
// not there.
std::vector<std::string> ComKeys(REGSAM view = 0);
std::vector<std::string> ComKeysFor(const std::string& library);
extern const std::vector<std::string> kNoComKeys;

}  // namespace package_test
