// TALSCAN.dll's openings and its own lifetime under Wine, with a control
// object of the test's own that raises each event inside the callback, on
// the receive thread: what Close's wait lets through, a reset from inside a
// data event, a control object released in the middle of a flood of
// labels, and the library's answer to DllCanUnloadNow while a release ends
// the opening.
#include "testing/wine/simulated_device_test.h"  // winsock2.h first

#include <tlhelp32.h>

#include <functional>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "common/com/automation.h"

namespace {

constexpr char kPort[] = "COM5";
constexpr char kDevice[] = "LifetimeTill";
constexpr UINT kPostedToThread = WM_APP + 1;
constexpr UINT kPostedToWindow = WM_APP + 2;
constexpr UINT kSentToWindow = WM_APP + 3;

enum Callback : DISPID { kSOData = 101, kSODirectIO, kSOStatusUpdate };

int ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more;
       more = Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return count;
}

// A control object as a POS application's: it holds the service object,
// answers its callbacks on whatever thread they come, and lets go of the
// service object when its own last reference goes. Its memory is never
// freed, so that a reference taken after the count reached zero, and a
// second destruction, are counted instead of crashing.
class TestControl final : public IDispatch {
 public:
  TestControl() : so(wine::Dispatch::Create(L"TALSCAN.ScannerSO")) {}

  long Open() {
    return so.CallLong(L"OpenService",
                       {wine::Bstr("Scanner"), wine::Bstr(kDevice),
                        wine::DispatchVariant(this)});
  }
  long Call(const wchar_t* name, std::vector<VARIANT> args = {}) {
    return so.CallLong(name, std::move(args));
  }
  void SetNumber(long index, long number) {
    so.CallLong(L"SetPropertyNumber", {wine::Long(index), wine::Long(number)});
  }
  std::string ScanData() {
    return so.CallString(L"GetPropertyString", {wine::Long(1010001)});
  }
  long ClaimAndEnable() {
    const long claimed = Call(L"Claim", {wine::Long(0)});
    SetNumber(3, 1);      // DeviceEnabled
    SetNumber(10001, 1);  // DecodeData
    SetNumber(2, 1);      // DataEventEnabled
    return claimed;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    if (references == 0) ++referencesTakenAtZero;
    return ++references;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references;
    if (left == 0) Destroy();
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT,
                                          LCID, DISPID* ids) override {
    const struct {
      const wchar_t* name;
      DISPID id;
    } known[] = {{L"SOData", kSOData},
                 {L"SODirectIO", kSODirectIO},
                 {L"SOStatusUpdate", kSOStatusUpdate}};
    for (const auto& entry : known) {
      if (com::SameName(names[0], entry.name)) {
        ids[0] = entry.id;
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*,
                                   VARIANT*, EXCEPINFO*, UINT*) override {
    if (destroyed) ++callsAfterDestruction;
    if (id == kSOData && onData) onData();
    return S_OK;
  }

  wine::Dispatch so;
  std::function<void()> onData;
  std::atomic<ULONG> references{1};
  std::atomic<int> referencesTakenAtZero{0};
  std::atomic<int> destructions{0};
  std::atomic<int> callsAfterDestruction{0};
  std::atomic<bool> destroyed{false};
  // How long the destruction takes before the service object is let go:
  // callbacks already under way may still come meanwhile.
  DWORD lingerMs = 0;

 private:
  void Destroy() {
    ++destructions;
    Sleep(lingerMs);
    so.Reset(nullptr);
    destroyed = true;
  }
};

// An event that the receive thread waits on inside a data event, so that
// Close has to wait for it.
struct Gate {
  Gate() : entered(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
           open(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Gate() {
    SetEvent(open);
    CloseHandle(entered);
    CloseHandle(open);
  }
  void Pass() {
    SetEvent(entered);
    WaitForSingleObject(open, 10000);
  }
  HANDLE entered;
  HANDLE open;
};

class Lifetime : public wine::SimulatedDeviceTest {
 protected:
  Lifetime() : SimulatedDeviceTest(kPort, kDevice) {}

  void SetUp() override {
    SimulatedDeviceTest::SetUp();
    wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kPort);
    test = new TestControl();  // never freed: see TestControl
  }
  void TearDown() override {
    if (test->references > 0) {
      test->Call(L"Close");
      test->Release();
    }
    SimulatedDeviceTest::TearDown();
  }

  // Opens the device and scans a label whose data event waits at the gate
  // on the receive thread.
  void HoldALabelAt(Gate& gate) {
    test->onData = [&gate] { gate.Pass(); };
    ASSERT_EQ(test->Open(), 0);
    ASSERT_EQ(test->ClaimAndEnable(), 0);
    sim.Feed(kPort, "A012345678905\r\n");
    ASSERT_EQ(WaitForSingleObject(gate.entered, 5000), WAIT_OBJECT_0);
  }

  TestControl* test = nullptr;
};

// The window of the application's thread, and what reached it.
struct AppWindow {
  AppWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "LifetimeTestWindow";
    RegisterClassA(&windowClass);
    handle = CreateWindowExA(0, "LifetimeTestWindow", "", 0, 0, 0, 0, 0,
                             HWND_MESSAGE, nullptr, windowClass.hInstance,
                             nullptr);
    SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~AppWindow() { DestroyWindow(handle); }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam,
                                    LPARAM lparam) {
    auto* self = reinterpret_cast<AppWindow*>(
        GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && message >= WM_APP) {
      self->handled.push_back(message);
      if (message == kSentToWindow && self->onSent) self->onSent();
      return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
  }

  HWND handle = nullptr;
  std::vector<UINT> handled;
  std::function<void()> onSent;
};

// From another thread, as a control object hands an event over; bounded,
// so that a wait that lets nothing through fails the test, not the run.
void SendToWindow(const AppWindow& window) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(window.handle, kSentToWindow, 0, 0, SMTO_NORMAL, 3000,
                      &ignored);
}

// What the application posted to its own thread and to its window while
// Close waited is still queued after it, undispatched; a message another
// thread sends does get through, as a control object's may have to.
TEST_F(Lifetime, CloseLetsThroughSentMessagesAndKeepsPostedOnes) {
  AppWindow window;
  Gate gate;
  HoldALabelAt(gate);
  if (HasFatalFailure()) return;

  PostThreadMessageA(GetCurrentThreadId(), kPostedToThread, 7, 0);
  PostMessageA(window.handle, kPostedToWindow, 8, 0);
  std::thread sender([&] {
    Sleep(200);
    SendToWindow(window);
    SetEvent(gate.open);
  });
  EXPECT_EQ(test->Call(L"Close"), 0);
  sender.join();
  EXPECT_EQ(window.handled, std::vector<UINT>{kSentToWindow});

  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, kPostedToThread, kPostedToThread,
                           PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
  EXPECT_EQ(message.hwnd, nullptr);
  ASSERT_TRUE(PeekMessageA(&message, window.handle, kPostedToWindow,
                           kPostedToWindow, PM_REMOVE));
  EXPECT_EQ(message.wParam, 8u);
}

// A POS application that resets the scanner on a label: Close, Open, Claim
// and enable inside its data event, which comes on the receive thread.
TEST_F(Lifetime, ResetInsideADataEventLeavesOneThreadReading) {
  const int before = ThreadsOfThisProcess();
  std::mutex mutex;  // the handler runs on the receive thread
  std::vector<long> reset;
  std::vector<std::string> labels;
  test->onData = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    if (reset.empty()) {
      reset = {test->Call(L"Close"), test->Open(), test->ClaimAndEnable()};
      return;
    }
    labels.push_back(test->ScanData());
    test->SetNumber(2, 1);
  };
  auto taken = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return labels;
  };
  ASSERT_EQ(test->Open(), 0);
  ASSERT_EQ(test->ClaimAndEnable(), 0);
  sim.Feed(kPort, "A012345678905\r\n");
  ASSERT_TRUE(wine::PumpUntil(
      [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return !reset.empty();
      },
      5000));
  EXPECT_EQ(reset, (std::vector<long>{0, 0, 0}));
  EXPECT_TRUE(wine::PumpUntil(
      [&] { return ThreadsOfThisProcess() == before + 1; }, 5000))
      << "one receive thread: " << ThreadsOfThisProcess() - before;
  EXPECT_EQ(test->Call(L"GetPropertyNumber", {wine::Long(9)}), 2) << "open";

  std::string scanned;
  std::vector<std::string> expected;
  for (int i = 0; i < 20; ++i) {
    expected.push_back("M" + std::to_string(1000 + i));
    scanned += expected.back() + "\r\n";
  }
  sim.Feed(kPort, scanned);
  wine::PumpUntil([&] { return taken().size() >= expected.size(); }, 10000);
  EXPECT_EQ(taken(), expected);
}

// The application lets go of its control object without Close while
// labels pour in: no reference is taken on it once its count has reached
// zero, nothing calls it once it has let go of the service object, and
// the port is free again.
TEST_F(Lifetime, ReleaseWithoutCloseDuringAFloodOfLabels) {
  std::string flood;
  for (int i = 0; i < 400; ++i) flood += "M" + std::to_string(i) + "\r\n";
  // Alone, and beside a service object of another control object, whose
  // release is then not the last one.
  for (bool beside : {false, true}) {
    // A line of its own: the last flood's rest would start with half a
    // label, which the driver takes for a scanner not set up.
    sim.ClosePort(kPort);
    sim.OpenPort(kPort);
    wine::Dispatch other;
    if (beside) other = wine::Dispatch::Create(L"TALSCAN.ScannerSO");
    TestControl* control = new TestControl();  // never freed: see TestControl
    std::atomic<int> delivered{0};
    control->onData = [&] {
      ++delivered;
      Sleep(5);  // an application that takes its time over each label
      control->SetNumber(2, 1);
    };
    control->lingerMs = 300;
    ASSERT_EQ(control->Open(), 0);
    ASSERT_EQ(control->ClaimAndEnable(), 0);
    sim.Feed(kPort, flood);
    ASSERT_TRUE(wine::PumpUntil([&] { return delivered > 20; }, 5000))
        << beside;
    control->Release();
    EXPECT_EQ(control->destructions, 1) << beside;
    EXPECT_EQ(control->referencesTakenAtZero, 0) << beside;
    wine::PumpUntil([] { return false; }, 500);
    EXPECT_EQ(control->callsAfterDestruction, 0) << beside;

    TestControl* again = new TestControl();
    EXPECT_EQ(again->Open(), 0) << "the port was closed: " << beside;
    again->Call(L"Close");
    again->Release();
  }
}

// The last release ends the opening, and the wait for its thread lets a
// message through whose handler asks whether the library may be unloaded,
// after that thread has ended: not while the release is still running in
// it.
TEST_F(Lifetime, LibraryStaysWhileTheLastReleaseEndsTheOpening) {
  AppWindow window;
  Gate gate;
  HoldALabelAt(gate);
  if (HasFatalFailure()) return;

  auto canUnload = wine::Export<HRESULT(WINAPI*)()>(
      GetModuleHandleA("TALSCAN.dll"), "DllCanUnloadNow");
  ASSERT_NE(canUnload, nullptr);
  HRESULT answer = E_FAIL;
  int running = 0;
  window.onSent = [&] {
    SetEvent(gate.open);
    for (int i = 0; i < 300 && ThreadsOfThisProcess() >= running; ++i) {
      Sleep(10);
    }
    answer = canUnload();
  };
  std::thread sender([&] {
    Sleep(200);
    SendToWindow(window);
  });
  running = ThreadsOfThisProcess();  // with the receive thread
  test->Release();  // without Close
  sender.join();
  EXPECT_EQ(answer, S_FALSE);
  EXPECT_EQ(canUnload(), S_OK) << "once the release has returned";
}

// The last release made from inside a data event, on the receive thread:
// no object is left, but that thread still runs in the library.
TEST_F(Lifetime, LibraryStaysWhileItsThreadRunsAfterTheLastRelease) {
  Gate gate;
  HANDLE released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  test->onData = [&] {
    test->Release();
    SetEvent(released);
    WaitForSingleObject(gate.open, 10000);
  };
  ASSERT_EQ(test->Open(), 0);
  ASSERT_EQ(test->ClaimAndEnable(), 0);
  const int running = ThreadsOfThisProcess();
  sim.Feed(kPort, "A012345678905\r\n");
  ASSERT_EQ(WaitForSingleObject(released, 5000), WAIT_OBJECT_0);
  auto canUnload = wine::Export<HRESULT(WINAPI*)()>(
      GetModuleHandleA("TALSCAN.dll"), "DllCanUnloadNow");
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_FALSE);
  SetEvent(gate.open);
  wine::PumpUntil([&] { return ThreadsOfThisProcess() < running; }, 5000);
  EXPECT_EQ(canUnload(), S_OK);
  CloseHandle(released);
}

}  // namespace
