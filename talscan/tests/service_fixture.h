// A service object on fakes of every platform interface, with helpers to
// write device entries the way the configuration utility writes them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "talscan/core/device_entry.h"
#include "talscan/core/scanner_service.h"
#include "testing/fakes/fake_hid.h"
#include "testing/fakes/memory_registry.h"
#include "testing/fakes/memory_trace_files.h"
#include "testing/fakes/recording_event_sink.h"
#include "testing/fakes/recording_notifier.h"
#include "testing/fakes/scripted_serial_port.h"
#include "testing/fakes/std_thread_launcher.h"
#include "testing/fakes/virtual_clock.h"

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest()
      : serial(clock),
        platform{registry, notifier, clock, threads, serial, hid, traceFiles},
        service(platform) {}

  ~ServiceTest() override {
    // Ends a receive thread the test left running.
    if (service.GetPropertyNumber(opos::pidx::State) == opos::kStateIdle) {
      service.Close();
    }
  }

  // A device entry as the utility writes it: strings without NUL.
  void WriteEntry(const std::string& name, const std::string& type,
                  const std::string& port = "COM1",
                  const std::string& compatibility = "KORVA") {
    const std::string path = DeviceKeyPathFor(name);
    registry.SetString(reg::Root::LocalMachine, path, "", "TALSCAN.ScannerSO");
    registry.SetDword(reg::Root::LocalMachine, path, "AutoScan", 0);
    registry.SetString(reg::Root::LocalMachine, path, "Compatibility",
                       compatibility);
    registry.SetBinary(reg::Root::LocalMachine, path, "Configuration",
                       std::vector<uint8_t>(kDefaultPortableConfiguration.begin(),
                                            kDefaultPortableConfiguration.end()));
    registry.SetString(reg::Root::LocalMachine, path, "Port", port);
    registry.SetString(reg::Root::LocalMachine, path, "Type", type);
    registry.SetString(reg::Root::LocalMachine, path, "UserID", "00000000");
  }

  void SetEntryValue(const std::string& name, const std::string& value,
                     const std::string& text) {
    registry.SetString(reg::Root::LocalMachine, DeviceKeyPathFor(name), value,
                       text);
  }
  void SetEntryDword(const std::string& name, const std::string& value,
                     uint32_t number) {
    registry.SetDword(reg::Root::LocalMachine, DeviceKeyPathFor(name), value,
                      number);
  }

  long Open(const std::string& name) {
    return service.OpenService("Scanner", name, fakes::Unowned(events));
  }
  long Property(long index) { return service.GetPropertyNumber(index); }
  long Result() { return Property(opos::pidx::ResultCode); }

  fakes::MemoryRegistry registry;
  fakes::RecordingNotifier notifier;
  fakes::VirtualClock clock;
  fakes::StdThreadLauncher threads;
  fakes::ScriptedSerialPort serial;
  fakes::FakeHidBus hid;
  fakes::MemoryTraceFiles traceFiles;
  fakes::RecordingEventSink events;
  Platform platform;
  ScannerService service;
};
