#include "bridge_device.h"

#include "kernel_model.h"

#include <chrono>
#include <cstring>

namespace sim {
namespace {

struct BridgeExtension {
    BridgeDevice* bridge;
};

BridgeDevice* FromDevice(PDEVICE_OBJECT device) {
    return static_cast<BridgeExtension*>(device->DeviceExtension)->bridge;
}

// Fills the reply of one request; the lock is held.
void Answer(BridgeDevice* b, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    const ULONG room = sp->Parameters.DeviceIoControl.OutputBufferLength;
    auto* out = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    UCHAR reply[13] = {};
    ULONG size = 0;
    switch (code) {
    case 0x00224420: // data
        std::memcpy(reply, b->data, 13);
        size = 13;
        break;
    case 0x00224400: // flags
        if (!b->flags.empty()) {
            reply[0] = b->flags.front();
            b->flags.pop_front();
        }
        size = 1;
        break;
    case 0x00224404: // axis order
        std::memcpy(reply, b->axisOrder, 5);
        size = 5;
        break;
    default:
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        irp->IoStatus.Information = 0;
        return;
    }
    if (b->answer == BridgeAnswer::Fail) {
        irp->IoStatus.Status = STATUS_UNSUCCESSFUL;
        irp->IoStatus.Information = 0;
        return;
    }
    if (b->answer == BridgeAnswer::Short)
        size -= 1;
    if (size > room)
        size = room;
    std::memcpy(out, reply, size);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = size;
}

NTSTATUS BridgeDispatch(PDEVICE_OBJECT device, PIRP irp) {
    BridgeDevice* b = FromDevice(device);
    std::unique_lock<std::mutex> guard(b->lock);
    ++b->requests[IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode];
    if (b->answer == BridgeAnswer::Pend) {
        IoMarkIrpPending(irp);
        b->pending.push_back(irp);
        b->changed.notify_all();
        return STATUS_PENDING;
    }
    Answer(b, irp);
    const NTSTATUS status = irp->IoStatus.Status;
    guard.unlock();
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

} // namespace

BridgeDevice* CreateBridge() {
    auto* b = new BridgeDevice;
    b->driver = km::CreateDriverObject(u"\\Driver\\ZelBridge");
    b->driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = BridgeDispatch;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\Zel_VmdF");
    IoCreateDevice(b->driver, sizeof(BridgeExtension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE,
                   &b->device);
    static_cast<BridgeExtension*>(b->device->DeviceExtension)->bridge = b;
    b->device->Flags &= ~DO_DEVICE_INITIALIZING;
    return b;
}

void DestroyBridge(BridgeDevice* bridge) {
    if (!bridge)
        return;
    IoDeleteDevice(bridge->device);
    km::DeleteDriverObject(bridge->driver);
    delete bridge;
}

bool WaitForPendingRequest(BridgeDevice* b, int milliseconds) {
    std::unique_lock<std::mutex> guard(b->lock);
    return b->changed.wait_for(guard, std::chrono::milliseconds(milliseconds),
                               [&] { return !b->pending.empty(); });
}

void CompletePending(BridgeDevice* b) {
    std::vector<PIRP> irps;
    {
        std::lock_guard<std::mutex> guard(b->lock);
        const BridgeAnswer mode = b->answer;
        b->answer = BridgeAnswer::AtOnce;
        for (PIRP irp : b->pending)
            Answer(b, irp);
        b->answer = mode;
        irps.swap(b->pending);
        b->referencesAtLastCompletion = km::OpenReferences(b->device);
    }
    for (PIRP irp : irps)
        IoCompleteRequest(irp, IO_NO_INCREMENT);
}

} // namespace sim
