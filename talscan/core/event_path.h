// The road of a finished label to the application: delivered at once as a
// data event, or held in the label queue while data events are disabled or
// frozen. The queue, the scan data and the queue-or-deliver decision are
// guarded by one mutex, which is never held while the control object is
// called, so its event handlers may call back into the service object.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "talscan/core/event_sink.h"
#include "talscan/core/label_frame.h"
#include "talscan/core/label_queue.h"
#include "talscan/core/opening.h"
#include "talscan/core/scan_data.h"
#include "talscan/core/scanner_state.h"
#include "talscan/core/trace.h"

class EventPath {
 public:
  EventPath(ScannerState& state, Opening& opening, EventSink& sink,
            Trace& trace = Trace::Off());

  // Receive thread: hands a finished frame on and empties it.
  void DeliverFrame(LabelFrame& frame);
  // What a label delivered at once does to the labels that wait: a fixed
  // scanner's label discards them; a record the scanner was told is
  // received keeps them and goes behind them.
  enum class QueuedLabels { kDiscard, kKeep };
  // Receive thread: hands a finished label on.
  void DeliverLabel(const uint8_t* bytes, int length,
                    QueuedLabels queued = QueuedLabels::kDiscard);

  // Caller's thread: set DataEventEnabled or FreezeEvents, then deliver the
  // oldest queued label when events are enabled and thawed.
  void SetDataEventEnabled(long value);
  void SetFreezeEvents(long value);

  int DataCount();
  long ScanDataType();
  std::string ScanData();
  std::string ScanDataLabel();

  // Asks the receive thread to drop the frame it is assembling.
  void RequestFrameDiscard() { discardFrame_ = true; }
  // Empties the scan data and the queue.
  void ClearInput();

  // Receive thread: true once after ClearInput asked for the frame being
  // assembled to be dropped.
  bool TakeFrameDiscardRequest();

  // Receive thread: waits until the queue has room, so that a label handed
  // on now cannot be dropped. False when it did not within `limit`, or the
  // opening is closing.
  bool AwaitRoomForLabel(std::chrono::milliseconds limit);

  // Commits a device entry read while an opening is in force.
  void ReplaceEntry(const DeviceEntry& entry);

 private:
  ScanDataSettings CurrentSettings() const;
  void DeliverQueuedLabel(std::atomic<long>& flag, long value);
  bool TakeQueuedLabel();
  void FireDataEvents();
  void TraceLabel();
  void ClearScanData();

  bool EventsHeld() const;
  bool HasRoom() const;

  ScannerState& state_;
  Opening& opening_;
  EventSink& sink_;
  Trace& trace_;
  std::mutex mutex_;
  std::condition_variable roomChanged_;
  LabelQueue queue_;
  Label queuedLabel_;  // working buffer of a label taken from the queue
  ScanResult scan_;
  std::atomic<bool> discardFrame_{false};
  bool delivering_ = false;  // a data event's handler runs
};
