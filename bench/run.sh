#!/usr/bin/env bash
# Runs the benchmarks and writes docs/performance.md:
#   bench/run.sh [labels]      (default 1000 labels for the latency run)
# Host: decode cost per label (Google Benchmark); the USB path of the
# service object and of the JavaPOS bridge on a simulated device (report
# latency, idle wake-ups, Close of an idle device). Wine, for the 32-bit
# TALSCAN.dll in a 32-bit prefix and the 64-bit one in a 64-bit prefix:
# latency from a label's last byte on the pty to SOData, and the wake-ups
# per second of the Wine process with an idle device open and with it
# closed. Wine, 32-bit: the download rate of the portable scanners against
# their line rate.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
labels=${1:-1000}

scripts/install-deps.sh
mkdir -p build docs
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBENCH=ON >/dev/null
cmake --build build/bench -j2 --target decode_bench usb_bench >/dev/null
cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build build/windows -j2 --target serial_latency portable_download \
  talscan >/dev/null
cmake -S . -B build/windows64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
  -DWIN32_BIN_DIR="$root/build/windows/bin" >/dev/null
cmake --build build/windows64 -j2 --target serial_latency talscan >/dev/null

echo "Decode benchmark (host)..."
decode=$(build/bench/bench/decode_bench --benchmark_min_time=0.5 2>/dev/null |
  awk '/^BM_/ {printf "| `%s` | %s %s |\n", $1, $2, $3}')

# Context switches of every thread of a process: how often it woke up.
switches() {
  local pid=$1 total=0 task value
  for task in /proc/"$pid"/task/*/status; do
    value=$(awk '/ctxt_switches/ {s += $2} END {print s + 0}' "$task" 2>/dev/null || echo 0)
    total=$((total + value))
  done
  echo "$total"
}

echo "USB benchmark (host)..."
usb=$(build/bench/bench/usb_bench --benchmark_min_time=0.5 2>/dev/null)
usb_decode=$(echo "$usb" | awk '/^BM_DecodeReport/ {print $2, $3}')
# usb_counter <benchmark> <counter>
usb_counter() { echo "$usb" | grep "^$1" | grep -o "$2=[0-9.]*" | cut -d= -f2; }
service() { usb_counter BM_UsbReportToSOData "$1"; }
bridge() { usb_counter BM_BridgeIdle "$1"; }

# The serial latency run of one architecture's build, in its prefix:
#   serial_run <build dir> <win32|win64> <loader> <results file>
serial_run() {
  local dir=$1 arch=$2 loader=$3 out=$4 pid="" start=0
  WINEPREFIX="$root/$dir/wineprefix" WINEARCH=$arch testing/wine/session.sh \
    testing/sim/with_simulator.sh \
    "$loader" "$dir/bin/serial_latency.exe" "$labels" |
    while IFS= read -r line; do
      line=${line%$'\r'}
      case "$line" in
        RESULT*) echo "$line" >>"$out" ;;
        "MARK idle-open-start" | "MARK idle-closed-start")
          pid=$(pgrep -f '^[^ ]*serial_latency\.exe' | head -1)
          start=$(switches "$pid")
          ;;
        "MARK idle-open-end" | "MARK idle-closed-end")
          phase=${line#MARK idle-}
          phase=${phase%-end}
          echo "RESULT wakeups_per_second_$phase $(( ($(switches "$pid") - start) / 10 ))" >>"$out"
          ;;
        *) echo "$line" ;;
      esac
    done
}

results=$(mktemp)
results64=$(mktemp)
echo "Latency benchmark (Wine, 32-bit, $labels labels)..."
serial_run build/windows win32 wine "$results"
echo "Latency benchmark (Wine, 64-bit, $labels labels)..."
serial_run build/windows64 win64 /usr/lib/wine/wine64 "$results64"
echo "Latency benchmark with TraceLevel 3 (Wine, 32-bit, $labels labels)..."
WINEPREFIX="$root/build/windows/wineprefix" WINEARCH=win32 testing/wine/session.sh \
  testing/sim/with_simulator.sh wine build/windows/bin/serial_latency.exe \
  "$labels" 3 | tr -d '\r' | grep '^RESULT traced_' >>"$results"
export WINEPREFIX="$root/build/windows/wineprefix"
echo "Portable download benchmark (Wine)..."
testing/wine/session.sh testing/sim/with_simulator.sh \
  wine build/windows/bin/portable_download.exe 200 | tr -d '\r' |
  grep '^RESULT' >>"$results"
value() { awk -v key="$1" '$2 == key {print $3}' "$results"; }
value64() { awk -v key="$1" '$2 == key {print $3}' "$results64"; }
# A table row of both architectures' figures: | label | x86 | x64 |
both() { echo "| $1 | $(value "$2") | $(value64 "$2") |"; }

cat >docs/performance.md <<DOC
# Performance

Measured by \`bench/run.sh\` on $(date -u +%Y-%m-%d) on $(nproc) cores of
"$(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)", $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo),
$(. /etc/os-release && echo "$PRETTY_NAME"), $(wine --version). Figures are
measurements of one run, not limits; the tests assert none of them.

## Decoding a label (host, Google Benchmark, Release build)

| Benchmark | Time per label |
|---|---|
$decode

\`BM_BuildScanData/<mode>/<conversion>\` turns one frame into ScanData,
ScanDataLabel and ScanDataType; \`BM_DeliverFrameAtOnce\` is the whole
hand-off of a finished frame to the application (decision, decoding, data
event); \`BM_QueueAndDrain\` queues a label and delivers it from the queue.

Allocations per label on the receive path: 0. The tests of
\`talscan/tests/allocation_test.cpp\` count every allocation while 800 labels
are received from a fixed scanner, decoded (with the longest conversion),
delivered at once or queued and drained, and while a portable scanner
downloads 100 Code 128 records, and assert that there is none.

## Label latency under Wine

The real \`TALSCAN.dll\` under Wine, opened on a pty that the simulator
plays at 9600 baud with two stop bits; $(value labels) labels of
$(value label_bytes) bytes (\`A012345678905\` CR LF), each sent at a random
moment 0 to 300 ms after the previous one was delivered. Latency runs from
the simulator's write of the last byte to the moment SOData reaches the
control object (both clocks are CLOCK_MONOTONIC_RAW; calibration round
trip $(value clock_calibration_round_trip_us) µs and
$(value64 clock_calibration_round_trip_us) µs). The 32-bit library runs in
a 32-bit prefix, the 64-bit one, with a 64-bit application, in a 64-bit
(WoW64) prefix. The simulator notes its time once its write of the last
byte has returned, so a label can reach the control object a little
before it: the least figures may lie below zero.

| ms | x86 | x64 |
|---|---|---|
$(both "the label's own wire time" wire_time_ms)
$(both "latency, median" latency_median_ms)
$(both "latency, 90th percentile" latency_p90_ms)
$(both "latency, 99th percentile" latency_p99_ms)
$(both "latency, least" latency_min_ms)
$(both "latency, most" latency_max_ms)
$(both "a label after ten seconds of silence" latency_after_idle_ms)

### With the trace on

The same run of the 32-bit library with the device entry's TraceLevel 3
(every byte read and written, every event and label, in a file of its
own): $(value traced_labels) labels, $(value traced_bytes_per_label) bytes of trace per label.
The trace off is the run above: the receive path then only loads the
level once per byte and label, and allocates nothing
(\`talscan/tests/allocation_test.cpp\`).

| ms, x86 | trace off | TraceLevel 3 |
|---|---|---|
| latency, median | $(value latency_median_ms) | $(value traced_latency_median_ms) |
| latency, 90th percentile | $(value latency_p90_ms) | $(value traced_latency_p90_ms) |
| latency, 99th percentile | $(value latency_p99_ms) | $(value traced_latency_p99_ms) |
| latency, most | $(value latency_max_ms) | $(value traced_latency_max_ms) |

Each line is one append (open, write, close of the file), made on the
thread of the event; a label of 15 bytes at level 3 is 15 lines of its
bytes and one of the label. The two runs come one after the other, and
their tails (99th percentile, most) vary from run to run by more than the
trace adds: the medians show what it costs.

The receive loop waits for the port's first byte with an overlapped read
that returns the moment the byte arrives, and then reads one byte per call
while bytes come. Its pause after an empty read (about 101 ms of silence)
is that same wait, bounded at 250 ms while a frame is under way. A label is
therefore taken as fast as its bytes arrive, whenever it starts.

## Wake-ups of an idle device

Context switches per second of all threads of the Wine process over ten
seconds with the device open and idle, and again after Close:

| per second | x86 | x64 |
|---|---|---|
$(both "device open, no label" wakeups_per_second_open)
$(both "device closed" wakeups_per_second_closed)

With nothing under way, the loop waits up to 30 s for a byte, so an idle
port wakes it about twice a minute. Close and a programming run
end the wait at once. Under Wine each wait and each read costs several
switches between the process and the Wine server. The closed figure is the
Wine process's own, which this driver cannot lower; the open device adds
no more than that figure varies from run to run.

## Close of an idle device, and the silence of a portable scanner

Close of an open fixed scanner that has been idle for a random 0 to 1.5 s,
20 times: $(value close_idle_median_ms) ms median, $(value close_idle_max_ms) ms at most
(x64: $(value64 close_idle_median_ms) ms and $(value64 close_idle_max_ms) ms). Close of an open,
idle USB scanner: see below.

A portable M-20 that sends its ready packet and then never answers the
download request is given up with status 900 after
$(value portable_silence_min_ms) to $(value portable_silence_max_ms) ms of silence (3 runs). That is eleven
periods of silence of about 351 ms: a 250 ms wait and a 101 ms read.

## USB scanner (host)

Decoding one input report (\`BM_DecodeReport\`, a UPC-A with its one-byte
trailer): $usb_decode. The service object's HID receive thread on a
simulated device that waits for a report as a real one does (an event
wait that Close can end, in slices of 1 s), 1000 reports, each sent once
the last one was delivered:

| | |
|---|---|
| report to SOData, median | $(service latency_median_us) µs |
| report to SOData, 99th percentile | $(service latency_p99_us) µs |

The same simulated device open and idle for four seconds, then closed:
under the service object, and under the JavaPOS bridge with a reader
thread that calls \`GetUsbData\` in a loop, as a JavaPOS service does.

| | service object | bridge |
|---|---|---|
| wake-ups per second, device open, no label | $(service idle_wakeups_per_second) | $(bridge idle_wakeups_per_second) |
| Close of the idle device, ms | $(service close_idle_ms) | $(bridge close_idle_ms) |

The receive loop wakes once a slice only in case a Close came without
ending its wait; Close ends the wait at once through the device's stop
event, so it returns as soon as the thread has cancelled its read. The
bridge's wake-ups count the receive thread's waits and the reader's
returns: while a device is open a call waits until a label comes or the
device is closed. With nothing open a call waits 500 ms before it returns
without a label: the reader's loop then comes back
$(bridge closed_returns_per_second) times a second instead of spinning.

## Portable scanner download

A download through the real \`TALSCAN.dll\` under Wine from the simulated
portable scanner, which sends at the line rate and lets each of the
driver's acknowledgements take its wire time before it answers (the
protocol is stop-and-wait). Records are \`A\` and twelve digits: a
17-byte record packet and a 5-byte acknowledgement, 11 bits a byte. The
application takes every label from inside its data event.

| | records | seconds | records per second | the line allows |
|---|---|---|---|---|
| M-20, 9600 baud | $(value download_9600_records) | $(value download_9600_seconds) | $(value download_9600_records_per_second) | $(value download_9600_line_limit) |
| M-40, 2400 baud | $(value download_2400_records) | $(value download_2400_seconds) | $(value download_2400_records_per_second) | $(value download_2400_line_limit) |

The difference to the line's limit is the time between packets: the
driver reads a record, acknowledges it, delivers it, and the scanner
starts the next one only after the acknowledgement.
DOC
rm -f "$results" "$results64"
echo "Wrote docs/performance.md"
