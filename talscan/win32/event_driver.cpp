#include "talscan/win32/event_driver.h"

#include "common/com/automation.h"

EventDriver::EventDriver(IDispatch* control,
                         std::shared_ptr<const std::atomic<bool>> released)
    : control_(control), released_(std::move(released)) {
  static const wchar_t* const kNames[kCallbackCount] = {
      L"SOData", L"SODirectIO", L"SOError", L"SOOutputComplete",
      L"SOStatusUpdate"};
  for (int i = 0; i < kCallbackCount; ++i) {
    ids_[i] = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(kNames[i]);
    if (control_ != nullptr &&
        FAILED(control_->GetIDsOfNames(IID_NULL, &name, 1,
                                       GetUserDefaultLCID(), &ids_[i]))) {
      ids_[i] = DISPID_UNKNOWN;
    }
  }
}

bool EventDriver::Reaches(Callback callback) const {
  return control_ != nullptr && ids_[callback] != DISPID_UNKNOWN &&
         !*released_;
}

// A callback the control object rejects is ignored: it must not end the
// receive thread that made it.
void EventDriver::FireSOData(long status) {
  if (!Reaches(kData)) return;
  com::Call(control_, ids_[kData], DISPATCH_METHOD,
            {com::LongVariant(status)});
}

void EventDriver::FireSODirectIO(long eventNumber, long& data,
                                 std::string& text) {
  if (!Reaches(kDirectIO)) return;
  com::CallWithReferences(control_, ids_[kDirectIO], eventNumber, data, text);
}

void EventDriver::FireSOStatusUpdate(long data) {
  if (!Reaches(kStatusUpdate)) return;
  com::Call(control_, ids_[kStatusUpdate], DISPATCH_METHOD,
            {com::LongVariant(data)});
}
