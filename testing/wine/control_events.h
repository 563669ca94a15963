// An application's event sink on the stand-in control object: records
// every event, and for a data event the label as the application reads it
// from the control in its handler.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <string>
#include <vector>

namespace wine {

struct ControlEvent {
  DISPID id = 0;        // 1 DataEvent, 2 DirectIOEvent, 5 StatusUpdateEvent
  long number = 0;      // Status, EventNumber or Data
  long data = 0;        // pData of a DirectIOEvent
  std::string text;     // pString of a DirectIOEvent
  std::string scanData;
  std::string scanDataLabel;
  long scanDataType = 0;
  DWORD thread = 0;     // the thread the event came on
};

class ControlEvents : public IDispatch {
 public:
  // Connects to the control's events; the control must outlive it.
  explicit ControlEvents(IDispatch* control);
  ~ControlEvents();

  std::vector<ControlEvent> Events() const { return events_; }
  std::vector<ControlEvent> DataEvents() const;
  // The Status of every status update event, in order.
  std::vector<long> StatusUpdates() const;
  void Clear() { events_.clear(); }
  // Pumps messages until count events of the kind (0: any) have come.
  bool WaitFor(size_t count, DWORD timeoutMs, DISPID kind = 0);
  // Runs in the event handler after the event was recorded.
  void OnEvent(std::function<void(ControlEvent&)> handler) {
    handler_ = std::move(handler);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID,
                                          DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD,
                                   DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override;

 private:
  IDispatch* control_;
  IConnectionPoint* point_ = nullptr;
  DWORD cookie_ = 0;
  std::vector<ControlEvent> events_;
  std::function<void(ControlEvent&)> handler_;
};

}  // namespace wine
