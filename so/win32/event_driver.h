// The callbacks into the control object: its IDispatch pointer and the
// dispatch identifiers of the five callback names, resolved when a device
// is opened. The pointer is held without a reference, as the control
// object owns the service object and not the other way round.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <mutex>

#include "so/core/event_sink.h"

class EventDriver : public EventSink {
 public:
  // Keeps the pointer and resolves "SOData", "SODirectIO", "SOError",
  // "SOOutputComplete" and "SOStatusUpdate" on it; a name the control
  // object does not know stays DISPID_UNKNOWN and is never called.
  void Attach(IDispatch* control);

  void FireSOData(long status) override;
  void FireSODirectIO(long eventNumber, long& data,
                      std::string& text) override;
  void FireSOStatusUpdate(long data) override;

 private:
  enum Callback { kData, kDirectIO, kError, kOutputComplete, kStatusUpdate,
                  kCallbackCount };
  // The control object and the identifier of one callback, or nullptr.
  IDispatch* Target(Callback callback, DISPID& id);

  std::mutex mutex_;
  IDispatch* control_ = nullptr;
  DISPID ids_[kCallbackCount] = {DISPID_UNKNOWN, DISPID_UNKNOWN,
                                 DISPID_UNKNOWN, DISPID_UNKNOWN,
                                 DISPID_UNKNOWN};
};
