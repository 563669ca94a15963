#include "talscan/win32/event_driver.h"

#include <utility>

#include "common/com/automation.h"

EventDriver::Attachment EventDriver::Attach(IDispatch* control,
                                            const void* owner) {
  static const wchar_t* const kNames[kCallbackCount] = {
      L"SOData", L"SODirectIO", L"SOError", L"SOOutputComplete",
      L"SOStatusUpdate"};
  Attachment attachment;
  attachment.control = control;
  attachment.owner = owner;
  for (int i = 0; i < kCallbackCount && control != nullptr; ++i) {
    LPOLESTR name = const_cast<LPOLESTR>(kNames[i]);
    if (FAILED(control->GetIDsOfNames(IID_NULL, &name, 1, GetUserDefaultLCID(),
                                      &attachment.ids[i]))) {
      attachment.ids[i] = DISPID_UNKNOWN;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::swap(current_, attachment);
  return attachment;
}

void EventDriver::Restore(const Attachment& attachment) {
  std::lock_guard<std::mutex> lock(mutex_);
  current_ = attachment;
}

void EventDriver::Detach(const void* owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (owner == nullptr || current_.owner == owner) current_ = Attachment();
}

IDispatch* EventDriver::Target(Callback callback, DISPID& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  id = current_.ids[callback];
  if (id == DISPID_UNKNOWN || current_.control == nullptr) return nullptr;
  current_.control->AddRef();
  return current_.control;
}

// A callback the control object rejects is ignored: it must not end the
// receive thread that made it.
void EventDriver::FireSOData(long status) {
  DISPID id;
  if (IDispatch* control = Target(kData, id)) {
    com::Call(control, id, DISPATCH_METHOD, {com::LongVariant(status)});
    control->Release();
  }
}

void EventDriver::FireSODirectIO(long eventNumber, long& data,
                                 std::string& text) {
  DISPID id;
  if (IDispatch* control = Target(kDirectIO, id)) {
    com::CallWithReferences(control, id, eventNumber, data, text);
    control->Release();
  }
}

void EventDriver::FireSOStatusUpdate(long data) {
  DISPID id;
  if (IDispatch* control = Target(kStatusUpdate, id)) {
    com::Call(control, id, DISPATCH_METHOD, {com::LongVariant(data)});
    control->Release();
  }
}
