#include "testing/fakes/scripted_serial_port.h"

#include <thread>

#include "talscan/core/system_errors.h"

namespace fakes {

namespace {
constexpr int kSilence = -1;
}

uint32_t ScriptedSerialPort::StepResult(Step step) const {
  for (const auto& [failing, error] : failures_) {
    if (failing == step) return error;
  }
  return 0;
}

uint32_t ScriptedSerialPort::Open(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t error = StepResult(Step::kOpen);
  if (error != 0) return error;
  if (vanished_) return kFileNotFound;
  if (open_) return syserr::kAccessDenied;
  open_ = true;
  name_ = name;
  ++opens_;
  return 0;
}

uint32_t ScriptedSerialPort::SetBufferSizes(uint32_t input, uint32_t output) {
  std::lock_guard<std::mutex> lock(mutex_);
  inputQueueSize_ = input;
  (void)output;
  return StepResult(Step::kSetBufferSizes);
}

uint32_t ScriptedSerialPort::ReadLineSettings() {
  std::lock_guard<std::mutex> lock(mutex_);
  return StepResult(Step::kReadLineSettings);
}

uint32_t ScriptedSerialPort::WriteLineSettings(const LineSettings& settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t error = StepResult(Step::kWriteLineSettings);
  if (error == 0) settings_ = settings;
  return error;
}

uint32_t ScriptedSerialPort::ReadTimeouts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return StepResult(Step::kReadTimeouts);
}

uint32_t ScriptedSerialPort::WriteTimeouts(const PortTimeouts& timeouts) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t error = StepResult(Step::kWriteTimeouts);
  if (error == 0) timeouts_ = timeouts;
  return error;
}

bool ScriptedSerialPort::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

uint32_t ScriptedSerialPort::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return syserr::kInvalidHandle;
  const uint32_t error = StepResult(Step::kClose);
  if (error == 0) open_ = false;
  return error;
}

int ScriptedSerialPort::Read(uint8_t* buffer, int capacity) {
  std::function<void(int)> idleHandler;
  int idleReads = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_ || vanished_) return -1;
    int count = 0;
    while (count < capacity && !input_.empty() && input_.front() != kSilence) {
      buffer[count++] = static_cast<uint8_t>(input_.front());
      input_.pop_front();
    }
    if (count > 0) {
      // A read that silence ended has waited out that silence.
      if (count < capacity && !input_.empty()) input_.pop_front();
      idleReads_ = 0;
      return count;
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
  return 0;
}

int ScriptedSerialPort::Write(const uint8_t* data, int count) {
  std::function<void(uint8_t)> responder;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_ || vanished_ || failWrites_) return -1;
    for (int i = 0; i < count; ++i) {
      written_.push_back({clock_.NowMs(), data[i]});
    }
    responder = responder_;
  }
  if (responder) {
    for (int i = 0; i < count; ++i) responder(data[i]);
  }
  return count;
}

bool ScriptedSerialPort::Signal(LineSignal signal) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return false;
  signals_.push_back(signal);
  return true;
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
