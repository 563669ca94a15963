// Everything the service object reaches outside itself, but the control
// object, whose callbacks each opening is given.
#pragma once

#include "common/hid/hid_device.h"
#include "common/registry/registry.h"
#include "talscan/core/clock.h"
#include "talscan/core/notifier.h"
#include "talscan/core/serial_port.h"
#include "talscan/core/thread_launcher.h"
#include "talscan/core/trace_files.h"

struct Platform {
  reg::Registry& registry;
  Notifier& notifier;
  Clock& clock;
  ThreadLauncher& threads;
  SerialPort& serial;
  hid::Bus& hid;
  TraceFiles& traceFiles;
};
