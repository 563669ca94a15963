// The virtual USB scanner, for tests and the demo only: plugs a scanner of
// the USB type into the running Wine prefix (vendor 0x0000, product 0x000A,
// 65-byte input and 12-byte output reports, served by virtual_scanner.sys
// beside this program), then takes one command a line on standard input
// and answers each with one line, "OK ..." or "ERR <what failed>":
//
//   scan <trailer> <label>   an input report carrying the label's text, its
//                            trailer given in hex: one byte (0D) or three
//                            (00180B); byte 1 of the report indexes the
//                            trailer's last byte, the label starts at byte 5
//   report <hex>             a raw input report, identifier byte first;
//                            zeros fill it to 65 bytes
//   outputs [count [ms]]     "OK" and the output reports the host wrote
//                            since the last call, in hex, space-separated;
//                            waits up to ms for at least count of them
//   refuse-output on|off     the device fails (or takes again) every
//                            output report the host writes
//   unplug                   removes the device; "OK unplugged" once gone
//   plug                     puts it back; "OK plugged" once the host can
//                            open it and the class driver reads from it
//   state                    "OK plugged=<0|1> reads=<n> queued=<n>"
//   quit                     (or the end of the input) unplugs and ends
//
// The program answers "OK plugged" (or "ERR ...") once at start. The
// scanner is unplugged at the end, so that none is left in the prefix.
#include "testing/wine/simulator_client.h"  // winsock2.h before windows.h

#include <windows.h>
#include <winioctl.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "testing/usbsim/control_protocol.h"
#include "testing/usbsim/device_setup.h"
#include "testing/wine/wine_support.h"

namespace {

constexpr DWORD kSettleMs = 15000;
constexpr DWORD kPollMs = 20;

// One request to the control device, opened for it: the driver's device
// may have come back since the last one.
bool Control(DWORD code, const void* in, DWORD inSize, void* out,
             DWORD outSize, DWORD& returned, DWORD& error) {
  HANDLE control = CreateFileA(VSCAN_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                               0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (control == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return false;
  }
  const BOOL done =
      DeviceIoControl(control, code, const_cast<void*>(in), inSize, out,
                      outSize, &returned, nullptr);
  error = done ? 0 : GetLastError();
  CloseHandle(control);
  return done != FALSE;
}

bool State(VSCAN_STATE& state) {
  DWORD returned = 0, error = 0;
  state = {};
  return Control(IOCTL_VSCAN_STATE, nullptr, 0, &state, sizeof state,
                 returned, error);
}

bool WaitFor(bool plugged) {
  const DWORD start = GetTickCount();
  do {
    VSCAN_STATE state;
    const bool reading = State(state) && state.Plugged && state.ReadsPending;
    if (usbsim::InterfacePresent() == plugged && reading == plugged) {
      return true;
    }
    Sleep(kPollMs);
  } while (GetTickCount() - start < kSettleMs);
  return false;
}

std::string PlugAndWait() {
  std::string problem = usbsim::Unplug();  // one left from an earlier run
  if (problem.empty()) problem = usbsim::Plug(wine::ProgramFolder());
  if (!problem.empty()) return "ERR " + problem;
  return WaitFor(true) ? "OK plugged" : "ERR the device did not start";
}

std::string UnplugAndWait() {
  const std::string problem = usbsim::Unplug();
  if (!problem.empty()) return "ERR " + problem;
  return WaitFor(false) ? "OK unplugged" : "ERR the device did not go";
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = text.substr(i, 2);
    const unsigned long value = strtoul(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return false;
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return true;
}

std::string SendInput(std::vector<uint8_t> report) {
  if (report.empty() || report.size() > VSCAN_INPUT_REPORT_SIZE) {
    return "ERR a report holds 1 to 65 bytes";
  }
  report.resize(VSCAN_INPUT_REPORT_SIZE, 0);
  DWORD returned = 0, error = 0;
  if (!Control(IOCTL_VSCAN_SEND_INPUT, report.data(),
               static_cast<DWORD>(report.size()), nullptr, 0, returned,
               error)) {
    return "ERR not taken: " + std::to_string(error);
  }
  return "OK";
}

// The label's report: data from byte 5, then the trailer, whose last byte
// byte 1 points at.
std::string Scan(const std::string& trailerHex, const std::string& label) {
  std::vector<uint8_t> trailer;
  if (!ParseHex(trailerHex, trailer) ||
      (trailer.size() != 1 && trailer.size() != 3)) {
    return "ERR a trailer is one or three bytes in hex";
  }
  const size_t last = 5 + label.size() + trailer.size() - 1;
  if (last >= VSCAN_INPUT_REPORT_SIZE) return "ERR the label is too long";
  std::vector<uint8_t> report(5, 0);
  report[1] = static_cast<uint8_t>(last);
  report.insert(report.end(), label.begin(), label.end());
  report.insert(report.end(), trailer.begin(), trailer.end());
  return SendInput(report);
}

std::string Outputs(int count, DWORD waitMs) {
  std::string answer = "OK";
  int taken = 0;
  const DWORD start = GetTickCount();
  for (;;) {
    uint8_t report[VSCAN_OUTPUT_REPORT_SIZE];
    DWORD returned = 0, error = 0;
    if (!Control(IOCTL_VSCAN_TAKE_OUTPUT, nullptr, 0, report, sizeof report,
                 returned, error)) {
      return "ERR " + std::to_string(error);
    }
    if (returned == sizeof report) {
      answer += " " + wine::Hex(std::string(report, report + sizeof report));
      ++taken;
      continue;
    }
    if (taken >= count || GetTickCount() - start >= waitMs) return answer;
    Sleep(kPollMs);
  }
}

std::string Execute(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  words >> command;
  if (command == "scan") {
    std::string trailer, label;
    words >> trailer;
    std::getline(words >> std::ws, label);
    return Scan(trailer, label);
  }
  if (command == "report") {
    std::string hex;
    words >> hex;
    std::vector<uint8_t> report;
    if (!ParseHex(hex, report)) return "ERR not hex";
    return SendInput(report);
  }
  if (command == "outputs") {
    int count = 0;
    DWORD waitMs = 0;
    words >> count >> waitMs;
    return Outputs(count, waitMs);
  }
  if (command == "refuse-output") {
    std::string setting;
    words >> setting;
    const ULONG refuse = setting == "on";
    DWORD returned = 0, error = 0;
    if (!Control(IOCTL_VSCAN_REFUSE_OUTPUT, &refuse, sizeof refuse, nullptr,
                 0, returned, error)) {
      return "ERR " + std::to_string(error);
    }
    return "OK";
  }
  if (command == "unplug") return UnplugAndWait();
  if (command == "plug") return PlugAndWait();
  if (command == "state") {
    VSCAN_STATE state;
    if (!State(state)) return "OK plugged=0 reads=0 queued=0";
    return "OK plugged=" + std::to_string(state.Plugged) +
           " reads=" + std::to_string(state.ReadsPending) +
           " queued=" + std::to_string(state.InputsQueued);
  }
  return "ERR unknown command: " + command;
}

void Answer(const std::string& line) {
  std::cout << line << std::endl;
}

}  // namespace

int main() {
  Answer(PlugAndWait());
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line == "quit") break;
    Answer(Execute(line));
  }
  const std::string problem = usbsim::Unplug();
  WaitFor(false);
  return problem.empty() ? 0 : 1;
}
