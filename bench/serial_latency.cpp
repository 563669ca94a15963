// Label latency of the real TALSCAN.dll under Wine: from the moment the
// simulated scanner has written a label's last byte on the pty to the
// moment SOData reaches the control object, over many labels sent at the
// line rate at random moments. Then an idle phase (device open, then
// closed) during which the runner counts the process's wake-ups, the time
// Close of an idle device takes, and the silence after which a portable
// scanner that does not answer is given up (status 900).
#include "testing/wine/simulator_client.h"  // winsock2.h before windows.h

#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/timing_control.h"
#include "common/opos/opos.h"
#include "testing/wine/wine_support.h"

namespace {

constexpr char kPort[] = "COM6";
constexpr char kDevice[] = "LatencyBench";
constexpr char kTraceFolder[] = "C:\\scanner-bench-traces";

double CounterToNs(LONGLONG counter) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter) * 1e9 /
         static_cast<double>(frequency.QuadPart);
}

// The simulator's clock minus this process's counter, taken where the
// round trip is shortest.
double ClockOffsetNs(wine::SimulatorClient& sim) {
  double best = 1e18;
  double offset = 0;
  for (int i = 0; i < 50; ++i) {
    LARGE_INTEGER before, after;
    QueryPerformanceCounter(&before);
    const double simulator = std::stod(sim.Command("NOW"));
    QueryPerformanceCounter(&after);
    const double trip =
        CounterToNs(after.QuadPart) - CounterToNs(before.QuadPart);
    if (trip < best) {
      best = trip;
      offset = simulator -
               (CounterToNs(before.QuadPart) + CounterToNs(after.QuadPart)) / 2;
    }
  }
  printf("RESULT clock_calibration_round_trip_us %.1f\n", best / 1000);
  return offset;
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1,
                                static_cast<size_t>(fraction * values.size()));
  return values[index];
}

double MsSince(LONGLONG start) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (CounterToNs(now.QuadPart) - CounterToNs(start)) / 1e6;
}

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

long Open(wine::Dispatch& so, TimingControl& control) {
  const long opened =
      so.CallLong(L"OpenService", {wine::Bstr("Scanner"), wine::Bstr(kDevice),
                                   wine::DispatchVariant(&control)});
  so.CallLong(L"Claim", {wine::Long(0)});
  so.CallLong(L"SetPropertyNumber",
              {wine::Long(opos::pidx::DeviceEnabled), wine::Long(1)});
  return opened;
}

// Close of an open, idle fixed scanner, at random moments of its silence.
void MeasureClose(wine::SimulatorClient& sim) {
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kPort);
  std::mt19937 random(54321);
  std::uniform_int_distribution<int> idleMs(0, 1500);
  std::vector<double> closes;
  for (int i = 0; i < 20; ++i) {
    wine::Dispatch so = wine::Dispatch::Create(L"TALSCAN.ScannerSO");
    TimingControl control;
    if (Open(so, control) != 0) return;
    Sleep(idleMs(random));
    const LONGLONG start = Now();
    so.CallLong(L"Close");
    closes.push_back(MsSince(start));
  }
  printf("RESULT close_idle_median_ms %.2f\n", Percentile(closes, 0.5));
  printf("RESULT close_idle_max_ms %.2f\n", Percentile(closes, 1));
}

// A portable scanner that says it is ready and then never answers the
// download request: the silence from its ready packet to the status 900
// that gives it up.
void MeasurePortableSilence(wine::SimulatorClient& sim) {
  wine::WriteStandardEntry(kDevice, "Portable Scanner M-20", kPort);
  std::vector<double> silences;
  for (int i = 0; i < 3; ++i) {
    wine::Dispatch so = wine::Dispatch::Create(L"TALSCAN.ScannerSO");
    TimingControl control;
    if (Open(so, control) != 0) return;
    so.CallLong(L"DirectIO", {wine::Long(200), wine::Long(0), wine::Bstr("")});
    Sleep(100 * i);
    const LONGLONG start = Now();
    sim.Command("READY " + std::string(kPort));
    while (control.LastStatus() != 900 && control.WaitForCallback(10000)) {
    }
    if (control.LastStatus() == 900) {
      silences.push_back(
          (CounterToNs(control.LastStatusTime()) - CounterToNs(start)) / 1e6);
    }
    so.CallLong(L"Close");
  }
  if (silences.empty()) return;
  printf("RESULT portable_silence_min_ms %.0f\n", Percentile(silences, 0));
  printf("RESULT portable_silence_max_ms %.0f\n", Percentile(silences, 1));
}

// With a trace level, only the latency run, under that trace: its figures
// are named traced_*, and the trace's size per label is given.
int Run(int labels, int traceLevel) {
  wine::RegisterLibrary(wine::ProgramFolder() + "TALSCAN.dll");
  wine::SimulatorClient sim;
  if (!sim.Connected()) {
    printf("no simulator\n");
    return 1;
  }
  sim.OpenPort(kPort);
  sim.Pace(kPort, 9600);
  wine::WriteStandardEntry(kDevice, "Omni-directional Laser", kPort);
  const std::string traceFile =
      std::string(kTraceFolder) + "\\" + kDevice + ".log";
  if (traceLevel > 0) {
    wine::WriteDeviceEntry(kDevice, {wine::Dword("TraceLevel", traceLevel),
                                     wine::Text("TraceFolder", kTraceFolder)});
    DeleteFileA(traceFile.c_str());
  }
  const std::string name = traceLevel > 0 ? "traced_" : "";
  wine::Dispatch so = wine::Dispatch::Create(L"TALSCAN.ScannerSO");
  TimingControl control;
  const long opened =
      so.CallLong(L"OpenService", {wine::Bstr("Scanner"), wine::Bstr(kDevice),
                                   wine::DispatchVariant(&control)});
  if (opened != 0) {
    printf("OpenService -> %ld\n", opened);
    return 1;
  }
  so.CallLong(L"Claim", {wine::Long(0)});
  so.CallLong(L"SetPropertyNumber",
              {wine::Long(opos::pidx::DeviceEnabled), wine::Long(1)});
  so.CallLong(L"SetPropertyNumber",
              {wine::Long(opos::pidx::DecodeData), wine::Long(1)});

  const double offset = ClockOffsetNs(sim);
  const std::string label = "A012345678905\r\n";
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> gapMs(0, 300);
  std::vector<double> latencies;
  for (int i = 0; i < labels; ++i) {
    Sleep(gapMs(random));
    so.CallLong(L"SetPropertyNumber",
                {wine::Long(opos::pidx::DataEventEnabled), wine::Long(1)});
    const double written = std::stod(
        sim.Command("FEEDT " + std::string(kPort) + " " + wine::Hex(label)));
    if (!control.WaitForCallback(5000)) {
      printf("label %d: no SOData\n", i);
      return 1;
    }
    latencies.push_back((CounterToNs(control.LastData()) + offset - written) /
                        1e6);
  }
  const double wireMs = label.size() * 11 * 1000.0 / 9600;
  printf("RESULT %slabels %d\n", name.c_str(), labels);
  printf("RESULT label_bytes %zu\n", label.size());
  printf("RESULT wire_time_ms %.2f\n", wireMs);
  printf("RESULT %slatency_median_ms %.2f\n", name.c_str(),
         Percentile(latencies, 0.5));
  printf("RESULT %slatency_p90_ms %.2f\n", name.c_str(),
         Percentile(latencies, 0.9));
  printf("RESULT %slatency_p99_ms %.2f\n", name.c_str(),
         Percentile(latencies, 0.99));
  printf("RESULT %slatency_min_ms %.2f\n", name.c_str(),
         Percentile(latencies, 0));
  printf("RESULT %slatency_max_ms %.2f\n", name.c_str(),
         Percentile(latencies, 1));
  if (traceLevel > 0) {
    so.CallLong(L"Close");
    WIN32_FILE_ATTRIBUTE_DATA file = {};
    GetFileAttributesExA(traceFile.c_str(), GetFileExInfoStandard, &file);
    printf("RESULT traced_bytes_per_label %lu\n", file.nFileSizeLow / labels);
    sim.ClosePort(kPort);
    return 0;
  }

  // The runner samples this process's context switches between the marks.
  printf("MARK idle-open-start\n");
  Sleep(10000);
  printf("MARK idle-open-end\n");
  // A label after the long silence, taken as fast as the others.
  so.CallLong(L"SetPropertyNumber",
              {wine::Long(opos::pidx::DataEventEnabled), wine::Long(1)});
  const double afterIdle = std::stod(
      sim.Command("FEEDT " + std::string(kPort) + " " + wine::Hex(label)));
  if (control.WaitForCallback(5000)) {
    printf("RESULT latency_after_idle_ms %.2f\n",
           (CounterToNs(control.LastData()) + offset - afterIdle) / 1e6);
  }
  so.CallLong(L"Close");
  printf("MARK idle-closed-start\n");
  Sleep(10000);
  printf("MARK idle-closed-end\n");

  MeasureClose(sim);
  MeasurePortableSilence(sim);
  sim.ClosePort(kPort);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  CoInitialize(nullptr);
  const int result =
      Run(argc > 1 ? atoi(argv[1]) : 1000, argc > 2 ? atoi(argv[2]) : 0);
  CoUninitialize();
  return result;
}
