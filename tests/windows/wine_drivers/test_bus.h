// What the two test bus drivers under Wine have in common: completing requests, id and
// relation replies, the child's Plug and Play requests, and a control device that a test
// program opens by name. Test scaffolding only, for Windows.
#pragma once

#include "kernel_api.h"

namespace testbus {

constexpr ULONG kTag = 0x7542655A; // "ZeBu"

enum class Role { Control, Bus, Child };

// The first member of each test bus driver's device extension.
struct DeviceHeader {
    Role Kind;
    PDEVICE_OBJECT Pdo;   // bus: the root-enumerated device it serves
    PDEVICE_OBJECT Lower; // bus: the device below
};

inline DeviceHeader* Header(PDEVICE_OBJECT device) {
    return static_cast<DeviceHeader*>(device->DeviceExtension);
}

inline NTSTATUS PassDown(PDEVICE_OBJECT bus, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(Header(bus)->Lower, irp);
}

inline NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// A multi-string in pool that the requester frees.
inline NTSTATUS ReplyId(PIRP irp, const WCHAR* id, size_t bytes) {
    PVOID reply = ExAllocatePoolWithTag(PagedPool, bytes, kTag);
    if (!reply)
        return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    RtlCopyMemory(reply, id, bytes);
    return Complete(irp, STATUS_SUCCESS, reinterpret_cast<ULONG_PTR>(reply));
}

// "a\0\0" for the NUL-terminated `a`, in `out` (room for `capacity` characters).
inline size_t MultiString(const WCHAR* a, WCHAR* out, size_t capacity) {
    size_t n = 0;
    while (a[n] && n + 2 < capacity) {
        out[n] = a[n];
        ++n;
    }
    out[n++] = 0;
    out[n++] = 0;
    return n * sizeof(WCHAR);
}

// The decimal digits of `value` after `prefix`, NUL-terminated, for an instance id.
inline size_t NumberedId(const WCHAR* prefix, ULONG value, WCHAR* out, size_t capacity) {
    size_t n = 0;
    while (prefix[n] && n + 12 < capacity) {
        out[n] = prefix[n];
        ++n;
    }
    WCHAR digits[10];
    int d = 0;
    do {
        digits[d++] = WCHAR(L'0' + value % 10);
        value /= 10;
    } while (value);
    while (d)
        out[n++] = digits[--d];
    out[n++] = 0;
    return n * sizeof(WCHAR);
}

// Device relations listing `devices` (each referenced for the requester).
inline NTSTATUS ReplyRelations(PIRP irp, PDEVICE_OBJECT* devices, ULONG count) {
    const ULONG bytes = sizeof(DEVICE_RELATIONS) + (count ? count - 1 : 0) * sizeof(PDEVICE_OBJECT);
    auto* relations = static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(PagedPool, bytes, kTag));
    if (!relations)
        return STATUS_INSUFFICIENT_RESOURCES;
    relations->Count = count;
    for (ULONG i = 0; i < count; ++i) {
        relations->Objects[i] = devices[i];
        ObReferenceObject(devices[i]);
    }
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
    return STATUS_SUCCESS;
}

struct ChildIds {
    const WCHAR* DeviceId;   // NUL-terminated
    const WCHAR* HardwareId; // NUL-terminated, the one id an INF matches
    ULONG Instance;          // unique among the bus's children, also across re-enumerations
};

// A child's Plug and Play requests other than removal: its ids, capabilities and target
// relation; the state changes succeed, everything else keeps the status it came with.
inline NTSTATUS ChildPnp(PDEVICE_OBJECT device, PIRP irp, const ChildIds& ids) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    WCHAR reply[96];
    switch (sp->MinorFunction) {
    case IRP_MN_QUERY_ID:
        switch (sp->Parameters.QueryId.IdType) {
        case BusQueryDeviceID:
            return ReplyId(irp, reply, MultiString(ids.DeviceId, reply, 96) - sizeof(WCHAR));
        case BusQueryHardwareIDs:
            return ReplyId(irp, reply, MultiString(ids.HardwareId, reply, 96));
        case BusQueryInstanceID:
            return ReplyId(irp, reply, NumberedId(L"", ids.Instance, reply, 96));
        case BusQueryCompatibleIDs:
            reply[0] = reply[1] = 0;
            return ReplyId(irp, reply, 2 * sizeof(WCHAR));
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
            const NTSTATUS status = ReplyRelations(irp, &device, 1);
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
    case IRP_MN_REMOVE_DEVICE:
        return Complete(irp, STATUS_SUCCESS, 0);
    default:
        return Complete(irp, irp->IoStatus.Status, irp->IoStatus.Information);
    }
}

// The control device "\Device\<name>" with its link "\DosDevices\<name>" and an extension
// of `extensionBytes` (zeroed, starting with its header); null on failure.
inline PDEVICE_OBJECT CreateControlDevice(PDRIVER_OBJECT driver, const WCHAR* deviceName,
                                          const WCHAR* linkName, ULONG extensionBytes) {
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, deviceName);
    RtlInitUnicodeString(&link, linkName);
    PDEVICE_OBJECT control = nullptr;
    if (!NT_SUCCESS(
            IoCreateDevice(driver, extensionBytes, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control)))
        return nullptr;
    RtlZeroMemory(control->DeviceExtension, extensionBytes);
    Header(control)->Kind = Role::Control;
    if (!NT_SUCCESS(IoCreateSymbolicLink(&link, &name))) {
        IoDeleteDevice(control);
        return nullptr;
    }
    control->Flags &= ~DO_DEVICE_INITIALIZING;
    return control;
}

inline void DeleteControlDevice(PDEVICE_OBJECT control, const WCHAR* linkName) {
    if (!control)
        return;
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, linkName);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(control);
}

// The bus's own Plug and Play requests: it starts by passing the start down and asking
// for its children (Wine asks a started bus for them only when told they changed), and
// on removal passes the request down and leaves. `children` lists what to report.
inline NTSTATUS BusPnp(PDEVICE_OBJECT bus, PIRP irp, PDEVICE_OBJECT pdo, PDEVICE_OBJECT lower,
                       PDEVICE_OBJECT* children, ULONG count) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    switch (sp->MinorFunction) {
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (sp->Parameters.QueryDeviceRelations.Type == BusRelations) {
            const NTSTATUS status = ReplyRelations(irp, children, count);
            if (!NT_SUCCESS(status))
                return Complete(irp, status, 0);
            irp->IoStatus.Status = STATUS_SUCCESS;
        }
        break;
    case IRP_MN_START_DEVICE: {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        const NTSTATUS status = IoCallDriver(lower, irp);
        IoInvalidateDeviceRelations(pdo, BusRelations);
        return status;
    }
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        const NTSTATUS status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        IoDeleteDevice(bus);
        return status;
    }
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

// Plug and Play requests go to the bus's or the child's routine; the control device has none.
inline NTSTATUS PnpByRole(PDEVICE_OBJECT device, PIRP irp, PDRIVER_DISPATCH bus,
                          PDRIVER_DISPATCH child) {
    switch (Header(device)->Kind) {
    case Role::Bus:
        return bus(device, irp);
    case Role::Child:
        return child(device, irp);
    default:
        return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

// Power requests: the bus passes them down, a child completes them.
inline NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    PoStartNextPowerIrp(irp);
    if (Header(device)->Kind == Role::Bus) {
        IoSkipCurrentIrpStackLocation(irp);
        return PoCallDriver(Header(device)->Lower, irp);
    }
    return Complete(irp, STATUS_SUCCESS, 0);
}

// Only the control device may be opened.
inline NTSTATUS DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
    return Complete(
        irp, Header(device)->Kind == Role::Control ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_REQUEST,
        0);
}

// A request meant for another kind of device: the bus passes it down, the rest refuse it.
inline NTSTATUS NotOurs(PDEVICE_OBJECT device, PIRP irp, NTSTATUS refusal) {
    if (Header(device)->Kind == Role::Bus)
        return PassDown(device, irp);
    return Complete(irp, refusal, 0);
}

// The bus device on the root-enumerated `pdo`, with an extension of `extensionBytes`
// (zeroed, starting with its header).
inline NTSTATUS AddBus(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo, ULONG extensionBytes,
                       PDEVICE_OBJECT* added) {
    PDEVICE_OBJECT bus = nullptr;
    NTSTATUS status =
        IoCreateDevice(driver, extensionBytes, nullptr, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &bus);
    if (!NT_SUCCESS(status))
        return status;
    RtlZeroMemory(bus->DeviceExtension, extensionBytes);
    DeviceHeader* header = Header(bus);
    header->Kind = Role::Bus;
    header->Pdo = pdo;
    header->Lower = IoAttachDeviceToDeviceStack(bus, pdo);
    if (!header->Lower) {
        IoDeleteDevice(bus);
        return STATUS_NO_SUCH_DEVICE;
    }
    bus->Flags &= ~DO_DEVICE_INITIALIZING;
    *added = bus;
    return STATUS_SUCCESS;
}

// A child device (a bus driver's PDO) with an extension of `extensionBytes`; null on failure.
inline PDEVICE_OBJECT CreateChild(PDRIVER_OBJECT driver, ULONG extensionBytes) {
    PDEVICE_OBJECT child = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(driver, extensionBytes, nullptr, FILE_DEVICE_BUS_EXTENDER,
                                   FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &child)))
        return nullptr;
    RtlZeroMemory(child->DeviceExtension, extensionBytes);
    Header(child)->Kind = Role::Child;
    child->Flags &= ~DO_DEVICE_INITIALIZING;
    return child;
}

struct Dispatch {
    PDRIVER_DISPATCH Pnp;
    PDRIVER_DISPATCH DeviceControl;
    PDRIVER_DISPATCH InternalDeviceControl;
    PDRIVER_ADD_DEVICE AddDevice;
    PDRIVER_UNLOAD Unload;
};

inline void SetDispatch(PDRIVER_OBJECT driver, const Dispatch& d) {
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_PNP] = d.Pnp;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = d.DeviceControl;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = d.InternalDeviceControl;
    driver->DriverExtension->AddDevice = d.AddDevice;
    driver->DriverUnload = d.Unload;
}

} // namespace testbus
