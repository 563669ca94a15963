#include "so/win32/event_driver.h"

#include "common/com/automation.h"

void EventDriver::Attach(IDispatch* control) {
  static const wchar_t* const kNames[kCallbackCount] = {
      L"SOData", L"SODirectIO", L"SOError", L"SOOutputComplete",
      L"SOStatusUpdate"};
  DISPID ids[kCallbackCount];
  for (int i = 0; i < kCallbackCount; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (control == nullptr) continue;
    LPOLESTR name = const_cast<LPOLESTR>(kNames[i]);
    if (FAILED(control->GetIDsOfNames(IID_NULL, &name, 1,
                                      GetUserDefaultLCID(), &ids[i]))) {
      ids[i] = DISPID_UNKNOWN;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  control_ = control;
  for (int i = 0; i < kCallbackCount; ++i) ids_[i] = ids[i];
}

IDispatch* EventDriver::Target(Callback callback, DISPID& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  id = ids_[callback];
  return id == DISPID_UNKNOWN ? nullptr : control_;
}

// A callback the control object rejects is ignored: it must not end the
// receive thread that made it.
void EventDriver::FireSOData(long status) {
  DISPID id;
  if (IDispatch* control = Target(kData, id)) {
    com::Call(control, id, DISPATCH_METHOD, {com::LongVariant(status)});
  }
}

void EventDriver::FireSODirectIO(long eventNumber, long& data,
                                 std::string& text) {
  DISPID id;
  if (IDispatch* control = Target(kDirectIO, id)) {
    com::CallWithReferences(control, id, eventNumber, data, text);
  }
}

void EventDriver::FireSOStatusUpdate(long data) {
  DISPID id;
  if (IDispatch* control = Target(kStatusUpdate, id)) {
    com::Call(control, id, DISPATCH_METHOD, {com::LongVariant(data)});
  }
}
