// Request plumbing of the simulated HID class driver: its dispatch routine for
// every major function, the call into the minidriver at the class driver's own
// stack location, and the internal requests it sends to the minidriver.
#include "class_private.h"

#include "kernel_model.h"

#include "irp_completion.h"

namespace sim::hid {

struct InternalCall : SentRequest {};

namespace {

PDRIVER_DISPATCH SavedDispatch(PDEVICE_OBJECT device, UCHAR major) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_minidrivers.find(device->DriverObject);
    return it == g_minidrivers.end() ? nullptr : it->second.dispatch[major];
}

NTSTATUS PassDown(PDEVICE_OBJECT fdo, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IofCallDriver(Lower(fdo), irp);
}

} // namespace

PDEVICE_OBJECT Lower(PDEVICE_OBJECT fdo) {
    return static_cast<PHID_DEVICE_EXTENSION>(fdo->DeviceExtension)->NextDeviceObject;
}

// The minidriver sees the request at the class driver's own stack location,
// as if it had been sent to it directly.
NTSTATUS CallMinidriver(PDEVICE_OBJECT fdo, PIRP irp) {
    PDRIVER_DISPATCH routine = SavedDispatch(fdo, IoGetCurrentIrpStackLocation(irp)->MajorFunction);
    if (!routine)
        return PassDown(fdo, irp);
    return routine(fdo, irp);
}

// Installed for every major function of a registered minidriver's driver
// object. Requests to device objects the class driver did not make go
// straight to the minidriver.
NTSTATUS ClassDispatch(PDEVICE_OBJECT device, PIRP irp) {
    const UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    bool ours;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        ours = g_devices.count(device) != 0;
    }
    PDRIVER_DISPATCH routine = SavedDispatch(device, major);
    if (!ours)
        return routine ? routine(device, irp) : CompleteIrp(irp, STATUS_NOT_SUPPORTED);
    switch (major) {
    case IRP_MJ_PNP:
        return DispatchPnp(device, irp);
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
        return routine ? routine(device, irp) : CompleteIrp(irp, STATUS_SUCCESS);
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
        return routine ? routine(device, irp) : CompleteIrp(irp, STATUS_NOT_SUPPORTED);
    case IRP_MJ_POWER:
        if (routine)
            return routine(device, irp);
        PoStartNextPowerIrp(irp);
        IoSkipCurrentIrpStackLocation(irp);
        return PoCallDriver(Lower(device), irp);
    default:
        return routine ? routine(device, irp) : PassDown(device, irp);
    }
}

InternalCall* StartInternal(PDEVICE_OBJECT fdo, const InternalRequest& request) {
    PIRP irp = IoAllocateIrp(fdo->StackSize, FALSE);
    irp->IoStatus.Status = request.presetStatus;
    irp->IoStatus.Information = request.presetInformation;
    irp->UserBuffer = request.buffer;
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    sp->Parameters.DeviceIoControl.IoControlCode = request.code;
    sp->Parameters.DeviceIoControl.OutputBufferLength = request.outputLength;
    sp->Parameters.DeviceIoControl.InputBufferLength = request.inputLength;
    sp->Parameters.DeviceIoControl.Type3InputBuffer = request.inputBuffer;
    auto* call = new InternalCall;
    SendRequest(*call, fdo, irp);
    return call;
}

NTSTATUS Returned(const InternalCall* call) {
    return call->returned;
}

bool Completed(InternalCall* call) {
    return sim::Completed(*call);
}

RequestResult FinishInternal(InternalCall* call) {
    const RequestResult result = FinishRequest(*call);
    delete call;
    return result;
}

RequestResult SendInternal(PDEVICE_OBJECT fdo, const InternalRequest& request) {
    return FinishInternal(StartInternal(fdo, request));
}

} // namespace sim::hid
