#include "gameport_enumerator.h"

#include "irp_completion.h"
#include "kernel_model.h"

#include <cstring>
#include <thread>

namespace sim {
namespace {

struct ChildExtension {
    JoystickChild* child;
};

JoystickChild* FromDevice(PDEVICE_OBJECT device) {
    return static_cast<ChildExtension*>(device->DeviceExtension)->child;
}

NTSTATUS FillParameters(JoystickChild* child, PIRP irp) {
    auto* params = static_cast<PGAMEENUM_PORT_PARAMETERS>(irp->UserBuffer);
    if (!params || params->Size != sizeof(GAMEENUM_PORT_PARAMETERS))
        return STATUS_INVALID_PARAMETER;
    params->ReadAccessor = PortRead;
    params->WriteAccessor = PortWrite;
    params->PortContext = child->port;
    params->Portion = GameenumWhole;
    params->NumberAxis = child->numberAxis;
    params->UnitId = 0;
    std::memcpy(params->OemData, child->oemData, sizeof params->OemData);
    params->NumberButtons = 4;
    params->AcquirePort = PortAcquire;
    params->ReleasePort = PortRelease;
    params->PortHandle = child->port;
    return STATUS_SUCCESS;
}

NTSTATUS ChildInternalControl(PDEVICE_OBJECT device, PIRP irp) {
    JoystickChild* child = FromDevice(device);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (sp->Parameters.DeviceIoControl.IoControlCode != IOCTL_GAMEENUM_PORT_PARAMETERS)
        return CompleteIrp(irp, STATUS_NOT_SUPPORTED);
    ++child->parameterRequests;
    switch (child->parametersAnswer) {
    case EnumeratorAnswer::Fail:
        return CompleteIrp(irp, child->failStatus);
    case EnumeratorAnswer::Pend: {
        IoMarkIrpPending(irp);
        std::thread([child, irp] {
            CompleteIrp(irp, FillParameters(child, irp), sizeof(GAMEENUM_PORT_PARAMETERS));
        }).detach();
        return STATUS_PENDING;
    }
    case EnumeratorAnswer::AtOnce:
        break;
    }
    const NTSTATUS status = FillParameters(child, irp);
    return CompleteIrp(irp, status, NT_SUCCESS(status) ? sizeof(GAMEENUM_PORT_PARAMETERS) : 0);
}

NTSTATUS ChildPnp(PDEVICE_OBJECT device, PIRP irp) {
    JoystickChild* child = FromDevice(device);
    const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    child->pnpMinors.push_back(minor);
    switch (minor) {
    case IRP_MN_START_DEVICE:
        return CompleteIrp(irp, child->startStatus);
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        return CompleteIrp(irp, STATUS_SUCCESS);
    default: {
        // A bus driver leaves requests it does not handle as they came.
        const NTSTATUS status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    }
}

NTSTATUS ChildPower(PDEVICE_OBJECT device, PIRP irp) {
    ++FromDevice(device)->powerRequests;
    PoStartNextPowerIrp(irp);
    return CompleteIrp(irp, STATUS_SUCCESS);
}

NTSTATUS ChildSystemControl(PDEVICE_OBJECT device, PIRP irp) {
    ++FromDevice(device)->systemControlRequests;
    const NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

} // namespace

void JoystickChild::SetOem(int set, USHORT vendor, USHORT product, ULONG flags, ULONG pollTimeout) {
    UCHAR* p = oemData + 16 * set;
    std::memcpy(p, &vendor, 2);
    std::memcpy(p + 2, &product, 2);
    std::memcpy(p + 4, &flags, 4);
    std::memcpy(p + 8, &pollTimeout, 4);
}

GamePortEnumerator* CreateEnumerator() {
    auto* e = new GamePortEnumerator;
    e->driver = km::CreateDriverObject(u"\\Driver\\gameenum");
    e->driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = ChildInternalControl;
    e->driver->MajorFunction[IRP_MJ_PNP] = ChildPnp;
    e->driver->MajorFunction[IRP_MJ_POWER] = ChildPower;
    e->driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = ChildSystemControl;
    return e;
}

JoystickChild* AddChild(GamePortEnumerator* e, GamePort* port) {
    auto* child = new JoystickChild;
    child->port = port;
    IoCreateDevice(e->driver, sizeof(ChildExtension), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE,
                   &child->pdo);
    static_cast<ChildExtension*>(child->pdo->DeviceExtension)->child = child;
    child->pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    e->children.push_back(child);
    return child;
}

void DestroyEnumerator(GamePortEnumerator* e) {
    if (!e)
        return;
    for (JoystickChild* child : e->children) {
        IoDeleteDevice(child->pdo);
        delete child;
    }
    km::DeleteDriverObject(e->driver);
    delete e;
}

} // namespace sim
