// One opening of the device: made by a successful OpenService, ended by
// Close or by the release of the last service object. It owns everything
// that lives only while the device is open: the opening's flags and entry,
// the control object's callbacks, the event path with its label queue, the
// port link (the serialised writer and the programming hold), the
// programmer and the USB device. The receive thread shares it, so a thread
// still finishing a handler after Close, or one stopped by force, keeps
// its own opening's state and never touches the next one's.
#pragma once

#include <memory>

#include "talscan/core/event_path.h"
#include "talscan/core/opening.h"
#include "talscan/core/opening_callbacks.h"
#include "talscan/core/platform.h"
#include "talscan/core/port_link.h"
#include "talscan/core/scanner_programmer.h"
#include "talscan/core/scanner_state.h"
#include "talscan/core/trace.h"
#include "talscan/core/usb_transport.h"

struct Session {
  Session(ScannerState& state, const DeviceEntry& entry,
          const Platform& platform, std::shared_ptr<EventSink> control,
          std::shared_ptr<Trace> trace);

  // Thread bodies.
  void RunSerialReceiver();
  void RunUsbReceiver() { usb.RunReceiveThread(); }

  ScannerState& state;
  // The opening's trace (off unless the entry asks for it), and the
  // messages that go to it; the platform below shows them.
  const std::shared_ptr<Trace> trace;
  TracingNotifier notifier;
  const Platform platform;
  Opening opening;
  OpeningCallbacks callbacks;
  EventPath events;
  PortLink link;
  ScannerProgrammer programmer;
  UsbTransport usb;
};
