// Plug and Play and power requests: the start handshake with the driver
// below, the id reply, and the record of the device's Plug and Play state.
#include "vmd.h"

namespace vmd {

// "HID\NullVirtualHidDevice" as a multi-string: the string's NUL, the list's
// NUL and one more, 27 characters.
const WCHAR IdReply[kIdReplyBytes / sizeof(WCHAR)] = ZEL_WIDE("HID\\NullVirtualHidDevice\0\0");

namespace {

ZEL_PAGEABLE void EnterState(VirtualDeviceExtension* ext, ULONG state) {
    PAGED_CODE();
    ext->PreviousPnpState = ext->PnpState;
    ext->PnpState = state;
}

ZEL_PAGEABLE NTSTATUS PassDown(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(LowerDevice(device), irp);
}

ZEL_PAGEABLE NTSTATUS CompleteHere(PIRP irp, NTSTATUS status) {
    PAGED_CODE();
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// The start request must come back to us after the driver below has
// completed it: only its final status says whether the device started.
ZEL_PAGEABLE NTSTATUS StartDevice(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    KEVENT lowerDone;
    KeInitializeEvent(&lowerDone, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, StartCompletion, &lowerDone, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(LowerDevice(device), irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&lowerDone, Executive, KernelMode, FALSE, NULL);
        status = irp->IoStatus.Status;
    }
    if (NT_SUCCESS(status))
        EnterState(GetVirtualExtension(device), PnpStarted);
    return CompleteHere(irp, status);
}

// A request whose caller is this same device object was sent by this stack
// to itself and belongs to the drivers below. The check reads the caller's
// stack location only when the request has one: a request sent straight to
// the top of the stack has none, and the slot past its last location is
// outside the request.
ZEL_PAGEABLE bool SentByThisDevice(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    if (irp->CurrentLocation >= irp->StackCount)
        return false;
    return (IoGetCurrentIrpStackLocation(irp) + 1)->DeviceObject == device;
}

ZEL_PAGEABLE NTSTATUS QueryId(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    if (SentByThisDevice(device, irp))
        return PassDown(device, irp);
    const BUS_QUERY_ID_TYPE type = IoGetCurrentIrpStackLocation(irp)->Parameters.QueryId.IdType;
    if (type != BusQueryDeviceID && type != BusQueryHardwareIDs)
        return CompleteHere(irp, irp->IoStatus.Status);
    // The requester owns the buffer once the request is completed.
    PVOID reply = ExAllocatePoolWithTag(NonPagedPoolNx, kIdReplyBytes, kIdReplyTag);
    if (!reply)
        return CompleteHere(irp, STATUS_INSUFFICIENT_RESOURCES);
    RtlCopyMemory(reply, IdReply, kIdReplyBytes);
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(reply);
    return CompleteHere(irp, STATUS_SUCCESS);
}

} // namespace

NTSTATUS NTAPI StartCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    UNREFERENCED_PARAMETER(device);
    if (irp->PendingReturned)
        KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

ZEL_PAGEABLE NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    VirtualDeviceExtension* ext = GetVirtualExtension(device);
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return StartDevice(device, irp);
    case IRP_MN_QUERY_ID:
        return QueryId(device, irp);
    case IRP_MN_QUERY_STOP_DEVICE:
        EnterState(ext, PnpStopPending);
        break;
    case IRP_MN_STOP_DEVICE:
        EnterState(ext, PnpStopped);
        break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
        EnterState(ext, PnpRemovePending);
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        EnterState(ext, PnpSurpriseRemoved);
        break;
    case IRP_MN_REMOVE_DEVICE:
        EnterState(ext, PnpRemoved);
        break;
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        // One step of history: back to the state before the last transition.
        ext->PnpState = ext->PreviousPnpState;
        break;
    default:
        return PassDown(device, irp);
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(device, irp);
}

ZEL_PAGEABLE NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(LowerDevice(device), irp);
}

} // namespace vmd
