// The callbacks into the control object. Each call runs on the calling
// thread and returns when the control object returns; a callback the
// control object rejects is ignored.
#pragma once

#include <string>

class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void FireSOData(long status) = 0;
  // data and text are passed by reference: the control object may change
  // them, and the caller sees the change.
  virtual void FireSODirectIO(long eventNumber, long& data,
                              std::string& text) = 0;
  virtual void FireSOStatusUpdate(long data) = 0;
};
