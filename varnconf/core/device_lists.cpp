#include "varnconf/core/device_lists.h"

#include <cctype>

namespace lists {

const std::vector<std::string> kScannerTypes = {
    "Omni-directional Laser", kHandheld, "Model 73 Series", kUsbScanner};
const std::vector<std::string> kPorts = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                         "COM6", "COM7", "COM8", "COM9"};
const std::vector<std::string> kCompatibilityModes = {"KORVA", "METROLOGIC",
                                                      "BEETLE", "SYMBOL"};

namespace {

bool BeginsWith(const std::string& entry, const std::string& text) {
  if (text.size() > entry.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(entry[i])) !=
        std::tolower(static_cast<unsigned char>(text[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

TypeRules RulesFor(const std::string& type) {
  if (type == kUsbScanner) return {false, false};
  return {type == kHandheld, true};
}

int FindPrefix(const std::vector<std::string>& list, const std::string& text) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (BeginsWith(list[i], text)) return static_cast<int>(i);
  }
  return -1;
}

std::string TextAt(const std::vector<std::string>& list, int index) {
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return {};
  return list[static_cast<size_t>(index)];
}

}  // namespace lists
