// The callbacks into the control object: its IDispatch pointer and the
// dispatch identifiers of the five callback names, resolved when a device
// is opened. The pointer is held without a reference while the device is
// open, as the control object owns the service object and not the other way
// round: a reference of ours would keep a control object that its
// application released alive, and with it this object and its opening. A
// reference is taken only for the length of each callback, so that a Close
// or a release on the control object's thread cannot free it under a
// callback in progress.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <mutex>

#include "talscan/core/event_sink.h"

class EventDriver : public EventSink {
 public:
  // Who the callbacks go to: the control object, the identifiers of the
  // five callbacks on it, and the service object that attached it.
  struct Attachment {
    IDispatch* control = nullptr;
    DISPID ids[5] = {DISPID_UNKNOWN, DISPID_UNKNOWN, DISPID_UNKNOWN,
                     DISPID_UNKNOWN, DISPID_UNKNOWN};
    const void* owner = nullptr;
  };

  // Keeps the pointer and resolves "SOData", "SODirectIO", "SOError",
  // "SOOutputComplete" and "SOStatusUpdate" on it; a name the control
  // object does not know stays DISPID_UNKNOWN and is never called.
  // Returns the attachment it replaced.
  Attachment Attach(IDispatch* control, const void* owner);
  // Puts back an attachment, when the opening that replaced it failed
  // while another opening was in force.
  void Restore(const Attachment& attachment);
  // No callback may reach the control object any more: the device was
  // closed (owner nullptr), or the service object that attached it is gone.
  void Detach(const void* owner);

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
  // The control object, with a reference for the length of one call, and
  // the identifier of the callback; nullptr when it is not to be called.
  IDispatch* Target(Callback callback, DISPID& id);

  std::mutex mutex_;
  Attachment current_;
};
