// The HID class driver's internal requests: descriptors and attributes from
// fixed tables, read requests handed to the driver below.
#include "vmd.h"

namespace vmd {

const UCHAR HidDescriptor[kHidDescriptorBytes] = {
    0x09, 0x21, 0x00, 0x01, 0x00, 0x01, 0x22, kReportDescriptorBytes, 0x00};

const UCHAR ReportDescriptor[kReportDescriptorBytes] = {
    // Keyboard, report id 1: one bit per usage 0x00 to 0xE7 of the keyboard page.
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x07, 0x19, 0x00, 0x29, 0xE7, 0x15, 0x00,
    0x25, 0x01, 0x75, 0x01, 0x95, 0xE8, 0x81, 0x02, 0xC0,
    // Mouse, report id 2: three buttons, five pad bits, relative X and Y.
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x02, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01,
    0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05,
    0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02,
    0x81, 0x06, 0xC0, 0xC0};

namespace {

// Each answer checks the length first: a short buffer gets nothing written
// and keeps the byte count it came with.
ZEL_PAGEABLE NTSTATUS CopyAnswer(PIRP irp, ULONG outputLength, const void* answer, ULONG size) {
    PAGED_CODE();
    if (outputLength < size)
        return STATUS_BUFFER_TOO_SMALL;
    RtlCopyMemory(irp->UserBuffer, answer, size);
    irp->IoStatus.Information = size;
    return STATUS_SUCCESS;
}

ZEL_PAGEABLE NTSTATUS GetDeviceAttributes(PIRP irp, ULONG outputLength) {
    PAGED_CODE();
    HID_DEVICE_ATTRIBUTES attributes;
    RtlZeroMemory(&attributes, sizeof attributes);
    attributes.Size = sizeof(HID_DEVICE_ATTRIBUTES);
    attributes.VendorID = kVendorId;
    attributes.ProductID = kProductId;
    attributes.VersionNumber = kVersionNumber;
    return CopyAnswer(irp, outputLength, &attributes, sizeof attributes);
}

} // namespace

// Resident: read requests come through here at up to DISPATCH_LEVEL.
NTSTATUS NTAPI DispatchInternalDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const ULONG outputLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
    NTSTATUS status;
    switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_HID_READ_REPORT:
        // The driver below fills and completes it; its result is ours.
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(LowerDevice(device), irp);
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR:
        status = CopyAnswer(irp, outputLength, HidDescriptor, sizeof HidDescriptor);
        break;
    case IOCTL_HID_GET_REPORT_DESCRIPTOR:
        status = CopyAnswer(irp, outputLength, ReportDescriptor, sizeof ReportDescriptor);
        break;
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES:
        status = GetDeviceAttributes(irp, outputLength);
        break;
    default:
        status = STATUS_NOT_SUPPORTED;
        break;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

} // namespace vmd
