// main() of the tests that run under Wine: COM on this thread (the first
// single-threaded apartment, where in-process servers without a threading
// model live) and the stand-in control object registered.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include "testing/wine/wine_support.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  CoInitialize(nullptr);
  const HRESULT registered =
      wine::RegisterLibrary(wine::ProgramFolder() + "OposScannerStandIn.dll");
  if (FAILED(registered)) {
    fprintf(stderr, "cannot register the stand-in control object: %08lx\n",
            registered);
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
