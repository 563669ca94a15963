#include "talscan/win32/win32_platform.h"

namespace {

// No error when the call succeeded, else the calling thread's last error.
PlatformError Outcome(BOOL succeeded, const char* step) {
  return succeeded ? PlatformError() : PlatformError::Of(GetLastError(), step);
}

}  // namespace

void Win32Clock::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

LocalTime Win32Clock::Local() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
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
    handle_ = CreateThread(nullptr, 0, Run, this, 0, &id_);
    return Outcome(handle_ != nullptr, "CreateThread");
  }

  // Waits while dispatching the caller's messages: a control object may
  // hand an event to this thread's window and wait for it, and a COM call
  // from another apartment arrives as a message too. A quit message ends
  // the dispatching; it is put back for the caller's own loop.
  bool WaitForExit(uint32_t milliseconds) override {
    const DWORD start = GetTickCount();
    bool quit = false;
    WPARAM quitCode = 0;
    bool ended = false;
    for (;;) {
      const DWORD waited = GetTickCount() - start;
      if (waited >= milliseconds) break;
      const DWORD left = milliseconds - waited;
      const DWORD result =
          quit ? WaitForSingleObject(handle_, left)
               : MsgWaitForMultipleObjects(1, &handle_, FALSE, left,
                                           QS_ALLINPUT);
      if (result == WAIT_OBJECT_0) {
        ended = true;
        break;
      }
      if (result != WAIT_OBJECT_0 + 1) break;  // timed out or failed
      MSG message;
      while (!quit && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
          quit = true;
          quitCode = message.wParam;
          break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
    return ended || !IsRunning();
  }
  bool IsRunning() const override {
    return WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT;
  }
  // The stop is asynchronous: the body may be freed only once the thread
  // has really stopped.
  void Terminate() override {
    TerminateThread(handle_, 1);
    WaitForSingleObject(handle_, kStopWaitMs);
  }
  bool IsCurrent() const override { return GetCurrentThreadId() == id_; }

 private:
  static DWORD WINAPI Run(void* parameter) {
    static_cast<Win32Thread*>(parameter)->body_();
    return 0;
  }

  std::function<void()> body_;
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
};

}  // namespace

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

// The port's read time-outs become "return at the first byte" for the
// wait (documented for COMMTIMEOUTS: MAXDWORD, MAXDWORD and a constant),
// and are put back before the next read. The wait's own bound is the
// event wait: Wine ignores that constant on an overlapped read. A driver
// that refuses those time-outs, or ends such a read at once with nothing,
// still gets its pause, spent waiting for an interrupt alone.
PlatformError Win32SerialPort::WaitForByte(uint8_t& byte, uint32_t timeoutMs,
                                           Wait& outcome) {
  outcome = Wait::kSilence;
  COMMTIMEOUTS firstByte = timeouts_;
  firstByte.ReadIntervalTimeout = MAXDWORD;
  firstByte.ReadTotalTimeoutMultiplier = MAXDWORD;
  firstByte.ReadTotalTimeoutConstant = timeoutMs + 1;
  const ULONGLONG start = GetTickCount64();
  DWORD read = 0;
  BOOL done = FALSE;
  DWORD error = ERROR_SUCCESS;
  if (SetCommTimeouts(handle_, &firstByte)) {
    OVERLAPPED operation = {};
    operation.hEvent = readDone_;
    done = ReadFile(handle_, &byte, 1, &read, &operation);
    if (!done && GetLastError() == ERROR_IO_PENDING) {
      HANDLE events[2] = {readDone_, interrupted_};
      const DWORD woken = WaitForMultipleObjects(
          2, events, FALSE, static_cast<DWORD>(timeoutMs));
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
    error = done ? ERROR_SUCCESS : GetLastError();
    // The port's own time-outs, or the reads after would have none.
    if (!SetCommTimeouts(handle_, &timeouts_) && done) {
      return Outcome(FALSE, "SetCommTimeouts");
    }
  } else {
    done = TRUE;  // refused: the pause alone
  }
  if (!done) return PlatformError::Of(error, "ReadFile");
  if (read == 1) {
    outcome = Wait::kByte;
    return {};
  }
  const ULONGLONG spent = GetTickCount64() - start;
  // A port that has gone is found by the read after the wait.
  if (outcome == Wait::kSilence && spent < timeoutMs && Present()) {
    const DWORD woken = WaitForSingleObject(
        interrupted_, static_cast<DWORD>(timeoutMs - spent));
    if (woken == WAIT_FAILED) return Outcome(FALSE, "WaitForSingleObject");
    if (woken == WAIT_OBJECT_0) outcome = Wait::kInterrupted;
  }
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
