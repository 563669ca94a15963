#include "talscan/core/scanner_warnings.h"

const char* const kServiceCaption = device_entry::kServiceProgID;

void ReportScannerNotSetUp(LabelFrame& frame, Notifier& notifier,
                           ScannerProgrammer& programmer) {
  frame.ResetFrame();
  notifier.ShowWarning(
      kServiceCaption,
      "BARCODE SCANNER IS NOT SETUP CORRECTLY!\n\nAfter you click OK the "
      "scanner will be configured. Please do not scan labels during this "
      "configuration of the scanner. The process may take up to 10 "
      "seconds.\n\nIf this message shows up again after the next scan, "
      "please contact your system administrator.");
  programmer.ProgramScanner();
}

void ShowReceiveError(LabelFrame& frame, Notifier& notifier) {
  frame.ResetFrame();
  notifier.ShowWarning(
      kServiceCaption,
      "MESSAGE RECEIVE ERROR!\n\nThe data received from the scanner was "
      "invalid. Please check connection and/or contact your system "
      "administrator.");
}
