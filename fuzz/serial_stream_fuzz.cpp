// The fixed-scanner receive loop with the input as what the scanner sends.
//
// Input: two option bytes, then the byte stream. In the stream, 0xFE is an
// escape: 0xFE 0xFE is a 0xFE byte; 0xFE followed by a value with bit 6
// clear is (value & 0x3F) + 1 reads of silence; with bits 6 and 5 = 10 it
// ends a chunk and names what the application does before the next chunk
// comes (value & 7, see Action); with 11 the application does that between
// two reads of the receive loop, once the loop has read as many bytes as
// came before it in the stream. Each chunk after the first is sent when
// the receive loop next finds the port silent, so chunks also arrive after
// the programming runs that bad frames start.
//
// Option byte 0: bit 0 DeviceEnabled, 1 DataEventEnabled, 2 DecodeData,
// 3 AutoDisable, 4 FreezeEvents, 5 the scanner answers programming
// commands, 6-7 scanner type (unlisted, fixed laser, model 88, laser).
// Option byte 1: bits 0-2 compatibility mode, 3-4 binary conversion, 5-6
// what the data event handler does (see Reenable), 7 the handler enables
// the device again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "talscan/core/event_path.h"
#include "talscan/core/label_queue.h"
#include "talscan/core/scan_data.h"
#include "talscan/core/scanner_programmer.h"
#include "talscan/core/serial_receiver.h"
#include "testing/fakes/recording_event_sink.h"
#include "testing/fakes/recording_notifier.h"
#include "testing/fakes/scripted_serial_port.h"
#include "testing/fakes/virtual_clock.h"

namespace {

constexpr uint8_t kEscape = 0xFE;
constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;
constexpr uint8_t kAck = 0x06;
constexpr char kCodeLetters[] = "AEFGHIKLMNP";
// Past the receive loop's ten-read limit for a stale frame, so that a
// frame left at the end of the stream is still reported before the stop.
constexpr int kStopAfterIdleReads = 30;

constexpr long kScannerTypes[] = {kTypeUnlisted, kTypeFixedLaser, kTypeModel88,
                                  kTypeFixedLaser};
constexpr long kModes[] = {kModeKorva,  kModeMetrologic, kModeBeetle,
                           kModeSymbol, kModeKvx,        5,
                           -1,          100000};
constexpr long kConversions[] = {0, 1, 2, -3};

enum class Action {
  kNone,
  kEnableDataEvents,
  kDisableDataEvents,
  kFreezeEvents,
  kThawEvents,
  kClearInput,
  kToggleDevice,
  kToggleControlFreeze,
};

enum class Reenable {
  kNever,
  kAlways,  // through the property, which delivers a queued label
  kEverySecond,
  kStateOnly,  // the flag alone: queued labels stay queued
};

// One piece of the script: a byte (0..255) or -n for n reads of silence.
struct Chunk {
  Action before = Action::kNone;
  std::vector<int> items;
};

// An action taken while the receive loop is busy with the stream.
struct InStreamAction {
  size_t afterBytes = 0;
  Action action = Action::kNone;
};

struct Script {
  uint8_t options0 = 0;
  uint8_t options1 = 0;
  std::vector<Chunk> chunks;
  std::vector<InStreamAction> inStream;
  size_t bytes = 0;
  size_t silentReads = 0;
};

Script Parse(const uint8_t* data, size_t size) {
  Script script;
  script.options0 = data[0];
  script.options1 = data[1];
  script.chunks.emplace_back();
  for (size_t i = 2; i < size; ++i) {
    if (data[i] != kEscape) {
      script.chunks.back().items.push_back(data[i]);
      ++script.bytes;
      continue;
    }
    if (++i == size) break;
    const uint8_t op = data[i];
    if (op == kEscape) {
      script.chunks.back().items.push_back(kEscape);
      ++script.bytes;
    } else if ((op & 0x60) == 0x60) {
      script.inStream.push_back({script.bytes, static_cast<Action>(op & 7)});
    } else if (op & 0x40) {
      script.chunks.emplace_back();
      script.chunks.back().before = static_cast<Action>(op & 7);
    } else {
      const int reads = (op & 0x3F) + 1;
      script.chunks.back().items.push_back(-reads);
      script.silentReads += reads;
    }
  }
  return script;
}

// The port as the receive loop and the programmer see it: the scripted
// port, with every read also shown to the harness. Only observes.
class TappedPort : public SerialPort {
 public:
  explicit TappedPort(SerialPort& inner) : inner_(inner) {}

  std::function<void()> beforeRead;
  std::function<void(const uint8_t* buffer, int count)> afterRead;

  PlatformError Open(const std::string& name) override {
    return inner_.Open(name);
  }
  PlatformError SetBufferSizes(uint32_t input, uint32_t output) override {
    return inner_.SetBufferSizes(input, output);
  }
  PlatformError ReadLineSettings() override {
    return inner_.ReadLineSettings();
  }
  PlatformError WriteLineSettings(const LineSettings& settings) override {
    return inner_.WriteLineSettings(settings);
  }
  PlatformError ReadTimeouts() override { return inner_.ReadTimeouts(); }
  PlatformError WriteTimeouts(const PortTimeouts& timeouts) override {
    return inner_.WriteTimeouts(timeouts);
  }
  bool IsOpen() const override { return inner_.IsOpen(); }
  PlatformError Close() override { return inner_.Close(); }
  PlatformError Read(uint8_t* buffer, int capacity, int& count) override {
    if (beforeRead) beforeRead();
    const PlatformError error = inner_.Read(buffer, capacity, count);
    if (afterRead) afterRead(buffer, error.Failed() ? -1 : count);
    return error;
  }
  bool Present() override { return inner_.Present(); }
  PlatformError Write(const uint8_t* data, int count, int& written) override {
    return inner_.Write(data, count, written);
  }
  PlatformError Signal(LineSignal signal) override {
    return inner_.Signal(signal);
  }
  // A wait that takes a byte is a read of that byte; one that finds
  // nothing is not a silent read of the framing rules.
  PlatformError WaitForByte(uint8_t& byte, uint32_t timeoutMs,
                            Wait& outcome) override {
    if (beforeRead) beforeRead();
    const PlatformError error = inner_.WaitForByte(byte, timeoutMs, outcome);
    if (afterRead && (error.Failed() || outcome == Wait::kByte)) {
      afterRead(&byte, error.Failed() ? -1 : 1);
    }
    return error;
  }
  void Interrupt() override { inner_.Interrupt(); }

 private:
  SerialPort& inner_;
};

// What the receive loop must make of each of its reads, written out
// plainly from the framing rules: a frame is a code letter and data up to a
// line feed, carriage returns are ignored, 128 bytes at most; one or two
// bytes followed by silence are noise; a frame with no line feed after
// more than ten silent reads is stale. Bad frames are reported.
class FramingModel {
 public:
  enum Outcome { kNothing, kDeliver, kReport };

  // After ClearInput: the frame being assembled is dropped at the next
  // read the enabled device makes use of.
  void RequestDiscard() { discard_ = true; }

  Outcome Byte(uint8_t byte, bool enabled, std::string& delivered) {
    idle_ = 0;
    // A byte dropped while disabled breaks the frame under way.
    if (!enabled) {
      frame_.clear();
      return kNothing;
    }
    TakeDiscard();
    if (byte == kCR) return kNothing;
    if (byte == kLF) {
      const bool lettered =
          !frame_.empty() && frame_[0] != 0 &&
          std::string(kCodeLetters).find(frame_[0]) != std::string::npos;
      delivered = frame_;
      frame_.clear();
      return lettered ? kDeliver : kReport;
    }
    if (frame_.size() >= LabelFrame::kCapacity) {
      frame_.clear();
      return kReport;
    }
    frame_.push_back(static_cast<char>(byte));
    return kNothing;
  }

  Outcome Silence(bool enabled) {
    if (!enabled) return kNothing;
    TakeDiscard();
    if (frame_.size() == 1 || frame_.size() == 2) {
      frame_.clear();
      return kNothing;
    }
    if (frame_.empty()) return kNothing;
    idle_ = std::min(idle_ + 1, 255);
    if (idle_ <= 10) return kNothing;
    idle_ = 0;
    frame_.clear();
    return kReport;
  }

 private:
  void TakeDiscard() {
    if (discard_) frame_.clear();
    discard_ = false;
  }

  std::string frame_;
  int idle_ = 0;
  bool discard_ = false;
};

// The receive loop and everything it talks to, on fakes. The receiver is
// made once the state holds the device entry, as an opening makes it.
struct Rig {
  fakes::VirtualClock clock;
  fakes::ScriptedSerialPort port{clock};
  TappedPort tap{port};
  fakes::RecordingEventSink sink;
  fakes::RecordingNotifier notifier;
  ScannerState state;
  Opening opening{DeviceEntry()};
  EventPath events{state, opening, sink};
  PortLink link{tap, clock, opening};
  ScannerProgrammer programmer{link, clock, opening};
  std::unique_ptr<SerialReceiver> receiver;
};

bool SameResult(const ScanResult& a, const ScanResult& b) {
  return a.ScanDataType == b.ScanDataType && a.ScanData == b.ScanData &&
         a.ScanDataLabel == b.ScanDataLabel;
}

class Harness {
 public:
  explicit Harness(Script script) : script_(std::move(script)) {
    const uint8_t o0 = script_.options0;
    const uint8_t o1 = script_.options1;
    settings_.CompatibilityMode = kModes[o1 & 7];
    settings_.BinaryConversion = kConversions[(o1 >> 3) & 3];
    settings_.DecodeData = (o0 & 4) != 0;
    reenable_ = static_cast<Reenable>((o1 >> 5) & 3);
    reenableDevice_ = (o1 & 0x80) != 0;
    answers_ = (o0 & 0x20) != 0;

    ScannerState& state = rig_->state;
    Opening& opening = rig_->opening;
    opening.Entry.ScannerType = kScannerTypes[(o0 >> 6) & 3];
    opening.Entry.CompatibilityMode = settings_.CompatibilityMode;
    state.BinaryConversion = settings_.BinaryConversion;
    state.DecodeData = settings_.DecodeData ? 1 : 0;
    state.DeviceEnabled = o0 & 1;
    state.DataEventEnabled = (o0 >> 1) & 1;
    state.AutoDisable = (o0 >> 3) & 1;
    state.FreezeEvents = (o0 >> 4) & 1;
    opening.ReceiveActive = true;
    rig_->receiver = std::make_unique<SerialReceiver>(
        state, opening, rig_->link, rig_->clock, rig_->notifier, rig_->events,
        rig_->sink, rig_->programmer);

    // Every programming run is started by at least one byte the loop read
    // or by a scanner reply left over after three silent reads, and none
    // takes more than about ten seconds of virtual time; a read takes
    // 101 ms, and a wait at most 30 s (when nothing is under way), which
    // the stop after its silent reads may meet each time.
    constexpr uint64_t kLongestWaitMs = 30000 + 101;
    budgetMs_ = (kStopAfterIdleReads + 1) * kLongestWaitMs +
                (20000 + kLongestWaitMs) *
                    static_cast<uint64_t>(script_.bytes +
                                          script_.silentReads + 1);
  }

  void Run() {
    Rig& rig = *rig_;
    rig.port.Open("COM1");
    rig.clock.OnSleep([this](uint32_t) { CheckBudget(); });
    rig.port.OnWrite([this](uint8_t byte) { Answer(byte); });
    rig.notifier.OnShow([this] {
      FUZZ_CHECK(!rig_->opening.ProgrammingActive,
                 "a warning while a programming run holds the port");
      ++boxes_;
    });
    rig.sink.OnEvent(
        [this](const fakes::FiredEvent& event) { OnEvent(event); });
    rig.port.OnIdleRead([this](int reads) { OnIdleRead(reads); });
    rig.tap.beforeRead = [this] {
      if (rig_->opening.ProgrammingActive) return;
      CheckStep();
      while (nextInStream_ < script_.inStream.size() &&
             script_.inStream[nextInStream_].afterBytes <= bytesRead_) {
        Perform(script_.inStream[nextInStream_++].action);
      }
    };
    rig.tap.afterRead = [this](const uint8_t* buffer, int count) {
      if (!rig_->opening.ProgrammingActive) ExpectStep(buffer, count);
    };

    FeedChunk(script_.chunks[0]);
    nextChunk_ = 1;
    rig.receiver->Run();
    CheckStep();

    FUZZ_CHECK(!rig.opening.ProgrammingActive,
               "the loop ended with ProgrammingActive set");
    FUZZ_CHECK(nextChunk_ == script_.chunks.size(),
               "the loop ended before the whole stream was sent");
    FUZZ_CHECK(rig.port.PendingInput() == 0,
               "the loop ended with input left unread");
  }

 private:
  void CheckBudget() {
    FUZZ_CHECK(rig_->clock.NowMs() <= budgetMs_,
               "the receive loop does not stop (virtual time budget spent)");
  }

  void FeedChunk(const Chunk& chunk) {
    std::vector<uint8_t> bytes;
    for (const int item : chunk.items) {
      if (item >= 0) {
        bytes.push_back(static_cast<uint8_t>(item));
        continue;
      }
      if (!bytes.empty()) rig_->port.Feed(bytes);
      bytes.clear();
      rig_->port.Silence(-item);
    }
    if (!bytes.empty()) rig_->port.Feed(bytes);
  }

  // A scanner that accepts every command: OK after each command of the
  // unlisted type, ACK after each five-byte command of the fixed laser.
  void Answer(uint8_t byte) {
    if (!answers_) return;
    const long type = rig_->opening.Entry.ScannerType;
    if (type == kTypeUnlisted && byte == 0x04) {
      rig_->port.Feed(std::vector<uint8_t>{'O', 'K', kCR, kLF});
    } else if (type == kTypeFixedLaser) {
      if (byte == 0xAA) laserCommandBytes_ = 0;
      if (++laserCommandBytes_ == 5)
        rig_->port.Feed(std::vector<uint8_t>{kAck});
    }
  }

  void Perform(Action action) {
    ScannerState& state = rig_->state;
    Opening& opening = rig_->opening;
    EventPath& events = rig_->events;
    inAction_ = true;
    switch (action) {
      case Action::kNone: break;
      case Action::kEnableDataEvents: events.SetDataEventEnabled(1); break;
      case Action::kDisableDataEvents: events.SetDataEventEnabled(0); break;
      case Action::kFreezeEvents: events.SetFreezeEvents(1); break;
      case Action::kThawEvents: events.SetFreezeEvents(0); break;
      case Action::kClearInput:
        // As the service object's ClearInput does around its drain.
        events.RequestFrameDiscard();
        events.ClearInput();
        model_.RequestDiscard();
        break;
      case Action::kToggleDevice:
        state.DeviceEnabled = state.DeviceEnabled == 0 ? 1 : 0;
        break;
      case Action::kToggleControlFreeze:
        state.COEventsFrozen = !state.COEventsFrozen;
        break;
    }
    inAction_ = false;
  }

  // Called on every read that finds nothing scripted, during programming
  // runs as well; the next chunk and the stop wait for the receive loop
  // itself. Once the stream is spent, the reads count up without end, so
  // the stop always comes.
  void OnIdleRead(int reads) {
    CheckBudget();
    Rig& rig = *rig_;
    if (rig.opening.ProgrammingActive) return;
    if (nextChunk_ < script_.chunks.size()) {
      const Chunk& chunk = script_.chunks[nextChunk_++];
      Perform(chunk.before);
      FeedChunk(chunk);
      return;
    }
    if (reads >= kStopAfterIdleReads) rig.opening.ReceiveActive = false;
  }

  // A read of the receive loop has returned (the application's actions of
  // this read are done): what must the loop now do with it?
  void ExpectStep(const uint8_t* buffer, int count) {
    FUZZ_CHECK(count == 0 || count == 1,
               "the receive loop read more than a byte");
    bytesRead_ += count;
    const bool enabled = rig_->state.DeviceEnabled != 0;
    std::string frame;
    expected_ = count == 1 ? model_.Byte(buffer[0], enabled, frame)
                           : model_.Silence(enabled);
    if (expected_ == FramingModel::kDeliver) frames_.push_back(frame);
    frameAwaitsEvent_ = expected_ == FramingModel::kDeliver;
    boxesBefore_ = boxes_;
    directBefore_ = directEvents_;
    queuedBefore_ = rig_->events.DataCount();
  }

  // The receive loop has dealt with its last read: it must have done what
  // the model says, no more.
  void CheckStep() {
    const int queued = rig_->events.DataCount();
    FUZZ_CHECK(queued >= 0 && queued <= LabelQueue::kCapacity,
               "the label queue holds more than its capacity");
    switch (expected_) {
      case FramingModel::kNothing:
        FUZZ_CHECK(boxes_ == boxesBefore_, "a warning for no bad frame");
        FUZZ_CHECK(directEvents_ == directBefore_ && queued == queuedBefore_,
                   "a label where no frame was complete");
        break;
      case FramingModel::kReport:
        FUZZ_CHECK(boxes_ == boxesBefore_ + 1,
                   "a bad frame without its warning");
        FUZZ_CHECK(directEvents_ == directBefore_ && queued == queuedBefore_,
                   "a bad frame was delivered");
        break;
      case FramingModel::kDeliver:
        FUZZ_CHECK(boxes_ == boxesBefore_, "a warning for a good frame");
        if (directEvents_ == directBefore_ + 1) {
          FUZZ_CHECK(queued == 0, "a label delivered at once left the queue");
        } else {
          FUZZ_CHECK(directEvents_ == directBefore_,
                     "one frame gave several data events");
          FUZZ_CHECK(queued == queuedBefore_ + 1 ||
                         (queued == LabelQueue::kCapacity &&
                          queuedBefore_ == LabelQueue::kCapacity),
                     "a complete frame was neither delivered nor queued");
        }
        break;
    }
    expected_ = FramingModel::kNothing;
    boxesBefore_ = boxes_;
    directBefore_ = directEvents_;
    queuedBefore_ = queued;
  }

  ScanResult Expected(const std::string& frame) const {
    ScanResult result;
    BuildScanData(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(),
                  settings_, result);
    return result;
  }

  void OnEvent(const fakes::FiredEvent& event) {
    Rig& rig = *rig_;
    FUZZ_CHECK(event.kind == fakes::FiredEvent::kData,
               "an event other than a data event");
    FUZZ_CHECK(event.number == 1, "a data event status other than 1");
    FUZZ_CHECK(!rig.opening.ProgrammingActive,
               "a data event during a programming run");
    FUZZ_CHECK(rig.state.FreezeEvents == 0, "a data event while frozen");
    FUZZ_CHECK(rig.events.DataCount() <= LabelQueue::kCapacity,
               "the label queue holds more than its capacity");
    // Outside the application's actions only a frame the loop has just
    // finished can be delivered at once; queued labels follow it only when
    // its handler asked for them, and need an action otherwise.
    const bool direct = !inAction_ && frameAwaitsEvent_;
    frameAwaitsEvent_ = false;
    if (direct) ++directEvents_;

    ScanResult result;
    result.ScanData = rig.events.ScanData();
    result.ScanDataLabel = rig.events.ScanDataLabel();
    result.ScanDataType = rig.events.ScanDataType();
    CheckProperties(result);

    // Labels arrive in the order their frames were finished, none twice;
    // queued ones may have been dropped.
    if (direct) {
      FUZZ_CHECK(!frames_.empty() && matched_ < frames_.size() &&
                     SameResult(result, Expected(frames_.back())),
                 "a data event that is not the frame just finished");
      matched_ = frames_.size();
    } else {
      while (matched_ < frames_.size() &&
             !SameResult(result, Expected(frames_[matched_]))) {
        ++matched_;
      }
      FUZZ_CHECK(matched_ < frames_.size(),
                 "a queued label that was never a frame, or out of order");
      ++matched_;
    }

    // The application's handler.
    if (reenableDevice_) rig.state.DeviceEnabled = 1;
    switch (reenable_) {
      case Reenable::kNever: break;
      case Reenable::kAlways: rig.events.SetDataEventEnabled(1); break;
      case Reenable::kEverySecond:
        if (++handled_ % 2 == 0) rig.events.SetDataEventEnabled(1);
        break;
      case Reenable::kStateOnly: rig.state.DataEventEnabled = 1; break;
    }
  }

  // What holds for any label from a serial frame, whatever its bytes.
  void CheckProperties(const ScanResult& result) const {
    FUZZ_CHECK(result.ScanData.size() <= kMaxScanDataLength,
               "ScanData longer than its reserved storage");
    std::string bytes;
    FUZZ_CHECK(Unconvert(result.ScanData, settings_.BinaryConversion, bytes),
               "ScanData is not a valid conversion");
    FUZZ_CHECK(!bytes.empty(), "an empty label was delivered");
    FUZZ_CHECK(bytes.size() <= LabelFrame::kCapacity,
               "a label longer than a frame");
    FUZZ_CHECK(bytes.find(static_cast<char>(kCR)) == std::string::npos &&
                   bytes.find(static_cast<char>(kLF)) == std::string::npos,
               "a label holds a CR or LF");
    const long mode = settings_.CompatibilityMode;
    if (mode < 1 || mode > 3) {
      FUZZ_CHECK(bytes[0] != 0 && std::string(kCodeLetters).find(bytes[0]) !=
                                      std::string::npos,
                 "a label without a code letter was delivered");
    }
    if (settings_.DecodeData) {
      FUZZ_CHECK(EndsWith(result.ScanData, result.ScanDataLabel),
                 "ScanDataLabel is not the end of ScanData");
      std::string labelBytes;
      FUZZ_CHECK(Unconvert(result.ScanDataLabel, settings_.BinaryConversion,
                           labelBytes),
                 "ScanDataLabel does not start on a converted byte");
      FUZZ_CHECK(result.ScanDataType != opos::sdt::Unknown,
                 "a label with a code letter decoded to an unknown type");
    } else {
      FUZZ_CHECK(result.ScanDataLabel.empty(),
                 "ScanDataLabel filled with DecodeData off");
      FUZZ_CHECK(result.ScanDataType == opos::sdt::Unknown,
                 "ScanDataType set with DecodeData off");
    }
  }

  Script script_;
  std::unique_ptr<Rig> rig_ = std::make_unique<Rig>();
  ScanDataSettings settings_;
  Reenable reenable_ = Reenable::kNever;
  bool reenableDevice_ = false;
  bool answers_ = false;
  uint64_t budgetMs_ = 0;
  size_t nextChunk_ = 0;
  size_t nextInStream_ = 0;
  size_t bytesRead_ = 0;  // by the receive loop
  int laserCommandBytes_ = 0;
  bool inAction_ = false;
  bool frameAwaitsEvent_ = false;  // the last read finished a frame
  size_t handled_ = 0;

  FramingModel model_;
  FramingModel::Outcome expected_ = FramingModel::kNothing;
  std::vector<std::string> frames_;  // every frame the model delivered
  size_t matched_ = 0;               // frames_ before this are used up
  size_t boxes_ = 0;
  size_t boxesBefore_ = 0;
  size_t directEvents_ = 0;
  size_t directBefore_ = 0;
  int queuedBefore_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Harness harness(Parse(data, size));
  harness.Run();
  return 0;
}
