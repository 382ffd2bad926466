// Plug and Play in the simulated HID class driver: the descriptors fetched
// after a start, reads started and stopped with the device, deletion after
// removal.
#include "class_private.h"

namespace sim::hid {
namespace {

NTSTATUS FetchOne(PDEVICE_OBJECT fdo, ULONG code, PVOID buffer, ULONG length) {
    InternalRequest request;
    request.code = code;
    request.buffer = buffer;
    request.outputLength = length;
    return SendInternal(fdo, request).status;
}

// After a start, as the platform's class driver does: the attributes (into a
// zeroed buffer), the HID descriptor, then the report descriptor at the length
// that the HID descriptor gives.
NTSTATUS FetchDescriptors(PDEVICE_OBJECT fdo, DeviceInfo& out) {
    NTSTATUS status =
        FetchOne(fdo, IOCTL_HID_GET_DEVICE_ATTRIBUTES, &out.attributes, sizeof out.attributes);
    if (!NT_SUCCESS(status))
        return status;
    status = FetchOne(fdo, IOCTL_HID_GET_DEVICE_DESCRIPTOR, &out.hidDescriptor,
                      sizeof out.hidDescriptor);
    if (!NT_SUCCESS(status))
        return status;
    if (out.hidDescriptor.bNumDescriptors < 1 ||
        out.hidDescriptor.DescriptorList[0].bReportType != HID_REPORT_DESCRIPTOR_TYPE)
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    out.reportDescriptor.assign(out.hidDescriptor.DescriptorList[0].wReportLength, 0);
    return FetchOne(fdo, IOCTL_HID_GET_REPORT_DESCRIPTOR, out.reportDescriptor.data(),
                    ULONG(out.reportDescriptor.size()));
}

NTSTATUS StartDevice(PDEVICE_OBJECT fdo, PIRP irp) {
    const NTSTATUS status = CallMinidriver(fdo, irp);
    if (!NT_SUCCESS(status) || status == STATUS_PENDING)
        return status;
    DeviceInfo fetched;
    const NTSTATUS fetch = FetchDescriptors(fdo, fetched);
    {
        std::lock_guard<std::mutex> guard(g_lock);
        DeviceInfo& info = g_devices.at(fdo).info;
        info.descriptorStatus = fetch;
        info.attributes = fetched.attributes;
        info.hidDescriptor = fetched.hidDescriptor;
        info.reportDescriptor = fetched.reportDescriptor;
        info.started = NT_SUCCESS(fetch);
    }
    if (NT_SUCCESS(fetch))
        StartReads(fdo);
    return status;
}

} // namespace

NTSTATUS DispatchPnp(PDEVICE_OBJECT fdo, PIRP irp) {
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return StartDevice(fdo, irp);
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        StopReads(fdo);
        {
            std::lock_guard<std::mutex> guard(g_lock);
            g_devices.at(fdo).info.started = false;
        }
        return CallMinidriver(fdo, irp);
    case IRP_MN_REMOVE_DEVICE: {
        StopReads(fdo);
        const NTSTATUS status = CallMinidriver(fdo, irp);
        DeleteDevice(fdo);
        return status;
    }
    default:
        return CallMinidriver(fdo, irp);
    }
}

} // namespace sim::hid
