// KorvaJposUsb.dll on the virtual USB scanner, through Windows' HID stack:
// labels of each trailer, output reports, a waiting call let go by Close and
// by an unplug, OpenHID again after a replug, and a process that unloads
// the library or ends while the scanner is open.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "jposusb/tests/wine/fake_jni.h"
#include "testing/wine/virtual_scanner_suite.h"
#include "testing/wine/wine_support.h"

namespace {

using namespace fakejni;

const jobject kObject = reinterpret_cast<jobject>(0x1234);

// A GetUsbData on a thread of its own, as a JavaPOS service's reader calls it.
struct WaitingCall {
  Env jni;
  ArrayCall getData = nullptr;
  Array buffer{std::vector<jbyte>(62, 7)};
  HANDLE thread = nullptr;

  static DWORD WINAPI Run(void* parameter) {
    auto* call = static_cast<WaitingCall*>(parameter);
    call->getData(call->jni.get(), kObject, call->buffer.handle());
    return 0;
  }
  void Start(ArrayCall native) {
    getData = native;
    buffer.onPin = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    WaitForSingleObject(buffer.onPin, 5000);
  }
  bool Ended(DWORD timeoutMs) {
    return WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
  }
  ~WaitingCall() {
    if (thread != nullptr) CloseHandle(thread);
    if (buffer.onPin != nullptr) CloseHandle(buffer.onPin);
  }
};

class BridgeDevice : public wine::VirtualScannerSuite {
 protected:
  void SetUp() override {
    VirtualScannerSuite::SetUp();
    if (HasFatalFailure()) return;
    library_ =
        LoadLibraryA((wine::ProgramFolder() + "KorvaJposUsb.dll").c_str());
    ASSERT_NE(library_, nullptr);
    open_ = Native<OpenHID>("OpenHID", 8);
    getData_ = Native<ArrayCall>("GetUsbData", 12);
    send_ = Native<ArrayCall>("USBSendCMD", 12);
    close_ = Native<CloseCall>("Close", 8);
    ASSERT_TRUE(open_ && getData_ && send_ && close_);
  }
  void TearDown() override {
    if (close_ != nullptr) close_(jni_.get(), kObject);
    if (library_ != nullptr) FreeLibrary(library_);
  }

  template <typename Function>
  Function Native(const char* method, int argumentBytes) {
    return wine::Export<Function>(library_,
                                  JvmName(method, argumentBytes).c_str());
  }
  bool Open() { return open_(jni_.get(), kObject) == JNI_TRUE; }
  void Send(uint8_t command) {
    Array report{std::vector<jbyte>(12, 0)};
    report.bytes[1] = static_cast<jbyte>(command);
    send_(jni_.get(), kObject, report.handle());
  }
  // What GetUsbData hands over: the letters and the data.
  std::string NextLabel() {
    Array buffer{std::vector<jbyte>(62, 7)};
    getData_(jni_.get(), kObject, buffer.handle());
    return std::string(buffer.bytes.begin() + 1,
                       buffer.bytes.begin() + 1 +
                           static_cast<uint8_t>(buffer.bytes[0]));
  }

  Env jni_;
  HMODULE library_ = nullptr;
  OpenHID open_ = nullptr;
  ArrayCall getData_ = nullptr;
  ArrayCall send_ = nullptr;
  CloseCall close_ = nullptr;
};


TEST_F(BridgeDevice, LabelsOfEachTrailerAndTheReportsSent) {
  ASSERT_TRUE(Open());
  Send(0x11);
  Send(0x12);
  EXPECT_EQ(scanner->Outputs(2, 2000),
            (std::vector<std::string>{"001100000000000000000000",
                                      "001200000000000000000000"}));
  const struct {
    const char* trailer;
    const char* label;
    const char* handed;
  } cases[] = {
      {"0D", "012345678905", "A012345678905"},
      {"0C", "12345670", "FF12345670"},
      {"002A0B", "RSS-DATA-14", "RSRSS-DATA-14"},
      {"002B0B", "X-1", "RXX-1"},
      {"00180B", "C128", "KC128"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(scanner->Scan(c.trailer, c.label), "OK");
    EXPECT_EQ(NextLabel(), c.handed) << c.trailer;
  }
  // Two labels before the call: the second waits for the first's taking.
  EXPECT_EQ(scanner->Scan("0D", "111111111111"), "OK");
  EXPECT_EQ(scanner->Scan("0D", "222222222222"), "OK");
  EXPECT_EQ(NextLabel(), "A111111111111");
  EXPECT_EQ(NextLabel(), "A222222222222");

  WaitingCall call;
  call.Start(getData_);
  EXPECT_FALSE(call.Ended(300)) << "an open scanner's call waits for a label";
  EXPECT_EQ(close_(jni_.get(), kObject), -1);
  EXPECT_TRUE(call.Ended(2000)) << "Close lets it go";
  EXPECT_EQ(call.buffer.bytes[0], 0);
}

TEST_F(BridgeDevice, UnplugLetsTheWaitingCallGoAndReplugOpensAgain) {
  ASSERT_TRUE(Open());
  WaitingCall call;
  call.Start(getData_);
  ASSERT_EQ(scanner->Unplug(), "OK unplugged");
  EXPECT_TRUE(call.Ended(5000));
  EXPECT_EQ(call.buffer.bytes[0], 0);
  EXPECT_FALSE(Open()) << "nothing to find";
  ASSERT_EQ(scanner->Plug(), "OK plugged");
  ASSERT_TRUE(Open());
  EXPECT_EQ(scanner->Scan("16", "4006381333931"), "OK");
  EXPECT_EQ(NextLabel(), "F4006381333931");
  Send(0x11);
  EXPECT_EQ(scanner->Outputs(1, 2000),
            std::vector<std::string>{"001100000000000000000000"});
}

// In processes of their own: FreeLibrary while the scanner is open and a
// call waits must not pull the code from under them, and the process must
// end, as it must when it ends without unloading.
TEST_F(BridgeDevice, UnloadOrExitWithTheScannerOpenEndsTheProcess) {
  for (const char* step :
       {"free-while-waiting", "exit-while-waiting", "free-while-open"}) {
    EXPECT_EQ(wine::RunProgram("\"" + wine::ProgramFolder() +
                                   "jposusb_child.exe\" " + step + " open",
                               20000),
              0)
        << step;
  }
}

}  // namespace
