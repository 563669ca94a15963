// OPOS numbers the service object uses: result codes, states, property
// indices and symbology codes. They are the standard's values and are used
// by number across the COM boundary.
#pragma once

namespace opos {

// Result codes. The service object returns and records no others.
constexpr long kSuccess = 0;
constexpr long kClosed = 101;
constexpr long kClaimed = 102;
constexpr long kNotClaimed = 103;
constexpr long kIllegal = 106;
constexpr long kFailure = 111;
// Results of a control object itself, before a service object answers.
constexpr long kNoService = 104;
constexpr long kNoExist = 109;

// Device states.
constexpr long kStateClosed = 1;
constexpr long kStateIdle = 2;

constexpr long kServiceObjectVersion = 1006008;
constexpr long kPowerStateUnknown = 2000;

// Status updates (OPOS_SUE_): the device came back, or went off or offline.
namespace sue {
constexpr long PowerOnline = 2001;
constexpr long PowerOffOffline = 2004;
}  // namespace sue

// Numeric property indices (PIDX_ and PIDXScan_).
namespace pidx {
constexpr long Claimed = 1;
constexpr long DataEventEnabled = 2;
constexpr long DeviceEnabled = 3;
constexpr long FreezeEvents = 4;
constexpr long OutputID = 5;
constexpr long ResultCode = 6;
constexpr long ResultCodeExtended = 7;
constexpr long ServiceObjectVersion = 8;
constexpr long State = 9;
constexpr long AutoDisable = 10;
constexpr long BinaryConversion = 11;
constexpr long DataCount = 12;
constexpr long PowerNotify = 13;
constexpr long PowerState = 14;
constexpr long CapPowerReporting = 501;
constexpr long DecodeData = 10001;
constexpr long ScanDataType = 10002;

// String property indices.
constexpr long CheckHealthText = 1000001;
constexpr long DeviceDescription = 1000002;
constexpr long DeviceName = 1000003;
constexpr long ServiceObjectDescription = 1000004;
constexpr long ScanData = 1010001;
constexpr long ScanDataLabel = 1010002;
}  // namespace pidx

// Symbology codes (SCAN_SDT_).
namespace sdt {
constexpr long Unknown = 0;
constexpr long UPCA = 101;
constexpr long UPCE = 102;
constexpr long EAN8 = 103;
constexpr long EAN13 = 104;
constexpr long TF = 105;
constexpr long ITF = 106;
constexpr long Codabar = 107;
constexpr long Code39 = 108;
constexpr long Code93 = 109;
constexpr long Code128 = 110;
constexpr long UPCA_S = 111;
constexpr long UPCE_S = 112;
constexpr long EAN8_S = 118;
constexpr long EAN13_S = 119;
constexpr long Other = 501;
}  // namespace sdt

}  // namespace opos
