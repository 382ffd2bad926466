// Device start: port parameters from the game-port enumerator, the second
// joystick on a shared port, axis assignment, poll timeout and the bridge.
#include "hidg.h"

ZEL_PAGEABLE NTSTATUS QueryPortParameters(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    GameDeviceExtension* ext = GetGameExtension(device);
    GAMEENUM_PORT_PARAMETERS params;
    RtlZeroMemory(&params, sizeof params);
    params.Size = sizeof params;

    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_GAMEENUM_PORT_PARAMETERS;
    next->Parameters.DeviceIoControl.InputBufferLength = sizeof params;
    next->Parameters.DeviceIoControl.OutputBufferLength = sizeof params;
    PVOID callerBuffer = irp->UserBuffer;
    irp->UserBuffer = &params;
    IoSetCompletionRoutine(irp, SignalEventCompletion, &done, TRUE, TRUE, TRUE);

    NTSTATUS status = IoCallDriver(GetNextDevice(device), irp);
    if (NT_SUCCESS(status)) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    // The start request goes back up: it must not point at this stack frame.
    irp->UserBuffer = callerBuffer;
    if (NT_SUCCESS(status)) {
        ext->ReadAccessor = params.ReadAccessor;
        ext->WriteAccessor = params.WriteAccessor;
        ext->PortContext = params.PortContext;
        ext->AxisCount = params.NumberAxis;
        RtlCopyMemory(ext->OemData, params.OemData, sizeof ext->OemData);
        ext->AcquirePort = params.AcquirePort;
        ext->ReleasePort = params.ReleasePort;
        ext->PortHandle = params.PortHandle;
    }
    return status;
}

ZEL_PAGEABLE NTSTATUS InitializeDevice(PDEVICE_OBJECT device) {
    PAGED_CODE();
    GameDeviceExtension* ext = GetGameExtension(device);

    GameDeviceExtension* sibling = nullptr;
    ExAcquireFastMutex(&g_Driver.DeviceListMutex);
    for (PLIST_ENTRY entry = g_Driver.DeviceList.Flink; entry != &g_Driver.DeviceList;
         entry = entry->Flink) {
        GameDeviceExtension* other = CONTAINING_RECORD(entry, GameDeviceExtension, Link);
        if (other == ext)
            continue;
        if (other->PortContext == ext->PortContext && other->WriteAccessor == ext->WriteAccessor &&
            other->ReadAccessor == ext->ReadAccessor && LoadShared(other->Started) == 1) {
            ext->UseSecondOemSet = 1;
            sibling = other;
            break;
        }
    }
    ExReleaseFastMutex(&g_Driver.DeviceListMutex);

    NTSTATUS status = AssignAxes(ext);

    // The poll timeout always comes from the first set.
    const ULONG timeout = ext->OemData[0].PollTimeout;
    if (timeout >= 100 && timeout <= 20000)
        ext->ScaledTimeout = ULONG(ULONGLONG(timeout) * 1310720000ULL / 20000ULL);
    else
        ext->ScaledTimeout = 655360000;

    ext->SpreadLimit = 25;
    for (auto& value : ext->LastAxis)
        value = kAxisFallen;

    // Two joysticks on one port must not share an axis line. A record that
    // kept the second set from an earlier start but found no started sibling
    // now has nothing to compare with.
    if (NT_SUCCESS(status) && sibling && (sibling->AxisMask & ext->AxisMask))
        status = STATUS_DEVICE_CONFIGURATION_ERROR;
    return status;
}

ZEL_PAGEABLE NTSTATUS StartDevice(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    GameDeviceExtension* ext = GetGameExtension(device);
    NTSTATUS status = QueryPortParameters(device, irp);
    if (NT_SUCCESS(status))
        status = InitializeDevice(device);
    if (!NT_SUCCESS(status)) {
        UnlinkDevice(ext);
        return status;
    }
    OpenBridge(ext);
    return status;
}
