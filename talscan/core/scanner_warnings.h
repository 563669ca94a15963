// The two warnings shown when the scanner's byte stream is not what the
// driver expects. Both are always shown, whatever the DebugLevel.
#pragma once

#include "common/device_entry/entry_values.h"
#include "talscan/core/label_frame.h"
#include "talscan/core/notifier.h"
#include "talscan/core/scanner_programmer.h"

// The service object's ProgID.
extern const char* const kServiceCaption;

// The scanner sends labels in a form the driver cannot place: drops the
// frame, warns, and once the user has answered, programs the scanner.
void ReportScannerNotSetUp(LabelFrame& frame, Notifier& notifier,
                           ScannerProgrammer& programmer);

// A portable scanner's packet did not fit the frame: drops it and warns.
void ShowReceiveError(LabelFrame& frame, Notifier& notifier);
