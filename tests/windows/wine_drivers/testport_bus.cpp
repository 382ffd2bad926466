// zel_testport.sys: a test bus driver standing in for the game-port enumerator under Wine.
// Root-enumerated, it reports one joystick child ("Gameport\zel_testjoy", the id the
// joystick driver's test INF matches) and answers the child's port-parameters request with
// a port whose four one-shot lines run on the real performance counter: a write fires them
// and line n reads 1 until its pulse length has passed. Test scaffolding only, for Windows.
#include "kernel_api.h"

namespace {

// Pulse lengths of lines 0 to 3, in microseconds.
constexpr LONGLONG kPulseUs[4] = {300, 600, 900, 1200};
constexpr ULONG kTag = 0x74507A5A; // "ZzPt"

struct Port {
    LONGLONG FiredAt; // counter value of the last write
};

struct Extension {
    bool IsBus;
    PDEVICE_OBJECT Pdo;   // bus: the root-enumerated device it serves
    PDEVICE_OBJECT Lower; // bus: the device below
    PDEVICE_OBJECT Child; // bus: the joystick child
    Port JoystickPort;    // child: the port it answers for
};

Extension* Ext(PDEVICE_OBJECT device) {
    return static_cast<Extension*>(device->DeviceExtension);
}

UCHAR ReadPort(PVOID context) {
    LARGE_INTEGER frequency;
    const LONGLONG now = KeQueryPerformanceCounter(&frequency).QuadPart;
    const LONGLONG elapsedUs =
        (now - static_cast<Port*>(context)->FiredAt) * 1000000 / frequency.QuadPart;
    UCHAR lines = 0xF0; // buttons up (their lines read 1)
    for (int n = 0; n < 4; ++n)
        if (elapsedUs < kPulseUs[n])
            lines |= UCHAR(1u << n);
    return lines;
}

void WritePort(PVOID context, UCHAR) {
    static_cast<Port*>(context)->FiredAt = KeQueryPerformanceCounter(nullptr).QuadPart;
}

NTSTATUS AcquirePort(PVOID) {
    return STATUS_SUCCESS;
}

void ReleasePort(PVOID) {}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// A multi-string id in pool that the requester frees.
NTSTATUS ReplyId(PIRP irp, const WCHAR* id, size_t bytes) {
    PVOID reply = ExAllocatePoolWithTag(PagedPool, bytes, kTag);
    if (!reply)
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    RtlCopyMemory(reply, id, bytes);
    return Complete(irp, STATUS_SUCCESS, reinterpret_cast<ULONG_PTR>(reply));
}

NTSTATUS ReplyRelations(PIRP irp, PDEVICE_OBJECT device) {
    auto* relations = static_cast<PDEVICE_RELATIONS>(
        ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), kTag));
    if (!relations)
        return STATUS_INSUFFICIENT_RESOURCES;
    relations->Count = 1;
    relations->Objects[0] = device;
    ObReferenceObject(device);
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
    return STATUS_SUCCESS;
}

NTSTATUS ChildPnp(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    static const WCHAR kDeviceId[] = L"Gameport\\zel_testjoy\0";
    static const WCHAR kHardwareIds[] = L"GamePort\\VID_06A3&PID_3635\0\0";
    static const WCHAR kInstanceId[] = L"0\0";
    static const WCHAR kNoIds[] = L"\0\0";
    switch (sp->MinorFunction) {
    case IRP_MN_QUERY_ID:
        switch (sp->Parameters.QueryId.IdType) {
        case BusQueryDeviceID:
            return ReplyId(irp, kDeviceId, sizeof kDeviceId);
        case BusQueryHardwareIDs:
            return ReplyId(irp, kHardwareIds, sizeof kHardwareIds);
        case BusQueryInstanceID:
            return ReplyId(irp, kInstanceId, sizeof kInstanceId);
        case BusQueryCompatibleIDs:
            return ReplyId(irp, kNoIds, sizeof kNoIds);
        default:
            return Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
        }
    case IRP_MN_QUERY_CAPABILITIES: {
        PDEVICE_CAPABILITIES caps = sp->Parameters.DeviceCapabilities.Capabilities;
        caps->Removable = TRUE;
        caps->SurpriseRemovalOK = TRUE;
        caps->UniqueID = FALSE;
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (sp->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation) {
            const NTSTATUS status = ReplyRelations(irp, device);
            return Complete(irp, status, irp->IoStatus.Information);
        }
        return Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE: // the child lives as long as its bus
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    }
}

NTSTATUS BusPnp(PDEVICE_OBJECT device, PIRP irp) {
    Extension* ext = Ext(device);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (sp->MinorFunction == IRP_MN_QUERY_DEVICE_RELATIONS &&
        sp->Parameters.QueryDeviceRelations.Type == BusRelations) {
        if (!ext->Child) {
            PDEVICE_OBJECT child = nullptr;
            const NTSTATUS status = IoCreateDevice(device->DriverObject, sizeof(Extension), nullptr,
                                                   FILE_DEVICE_BUS_EXTENDER,
                                                   FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &child);
            if (!NT_SUCCESS(status))
                return Complete(irp, status, 0);
            RtlZeroMemory(child->DeviceExtension, sizeof(Extension));
            child->Flags &= ~DO_DEVICE_INITIALIZING;
            ext->Child = child;
        }
        const NTSTATUS status = ReplyRelations(irp, ext->Child);
        if (!NT_SUCCESS(status))
            return Complete(irp, status, 0);
        irp->IoStatus.Status = STATUS_SUCCESS;
    } else if (sp->MinorFunction == IRP_MN_START_DEVICE) {
        // Wine asks a started bus for its children only when the bus says they changed.
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        const NTSTATUS status = IoCallDriver(ext->Lower, irp);
        IoInvalidateDeviceRelations(ext->Pdo, BusRelations);
        return status;
    } else if (sp->MinorFunction == IRP_MN_QUERY_REMOVE_DEVICE ||
               sp->MinorFunction == IRP_MN_QUERY_STOP_DEVICE) {
        irp->IoStatus.Status = STATUS_SUCCESS;
    } else if (sp->MinorFunction == IRP_MN_REMOVE_DEVICE) {
        PDEVICE_OBJECT lower = ext->Lower;
        PDEVICE_OBJECT child = ext->Child;
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        const NTSTATUS status = IoCallDriver(lower, irp);
        if (child)
            IoDeleteDevice(child);
        IoDetachDevice(lower);
        IoDeleteDevice(device);
        return status;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->Lower, irp);
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    return Ext(device)->IsBus ? BusPnp(device, irp) : ChildPnp(device, irp);
}

NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    PoStartNextPowerIrp(irp);
    if (Ext(device)->IsBus) {
        IoSkipCurrentIrpStackLocation(irp);
        return PoCallDriver(Ext(device)->Lower, irp);
    }
    return Complete(irp, STATUS_SUCCESS, 0);
}

// The child's port parameters: four axes, the joystick's OEM data (ids 0x06A3/13877,
// Z and rudder present with source codes 0, poll timeout 10 ms) and the port functions.
NTSTATUS DispatchInternalDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (Ext(device)->IsBus) {
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(Ext(device)->Lower, irp);
    }
    if (sp->Parameters.DeviceIoControl.IoControlCode != IOCTL_GAMEENUM_PORT_PARAMETERS)
        return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    auto* params = static_cast<PGAMEENUM_PORT_PARAMETERS>(irp->UserBuffer);
    if (!params || params->Size != sizeof(GAMEENUM_PORT_PARAMETERS))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    Port* port = &Ext(device)->JoystickPort;
    params->ReadAccessor = ReadPort;
    params->WriteAccessor = WritePort;
    params->PortContext = port;
    params->Portion = GameenumWhole;
    params->NumberAxis = 4;
    params->UnitId = 0;
    const USHORT vendor = 0x06A3, product = 13877;
    const ULONG flags = (1u << 0) | (1u << 19), pollTimeoutUs = 10000;
    RtlZeroMemory(params->OemData, sizeof params->OemData);
    RtlCopyMemory(&params->OemData[0], &vendor, 2);
    RtlCopyMemory(&params->OemData[2], &product, 2);
    RtlCopyMemory(&params->OemData[4], &flags, 4);
    RtlCopyMemory(&params->OemData[8], &pollTimeoutUs, 4);
    params->NumberButtons = 4;
    params->AcquirePort = AcquirePort;
    params->ReleasePort = ReleasePort;
    params->PortHandle = port;
    return Complete(irp, STATUS_SUCCESS, sizeof(GAMEENUM_PORT_PARAMETERS));
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDEVICE_OBJECT bus = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), nullptr, FILE_DEVICE_BUS_EXTENDER,
                                     0, FALSE, &bus);
    if (!NT_SUCCESS(status))
        return status;
    Extension* ext = Ext(bus);
    RtlZeroMemory(ext, sizeof *ext);
    ext->IsBus = true;
    ext->Pdo = pdo;
    ext->Lower = IoAttachDeviceToDeviceStack(bus, pdo);
    if (!ext->Lower) {
        IoDeleteDevice(bus);
        return STATUS_NO_SUCH_DEVICE;
    }
    bus->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

void Unload(PDRIVER_OBJECT) {}

} // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalDeviceControl;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
