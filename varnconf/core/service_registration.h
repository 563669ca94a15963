// Registering the service object at every start: TALSCAN.dll must lie
// beside the program and register itself as a COM server; otherwise the
// program says so and ends.
#pragma once

#include <string>

// The platform side: the library file and its registration export.
class ServiceLibrary {
 public:
  virtual ~ServiceLibrary() = default;
  // True when the file can be opened for reading.
  virtual bool CanRead(const std::string& path) = 0;
  // Loads the library, calls DllRegisterServer when it has the export
  // (whatever it answers) and unloads it; true when the export was there.
  virtual bool Register(const std::string& path) = 0;
};

// The program's folder, with its backslash, followed by "TALSCAN.dll". The
// folder ends at the last backslash found from the last character down to
// the second; without one the whole name stays.
std::string ServicePath(const std::string& programPath);

// Checks and registers the library at `servicePath`: true, or false with
// the message to show before the program ends.
bool RegisterServiceObject(ServiceLibrary& library,
                           const std::string& servicePath,
                           std::string& message);
