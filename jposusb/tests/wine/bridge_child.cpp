// A process of the Wine tests of KorvaJposUsb.dll: it loads the library as
// a JVM does, calls its natives with no scanner open (or, given "open", with
// the scanner opened first, for the last two), and leaves it in one of the
// ways a JVM's process may:
//   jposusb_child wait-and-close             a call that waits, then Close
//   jposusb_child free-while-waiting [open]  FreeLibrary while another
//                                            thread's call waits (with the
//                                            scanner open the process then
//                                            ends under the waiting call)
//   jposusb_child exit-while-waiting [open]  the process ends while a call
//                                            waits
//   jposusb_child free-while-open open       FreeLibrary with the scanner
//                                            open and no call made: the
//                                            receive thread keeps it
// Its exit code is 0 when all went as it should; a hang is for the test
// that started it to notice.
#include <windows.h>

#include <string>
#include <vector>

#include "jposusb/tests/wine/fake_jni.h"
#include "testing/wine/wine_support.h"

namespace {

using namespace fakejni;

enum Outcome {
  kDone = 0,
  kUsage = 2,
  kNoLibrary = 3,
  kWrongAnswer = 4,
  kUnloadedUnderTheCall = 5,
  kCallNeverEnded = 6,
  kNotOpened = 7,
};

const jobject kObject = reinterpret_cast<jobject>(0x1234);

struct Call {
  Env jni;
  ArrayCall getData = nullptr;
  Array buffer{std::vector<jbyte>(62, 7)};
};

DWORD WINAPI CallGetUsbData(void* parameter) {
  auto* call = static_cast<Call*>(parameter);
  call->getData(call->jni.get(), kObject, call->buffer.handle());
  return 0;
}

// Another thread's call, once it is inside the library's wait (that lasts
// about half a second with nothing open).
HANDLE StartWaitingCall(Call& call) {
  call.buffer.onPin = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, CallGetUsbData, &call, 0, nullptr);
  WaitForSingleObject(call.buffer.onPin, 5000);
  Sleep(100);
  return thread;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return kUsage;
  const std::string step = argv[1];
  const bool open = argc == 3 && std::string(argv[2]) == "open";
  HMODULE library =
      LoadLibraryA((wine::ProgramFolder() + "KorvaJposUsb.dll").c_str());
  if (library == nullptr) return kNoLibrary;
  Call call;
  call.getData =
      wine::Export<ArrayCall>(library, JvmName("GetUsbData", 12).c_str());
  auto close = wine::Export<CloseCall>(library, JvmName("Close", 8).c_str());
  auto openHid = wine::Export<OpenHID>(library, JvmName("OpenHID", 8).c_str());
  if (call.getData == nullptr || close == nullptr || openHid == nullptr) {
    return kNoLibrary;
  }
  if (open && openHid(call.jni.get(), kObject) != JNI_TRUE) return kNotOpened;

  if (step == "wait-and-close") {
    call.getData(call.jni.get(), kObject, call.buffer.handle());
    const bool answered =
        call.buffer.bytes[0] == 0 && close(call.jni.get(), kObject) == -1;
    return answered ? kDone : kWrongAnswer;
  }
  if (step == "free-while-waiting") {
    HANDLE thread = StartWaitingCall(call);
    FreeLibrary(library);
    if (GetModuleHandleA("KorvaJposUsb.dll") == nullptr) {
      return kUnloadedUnderTheCall;
    }
    if (open) ExitProcess(kDone);  // the call waits for a label
    if (WaitForSingleObject(thread, 5000) != WAIT_OBJECT_0) {
      return kCallNeverEnded;
    }
    return call.buffer.bytes[0] == 0 ? kDone : kWrongAnswer;
  }
  if (step == "free-while-open" && open) {
    FreeLibrary(library);
    if (GetModuleHandleA("KorvaJposUsb.dll") == nullptr) {
      return kUnloadedUnderTheCall;
    }
    Sleep(300);  // the receive thread goes on reading in it
    ExitProcess(kDone);
  }
  if (step == "exit-while-waiting") {
    StartWaitingCall(call);
    ExitProcess(kDone);  // as a JVM ends
  }
  return kUsage;
}
