#include "talscan/core/serial_transport.h"

#include <functional>

LineSettings ScannerLineSettings(long scannerType) {
  LineSettings settings;
  settings.BaudRate = scannerType == kTypePortableM40 ? 2400 : 9600;
  settings.ByteSize = 8;
  settings.TwoStopBits = true;
  settings.RtsDisabled = true;
  settings.AbortOnError = false;
  return settings;
}

PortTimeouts ScannerPortTimeouts() {
  PortTimeouts timeouts;
  timeouts.ReadInterval = 1;
  timeouts.ReadTotalMultiplier = 1;
  timeouts.ReadTotalConstant = 100;
  timeouts.WriteTotalMultiplier = 20;
  timeouts.WriteTotalConstant = 100;
  return timeouts;
}

PortTimeouts FirstByteTimeouts(uint32_t waitMs) {
  PortTimeouts timeouts = ScannerPortTimeouts();
  timeouts.ReadInterval = kMaxTimeout;
  timeouts.ReadTotalMultiplier = kMaxTimeout;
  timeouts.ReadTotalConstant = waitMs + 1;
  return timeouts;
}

bool OpenSerialPort(SerialPort& port, const DeviceEntry& entry,
                    OpenFailure& failure) {
  // The service object drives one port; an opening already in force keeps
  // it, as the port itself refuses a second exclusive open.
  const PlatformError openError =
      port.IsOpen() ? PlatformError::Of(syserr::kAccessDenied, "CreateFile")
                    : port.Open(entry.PortName);
  if (openError.Failed()) {
    failure = {"Unable to open " + entry.PortName, openError};
    return false;
  }

  const LineSettings line = ScannerLineSettings(entry.ScannerType);
  const PortTimeouts timeouts = ScannerPortTimeouts();
  const struct {
    const char* message;
    std::function<PlatformError()> run;
  } steps[] = {
      {"Unable to set buffer sizes",
       [&] { return port.SetBufferSizes(128, 128); }},
      {"Unable to get state of communication port",
       [&] { return port.ReadLineSettings(); }},
      {"Unable to set state of communication port",
       [&] { return port.WriteLineSettings(line); }},
      {"Unable to get timeouts of communication port",
       [&] { return port.ReadTimeouts(); }},
      {"Unable to set timeouts of communication port",
       [&] { return port.WriteTimeouts(timeouts); }},
  };
  for (const auto& step : steps) {
    const PlatformError error = step.run();
    if (!error.Failed()) continue;
    // A half-configured port is closed at once, so that opening again can
    // succeed without a Close in between.
    port.Close();
    failure = {step.message, error};
    return false;
  }
  return true;
}
