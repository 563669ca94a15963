// A test suite that shares one virtual USB scanner: plugging it in takes
// seconds, so its tests take turns with the same one.
#pragma once

#include <gtest/gtest.h>

#include "testing/wine/virtual_scanner_client.h"

namespace wine {

class VirtualScannerSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { scanner = new VirtualScanner; }
  static void TearDownTestSuite() {
    delete scanner;
    scanner = nullptr;
  }
  // Each test starts with the scanner plugged in, also after one that
  // failed while it was out, and with no output report left from the one
  // before.
  void SetUp() override {
    ASSERT_TRUE(scanner->Plugged()) << scanner->Started();
    if (scanner->Command("state").rfind("OK plugged=1", 0) != 0) {
      ASSERT_EQ(scanner->Plug(), "OK plugged");
    }
    scanner->Outputs();
  }

  static inline VirtualScanner* scanner = nullptr;
};

}  // namespace wine
