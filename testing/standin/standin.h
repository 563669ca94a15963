// Identity of the stand-in OPOS Scanner control object: the standard
// control's CLSID and ProgID, our own event interface.
#pragma once

#include <windows.h>

// {CCB90182-B81E-11D2-AB74-0040054C3719}
inline const CLSID CLSID_OPOSScanner = {
    0xCCB90182,
    0xB81E,
    0x11D2,
    {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};
// {5E1A7C20-2B4D-4C8E-9F61-3A7B2D0C4E19}: the events the control raises.
inline const IID DIID_OPOSScannerEvents = {
    0x5E1A7C20,
    0x2B4D,
    0x4C8E,
    {0x9F, 0x61, 0x3A, 0x7B, 0x2D, 0x0C, 0x4E, 0x19}};

// Dispatch identifiers of the control's members.
namespace standin {

// Properties (get, and put where settable).
constexpr DISPID kDataEventEnabled = 16;
constexpr DISPID kDeviceEnabled = 17;
constexpr DISPID kFreezeEvents = 18;
constexpr DISPID kAutoDisable = 19;
constexpr DISPID kBinaryConversion = 20;
constexpr DISPID kClaimed = 21;
constexpr DISPID kDataCount = 22;
constexpr DISPID kResultCode = 23;
constexpr DISPID kState = 24;
constexpr DISPID kResultCodeExtended = 25;
constexpr DISPID kServiceObjectVersion = 26;
constexpr DISPID kDeviceDescription = 27;
constexpr DISPID kDeviceName = 28;
constexpr DISPID kServiceObjectDescription = 29;
constexpr DISPID kCheckHealthText = 30;
constexpr DISPID kDecodeData = 50;
constexpr DISPID kScanData = 51;
constexpr DISPID kScanDataLabel = 52;
constexpr DISPID kScanDataType = 53;

// Methods.
constexpr DISPID kClaimDevice = 32;
constexpr DISPID kReleaseDevice = 33;
constexpr DISPID kCheckHealth = 34;
constexpr DISPID kClose = 35;
constexpr DISPID kDirectIO = 36;
constexpr DISPID kOpen = 37;
constexpr DISPID kClearInput = 38;
constexpr DISPID kClearOutput = 39;
constexpr DISPID kCOFreezeEvents = 40;
// Raw access to the service object's property methods, for tests.
constexpr DISPID kGetPropertyNumber = 41;
constexpr DISPID kSetPropertyNumber = 42;
constexpr DISPID kGetPropertyString = 43;
constexpr DISPID kSetPropertyString = 44;
// The callbacks the service object has made since the last call, one line
// each; taking them empties the log.
constexpr DISPID kTakeCallbackLog = 60;

// Callbacks the service object calls by name.
constexpr DISPID kSOData = 101;
constexpr DISPID kSODirectIO = 102;
constexpr DISPID kSOError = 103;
constexpr DISPID kSOOutputComplete = 104;
constexpr DISPID kSOStatusUpdate = 105;

// Events raised to the application's sink.
constexpr DISPID kDataEvent = 1;
constexpr DISPID kDirectIOEvent = 2;
constexpr DISPID kErrorEvent = 3;
constexpr DISPID kOutputCompleteEvent = 4;
constexpr DISPID kStatusUpdateEvent = 5;

}  // namespace standin
