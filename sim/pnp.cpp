#include "pnp.h"

#include "kernel_model.h"

namespace sim::pnp {

PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT device) {
    while (device->AttachedDevice)
        device = device->AttachedDevice;
    return device;
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        km::Fault("AddDevice called above PASSIVE_LEVEL");
    if (!driver->DriverExtension->AddDevice) {
        km::Fault("AddDevice: the driver has no add-device routine");
        return STATUS_NOT_SUPPORTED;
    }
    return driver->DriverExtension->AddDevice(driver, pdo);
}

Result Send(PDEVICE_OBJECT device, const Request& request) {
    PDEVICE_OBJECT top = TopOfStack(device);
    const CCHAR locations = CCHAR(top->StackSize + (request.sender ? 1 : 0));
    PIRP irp = IoAllocateIrp(locations, FALSE);
    irp->IoStatus.Status = request.presetStatus;
    irp->IoStatus.Information = request.presetInformation;
    if (request.sender) {
        // The sender's own location, as a driver sets it up before sending.
        IoSetNextIrpStackLocation(irp);
        PIO_STACK_LOCATION own = IoGetCurrentIrpStackLocation(irp);
        own->MajorFunction = request.major;
        own->MinorFunction = request.minor;
        own->DeviceObject = request.sender;
    }
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = request.major;
    sp->MinorFunction = request.minor;
    if (request.parameters)
        request.parameters(sp);
    SentRequest sent;
    SendRequest(sent, top, irp);
    return FinishRequest(sent);
}

Result Send(PDEVICE_OBJECT device, UCHAR major, UCHAR minor) {
    Request request;
    request.major = major;
    request.minor = minor;
    if (major != IRP_MJ_PNP && major != IRP_MJ_POWER)
        request.presetStatus = STATUS_SUCCESS;
    return Send(device, request);
}

Result Power(PDEVICE_OBJECT device, UCHAR minor, DEVICE_POWER_STATE state) {
    Request request;
    request.major = IRP_MJ_POWER;
    request.minor = minor;
    request.parameters = [state](PIO_STACK_LOCATION sp) {
        sp->Parameters.Power.Type = DevicePowerState;
        sp->Parameters.Power.State.DeviceState = state;
    };
    return Send(device, request);
}

IdResult QueryId(PDEVICE_OBJECT device, BUS_QUERY_ID_TYPE type, PDEVICE_OBJECT sender,
                 NTSTATUS presetStatus) {
    Request request;
    request.minor = IRP_MN_QUERY_ID;
    request.presetStatus = presetStatus;
    request.sender = sender;
    request.parameters = [type](PIO_STACK_LOCATION sp) { sp->Parameters.QueryId.IdType = type; };
    IdResult out;
    out.request = Send(device, request);
    if (!NT_SUCCESS(out.request.status) || out.request.information == 0)
        return out;
    auto* reply = reinterpret_cast<UCHAR*>(out.request.information);
    bool found = false;
    for (const km::PoolBlock& block : km::PoolOutstanding())
        if (block.address == reply) {
            out.bytes.assign(reply, reply + block.size);
            out.tag = block.tag;
            found = true;
        }
    if (!found) {
        km::Fault("IRP_MN_QUERY_ID answered with a buffer that is not a pool block");
        return out;
    }
    ExFreePool(reply);
    return out;
}

} // namespace sim::pnp
