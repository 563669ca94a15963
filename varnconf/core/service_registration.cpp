#include "varnconf/core/service_registration.h"

#include "common/device_entry/entry_values.h"

std::string ServicePath(const std::string& programPath) {
  std::string folder = programPath;
  for (size_t i = folder.size(); i-- > 1;) {
    if (folder[i] == '\\') {
      folder.erase(i + 1);
      break;
    }
  }
  return folder + device_entry::kServiceLibrary;
}

bool RegisterServiceObject(ServiceLibrary& library,
                           const std::string& servicePath,
                           std::string& message) {
  if (!library.CanRead(servicePath)) {
    message = std::string("Missing file:\n") + device_entry::kServiceLibrary +
              "\n\nPlease reinstall the KORVA OPOS Driver.";
    return false;
  }
  if (!library.Register(servicePath)) {
    message = "Failed to register OPOS Scanner Service Object DLL.";
    return false;
  }
  return true;
}
