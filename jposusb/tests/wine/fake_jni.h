// The natives of KorvaJposUsb.dll as a JVM of this architecture finds and
// calls them: their names (a 32-bit JVM looks for the decorated ones
// first, a 64-bit one knows only the plain ones), and a JNI environment
// with just the three array functions they use.
#pragma once

#include <jni.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace fakejni {

using OpenHID = jboolean(JNICALL*)(JNIEnv*, jobject);
using ArrayCall = void(JNICALL*)(JNIEnv*, jobject, jbyteArray);
using CloseCall = jint(JNICALL*)(JNIEnv*, jobject);

constexpr bool k64Bit = sizeof(void*) == 8;

inline std::string Plain(const std::string& method) {
  return "Java_com_korva_jpos_KorvaJposUsb_" + method;
}
inline std::string Decorated(const std::string& method, int argumentBytes) {
  return "_" + Plain(method) + "@" + std::to_string(argumentBytes);
}
inline std::string JvmName(const std::string& method, int argumentBytes) {
  return k64Bit ? Plain(method) : Decorated(method, argumentBytes);
}

// A Java byte array of the caller's.
struct Array {
  std::vector<jbyte> bytes;
  int pinned = 0;
  int releaseMode = -1;    // of the last release; 0 copies back and frees
  HANDLE onPin = nullptr;  // set, when given, as a native takes the array
  jbyteArray handle() { return reinterpret_cast<jbyteArray>(this); }
};

class Env {
 public:
  Env() {
    std::memset(&functions_, 0, sizeof functions_);
    functions_.GetArrayLength = GetArrayLength;
    functions_.GetByteArrayElements = GetByteArrayElements;
    functions_.ReleaseByteArrayElements = ReleaseByteArrayElements;
    env_.functions = &functions_;
  }
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  JNIEnv* get() { return &env_; }

 private:
  static Array* Of(jarray array) { return reinterpret_cast<Array*>(array); }
  static jsize JNICALL GetArrayLength(JNIEnv*, jarray array) {
    return static_cast<jsize>(Of(array)->bytes.size());
  }
  static jbyte* JNICALL GetByteArrayElements(JNIEnv*, jbyteArray array,
                                             jboolean*) {
    ++Of(array)->pinned;
    if (Of(array)->onPin != nullptr) SetEvent(Of(array)->onPin);
    return Of(array)->bytes.data();
  }
  static void JNICALL ReleaseByteArrayElements(JNIEnv*, jbyteArray array,
                                               jbyte*, jint mode) {
    --Of(array)->pinned;
    Of(array)->releaseMode = mode;
  }

  JNINativeInterface_ functions_;
  JNIEnv env_;
};

}  // namespace fakejni
