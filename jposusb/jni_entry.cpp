// The four native methods of com.korva.jpos.KorvaJposUsb.
#include <jni.h>

#include "jposusb/bridge.h"
#include "jposusb/platform.h"

namespace {

// Never destroyed: a destructor would run at process exit, or under the
// loader's lock when the library is unloaded, where it must not wait for
// the receive thread or for calls that threads already stopped left half
// done.
jposusb::Bridge& TheBridge() {
  static jposusb::Bridge* bridge = new jposusb::Bridge(jposusb::ThePlatform());
  return *bridge;
}

// The array's elements, released with mode 0 (copied back) when done.
class Elements {
 public:
  Elements(JNIEnv* env, jbyteArray array) : env_(env), array_(array) {
    if (array_ != nullptr) {
      length_ = env_->GetArrayLength(array_);
      bytes_ = env_->GetByteArrayElements(array_, nullptr);
    }
  }
  ~Elements() {
    if (bytes_ != nullptr) env_->ReleaseByteArrayElements(array_, bytes_, 0);
  }
  uint8_t* bytes() const { return reinterpret_cast<uint8_t*>(bytes_); }
  int length() const { return bytes_ != nullptr ? length_ : 0; }

 private:
  JNIEnv* env_;
  jbyteArray array_;
  jbyte* bytes_ = nullptr;
  jsize length_ = 0;
};

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL
Java_com_korva_jpos_KorvaJposUsb_OpenHID(JNIEnv*, jobject) {
  return TheBridge().OpenHID() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL
Java_com_korva_jpos_KorvaJposUsb_GetUsbData(JNIEnv* env, jobject,
                                            jbyteArray buffer) {
  Elements elements(env, buffer);
  if (elements.bytes() == nullptr) return;
  jposusb::StayLoaded();  // the call may wait
  TheBridge().GetUsbData(elements.bytes(), elements.length());
}

JNIEXPORT void JNICALL
Java_com_korva_jpos_KorvaJposUsb_USBSendCMD(JNIEnv* env, jobject,
                                            jbyteArray report) {
  if (!TheBridge().IsOpen()) return;
  Elements elements(env, report);
  if (elements.bytes() == nullptr) return;
  TheBridge().USBSendCMD(elements.bytes(), elements.length());
}

JNIEXPORT jint JNICALL
Java_com_korva_jpos_KorvaJposUsb_Close(JNIEnv*, jobject) {
  return TheBridge().Close();
}

}  // extern "C"
