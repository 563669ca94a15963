// The USB path on the host: decoding one input report; the service
// object's HID receive thread on a simulated device that waits as a real
// one does (report-to-SOData latency, idle wake-ups, Close of an idle
// device); the JavaPOS bridge on the same device with a Java-like reader
// (idle wake-ups, Close, and how often a call returns with nothing open).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "common/hid/hid_report.h"
#include "jposusb/bridge.h"
#include "talscan/core/scanner_service.h"
#include "testing/fakes/fake_bridge_platform.h"
#include "testing/fakes/fake_hid.h"
#include "testing/fakes/memory_registry.h"
#include "testing/fakes/memory_trace_files.h"
#include "testing/fakes/recording_event_sink.h"
#include "testing/fakes/recording_notifier.h"
#include "testing/fakes/scripted_serial_port.h"
#include "testing/fakes/std_thread_launcher.h"
#include "testing/fakes/virtual_clock.h"

namespace {

using Clock = std::chrono::steady_clock;

// Long enough to take in several of the receive loop's wait slices.
constexpr auto kIdleSpell = std::chrono::seconds(4);

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}
double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

std::vector<uint8_t> UpcReport() {
  std::vector<uint8_t> report(65, 0);
  const char digits[] = "012345678905";
  report[1] = 17;
  std::copy(digits, digits + 12, report.begin() + 5);
  report[17] = 0x0D;
  return report;
}

void BM_DecodeReport(benchmark::State& state) {
  const std::vector<uint8_t> report = UpcReport();
  uint8_t label[hid::kMaxReportLabel];
  for (auto _ : state) {
    benchmark::DoNotOptimize(hid::DecodeReport(
        report.data(), 65, hid::Trailers::kServiceObject, label));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeReport);

// Notes when each data event arrives.
class TimingSink : public EventSink {
 public:
  void FireSOData(long) override {
    std::lock_guard<std::mutex> lock(mutex_);
    times_.push_back(Clock::now());
    changed_.notify_all();
  }
  void FireSODirectIO(long, long&, std::string&) override {}
  void FireSOStatusUpdate(long) override {}
  Clock::time_point WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return times_.size() >= count; });
    return times_[count - 1];
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Clock::time_point> times_;
};

// One service object with an open USB scanner, for the latency and idle
// measurements (reported as counters of a single iteration).
void BM_UsbReportToSOData(benchmark::State& state) {
  fakes::MemoryRegistry registry;
  fakes::RecordingNotifier notifier;
  fakes::VirtualClock clock;
  fakes::StdThreadLauncher threads;
  fakes::ScriptedSerialPort serial(clock);
  fakes::FakeHidBus bus;
  fakes::MemoryTraceFiles traceFiles;
  TimingSink sink;
  auto scanner = bus.AddScanner("scanner");
  scanner->WaitInRealTime(true);
  const std::string path = DeviceKeyPathFor("Usb");
  registry.SetString(reg::Root::LocalMachine, path, "Port", "COM1");
  registry.SetString(reg::Root::LocalMachine, path, "Type", "OPOS USB Scanner");
  Platform platform{registry, notifier, clock, threads, serial, bus,
                    traceFiles};
  ScannerService service(platform);
  service.OpenService("Scanner", "Usb", fakes::Unowned(sink));

  std::vector<double> latencies;
  const std::vector<uint8_t> report = UpcReport();
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      service.SetPropertyNumber(opos::pidx::DataEventEnabled, 1);
      const Clock::time_point sent = Clock::now();
      scanner->AddReport(report);
      const Clock::time_point arrived = sink.WaitFor(latencies.size() + 1);
      latencies.push_back(
          std::chrono::duration<double, std::micro>(arrived - sent).count());
    }
  }
  std::sort(latencies.begin(), latencies.end());
  state.counters["latency_median_us"] = latencies[latencies.size() / 2];
  state.counters["latency_p99_us"] = latencies[latencies.size() * 99 / 100];

  const int before = scanner->Waits();
  std::this_thread::sleep_for(kIdleSpell);
  state.counters["idle_wakeups_per_second"] =
      (scanner->Waits() - before) / Seconds(kIdleSpell);
  const Clock::time_point closing = Clock::now();
  service.Close();
  state.counters["close_idle_ms"] = Milliseconds(Clock::now() - closing);
}
BENCHMARK(BM_UsbReportToSOData)->Iterations(1)->Unit(benchmark::kMillisecond);

// The bridge with a reader that calls GetUsbData in a loop, as a JavaPOS
// service's thread does: the wake-ups of the receive thread and of the
// reader while an open device is idle, Close, and the reader's returns
// once nothing is open.
void BM_BridgeIdle(benchmark::State& state) {
  fakes::FakeBridgePlatform platform;
  auto scanner = platform.bus.AddScanner("scanner");
  scanner->WaitInRealTime(true);
  jposusb::Bridge bridge(platform);
  std::atomic<bool> reading{true};
  std::atomic<int> returns{0};
  for (auto _ : state) {
    bridge.OpenHID();
    std::thread reader([&] {
      uint8_t array[jposusb::kLabelArraySize];
      while (reading) {
        bridge.GetUsbData(array, sizeof array);
        ++returns;
      }
    });
    const int waits = scanner->Waits();
    const int returnedOpen = returns;
    std::this_thread::sleep_for(kIdleSpell);
    state.counters["idle_wakeups_per_second"] =
        (scanner->Waits() - waits + returns - returnedOpen) /
        Seconds(kIdleSpell);

    const Clock::time_point closing = Clock::now();
    bridge.Close();
    state.counters["close_idle_ms"] = Milliseconds(Clock::now() - closing);

    const int returned = returns;
    std::this_thread::sleep_for(kIdleSpell);
    state.counters["closed_returns_per_second"] =
        (returns - returned) / Seconds(kIdleSpell);
    reading = false;
    reader.join();
  }
}
BENCHMARK(BM_BridgeIdle)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
