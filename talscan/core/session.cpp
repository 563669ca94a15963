#include "talscan/core/session.h"

#include "talscan/core/serial_receiver.h"

Session::Session(ScannerState& state, const DeviceEntry& entry,
                 const Platform& source, std::shared_ptr<EventSink> control,
                 std::shared_ptr<Trace> openingTrace)
    : state(state),
      trace(std::move(openingTrace)),
      notifier(source.notifier, *trace),
      platform{source.registry, notifier,    source.clock,     source.threads,
               source.serial,   source.hid,  source.traceFiles},
      opening(entry),
      callbacks(std::move(control), *trace),
      events(state, opening, callbacks, *trace),
      link(platform.serial, platform.clock, opening, *trace),
      programmer(link, platform.clock, opening),
      usb(opening, state, platform.hid, platform.clock, notifier, events,
          callbacks, *trace) {}

void Session::RunSerialReceiver() {
  SerialReceiver receiver(state, opening, link, platform.clock,
                          platform.notifier, events, callbacks, programmer,
                          *trace);
  receiver.Run();
}
