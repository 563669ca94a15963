/* What the virtual scanner's driver and the program that drives it share:
 * the control device's name and its requests. The control device is a
 * plain named device of the same driver; the scanner itself is a HID
 * device that only the HID class driver talks to. */
#ifndef VIRTUAL_SCANNER_CONTROL_PROTOCOL_H
#define VIRTUAL_SCANNER_CONTROL_PROTOCOL_H

#define VSCAN_CONTROL_NT_NAME L"\\Device\\VirtualUsbScannerControl"
#define VSCAN_CONTROL_LINK L"\\DosDevices\\VirtualUsbScannerControl"
#define VSCAN_CONTROL_PATH "\\\\.\\VirtualUsbScannerControl"

/* The scanner as the host sees it. */
#define VSCAN_VENDOR_ID 0x0000
#define VSCAN_PRODUCT_ID 0x000A
#define VSCAN_INPUT_REPORT_SIZE 65  /* the report identifier 0 and 64 bytes */
#define VSCAN_OUTPUT_REPORT_SIZE 12 /* the report identifier 0 and 11 bytes */

#define VSCAN_CODE(function)                                        \
  CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900 + (function), METHOD_BUFFERED, \
           FILE_ANY_ACCESS)

/* In: one whole input report (its identifier byte first, at most
 * VSCAN_INPUT_REPORT_SIZE bytes). Fails with STATUS_DEVICE_NOT_CONNECTED
 * while the scanner is unplugged, and with STATUS_DEVICE_BUSY when the
 * host has left too many reports unread. */
#define IOCTL_VSCAN_SEND_INPUT VSCAN_CODE(0)
/* Out: the oldest output report the host wrote and nobody took yet
 * (VSCAN_OUTPUT_REPORT_SIZE bytes), or nothing. */
#define IOCTL_VSCAN_TAKE_OUTPUT VSCAN_CODE(1)
/* In: a ULONG, not 0 for a scanner that fails every output report
 * (STATUS_IO_DEVICE_ERROR), 0 for one that takes them again. */
#define IOCTL_VSCAN_REFUSE_OUTPUT VSCAN_CODE(3)
/* Out: a VSCAN_STATE record. */
#define IOCTL_VSCAN_STATE VSCAN_CODE(2)

typedef struct VSCAN_STATE {
  unsigned long Plugged;       /* the HID device is started */
  unsigned long ReadsPending;  /* the HID class driver waits for a report */
  unsigned long InputsQueued;  /* reports not yet handed to the host */
} VSCAN_STATE;

#endif
