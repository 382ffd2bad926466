// Internal device-control requests from the HID class driver. Resident: it
// also carries the read requests, which arrive at up to DISPATCH_LEVEL.
#include "hidg.h"

static NTSTATUS GetAttributes(GameDeviceExtension* ext, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (sp->Parameters.DeviceIoControl.OutputBufferLength < sizeof(HID_DEVICE_ATTRIBUTES))
        return STATUS_BUFFER_TOO_SMALL;
    auto* attributes = static_cast<PHID_DEVICE_ATTRIBUTES>(irp->UserBuffer);
    RtlZeroMemory(attributes, sizeof *attributes);
    const OemSettings& set = SelectedOemSet(ext);
    attributes->Size = sizeof *attributes;
    attributes->VendorID = set.VendorId;
    attributes->ProductID = set.ProductId;
    attributes->VersionNumber = 1;
    irp->IoStatus.Information = sizeof *attributes;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS DispatchInternalDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    GameDeviceExtension* ext = GetGameExtension(device);
    NTSTATUS status = AcquireRemoveLock(ext);
    if (!NT_SUCCESS(status)) {
        CompleteRequest(irp, status);
        return STATUS_SUCCESS;
    }

    switch (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR:
        status = GetHidDescriptor(device, irp);
        break;
    case IOCTL_HID_GET_REPORT_DESCRIPTOR:
        status = GetReportDescriptor(device, irp);
        break;
    case IOCTL_HID_READ_REPORT:
        status = ReadReport(device, irp);
        break;
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES:
        status = GetAttributes(ext, irp);
        break;
    default:
        status = STATUS_NOT_SUPPORTED;
        break;
    }

    irp->IoStatus.Status = status;
    ReleaseRemoveLock(ext);
    if (status == STATUS_PENDING) {
        IoMarkIrpPending(irp);
        return STATUS_PENDING;
    }
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}
