#include "common/hid/hid_receive_loop.h"

namespace hid {

namespace {

enum class Outcome { kReport, kNextPass, kEnd };

// Waits for a pending read until it completes or the device stops the
// wait; the slices only bound how late a close is noticed without it.
Outcome AwaitRead(Device& device, ReceiveClient& client, int& count) {
  while (!device.WaitRead(kWaitSliceMs)) {
    if (!client.DeviceOpen()) {
      client.Report(ReceiveClient::Problem::kCancelling, 0);
      device.CancelRead();
      return Outcome::kEnd;
    }
  }
  const PlatformError error = device.FinishRead(count);
  if (!error.Failed()) return Outcome::kReport;
  if (error.Is(syserr::kDeviceNotConnected)) {
    client.Report(ReceiveClient::Problem::kDeviceRemoved, error.code);
    return Outcome::kEnd;
  }
  if (client.DeviceOpen()) {
    client.Report(ReceiveClient::Problem::kResultError, error.code);
  }
  return Outcome::kNextPass;
}

Outcome ReadReport(Device& device, ReceiveClient& client, uint8_t* buffer,
                   int& count) {
  const PlatformError error = device.StartRead(buffer, kInputReportSize, count);
  if (!error.Failed()) return Outcome::kReport;
  if (error.Is(syserr::kDeviceNotConnected)) {
    client.Report(ReceiveClient::Problem::kDeviceRemoved, error.code);
    return Outcome::kEnd;
  }
  if (!error.Is(syserr::kIoPending) && client.DeviceOpen()) {
    client.Report(ReceiveClient::Problem::kReadError, error.code);
    return Outcome::kEnd;
  }
  // Pending, or failed while the device is being closed: the failure of a
  // closing device is not reported, and the wait notices the close.
  return AwaitRead(device, client, count);
}

}  // namespace

void RunReceiveLoop(Device& device, ReceiveClient& client, Trailers trailers) {
  uint8_t report[kInputReportSize] = {};
  uint8_t label[kMaxReportLabel] = {};
  while (client.KeepReading()) {
    int count = 0;
    const Outcome outcome = ReadReport(device, client, report, count);
    if (outcome == Outcome::kEnd) break;
    if (outcome == Outcome::kNextPass) continue;
    client.Received(report, count);
    if (count < kMinimumReportSize) {
      if (client.DeviceOpen()) {
        client.Report(ReceiveClient::Problem::kShortRead,
                      static_cast<uint32_t>(count));
      }
      continue;
    }
    client.Deliver(label, DecodeReport(report, count, trailers, label));
  }
  device.Close();
}

}  // namespace hid
