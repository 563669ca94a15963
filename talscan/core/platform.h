// Everything the service object reaches outside itself.
#pragma once

#include "common/hid/hid_device.h"
#include "common/registry/registry.h"
#include "talscan/core/clock.h"
#include "talscan/core/event_sink.h"
#include "talscan/core/notifier.h"
#include "talscan/core/serial_port.h"
#include "talscan/core/thread_launcher.h"

struct Platform {
  reg::Registry& registry;
  Notifier& notifier;
  Clock& clock;
  ThreadLauncher& threads;
  SerialPort& serial;
  hid::Bus& hid;
  EventSink& events;
};
