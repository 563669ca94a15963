// Records the callbacks the service object makes to the control object. A
// test may react inside a callback, as a control object's event handler
// would, for instance by calling back into the service object.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "talscan/core/event_sink.h"

namespace fakes {

// A sink the test owns, handed to an opening that shares what it is given.
inline std::shared_ptr<EventSink> Unowned(EventSink& sink) {
  return std::shared_ptr<EventSink>(std::shared_ptr<EventSink>(), &sink);
}

struct FiredEvent {
  enum Kind { kData, kDirectIO, kStatusUpdate } kind;
  long number = 0;  // Status, EventNumber or Data
  long data = 0;    // pData of a DirectIO event
  std::string text; // pString of a DirectIO event
};

class RecordingEventSink : public EventSink {
 public:
  void FireSOData(long status) override {
    Record({FiredEvent::kData, status, 0, {}});
  }
  void FireSODirectIO(long eventNumber, long& data,
                      std::string& text) override {
    Record({FiredEvent::kDirectIO, eventNumber, data, text});
  }
  void FireSOStatusUpdate(long data) override {
    Record({FiredEvent::kStatusUpdate, data, 0, {}});
  }

  std::vector<FiredEvent> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  int DataEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    int count = 0;
    for (const FiredEvent& event : events_) count += event.kind == FiredEvent::kData;
    return count;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
  }
  // Runs inside every callback, after it was recorded.
  void OnEvent(std::function<void(const FiredEvent&)> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
  }

 private:
  void Record(const FiredEvent& event) {
    std::function<void(const FiredEvent&)> handler;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(event);
      handler = handler_;
    }
    if (handler) handler(event);
  }

  std::mutex mutex_;
  std::vector<FiredEvent> events_;
  std::function<void(const FiredEvent&)> handler_;
};

}  // namespace fakes
