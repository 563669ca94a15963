// KorvaJposUsb.dll as a JVM of its architecture loads it: the JNI names it
// looks up (a 32-bit JVM the decorated ones first, a 64-bit one the plain
// ones), and the natives called with a minimal JNI environment, on a
// machine without the scanner.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jposusb/tests/wine/fake_jni.h"
#include "testing/wine/wine_support.h"

namespace {

using namespace fakejni;

class JniHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ =
        LoadLibraryA((wine::ProgramFolder() + "KorvaJposUsb.dll").c_str());
    ASSERT_NE(library_, nullptr);
  }
  void TearDown() override { FreeLibrary(library_); }

  template <typename Function>
  Function Native(const char* name) {
    return wine::Export<Function>(library_, name);
  }

  Env jni_;
  HMODULE library_ = nullptr;
  jobject object_ = reinterpret_cast<jobject>(0x1234);
};

TEST_F(JniHarness, TheNamesAJvmLooksForAreExported) {
  const struct {
    const char* method;
    int argumentBytes;
  } natives[] = {{"OpenHID", 8}, {"GetUsbData", 12}, {"USBSendCMD", 12},
                 {"Close", 8}};
  for (const auto& native : natives) {
    const std::string plain = Plain(native.method);
    const std::string decorated =
        Decorated(native.method, native.argumentBytes);
    FARPROC found = GetProcAddress(library_, plain.c_str());
    EXPECT_NE(found, nullptr) << plain;
    // On x64 there is no decoration: the plain names are all there is.
    EXPECT_EQ(GetProcAddress(library_, decorated.c_str()),
              k64Bit ? nullptr : found)
        << decorated;
  }
}

TEST_F(JniHarness, WithoutTheScannerNothingOpensAndNothingIsSent) {
  auto send = Native<ArrayCall>(JvmName("USBSendCMD", 12).c_str());
  auto open = Native<OpenHID>(JvmName("OpenHID", 8).c_str());
  auto getData = Native<ArrayCall>(JvmName("GetUsbData", 12).c_str());
  auto close = Native<CloseCall>(JvmName("Close", 8).c_str());
  ASSERT_TRUE(send && open && getData && close);

  Array report{std::vector<jbyte>(12, 0)};
  report.bytes[1] = 0x11;
  send(jni_.get(), object_, report.handle());
  EXPECT_EQ(report.pinned, 0) << "before OpenHID the array is not touched";

  EXPECT_EQ(open(jni_.get(), object_), JNI_FALSE);

  // Nothing open: the call returns 0 after a short wait.
  Array buffer{std::vector<jbyte>(62, 7)};
  getData(jni_.get(), object_, buffer.handle());
  EXPECT_EQ(buffer.bytes[0], 0);
  EXPECT_EQ(buffer.pinned, 0);
  EXPECT_EQ(buffer.releaseMode, 0) << "copied back and released";
  getData(jni_.get(), object_, nullptr);
  send(jni_.get(), object_, nullptr);

  EXPECT_EQ(close(jni_.get(), object_), -1);
  EXPECT_EQ(close(jni_.get(), object_), -1);
}

}  // namespace
