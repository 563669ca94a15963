#include "common/hid/hid_receive_loop.h"

namespace hid {

namespace {

enum class Outcome { kReport, kNextPass, kEnd };

// Waits for a pending read in slices, so that a closed device is noticed
// within one slice.
Outcome AwaitRead(Device& device, ReceiveClient& client, int& count) {
  while (!device.WaitRead(kWaitSliceMs)) {
    if (!client.DeviceOpen()) {
      client.Report(ReceiveClient::Problem::kCancelling, 0);
      device.CancelRead();
      return Outcome::kEnd;
    }
  }
  uint32_t error = 0;
  if (device.FinishRead(count, error)) return Outcome::kReport;
  if (error == kErrorDeviceNotConnected) {
    client.Report(ReceiveClient::Problem::kDeviceRemoved, error);
    return Outcome::kEnd;
  }
  if (client.DeviceOpen()) {
    client.Report(ReceiveClient::Problem::kResultError, error);
  }
  return Outcome::kNextPass;
}

Outcome ReadReport(Device& device, ReceiveClient& client, uint8_t* buffer,
                   int& count) {
  uint32_t error = 0;
  switch (device.StartRead(buffer, kInputReportSize, count, error)) {
    case Device::ReadStart::kCompleted:
      return Outcome::kReport;
    case Device::ReadStart::kFailed:
      if (error == kErrorDeviceNotConnected) {
        client.Report(ReceiveClient::Problem::kDeviceRemoved, error);
        return Outcome::kEnd;
      }
      if (error != kErrorIoPending && client.DeviceOpen()) {
        client.Report(ReceiveClient::Problem::kReadError, error);
        return Outcome::kEnd;
      }
      return AwaitRead(device, client, count);
    case Device::ReadStart::kPending:
      return AwaitRead(device, client, count);
  }
  return Outcome::kEnd;
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
