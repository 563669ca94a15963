#include "talscan/core/session.h"

#include "talscan/core/serial_receiver.h"

Session::Session(ScannerState& state, const DeviceEntry& entry,
                 const Platform& platform, std::shared_ptr<EventSink> control)
    : state(state),
      platform(platform),
      opening(entry),
      callbacks(std::move(control)),
      events(state, opening, callbacks),
      link(platform.serial, platform.clock, opening),
      programmer(link, platform.clock, opening),
      usb(opening, state, platform.hid, platform.clock, platform.notifier,
          events, callbacks) {}

void Session::RunSerialReceiver() {
  SerialReceiver receiver(state, opening, link, platform.clock,
                          platform.notifier, events, callbacks,
                          programmer);
  receiver.Run();
}
