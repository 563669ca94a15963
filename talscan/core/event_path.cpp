#include "talscan/core/event_path.h"

#include "common/opos/opos.h"

namespace {
constexpr long kDataStatus = 1;
}

EventPath::EventPath(ScannerState& state, Opening& opening, EventSink& sink,
                     Trace& trace)
    : state_(state), opening_(opening), sink_(sink), trace_(trace) {
  scan_.ScanData.reserve(kMaxScanDataLength);
  scan_.ScanDataLabel.reserve(kMaxScanDataLength);
}

ScanDataSettings EventPath::CurrentSettings() const {
  ScanDataSettings settings;
  settings.CompatibilityMode = opening_.Entry.CompatibilityMode;
  settings.BinaryConversion = state_.BinaryConversion;
  settings.DecodeData = state_.DecodeData != 0;
  return settings;
}

void EventPath::DeliverFrame(LabelFrame& frame) {
  DeliverLabel(frame.FrameBuffer, frame.FrameLength);
  frame.ResetFrame();
}

void EventPath::DeliverLabel(const uint8_t* bytes, int length,
                             QueuedLabels queued) {
  if (length <= 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // An opening that has ended neither delivers nor keeps a label: the
    // properties it would change may be a newer opening's by now.
    if (!opening_.ReceiveActive) return;
    // While a data event is being handled its label must stay what the
    // handler reads: a label arriving meanwhile waits in the queue.
    if (delivering_ || EventsHeld()) {
      queue_.Push(bytes, length);  // a full queue drops the label
      return;
    }
    if (queued == QueuedLabels::kKeep && queue_.Count() != 0) {
      // Behind the labels that wait, which go first.
      queue_.Push(bytes, length);
      if (!TakeQueuedLabel()) return;
    } else {
      if (state_.AutoDisable != 0) state_.DeviceEnabled = 0;
      state_.DataEventEnabled = 0;
      BuildScanData(bytes, static_cast<size_t>(length), CurrentSettings(),
                    scan_);
      queue_.Clear();
      delivering_ = true;
    }
  }
  FireDataEvents();
}

// The flag is stored and the queued label taken in one step, so that the
// receive thread never sees data events enabled while older labels wait.
// During a data event the label is taken when that event's handler has
// returned.
void EventPath::DeliverQueuedLabel(std::atomic<long>& flag, long value) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    flag = value;
    roomChanged_.notify_all();
    if (delivering_ || !TakeQueuedLabel()) return;
  }
  FireDataEvents();
}

// One data event at a time: when its handler has returned, the next
// queued label goes if the application asked for it meanwhile.
void EventPath::FireDataEvents() {
  for (;;) {
    if (trace_.Wants(trace_level::kData)) TraceLabel();
    sink_.FireSOData(kDataStatus);
    std::lock_guard<std::mutex> lock(mutex_);
    delivering_ = false;
    roomChanged_.notify_all();
    if (!TakeQueuedLabel()) return;  // also once a handler closed the device
  }
}

void EventPath::TraceLabel() {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    text = "DataEvent: ScanData \"" + TraceText(scan_.ScanData) +
           "\", ScanDataType " + std::to_string(scan_.ScanDataType);
  }
  trace_.Write(trace_level::kData, text);
}

bool EventPath::TakeQueuedLabel() {
  if (!opening_.ReceiveActive || state_.DataEventEnabled == 0 ||
      state_.FreezeEvents != 0 || queue_.Count() == 0) {
    return false;
  }
  delivering_ = true;
  queue_.Pop(queuedLabel_);
  roomChanged_.notify_all();
  BuildScanData(queuedLabel_.Bytes, static_cast<size_t>(queuedLabel_.Length),
                CurrentSettings(), scan_);
  // With labels still waiting the application asks for the next one by
  // enabling data events again; with none, the next label goes at once.
  // Cleared before the event, not after it, so that a label arriving
  // meanwhile joins the queue instead of replacing it.
  if (queue_.Count() != 0) state_.DataEventEnabled = 0;
  return true;
}

void EventPath::SetDataEventEnabled(long value) {
  DeliverQueuedLabel(state_.DataEventEnabled, value);
}

void EventPath::SetFreezeEvents(long value) {
  DeliverQueuedLabel(state_.FreezeEvents, value);
}

int EventPath::DataCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.Count();
}

long EventPath::ScanDataType() {
  std::lock_guard<std::mutex> lock(mutex_);
  return scan_.ScanDataType;
}

std::string EventPath::ScanData() {
  std::lock_guard<std::mutex> lock(mutex_);
  return scan_.ScanData;
}

std::string EventPath::ScanDataLabel() {
  std::lock_guard<std::mutex> lock(mutex_);
  return scan_.ScanDataLabel;
}

void EventPath::ClearScanData() {
  scan_.ScanData.clear();
  scan_.ScanDataLabel.clear();
}

void EventPath::ClearInput() {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearScanData();
  queue_.Clear();
  roomChanged_.notify_all();
}

bool EventPath::TakeFrameDiscardRequest() {
  return discardFrame_.exchange(false);
}

void EventPath::ReplaceEntry(const DeviceEntry& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  opening_.Entry = entry;
}

bool EventPath::EventsHeld() const {
  return state_.DataEventEnabled == 0 || state_.FreezeEvents != 0 ||
         state_.COEventsFrozen;
}

bool EventPath::HasRoom() const {
  return queue_.Count() < LabelQueue::kCapacity;
}

// Waited for in short slices, so that a Close is noticed at once.
bool EventPath::AwaitRoomForLabel(std::chrono::milliseconds limit) {
  constexpr std::chrono::milliseconds kSlice(50);
  std::unique_lock<std::mutex> lock(mutex_);
  for (std::chrono::milliseconds waited(0); !HasRoom(); waited += kSlice) {
    if (waited >= limit || !opening_.ReceiveActive) return false;
    roomChanged_.wait_for(lock, kSlice);
  }
  return true;
}
