// The control object's callbacks as one opening makes them. They reach the
// control object only while the opening is in force: once its Close
// begins, a thread still finishing its work (a handler that closed and
// opened the device again, a download under way) calls nothing, and the
// next opening has callbacks of its own. Nothing here is held while a
// callback runs, so a thread stopped by force inside one leaves nothing
// locked.
#pragma once

#include <memory>
#include <mutex>

#include "talscan/core/event_sink.h"
#include "talscan/core/trace.h"

class OpeningCallbacks : public EventSink {
 public:
  OpeningCallbacks(std::shared_ptr<EventSink> target, Trace& trace)
      : target_(std::move(target)), trace_(trace) {}

  // A second opening of an open USB scanner: the newest control object
  // gets the events.
  void Replace(std::shared_ptr<EventSink> target);
  // No callback goes out from now on.
  void Shut();
  // True while the callbacks go to `target`.
  bool GoesTo(const EventSink* target);

  void FireSOData(long status) override;
  void FireSODirectIO(long eventNumber, long& data, std::string& text) override;
  void FireSOStatusUpdate(long data) override;

 private:
  std::shared_ptr<EventSink> Target();

  std::mutex mutex_;
  std::shared_ptr<EventSink> target_;  // null once shut
  Trace& trace_;
};
