// The demo: a simulated fixed scanner on a pseudo-terminal, a portable one,
// and the virtual USB scanner; the real TALSCAN.dll opened through the
// (stand-in) OPOS Scanner control object, and every scanned label printed
// as the application receives it.
#include "testing/wine/simulator_client.h"  // winsock2.h before windows.h

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/opos/symbology_name.h"
#include "testing/standin/standin.h"
#include "testing/wine/control_events.h"
#include "testing/wine/virtual_scanner_client.h"
#include "testing/wine/wine_support.h"

namespace {

constexpr char kPort[] = "COM5";
constexpr char kDevice[] = "DemoScanner";
constexpr char kBatchPort[] = "COM8";
constexpr char kBatchDevice[] = "DemoBatchScanner";
constexpr char kUsbDevice[] = "DemoUsbScanner";

// Records a portable scanner keeps until they are downloaded, as it sends
// them: an optional time stamp, a code letter, the data.
const char* kStoredRecords[] = {
    "A012345678905",
    "T120926143005F4006381333931",
    "B96385074",
    "F0012345678905",
    "MBATCH-0042",
};

struct Label {
  const char* scanned;  // what the scanner sends, before CR LF
  const char* what;
};

const Label kLabels[] = {
    {"A012345678905", "UPC-A"},
    {"A01234567890512", "UPC-A with a 2-digit add-on"},
    {"E01234565", "UPC-E"},
    {"FF96385074", "EAN-8"},
    {"F4006381333931", "EAN-13"},
    {"F400638133393112345", "EAN-13 with a 5-digit add-on"},
    {"I0123456789", "Interleaved 2 of 5"},
    {"N A12345B", "Codabar"},
    {"MCODE-39 DEMO", "Code 39"},
    {"LCODE93", "Code 93"},
    {"KShop till 128", "Code 128"},
    {"GPDF417 text", "another symbology"},
};

const char* kModes[] = {"KORVA", "METROLOGIC", "BEETLE", "SYMBOL"};

std::string Visible(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

void PrintEvent(const wine::ControlEvent& event) {
  if (event.id == standin::kDataEvent) {
    printf("    DataEvent: ScanData \"%s\", ScanDataLabel \"%s\", "
           "ScanDataType %ld (%s)\n",
           Visible(event.scanData).c_str(), Visible(event.scanDataLabel).c_str(),
           event.scanDataType, SymbologyName(event.scanDataType));
  } else if (event.id == standin::kDirectIOEvent) {
    printf("    DirectIOEvent %ld: pData %ld, pString \"%s\"\n", event.number,
           event.data, Visible(event.text).c_str());
  } else if (event.id == standin::kStatusUpdateEvent) {
    printf("    StatusUpdateEvent %ld%s\n", event.number,
           event.number == 800    ? " (download complete)"
           : event.number == 2004 ? " (off line: the scanner is gone)"
           : event.number == 2001 ? " (on line again)"
                                  : "");
  }
}

// A portable scanner's stored labels downloaded through DirectIO 200.
bool Download(wine::SimulatorClient& sim, wine::Dispatch& control,
              wine::ControlEvents& events) {
  const std::string port = kBatchPort;
  printf("\nPortable scanner (M-20) on %s (pseudo-terminal %s), holding %zu "
         "labels\n",
         kBatchPort, sim.Command("OPEN " + port).c_str(),
         sizeof kStoredRecords / sizeof *kStoredRecords);
  sim.Pace(port, 9600);
  sim.Command("PORTABLE " + port + " 0");
  for (const char* record : kStoredRecords) {
    sim.Command("RECORD " + port + " " + wine::Hex(record));
  }
  wine::WriteStandardEntry(kBatchDevice, "Portable Scanner M-20", kBatchPort);
  const long opened = control.CallLong(L"Open", {wine::Bstr(kBatchDevice)});
  printf("  Open(\"%s\") -> %ld\n", kBatchDevice, opened);
  if (opened != 0) return false;
  control.CallLong(L"ClaimDevice", {wine::Long(1000)});
  control.PutBool(standin::kDeviceEnabled, true);
  control.PutBool(standin::kDataEventEnabled, true);
  control.PutBool(standin::kDecodeData, true);
  const long requested = control.CallLong(
      L"DirectIO", {wine::Long(200), wine::Long(0), wine::Bstr("")});
  printf("  DirectIO(200) -> %ld: download requested; the scanner reports "
         "ready\n",
         requested);
  events.Clear();
  sim.Command("READY " + port);
  const bool done = events.WaitFor(1, 30000, standin::kStatusUpdateEvent);
  printf("  Close() -> %ld\n", control.CallLong(L"Close"));
  sim.ClosePort(port);
  return done && events.Events().back().number == 800;
}

std::string TracePath(const std::string& device) {
  char data[MAX_PATH] = {};
  GetEnvironmentVariableA("ProgramData", data, MAX_PATH);
  return std::string(data) + "\\Korva\\OPOS Scanner\\Traces\\" + device +
         ".log";
}

void PrintTrace(const std::string& path) {
  std::ifstream file(path);
  printf("\n  The device's trace (TraceLevel 3), %s:\n", path.c_str());
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    printf("    %s\n", line.c_str());
  }
}

// The USB scanner: plugged into the prefix as a HID device, found and read
// through Windows' HID stack, unplugged and plugged in again.
bool UsbScanner(wine::Dispatch& control, wine::ControlEvents& events) {
  printf("\nUSB scanner (HID, vendor 0x0000, product 0x000A) plugged in\n");
  wine::VirtualScanner scanner;
  printf("  virtual scanner: %s\n", scanner.Started().c_str());
  if (!scanner.Plugged()) return false;
  wine::WriteStandardEntry(kUsbDevice, "OPOS USB Scanner", kPort);
  // A field engineer's trace of this device, every byte included.
  wine::WriteDeviceEntry(kUsbDevice, {wine::Dword("TraceLevel", 3)});
  DeleteFileA(TracePath(kUsbDevice).c_str());
  const long opened = control.CallLong(L"Open", {wine::Bstr(kUsbDevice)});
  printf("  Open(\"%s\") -> %ld\n", kUsbDevice, opened);
  if (opened != 0) return false;
  control.CallLong(L"ClaimDevice", {wine::Long(1000)});
  control.PutBool(standin::kDeviceEnabled, true);
  control.PutBool(standin::kDataEventEnabled, true);
  control.PutBool(standin::kDecodeData, true);
  const std::vector<std::string> written = scanner.Outputs(1, 2000);
  printf("  DeviceEnabled set to TRUE: the scanner got the report %s\n",
         written.empty() ? "(none)" : written[0].c_str());
  bool ok = true;
  const auto scan = [&](const char* trailer, const char* label,
                        const char* what) {
    const size_t before = events.DataEvents().size();
    printf("  scanner reads %-18s (%s)\n", label, what);
    scanner.Scan(trailer, label);
    if (!events.WaitFor(before + 1, 5000, standin::kDataEvent)) {
      printf("  no data event arrived\n");
      ok = false;
    }
  };
  scan("0D", "012345678905", "UPC-A, trailer 0D");
  scan("00180B", "USB-DEMO-128", "Code 128, trailer 00 18 0B");
  printf("  the cable is pulled out: %s\n", scanner.Unplug().c_str());
  ok = events.WaitFor(events.StatusUpdates().size() + 1, 10000,
                      standin::kStatusUpdateEvent) && ok;
  printf("  and plugged in again: %s\n", scanner.Plug().c_str());
  ok = events.WaitFor(events.StatusUpdates().size() + 1, 10000,
                      standin::kStatusUpdateEvent) && ok;
  scan("16", "4006381333931", "EAN-13, trailer 16, after the replug");
  printf("  Close() -> %ld\n", control.CallLong(L"Close"));
  PrintTrace(TracePath(kUsbDevice));
  return ok;
}

bool OpenAndEnable(wine::Dispatch& control, const char* mode) {
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kPort, mode);
  printf("\nDevice entry \"%s\": Type \"Omni-directional Laser\", Port \"%s\", "
         "Compatibility \"%s\"\n",
         kDevice, kPort, mode);
  const long opened = control.CallLong(L"Open", {wine::Bstr(kDevice)});
  printf("  Open(\"%s\") -> %ld\n", kDevice, opened);
  if (opened != 0) return false;
  const long claimed = control.CallLong(L"ClaimDevice", {wine::Long(1000)});
  control.PutBool(standin::kDeviceEnabled, true);
  control.PutBool(standin::kDataEventEnabled, true);
  control.PutBool(standin::kDecodeData, true);
  printf("  ClaimDevice(1000) -> %ld; DeviceEnabled, DataEventEnabled and "
         "DecodeData set to TRUE\n",
         claimed);
  return claimed == 0;
}

bool Scan(wine::SimulatorClient& sim, wine::ControlEvents& events,
          const Label& label) {
  const size_t before = events.DataEvents().size();
  const std::string bytes = std::string(label.scanned) + "\r\n";
  printf("  scanner sends %-26s (%s)\n", ("\"" + Visible(bytes) + "\"").c_str(),
         label.what);
  sim.Feed(kPort, bytes);
  if (!events.WaitFor(before + 1, 5000, standin::kDataEvent)) {
    printf("  no data event arrived\n");
    return false;
  }
  return true;
}

int RunDemo() {
  printf("Scanner demo: the OPOS service object TALSCAN.dll under Wine, a "
         "simulated serial scanner\n\n");
  const std::string library = wine::ProgramFolder() + "TALSCAN.dll";
  HRESULT hr = wine::RegisterLibrary(library);
  printf("Registering %s: DllRegisterServer -> 0x%08lX\n", library.c_str(), hr);
  hr = wine::RegisterLibrary(wine::ProgramFolder() + "OposScannerStandIn.dll");
  printf("Registering the OPOS Scanner control object (stand-in) -> 0x%08lX\n",
         hr);

  wine::SimulatorClient sim;
  if (!sim.Connected()) {
    printf("The scanner simulator is not running (SCANNER_SIM).\n");
    return 1;
  }
  printf("Simulated scanner on %s (pseudo-terminal %s), sending at 9600 baud\n",
         kPort, sim.Command(std::string("OPEN ") + kPort).c_str());
  sim.Pace(kPort, 9600);

  wine::Dispatch control = wine::Dispatch::Create(L"OPOS.Scanner");
  if (!control) {
    printf("The control object could not be created.\n");
    return 1;
  }
  wine::ControlEvents events(control.get());
  // The application shows each event, takes each label and asks for the
  // next one.
  events.OnEvent([&](wine::ControlEvent& event) {
    PrintEvent(event);
    if (event.id == standin::kDataEvent) {
      control.PutBool(standin::kDataEventEnabled, true);
    }
  });

  bool ok = true;
  for (const char* mode : kModes) {
    if (!OpenAndEnable(control, mode)) {
      ok = false;
      break;
    }
    const size_t count = mode == kModes[0] ? sizeof kLabels / sizeof *kLabels : 5;
    for (size_t i = 0; i < count && ok; ++i) ok = Scan(sim, events, kLabels[i]);
    printf("  Close() -> %ld\n", control.CallLong(L"Close"));
    if (!ok) break;
  }
  sim.ClosePort(kPort);
  ok = ok && Download(sim, control, events);
  ok = ok && UsbScanner(control, events);
  printf(ok ? "\nEvery label arrived.\n" : "\nThe demo failed.\n");
  return ok ? 0 : 1;
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  CoInitialize(nullptr);
  const int result = RunDemo();
  CoUninitialize();
  return result;
}
