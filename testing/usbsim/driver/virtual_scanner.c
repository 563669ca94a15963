/* A HID minidriver for a scanner that exists only in a test prefix: the
 * HID class driver sees a device with the scanner's identity and report
 * descriptor; a control device of the same driver lets a test program
 * hand it input reports and take back the output reports the host wrote.
 * Unplugging is the removal of the root device, done by that program. */
#include <ntddk.h>

#include "hid_minidriver.h"
#include "../control_protocol.h"

/* Vendor page, 64 input bytes and 11 output bytes, no report identifiers:
 * Windows puts the identifier 0 in front of both. */
static const UCHAR report_descriptor[] = {
    0x06, 0x00, 0xFF, /* Usage Page (vendor 0xFF00) */
    0x09, 0x01,       /* Usage (1) */
    0xA1, 0x01,       /* Collection (Application) */
    0x15, 0x00,       /*   Logical Minimum (0) */
    0x26, 0xFF, 0x00, /*   Logical Maximum (255) */
    0x75, 0x08,       /*   Report Size (8) */
    0x95, VSCAN_INPUT_REPORT_SIZE - 1, /* Report Count */
    0x09, 0x01,       /*   Usage (1) */
    0x81, 0x02,       /*   Input (Data, Variable, Absolute) */
    0x95, VSCAN_OUTPUT_REPORT_SIZE - 1, /* Report Count */
    0x09, 0x01,       /*   Usage (1) */
    0x91, 0x02,       /*   Output (Data, Variable, Absolute) */
    0xC0,             /* End Collection */
};

static const WCHAR product_string[] = L"Virtual USB Scanner";

#define QUEUE_LENGTH 64

/* Everything the scanner and the control device share, under one lock:
 * there is at most one scanner. */
static struct {
  KSPIN_LOCK lock;
  BOOLEAN plugged;
  BOOLEAN refuse_output;
  LIST_ENTRY pending_reads;
  ULONG reads_pending;
  UCHAR inputs[QUEUE_LENGTH][VSCAN_INPUT_REPORT_SIZE];
  ULONG input_lengths[QUEUE_LENGTH];
  ULONG input_first, input_count;
  UCHAR outputs[QUEUE_LENGTH][VSCAN_OUTPUT_REPORT_SIZE];
  ULONG output_first, output_count;
} scanner;

static DEVICE_OBJECT *control_device;
/* The handlers in force after the class driver registered (its own, and
 * ours for PnP and internal requests), called for every device but the
 * control device. */
static DRIVER_DISPATCH *handlers[IRP_MJ_MAXIMUM_FUNCTION + 1];

static NTSTATUS complete(IRP *irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

/* Input reports reach the host without their identifier byte, as a device
 * without report identifiers sends them. */
static ULONG copy_report_data(IRP *irp, const UCHAR *report, ULONG length) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
  ULONG size = length > 1 ? length - 1 : 0;
  if (size > room) size = room;
  RtlCopyMemory(irp->UserBuffer, report + 1, size);
  return size;
}

/* Lets every waiting read of the class driver go: the device is gone. */
static void fail_pending_reads(void) {
  LIST_ENTRY failed;
  KIRQL irql;
  InitializeListHead(&failed);
  KeAcquireSpinLock(&scanner.lock, &irql);
  scanner.plugged = FALSE;
  while (!IsListEmpty(&scanner.pending_reads)) {
    InsertTailList(&failed, RemoveHeadList(&scanner.pending_reads));
  }
  scanner.reads_pending = 0;
  scanner.input_count = 0;
  KeReleaseSpinLock(&scanner.lock, irql);
  while (!IsListEmpty(&failed)) {
    LIST_ENTRY *entry = RemoveHeadList(&failed);
    complete(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry),
             STATUS_DELETE_PENDING, 0);
  }
}

static NTSTATUS read_report(IRP *irp) {
  UCHAR report[VSCAN_INPUT_REPORT_SIZE];
  ULONG length = 0;
  KIRQL irql;
  KeAcquireSpinLock(&scanner.lock, &irql);
  if (!scanner.plugged) {
    KeReleaseSpinLock(&scanner.lock, irql);
    return complete(irp, STATUS_DELETE_PENDING, 0);
  }
  if (scanner.input_count == 0) {
    IoMarkIrpPending(irp);
    InsertTailList(&scanner.pending_reads, &irp->Tail.Overlay.ListEntry);
    ++scanner.reads_pending;
    KeReleaseSpinLock(&scanner.lock, irql);
    return STATUS_PENDING;
  }
  length = scanner.input_lengths[scanner.input_first];
  RtlCopyMemory(report, scanner.inputs[scanner.input_first], length);
  scanner.input_first = (scanner.input_first + 1) % QUEUE_LENGTH;
  --scanner.input_count;
  KeReleaseSpinLock(&scanner.lock, irql);
  return complete(irp, STATUS_SUCCESS, copy_report_data(irp, report, length));
}

/* The class driver passes its transfer record as the input buffer (older
 * versions as the output buffer). */
static HID_XFER_PACKET *transfer_packet(IRP *irp) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.DeviceIoControl.Type3InputBuffer != NULL) {
    return stack->Parameters.DeviceIoControl.Type3InputBuffer;
  }
  return irp->UserBuffer;
}

static NTSTATUS write_report(IRP *irp) {
  HID_XFER_PACKET *packet = transfer_packet(irp);
  UCHAR *slot;
  ULONG size;
  KIRQL irql;
  if (packet == NULL || packet->reportBuffer == NULL) {
    return complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  size = packet->reportBufferLen;
  if (size > VSCAN_OUTPUT_REPORT_SIZE - 1) size = VSCAN_OUTPUT_REPORT_SIZE - 1;
  KeAcquireSpinLock(&scanner.lock, &irql);
  if (!scanner.plugged || scanner.refuse_output) {
    const NTSTATUS status = scanner.plugged ? STATUS_IO_DEVICE_ERROR
                                            : STATUS_DEVICE_NOT_CONNECTED;
    KeReleaseSpinLock(&scanner.lock, irql);
    return complete(irp, status, 0);
  }
  if (scanner.output_count == QUEUE_LENGTH) {  /* the oldest one makes room */
    scanner.output_first = (scanner.output_first + 1) % QUEUE_LENGTH;
    --scanner.output_count;
  }
  slot = scanner.outputs[(scanner.output_first + scanner.output_count) %
                         QUEUE_LENGTH];
  RtlZeroMemory(slot, VSCAN_OUTPUT_REPORT_SIZE);
  slot[0] = packet->reportId;
  RtlCopyMemory(slot + 1, packet->reportBuffer, size);
  ++scanner.output_count;
  KeReleaseSpinLock(&scanner.lock, irql);
  return complete(irp, STATUS_SUCCESS, packet->reportBufferLen);
}

static NTSTATUS copy_out(IRP *irp, const void *data, ULONG size) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < size) {
    return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  }
  RtlCopyMemory(irp->UserBuffer, data, size);
  return complete(irp, STATUS_SUCCESS, size);
}

static NTSTATUS WINAPI internal_ioctl(DEVICE_OBJECT *device, IRP *irp) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  (void)device;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
      HID_DESCRIPTOR descriptor;
      RtlZeroMemory(&descriptor, sizeof descriptor);
      descriptor.bLength = sizeof descriptor;
      descriptor.bDescriptorType = HID_HID_DESCRIPTOR_TYPE;
      descriptor.bcdHID = 0x0100;
      descriptor.bNumDescriptors = 1;
      descriptor.DescriptorList[0].bReportType = HID_REPORT_DESCRIPTOR_TYPE;
      descriptor.DescriptorList[0].wReportLength = sizeof report_descriptor;
      return copy_out(irp, &descriptor, sizeof descriptor);
    }
    case IOCTL_HID_GET_REPORT_DESCRIPTOR:
      return copy_out(irp, report_descriptor, sizeof report_descriptor);
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
      HID_DEVICE_ATTRIBUTES attributes;
      RtlZeroMemory(&attributes, sizeof attributes);
      attributes.Size = sizeof attributes;
      attributes.VendorID = VSCAN_VENDOR_ID;
      attributes.ProductID = VSCAN_PRODUCT_ID;
      attributes.VersionNumber = 0x0100;
      return copy_out(irp, &attributes, sizeof attributes);
    }
    case IOCTL_HID_GET_STRING:
      return copy_out(irp, product_string, sizeof product_string);
    case IOCTL_HID_READ_REPORT: return read_report(irp);
    case IOCTL_HID_WRITE_REPORT:
    case IOCTL_HID_SET_OUTPUT_REPORT: return write_report(irp);
    case IOCTL_HID_ACTIVATE_DEVICE:
    case IOCTL_HID_DEACTIVATE_DEVICE: return complete(irp, STATUS_SUCCESS, 0);
    default: return complete(irp, STATUS_NOT_SUPPORTED, 0);
  }
}

static NTSTATUS WINAPI pnp(DEVICE_OBJECT *device, IRP *irp) {
  HID_DEVICE_EXTENSION *extension = device->DeviceExtension;
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  KIRQL irql;
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      KeAcquireSpinLock(&scanner.lock, &irql);
      scanner.plugged = TRUE;
      scanner.refuse_output = FALSE;
      scanner.input_count = 0;
      scanner.output_count = 0;
      KeReleaseSpinLock(&scanner.lock, irql);
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
      fail_pending_reads();
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default: break;
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(extension->NextDeviceObject, irp);
}

static NTSTATUS WINAPI add_device(DRIVER_OBJECT *driver, DEVICE_OBJECT *fdo) {
  (void)driver;
  (void)fdo;
  return STATUS_SUCCESS;
}

/* The control device's requests; everything else goes to the class
 * driver, which took over the driver's dispatch table. */
static NTSTATUS control_ioctl(IRP *irp) {
  IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
  void *buffer = irp->AssociatedIrp.SystemBuffer;
  ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  KIRQL irql;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_VSCAN_SEND_INPUT: {
      IRP *waiting = NULL;
      UCHAR report[VSCAN_INPUT_REPORT_SIZE];
      if (in == 0 || in > VSCAN_INPUT_REPORT_SIZE) {
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
      }
      RtlCopyMemory(report, buffer, in);
      KeAcquireSpinLock(&scanner.lock, &irql);
      if (!scanner.plugged) {
        KeReleaseSpinLock(&scanner.lock, irql);
        return complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
      }
      if (!IsListEmpty(&scanner.pending_reads)) {
        waiting = CONTAINING_RECORD(RemoveHeadList(&scanner.pending_reads),
                                    IRP, Tail.Overlay.ListEntry);
        --scanner.reads_pending;
      } else if (scanner.input_count == QUEUE_LENGTH) {
        KeReleaseSpinLock(&scanner.lock, irql);
        return complete(irp, STATUS_DEVICE_BUSY, 0);
      } else {
        ULONG slot = (scanner.input_first + scanner.input_count) % QUEUE_LENGTH;
        RtlCopyMemory(scanner.inputs[slot], report, in);
        scanner.input_lengths[slot] = in;
        ++scanner.input_count;
      }
      KeReleaseSpinLock(&scanner.lock, irql);
      if (waiting != NULL) {
        complete(waiting, STATUS_SUCCESS, copy_report_data(waiting, report, in));
      }
      return complete(irp, STATUS_SUCCESS, 0);
    }
    case IOCTL_VSCAN_TAKE_OUTPUT: {
      ULONG taken = 0;
      if (out < VSCAN_OUTPUT_REPORT_SIZE) {
        return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      }
      KeAcquireSpinLock(&scanner.lock, &irql);
      if (scanner.output_count > 0) {
        RtlCopyMemory(buffer, scanner.outputs[scanner.output_first],
                      VSCAN_OUTPUT_REPORT_SIZE);
        scanner.output_first = (scanner.output_first + 1) % QUEUE_LENGTH;
        --scanner.output_count;
        taken = VSCAN_OUTPUT_REPORT_SIZE;
      }
      KeReleaseSpinLock(&scanner.lock, irql);
      return complete(irp, STATUS_SUCCESS, taken);
    }
    case IOCTL_VSCAN_REFUSE_OUTPUT:
      if (in < sizeof(ULONG)) return complete(irp, STATUS_INVALID_PARAMETER, 0);
      KeAcquireSpinLock(&scanner.lock, &irql);
      scanner.refuse_output = *(ULONG *)buffer != 0;
      KeReleaseSpinLock(&scanner.lock, irql);
      return complete(irp, STATUS_SUCCESS, 0);
    case IOCTL_VSCAN_STATE: {
      VSCAN_STATE state;
      if (out < sizeof state) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      KeAcquireSpinLock(&scanner.lock, &irql);
      state.Plugged = scanner.plugged;
      state.ReadsPending = scanner.reads_pending;
      state.InputsQueued = scanner.input_count;
      KeReleaseSpinLock(&scanner.lock, irql);
      RtlCopyMemory(buffer, &state, sizeof state);
      return complete(irp, STATUS_SUCCESS, sizeof state);
    }
    default: return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

/* The control device takes opening, closing and its requests, and refuses
 * the rest; it has none of the extension the class driver's handlers
 * expect. */
static NTSTATUS WINAPI dispatch(DEVICE_OBJECT *device, IRP *irp) {
  const UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
  if (device != control_device) return handlers[major](device, irp);
  switch (major) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE: return complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL: return control_ioctl(irp);
    default: return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

static void WINAPI unload(DRIVER_OBJECT *driver) {
  UNICODE_STRING link;
  (void)driver;
  RtlInitUnicodeString(&link, VSCAN_CONTROL_LINK);
  IoDeleteSymbolicLink(&link);
  if (control_device != NULL) IoDeleteDevice(control_device);
  control_device = NULL;
}

static NTSTATUS create_control_device(DRIVER_OBJECT *driver) {
  UNICODE_STRING name, link;
  NTSTATUS status;
  RtlInitUnicodeString(&name, VSCAN_CONTROL_NT_NAME);
  RtlInitUnicodeString(&link, VSCAN_CONTROL_LINK);
  status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE,
                          &control_device);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(control_device);
    control_device = NULL;
    return status;
  }
  control_device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registry) {
  HID_MINIDRIVER_REGISTRATION registration;
  NTSTATUS status;

  KeInitializeSpinLock(&scanner.lock);
  InitializeListHead(&scanner.pending_reads);

  driver->MajorFunction[IRP_MJ_PNP] = pnp;
  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = internal_ioctl;
  driver->DriverExtension->AddDevice = add_device;
  driver->DriverUnload = unload;

  RtlZeroMemory(&registration, sizeof registration);
  registration.Revision = HID_REVISION;
  registration.DriverObject = driver;
  registration.RegistryPath = registry;
  registration.DeviceExtensionSize = 0;
  registration.DevicesArePolled = FALSE;
  status = HidRegisterMinidriver(&registration);
  if (!NT_SUCCESS(status)) return status;

  for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
    handlers[major] = driver->MajorFunction[major];
    driver->MajorFunction[major] = dispatch;
  }
  return create_control_device(driver);
}
