// Everything the service object reaches outside itself.
#pragma once

#include "common/hid/hid_device.h"
#include "common/registry/registry.h"
#include "so/core/clock.h"
#include "so/core/event_sink.h"
#include "so/core/notifier.h"
#include "so/core/serial_port.h"
#include "so/core/thread_launcher.h"

struct Platform {
  reg::Registry& registry;
  Notifier& notifier;
  Clock& clock;
  ThreadLauncher& threads;
  SerialPort& serial;
  hid::Bus& hid;
  EventSink& events;
};
