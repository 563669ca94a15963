#include "talscan/core/opening_callbacks.h"

void OpeningCallbacks::Replace(std::shared_ptr<EventSink> target) {
  std::lock_guard<std::mutex> lock(mutex_);
  target_ = std::move(target);
}

void OpeningCallbacks::Shut() {
  std::lock_guard<std::mutex> lock(mutex_);
  target_.reset();
}

bool OpeningCallbacks::GoesTo(const EventSink* target) {
  std::lock_guard<std::mutex> lock(mutex_);
  return target != nullptr && target_.get() == target;
}

std::shared_ptr<EventSink> OpeningCallbacks::Target() {
  std::lock_guard<std::mutex> lock(mutex_);
  return target_;
}

void OpeningCallbacks::FireSOData(long status) {
  if (std::shared_ptr<EventSink> target = Target()) target->FireSOData(status);
}

void OpeningCallbacks::FireSODirectIO(long eventNumber, long& data,
                                      std::string& text) {
  if (trace_.Wants(trace_level::kData)) {
    trace_.Write(trace_level::kData,
                 "DirectIOEvent " + std::to_string(eventNumber) + ": data " +
                     std::to_string(data) + ", \"" + TraceText(text) + "\"");
  }
  if (std::shared_ptr<EventSink> target = Target()) {
    target->FireSODirectIO(eventNumber, data, text);
  }
}

void OpeningCallbacks::FireSOStatusUpdate(long data) {
  if (trace_.Wants(trace_level::kOpening)) {
    trace_.Write(trace_level::kOpening,
                 "StatusUpdateEvent " + std::to_string(data));
  }
  if (std::shared_ptr<EventSink> target = Target()) {
    target->FireSOStatusUpdate(data);
  }
}
