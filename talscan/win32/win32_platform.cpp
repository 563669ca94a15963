#include "talscan/win32/win32_platform.h"

#include <objbase.h>

namespace {

// No error when the call succeeded, else the calling thread's last error.
PlatformError Outcome(BOOL succeeded, const char* step) {
  return succeeded ? PlatformError() : PlatformError::Of(GetLastError(), step);
}

}  // namespace

void Win32Clock::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint64_t Win32Clock::NowMs() const { return GetTickCount64(); }

LocalTime Win32Clock::Local() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
          now.wMinute, now.wSecond, now.wMilliseconds};
}

void Win32Notifier::ShowWarning(const std::string& caption,
                                const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(),
              MB_OK | MB_ICONEXCLAMATION);
}

std::string Win32Notifier::SystemErrorText(uint32_t error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length ? std::string(text, length) : std::string();
  LocalFree(text);
  return result;
}

std::string Win32Notifier::ApplicationName() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module_, path, MAX_PATH - 1);
  std::string name(path);
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

namespace {

// How long a thread stopped by force is waited for.
constexpr DWORD kStopWaitMs = 1000;

// Threads started here that have not yet left the library.
std::atomic<long> running{0};

// The thread's body belongs to this object, not to the thread: a thread
// stopped by force never frees what it was given, and the body (with the
// opening it holds) must not outlive the stop.
class Win32Thread : public RunningThread {
 public:
  explicit Win32Thread(std::function<void()> body) : body_(std::move(body)) {}
  ~Win32Thread() override {
    if (handle_ != nullptr) CloseHandle(handle_);
  }

  PlatformError Start() {
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&Run), &library_)) {
      return Outcome(FALSE, "GetModuleHandleEx");
    }
    ++running;
    handle_ = CreateThread(nullptr, 0, Run, this, 0, &id_);
    if (handle_ == nullptr) {
      const PlatformError error = Outcome(FALSE, "CreateThread");
      --running;
      FreeLibrary(library_);
      return error;
    }
    return {};
  }

  // The wait of a thread that may be a COM apartment's: COM's own calls
  // and messages sent from other threads get through, as a control object
  // may hand an event to this thread and wait for it; posted messages and
  // input stay queued for the caller's own loop.
  bool WaitForExit(uint32_t milliseconds) override {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    DWORD index = 0;
    const HRESULT waited =
        CoWaitForMultipleHandles(0, milliseconds, 1, &handle_, &index);
    if (waited == S_OK) return true;
    if (waited == RPC_S_CALLPENDING) return !IsRunning();
    return WaitLettingSentMessagesThrough(end);
  }
  bool IsRunning() const override {
    return WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT;
  }
  // The stop is asynchronous: the body may be freed only once the thread
  // has really stopped. A thread already on its way out is let go,
  // not stopped inside its exit; a stopped thread's hold on the library is
  // let go on its behalf.
  void Terminate() override {
    if (left_.exchange(true)) {
      WaitForSingleObject(handle_, kStopWaitMs);
      return;
    }
    // A thread that could not be stopped keeps its count and its hold,
    // and stays parked once its body returns: the library stays.
    if (!TerminateThread(handle_, 1) ||
        WaitForSingleObject(handle_, kStopWaitMs) != WAIT_OBJECT_0) {
      return;
    }
    --running;
    FreeLibrary(library_);
  }
  bool IsCurrent() const override { return GetCurrentThreadId() == id_; }

 private:
  // Leaves through FreeLibraryAndExitThread: after its last reference the
  // library may be gone, so the thread must not return into it. A thread
  // that Terminate has begun to stop waits for the stop.
  static DWORD WINAPI Run(void* parameter) {
    auto* thread = static_cast<Win32Thread*>(parameter);
    thread->body_();
    if (thread->left_.exchange(true)) Sleep(INFINITE);
    HMODULE library = thread->library_;
    --running;
    FreeLibraryAndExitThread(library, 0);
  }

  // Without an apartment to wait in: sent messages still get through.
  bool WaitLettingSentMessagesThrough(ULONGLONG end) {
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
      const DWORD woken = MsgWaitForMultipleObjects(
          1, &handle_, FALSE, static_cast<DWORD>(end - now), QS_SENDMESSAGE);
      if (woken == WAIT_OBJECT_0) return true;
      if (woken != WAIT_OBJECT_0 + 1) break;
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return !IsRunning();
  }

  std::function<void()> body_;
  std::atomic<bool> left_{false};
  HMODULE library_ = nullptr;
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
};

}  // namespace

long Win32ThreadLauncher::Running() { return running; }

PlatformError Win32ThreadLauncher::Start(
    std::function<void()> body, std::unique_ptr<RunningThread>& thread) {
  auto started = std::make_unique<Win32Thread>(std::move(body));
  const PlatformError error = started->Start();
  if (!error.Failed()) thread = std::move(started);
  return error;
}

Win32SerialPort::Win32SerialPort()
    : readDone_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      writeDone_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      interrupted_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

Win32SerialPort::~Win32SerialPort() {
  Close();
  for (HANDLE event : {readDone_, writeDone_, interrupted_}) {
    if (event != nullptr) CloseHandle(event);
  }
}

PlatformError Win32SerialPort::Open(const std::string& name) {
  if (readDone_ == nullptr || writeDone_ == nullptr ||
      interrupted_ == nullptr) {
    return PlatformError::Of(syserr::kNotEnoughMemory, "CreateEvent");
  }
  HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Outcome(FALSE, "CreateFile");
  handle_ = handle;
  return {};
}

PlatformError Win32SerialPort::SetBufferSizes(uint32_t input, uint32_t output) {
  return Outcome(SetupComm(handle_, input, output), "SetupComm");
}

PlatformError Win32SerialPort::ReadLineSettings() {
  dcb_ = {};
  dcb_.DCBlength = sizeof dcb_;
  return Outcome(GetCommState(handle_, &dcb_), "GetCommState");
}

PlatformError Win32SerialPort::WriteLineSettings(const LineSettings& settings) {
  dcb_.BaudRate = settings.BaudRate;
  dcb_.ByteSize = settings.ByteSize;
  dcb_.Parity = NOPARITY;
  dcb_.StopBits = settings.TwoStopBits ? TWOSTOPBITS : ONESTOPBIT;
  dcb_.fRtsControl =
      settings.RtsDisabled ? RTS_CONTROL_DISABLE : RTS_CONTROL_ENABLE;
  dcb_.fAbortOnError = settings.AbortOnError ? 1 : 0;
  return Outcome(SetCommState(handle_, &dcb_), "SetCommState");
}

PlatformError Win32SerialPort::ReadTimeouts() {
  return Outcome(GetCommTimeouts(handle_, &timeouts_), "GetCommTimeouts");
}

PlatformError Win32SerialPort::WriteTimeouts(const PortTimeouts& timeouts) {
  timeouts_.ReadIntervalTimeout = timeouts.ReadInterval;
  timeouts_.ReadTotalTimeoutMultiplier = timeouts.ReadTotalMultiplier;
  timeouts_.ReadTotalTimeoutConstant = timeouts.ReadTotalConstant;
  timeouts_.WriteTotalTimeoutMultiplier = timeouts.WriteTotalMultiplier;
  timeouts_.WriteTotalTimeoutConstant = timeouts.WriteTotalConstant;
  return Outcome(SetCommTimeouts(handle_, &timeouts_), "SetCommTimeouts");
}

bool Win32SerialPort::IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

PlatformError Win32SerialPort::Close() {
  HANDLE handle = handle_;
  if (handle == INVALID_HANDLE_VALUE) {
    return PlatformError::Of(syserr::kInvalidHandle, "CloseHandle");
  }
  if (!CloseHandle(handle)) return Outcome(FALSE, "CloseHandle");
  handle_ = INVALID_HANDLE_VALUE;
  return {};
}

BOOL Win32SerialPort::Complete(BOOL started, OVERLAPPED& operation,
                               DWORD& done) {
  if (!started && GetLastError() == ERROR_IO_PENDING) {
    started = GetOverlappedResult(handle_, &operation, &done, TRUE);
  }
  // Wine ends a read whose time-out passed with ERROR_TIMEOUT where
  // Windows reports success and the bytes that came.
  if (!started && GetLastError() == ERROR_TIMEOUT) started = TRUE;
  return started;
}

PlatformError Win32SerialPort::Read(uint8_t* buffer, int capacity, int& count) {
  OVERLAPPED operation = {};
  operation.hEvent = readDone_;
  DWORD read = 0;
  const BOOL done = Complete(
      ReadFile(handle_, buffer, static_cast<DWORD>(capacity), &read,
               &operation),
      operation, read);
  count = done ? static_cast<int>(read) : 0;
  return Outcome(done, "ReadFile");
}

// The read runs under the time-outs the caller set; its bound here is the
// event wait, as Wine ignores the time-out constant of an overlapped read.
PlatformError Win32SerialPort::WaitForByte(uint8_t& byte, uint32_t timeoutMs,
                                           Wait& outcome) {
  outcome = Wait::kSilence;
  OVERLAPPED operation = {};
  operation.hEvent = readDone_;
  DWORD read = 0;
  BOOL done = ReadFile(handle_, &byte, 1, &read, &operation);
  if (!done && GetLastError() == ERROR_IO_PENDING) {
    HANDLE events[2] = {readDone_, interrupted_};
    const DWORD woken = WaitForMultipleObjects(2, events, FALSE,
                                               static_cast<DWORD>(timeoutMs));
    if (woken != WAIT_OBJECT_0) {
      CancelIo(handle_);
      if (woken == WAIT_OBJECT_0 + 1) outcome = Wait::kInterrupted;
    }
    // Also after the cancel: a byte that came meanwhile is kept.
    done = GetOverlappedResult(handle_, &operation, &read, TRUE);
    if (!done && (GetLastError() == ERROR_OPERATION_ABORTED ||
                  GetLastError() == ERROR_TIMEOUT)) {
      done = TRUE;
    }
  }
  if (!done) return Outcome(FALSE, "ReadFile");
  if (read == 1) outcome = Wait::kByte;
  return {};
}

void Win32SerialPort::Interrupt() { SetEvent(interrupted_); }

bool Win32SerialPort::Present() {
  DWORD errors = 0;
  COMSTAT status;
  return ClearCommError(handle_, &errors, &status) != 0;
}

PlatformError Win32SerialPort::Write(const uint8_t* data, int count,
                                     int& written) {
  OVERLAPPED operation = {};
  operation.hEvent = writeDone_;
  DWORD done = 0;
  const BOOL ok = Complete(
      WriteFile(handle_, data, static_cast<DWORD>(count), &done, &operation),
      operation, done);
  written = ok ? static_cast<int>(done) : 0;
  return Outcome(ok, "WriteFile");
}

PlatformError Win32SerialPort::Signal(LineSignal signal) {
  const DWORD function = signal == LineSignal::kSetRts   ? SETRTS
                         : signal == LineSignal::kSetDtr ? SETDTR
                                                         : CLRDTR;
  return Outcome(EscapeCommFunction(handle_, function), "EscapeCommFunction");
}
