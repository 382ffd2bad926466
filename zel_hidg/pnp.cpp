// The driver frame: device records, Plug and Play, power, create, close and
// system control, and the removal clean-up.
#include "hidg.h"

ZEL_PAGEABLE void UnlinkDevice(GameDeviceExtension* ext) {
    PAGED_CODE();
    ExAcquireFastMutex(&g_Driver.DeviceListMutex);
    // A failed start has already taken the record out; unlinking it again
    // would corrupt the list of every other device.
    if (ext->InDeviceList) {
        RemoveEntryList(&ext->Link);
        ext->InDeviceList = 0;
    }
    ExReleaseFastMutex(&g_Driver.DeviceListMutex);
}

extern "C" ZEL_PAGEABLE NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device) {
    PAGED_CODE();
    UNREFERENCED_PARAMETER(driver);
    GameDeviceExtension* ext = GetGameExtension(device);
    ext->BridgeFileObject = nullptr;
    ext->BridgeDeviceObject = nullptr;
    for (UCHAR i = 0; i < 4; ++i)
        ext->SavedAxisOrder[i] = i;
    LoadCalibration(device);
    ext->AxisOrderUpdatePending = 0;
    ext->DialSource = 9;
    RtlZeroMemory(ext->ReportImage, sizeof ext->ReportImage);
    device->Flags &= ~DO_DEVICE_INITIALIZING;

    InitializeListHead(&ext->Link);
    ExAcquireFastMutex(&g_Driver.DeviceListMutex);
    InsertTailList(&g_Driver.DeviceList, &ext->Link);
    ext->InDeviceList = 1;
    ExReleaseFastMutex(&g_Driver.DeviceListMutex);

    ext->RequestCount = 1;
    KeInitializeEvent(&ext->RemoveEvent, SynchronizationEvent, FALSE);
    KeInitializeEvent(&ext->BridgeIdle, SynchronizationEvent, FALSE);
    return STATUS_SUCCESS;
}

extern "C" ZEL_PAGEABLE NTSTATUS DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    UNREFERENCED_PARAMETER(device);
    return CompleteRequest(irp, STATUS_SUCCESS);
}

static ZEL_PAGEABLE NTSTATUS PassDown(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(GetNextDevice(device), irp);
}

extern "C" ZEL_PAGEABLE NTSTATUS DispatchSystemControl(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    return PassDown(device, irp);
}

extern "C" ZEL_PAGEABLE VOID DriverUnload(PDRIVER_OBJECT driver) {
    PAGED_CODE();
    UNREFERENCED_PARAMETER(driver);
}

ZEL_PAGEABLE void RemovalCleanup(GameDeviceExtension* ext) {
    PAGED_CODE();
    if (ext->Unlinked)
        return;
    ext->Unlinked = 1;
    // Waits for reads that have a bridge request in flight.
    ReleaseBridge(ext);
    UnlinkDevice(ext);
}

extern "C" ZEL_PAGEABLE NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    GameDeviceExtension* ext = GetGameExtension(device);
    NTSTATUS status = AcquireRemoveLock(ext);
    if (!NT_SUCCESS(status)) {
        PoStartNextPowerIrp(irp);
        return CompleteRequest(irp, status);
    }
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    status = PoCallDriver(GetNextDevice(device), irp);
    ReleaseRemoveLock(ext);
    return status;
}

static ZEL_PAGEABLE NTSTATUS HandleStart(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    GameDeviceExtension* ext = GetGameExtension(device);
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalEventCompletion, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(GetNextDevice(device), irp);
    if (NT_SUCCESS(status)) {
        status = KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        if (NT_SUCCESS(status)) {
            status = irp->IoStatus.Status;
            if (NT_SUCCESS(status))
                status = StartDevice(device, irp);
        }
    }
    StoreShared(ext->Started, UCHAR(1)); // also after a failed start
    return CompleteRequest(irp, status);
}

extern "C" ZEL_PAGEABLE NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    GameDeviceExtension* ext = GetGameExtension(device);
    NTSTATUS status = AcquireRemoveLock(ext);
    if (!NT_SUCCESS(status))
        return CompleteRequest(irp, status);

    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = HandleStart(device, irp);
        break;

    case IRP_MN_REMOVE_DEVICE:
        StoreShared(ext->Removed, UCHAR(1));
        RemovalCleanup(ext);
        PassDown(device, irp);
        // Drop this request's reference and the device's own; then wait for
        // requests still being worked on.
        InterlockedDecrement(&ext->RequestCount);
        if (InterlockedDecrement(&ext->RequestCount) > 0)
            KeWaitForSingleObject(&ext->RemoveEvent, Executive, KernelMode, FALSE, nullptr);
        return STATUS_SUCCESS;

    case IRP_MN_STOP_DEVICE:
        StoreShared(ext->Started, UCHAR(0));
        status = PassDown(device, irp);
        break;

    case IRP_MN_SURPRISE_REMOVAL:
        RemovalCleanup(ext);
        irp->IoStatus.Status = STATUS_SUCCESS;
        status = PassDown(device, irp);
        break;

    default:
        status = PassDown(device, irp);
        break;
    }
    ReleaseRemoveLock(ext);
    return status;
}
