// The fixed lists of the main and New device dialogs, in their order, and
// the list box's prefix search over them.
#pragma once

#include <string>
#include <vector>

namespace lists {

extern const std::vector<std::string> kScannerTypes;
extern const std::vector<std::string> kPorts;
extern const std::vector<std::string> kCompatibilityModes;

constexpr char kHandheld[] = "Handheld";
constexpr char kUsbScanner[] = "OPOS USB Scanner";

// What a scanner type shows of the dialogs: the AutoScan box for the
// handheld type only; the serial controls (Port, Compatibility, Setup
// Scanner) for every type but the USB one.
struct TypeRules {
  bool showAutoScan;
  bool serialControlsEnabled;
};
TypeRules RulesFor(const std::string& type);

// The first entry that begins with `text`, compared without regard to
// case, or -1 when none does.
int FindPrefix(const std::vector<std::string>& list, const std::string& text);
// The entry at `index`; empty for -1 or an index outside the list.
std::string TextAt(const std::vector<std::string>& list, int index);

}  // namespace lists
