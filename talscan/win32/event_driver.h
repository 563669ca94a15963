// The callbacks into one control object: its IDispatch pointer and the
// dispatch identifiers of the five callback names, resolved when it opens
// a device. Each OpenService makes one; the opening keeps it.
//
// The pointer is held without a reference, as the control object owns the
// service object and not the other way round: a reference of ours would
// keep a control object that its application released alive, and with it
// this object and its opening. No reference is taken for a call either: a
// control object whose count has reached zero is being destroyed, and a
// reference taken then would destroy it a second time. The release of the
// service object that made it ends the opening, and waits for its thread,
// before it returns, so the pointer stays good for every call made.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <memory>

#include "talscan/core/event_sink.h"

class EventDriver : public EventSink {
 public:
  // Resolves "SOData", "SODirectIO", "SOError", "SOOutputComplete" and
  // "SOStatusUpdate" on the control object; a name it does not know stays
  // DISPID_UNKNOWN and is never called. `released` is set by the service
  // object that made this driver when the control object lets go of it.
  EventDriver(IDispatch* control,
              std::shared_ptr<const std::atomic<bool>> released);

  void FireSOData(long status) override;
  void FireSODirectIO(long eventNumber, long& data, std::string& text) override;
  void FireSOStatusUpdate(long data) override;

 private:
  enum Callback {
    kData,
    kDirectIO,
    kError,
    kOutputComplete,
    kStatusUpdate,
    kCallbackCount
  };
  // True when the callback is to be made.
  bool Reaches(Callback callback) const;

  IDispatch* const control_;
  DISPID ids_[kCallbackCount];
  const std::shared_ptr<const std::atomic<bool>> released_;
};
