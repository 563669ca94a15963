#include "talscan/core/session.h"

#include "talscan/core/serial_receiver.h"

Session::Session(ScannerState& state, const DeviceEntry& entry,
                 const Platform& platform)
    : state(state),
      platform(platform),
      opening(entry),
      events(state, opening, platform.events),
      link(platform.serial, platform.clock, opening),
      programmer(link, platform.clock, opening),
      usb(opening, platform.hid, platform.notifier, events, platform.events) {}

void Session::RunSerialReceiver() {
  SerialReceiver receiver(state, opening, link, platform.clock,
                          platform.notifier, events, platform.events,
                          programmer);
  receiver.Run();
}
