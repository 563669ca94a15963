// Download rate of a portable scanner through the real TALSCAN.dll under
// Wine, with the simulator sending at the line rate, at 9600 baud (M-20)
// and 2400 baud (M-40), set beside what the line allows for the same bytes.
#include "testing/wine/simulator_client.h"  // winsock2.h before windows.h

#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/timing_control.h"
#include "common/opos/opos.h"
#include "testing/wine/wine_support.h"

namespace {

constexpr char kPort[] = "COM9";
constexpr char kDevice[] = "DownloadBench";
// A record packet: start, sequence, "A" and twelve digits, end, check; the
// acknowledgement: start, sequence, ACK, end, check.
constexpr int kRecordPacketBytes = 2 + 13 + 2;
constexpr int kAckPacketBytes = 5;

double Seconds(LONGLONG from, LONGLONG to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to - from) /
         static_cast<double>(frequency.QuadPart);
}

bool Measure(wine::SimulatorClient& sim, const char* type, int baud,
             int records) {
  const std::string port = kPort;
  sim.OpenPort(port);
  sim.Pace(port, baud);
  sim.Command("PORTABLE " + port + " " + std::to_string(records));
  wine::WriteStandardEntry(kDevice, type, kPort);
  wine::Dispatch so = wine::Dispatch::Create(L"TALSCAN.ScannerSO");
  TimingControl control;
  control.ReenableOn(so.get());
  if (so.CallLong(L"OpenService", {wine::Bstr("Scanner"), wine::Bstr(kDevice),
                                   wine::DispatchVariant(&control)}) != 0) {
    printf("OpenService failed\n");
    return false;
  }
  so.CallLong(L"Claim", {wine::Long(0)});
  so.CallLong(L"SetPropertyNumber",
              {wine::Long(opos::pidx::DeviceEnabled), wine::Long(1)});
  so.CallLong(L"SetPropertyNumber",
              {wine::Long(opos::pidx::DataEventEnabled), wine::Long(1)});
  so.CallLong(L"DirectIO", {wine::Long(200), wine::Long(0), wine::Bstr("")});
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  sim.Command("READY " + port);
  while (control.LastStatus() == 0) {
    if (!control.WaitForCallback(30000)) break;
  }
  const bool complete = control.LastStatus() == 800;
  const double seconds = Seconds(start.QuadPart, control.LastStatusTime());
  const double bytesPerSecond = baud / 11.0;  // 8 data bits, 2 stop bits
  const double lineLimit =
      bytesPerSecond / (kRecordPacketBytes + kAckPacketBytes);
  printf("RESULT download_%d_status %ld\n", baud, control.LastStatus());
  printf("RESULT download_%d_records %ld\n", baud, control.DataEvents());
  printf("RESULT download_%d_seconds %.2f\n", baud, seconds);
  printf("RESULT download_%d_records_per_second %.1f\n", baud,
         control.DataEvents() / seconds);
  printf("RESULT download_%d_line_limit %.1f\n", baud, lineLimit);
  so.CallLong(L"Close");
  sim.ClosePort(port);
  return complete && control.DataEvents() == records;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  CoInitialize(nullptr);
  wine::RegisterLibrary(wine::ProgramFolder() + "TALSCAN.dll");
  wine::SimulatorClient sim;
  const int records = argc > 1 ? atoi(argv[1]) : 200;
  const bool ok = sim.Connected() &&
                  Measure(sim, "Portable Scanner M-20", 9600, records) &&
                  Measure(sim, "Portable Scanner M-40", 2400, records / 4);
  CoUninitialize();
  return ok ? 0 : 1;
}
