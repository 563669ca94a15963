// The library's path beside the program, and the two start-up failures.
#include <gtest/gtest.h>

#include "varnconf/core/service_registration.h"

namespace {

TEST(ServicePath, IsTheProgramsFolderAndTheLibraryName) {
  const struct {
    const char* program;
    const char* service;
  } cases[] = {
      {"C:\\Program Files\\Korva\\Varnconf.exe",
       "C:\\Program Files\\Korva\\TALSCAN.dll"},
      {"D:\\Varnconf.exe", "D:\\TALSCAN.dll"},
      {"\\Varnconf.exe",
       "\\Varnconf.exeTALSCAN.dll"},  // the first is not looked at
      {"Varnconf.exe", "Varnconf.exeTALSCAN.dll"},
  };
  for (const auto& c : cases) EXPECT_EQ(ServicePath(c.program), c.service);
}

class ScriptedLibrary : public ServiceLibrary {
 public:
  bool CanRead(const std::string&) override { return readable; }
  bool Register(const std::string& path) override {
    registered = path;
    return exported;
  }
  bool readable = true;
  bool exported = true;
  std::string registered;
};

TEST(RegisterServiceObject, ReportsAMissingFileThenAFailedRegistration) {
  ScriptedLibrary library;
  std::string message;
  EXPECT_TRUE(RegisterServiceObject(library, "C:\\x\\TALSCAN.dll", message));
  EXPECT_EQ(library.registered, "C:\\x\\TALSCAN.dll");

  library.exported = false;
  EXPECT_FALSE(RegisterServiceObject(library, "C:\\x\\TALSCAN.dll", message));
  EXPECT_EQ(message, "Failed to register OPOS Scanner Service Object DLL.");

  library.readable = false;
  library.registered.clear();
  EXPECT_FALSE(RegisterServiceObject(library, "C:\\x\\TALSCAN.dll", message));
  EXPECT_EQ(message,
            "Missing file:\nTALSCAN.dll\n\nPlease reinstall the KORVA OPOS "
            "Driver.");
  EXPECT_TRUE(library.registered.empty()) << "nothing loaded after the check";
}

}  // namespace
