#include "testing/fakes/scripted_serial_port.h"

#include <chrono>
#include <thread>

namespace fakes {

namespace {
constexpr int kSilence = -1;
// What a port whose device has gone answers reads and writes with.
constexpr uint32_t kGenFailure = 31;
constexpr uint32_t kInvalidParameter = 87;
}  // namespace

PlatformError ScriptedSerialPort::StepResult(Step step) const {
  static const char* const kSteps[] = {
      "CreateFile",      "SetupComm",       "GetCommState", "SetCommState",
      "GetCommTimeouts", "SetCommTimeouts", "CloseHandle"};
  for (const auto& [failing, error] : failures_) {
    if (failing == step) {
      return PlatformError::Of(error, kSteps[static_cast<int>(step)]);
    }
  }
  return {};
}

PlatformError ScriptedSerialPort::Open(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const PlatformError error = StepResult(Step::kOpen);
  if (error.Failed()) return error;
  if (vanished_) return PlatformError::Of(syserr::kFileNotFound, "CreateFile");
  if (open_) return PlatformError::Of(syserr::kAccessDenied, "CreateFile");
  open_ = true;
  name_ = name;
  ++opens_;
  return {};
}

PlatformError ScriptedSerialPort::SetBufferSizes(uint32_t input,
                                                 uint32_t output) {
  std::lock_guard<std::mutex> lock(mutex_);
  inputQueueSize_ = input;
  (void)output;
  return StepResult(Step::kSetBufferSizes);
}

PlatformError ScriptedSerialPort::ReadLineSettings() {
  std::lock_guard<std::mutex> lock(mutex_);
  return StepResult(Step::kReadLineSettings);
}

PlatformError ScriptedSerialPort::WriteLineSettings(
    const LineSettings& settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  const PlatformError error = StepResult(Step::kWriteLineSettings);
  if (!error.Failed()) settings_ = settings;
  return error;
}

PlatformError ScriptedSerialPort::ReadTimeouts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return StepResult(Step::kReadTimeouts);
}

PlatformError ScriptedSerialPort::WriteTimeouts(const PortTimeouts& timeouts) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool firstByte = timeouts.ReadInterval == kMaxTimeout &&
                         timeouts.ReadTotalMultiplier == kMaxTimeout;
  if (firstByte) {
    if (firstByteReads_ == FirstByteReads::kRefused) {
      return PlatformError::Of(kInvalidParameter, "SetCommTimeouts");
    }
    return {};
  }
  const PlatformError error = StepResult(Step::kWriteTimeouts);
  if (!error.Failed()) timeouts_ = timeouts;
  return error;
}

bool ScriptedSerialPort::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

PlatformError ScriptedSerialPort::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return PlatformError::Of(syserr::kInvalidHandle, "CloseHandle");
  const PlatformError error = StepResult(Step::kClose);
  if (!error.Failed()) open_ = false;
  return error;
}

PlatformError ScriptedSerialPort::Read(uint8_t* buffer, int capacity,
                                       int& count) {
  std::function<void(int)> idleHandler;
  int idleReads = 0;
  count = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return PlatformError::Of(syserr::kInvalidHandle, "ReadFile");
    if (vanished_) return PlatformError::Of(kGenFailure, "ReadFile");
    if (failingReads_ > 0) {
      --failingReads_;
      return PlatformError::Of(kGenFailure, "ReadFile");
    }
    while (count < capacity && !input_.empty() && input_.front() != kSilence) {
      buffer[count++] = static_cast<uint8_t>(input_.front());
      input_.pop_front();
    }
    if (count > 0) {
      // A read that silence ended has waited out that silence.
      if (count < capacity && !input_.empty()) input_.pop_front();
      idleReads_ = 0;
      return {};
    }
    if (input_.empty() && ArrivalWithin(kReadTimeoutMs)) {
      while (count < capacity && !input_.empty() &&
             input_.front() != kSilence) {
        buffer[count++] = static_cast<uint8_t>(input_.front());
        input_.pop_front();
      }
      idleReads_ = 0;
      return {};
    }
    if (!input_.empty()) {
      input_.pop_front();  // the scripted silence
    } else {
      idleHandler = idleHandler_;
      idleReads = ++idleReads_;
    }
  }
  clock_.Advance(kReadTimeoutMs);
  if (idleHandler) idleHandler(idleReads);
  // A receive thread on the virtual clock never really waits; let the
  // test's own thread run.
  std::this_thread::yield();
  return {};
}

bool ScriptedSerialPort::ArrivalWithin(uint64_t withinMs) {
  if (arrivals_.empty()) return false;
  const uint64_t now = clock_.NowMs();
  if (arrivals_.front().timeMs > now + withinMs) return false;
  if (arrivals_.front().timeMs > now) {
    clock_.Advance(arrivals_.front().timeMs - now);
  }
  const std::string& bytes = arrivals_.front().bytes;
  input_.insert(input_.begin(), bytes.begin(), bytes.end());
  arrivals_.pop_front();
  return true;
}

bool ScriptedSerialPort::TakeByte(uint8_t& byte) {
  if (input_.empty() || input_.front() == kSilence) return false;
  byte = static_cast<uint8_t>(input_.front());
  input_.pop_front();
  idleReads_ = 0;
  return true;
}

PlatformError ScriptedSerialPort::WaitForByte(uint8_t& byte,
                                              uint32_t timeoutMs,
                                              Wait& outcome) {
  outcome = Wait::kSilence;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!open_) return PlatformError::Of(syserr::kInvalidHandle, "ReadFile");
    if (vanished_) return PlatformError::Of(kGenFailure, "ReadFile");
    if (failingReads_ > 0) {
      --failingReads_;
      return PlatformError::Of(kGenFailure, "ReadFile");
    }
    if (interrupted_) {
      interrupted_ = false;
      outcome = Wait::kInterrupted;
      return {};
    }
    if (TakeByte(byte)) {
      outcome = Wait::kByte;
      return {};
    }
    if (firstByteReads_ == FirstByteReads::kEndedAtOnce) return {};
    if (input_.empty() && ArrivalWithin(timeoutMs) && TakeByte(byte)) {
      outcome = Wait::kByte;
      return {};
    }
    if (blockWaits_) return BlockingWait(lock, byte, outcome);
  }
  clock_.Sleep(timeoutMs);
  return {};
}

PlatformError ScriptedSerialPort::BlockingWait(
    std::unique_lock<std::mutex>& lock, uint8_t& byte, Wait& outcome) {
  ++waitsInProgress_;
  // A scripted silence ends the wait as its time passing would.
  const bool woken = inputChanged_.wait_for(
      lock, std::chrono::seconds(10),
      [this] { return interrupted_ || !input_.empty(); });
  --waitsInProgress_;
  if (!woken) {
    ++waitsNobodyEnded_;
  } else if (interrupted_) {
    interrupted_ = false;
    outcome = Wait::kInterrupted;
  } else if (TakeByte(byte)) {
    outcome = Wait::kByte;
  }
  return {};
}

void ScriptedSerialPort::Interrupt() {
  std::lock_guard<std::mutex> lock(mutex_);
  interrupted_ = true;
  inputChanged_.notify_all();
}

void ScriptedSerialPort::BlockWaits(bool block) {
  std::lock_guard<std::mutex> lock(mutex_);
  blockWaits_ = block;
}

int ScriptedSerialPort::WaitsInProgress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waitsInProgress_;
}

int ScriptedSerialPort::WaitsNobodyEnded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waitsNobodyEnded_;
}

void ScriptedSerialPort::FeedAt(uint64_t timeMs, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  arrivals_.push_back({timeMs, bytes});
}

PlatformError ScriptedSerialPort::Write(const uint8_t* data, int count,
                                        int& written) {
  std::function<void(uint8_t)> responder;
  written = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return PlatformError::Of(syserr::kInvalidHandle, "WriteFile");
    if (vanished_ || failWrites_) {
      return PlatformError::Of(kGenFailure, "WriteFile");
    }
    for (int i = 0; i < count; ++i) {
      written_.push_back({clock_.NowMs(), data[i]});
    }
    responder = responder_;
  }
  written = count;
  if (responder) {
    for (int i = 0; i < count; ++i) responder(data[i]);
  }
  return {};
}

PlatformError ScriptedSerialPort::Signal(LineSignal signal) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) {
    return PlatformError::Of(syserr::kInvalidHandle, "EscapeCommFunction");
  }
  signals_.push_back(signal);
  return {};
}

void ScriptedSerialPort::FailStep(Step step, uint32_t error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.emplace_back(step, error);
}

bool ScriptedSerialPort::Present() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !vanished_;
}

void ScriptedSerialPort::Vanish(bool vanished) {
  std::lock_guard<std::mutex> lock(mutex_);
  vanished_ = vanished;
}

int ScriptedSerialPort::Opens() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return opens_;
}

void ScriptedSerialPort::SetFirstByteReads(FirstByteReads reads) {
  std::lock_guard<std::mutex> lock(mutex_);
  firstByteReads_ = reads;
}

void ScriptedSerialPort::FailReads(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  failingReads_ = count;
}

void ScriptedSerialPort::FailWrites(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  failWrites_ = fail;
}

void ScriptedSerialPort::Feed(const std::string& bytes) {
  Feed(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void ScriptedSerialPort::Feed(const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  input_.insert(input_.end(), bytes.begin(), bytes.end());
  inputChanged_.notify_all();
}

void ScriptedSerialPort::Silence(int reads) {
  std::lock_guard<std::mutex> lock(mutex_);
  input_.insert(input_.end(), reads, kSilence);
}

void ScriptedSerialPort::OnWrite(std::function<void(uint8_t)> responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responder_ = std::move(responder);
}

void ScriptedSerialPort::OnIdleRead(std::function<void(int)> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  idleHandler_ = std::move(handler);
  idleReads_ = 0;
}

std::string ScriptedSerialPort::OpenedName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return name_;
}

std::optional<LineSettings> ScriptedSerialPort::Settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

std::optional<PortTimeouts> ScriptedSerialPort::Timeouts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timeouts_;
}

uint32_t ScriptedSerialPort::InputQueueSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return inputQueueSize_;
}

std::vector<WrittenByte> ScriptedSerialPort::Written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

std::string ScriptedSerialPort::WrittenText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  for (const WrittenByte& written : written_) {
    text.push_back(static_cast<char>(written.byte));
  }
  return text;
}

std::vector<LineSignal> ScriptedSerialPort::Signals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signals_;
}

void ScriptedSerialPort::ClearWritten() {
  std::lock_guard<std::mutex> lock(mutex_);
  written_.clear();
}

size_t ScriptedSerialPort::PendingInput() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return input_.size();
}

}  // namespace fakes
