// KorvaJposUsb.dll as a JVM of its architecture loads it: the JNI names it
// looks up (a 32-bit JVM the decorated ones first, a 64-bit one the plain
// ones), and the natives called with a minimal JNI environment, on a
// machine without the scanner.
#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/wine/wine_support.h"

namespace {

// A Java byte array of the test's, and the three JNI functions the
// natives use on it; every other entry of the table stays empty.
struct FakeArray {
  std::vector<jbyte> bytes;
  int pinned = 0;
};

jsize JNICALL GetArrayLength(JNIEnv*, jarray array) {
  return static_cast<jsize>(reinterpret_cast<FakeArray*>(array)->bytes.size());
}
jbyte* JNICALL GetByteArrayElements(JNIEnv*, jbyteArray array, jboolean*) {
  auto* fake = reinterpret_cast<FakeArray*>(array);
  ++fake->pinned;
  return fake->bytes.data();
}
void JNICALL ReleaseByteArrayElements(JNIEnv*, jbyteArray array, jbyte*,
                                      jint mode) {
  EXPECT_EQ(mode, 0) << "copied back and released";
  --reinterpret_cast<FakeArray*>(array)->pinned;
}

class JniHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&functions_, 0, sizeof functions_);
    functions_.GetArrayLength = GetArrayLength;
    functions_.GetByteArrayElements = GetByteArrayElements;
    functions_.ReleaseByteArrayElements = ReleaseByteArrayElements;
    env_.functions = &functions_;
    library_ = LoadLibraryA((wine::ProgramFolder() + "KorvaJposUsb.dll").c_str());
    ASSERT_NE(library_, nullptr);
  }
  void TearDown() override { FreeLibrary(library_); }

  template <typename Function>
  Function Native(const char* name) {
    return wine::Export<Function>(library_, name);
  }

  JNINativeInterface_ functions_;
  JNIEnv env_;
  HMODULE library_ = nullptr;
  jobject object_ = reinterpret_cast<jobject>(0x1234);
};

using OpenHID = jboolean(JNICALL*)(JNIEnv*, jobject);
using ArrayCall = void(JNICALL*)(JNIEnv*, jobject, jbyteArray);
using CloseCall = jint(JNICALL*)(JNIEnv*, jobject);

constexpr bool k64Bit = sizeof(void*) == 8;

std::string Plain(const std::string& method) {
  return "Java_com_korva_jpos_KorvaJposUsb_" + method;
}
std::string Decorated(const std::string& method, int argumentBytes) {
  return "_" + Plain(method) + "@" + std::to_string(argumentBytes);
}
// The name a JVM of this architecture finds a native by: the plain one,
// or on 32-bit Windows the decorated one first.
std::string JvmName(const std::string& method, int argumentBytes) {
  return k64Bit ? Plain(method) : Decorated(method, argumentBytes);
}

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

  FakeArray report{std::vector<jbyte>(12, 0)};
  report.bytes[1] = 0x11;
  send(&env_, object_, reinterpret_cast<jbyteArray>(&report));
  EXPECT_EQ(report.pinned, 0) << "before OpenHID the array is not touched";

  EXPECT_EQ(open(&env_, object_), JNI_FALSE);

  // Nothing open and nothing waiting: the call returns at once.
  FakeArray buffer{std::vector<jbyte>(62, 7)};
  getData(&env_, object_, reinterpret_cast<jbyteArray>(&buffer));
  EXPECT_EQ(buffer.bytes[0], 0);
  EXPECT_EQ(buffer.pinned, 0);
  getData(&env_, object_, nullptr);
  send(&env_, object_, nullptr);

  EXPECT_EQ(close(&env_, object_), -1);
  EXPECT_EQ(close(&env_, object_), -1);
}

}  // namespace
