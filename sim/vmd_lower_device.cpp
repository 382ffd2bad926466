#include "vmd_lower_device.h"

#include "irp_completion.h"
#include "kernel_model.h"

#include <algorithm>
#include <chrono>

namespace sim {
namespace {

VmdLowerDevice* Record(PDEVICE_OBJECT pdo) {
    return *static_cast<VmdLowerDevice**>(pdo->DeviceExtension);
}

// A report goes only into a buffer that holds it whole.
NTSTATUS Answer(PIRP irp, const std::vector<UCHAR>& report) {
    const ULONG length =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    if (length < report.size() || !irp->UserBuffer)
        return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
    std::copy(report.begin(), report.end(), static_cast<UCHAR*>(irp->UserBuffer));
    return CompleteIrp(irp, STATUS_SUCCESS, report.size());
}

void FailHeldReads(VmdLowerDevice* device, NTSTATUS status) {
    std::deque<PIRP> held;
    {
        std::lock_guard<std::mutex> guard(device->lock);
        held.swap(device->heldReads);
    }
    for (PIRP irp : held)
        CompleteIrp(irp, status, 0);
}

void Note(VmdLowerDevice* device, PIRP irp) {
    if (device->observer)
        device->observer(irp);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    SeenRequest seen;
    seen.major = sp->MajorFunction;
    seen.minor = sp->MinorFunction;
    seen.status = irp->IoStatus.Status;
    seen.information = irp->IoStatus.Information;
    if (sp->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL ||
        sp->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
        seen.code = sp->Parameters.DeviceIoControl.IoControlCode;
        seen.outputLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
        seen.inputLength = sp->Parameters.DeviceIoControl.InputBufferLength;
        seen.inputBuffer = sp->Parameters.DeviceIoControl.Type3InputBuffer;
        seen.userBuffer = irp->UserBuffer;
    }
    if (sp->MajorFunction == IRP_MJ_PNP && sp->MinorFunction == IRP_MN_QUERY_ID)
        seen.idType = sp->Parameters.QueryId.IdType;
    if (sp->MajorFunction == IRP_MJ_POWER) {
        seen.powerType = sp->Parameters.Power.Type;
        seen.powerState = ULONG(sp->Parameters.Power.State.DeviceState);
    }
    std::lock_guard<std::mutex> guard(device->lock);
    device->seen.push_back(seen);
}

NTSTATUS Start(VmdLowerDevice* device, PIRP irp) {
    if (!device->pendStart)
        return CompleteIrp(irp, device->startStatus, 0);
    IoMarkIrpPending(irp);
    JoinStarter(device);
    const NTSTATUS status = device->startStatus;
    device->starter = std::thread([irp, status] {
        // Late enough that the caller is normally waiting already.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        CompleteIrp(irp, status, 0);
    });
    return STATUS_PENDING;
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT pdo, PIRP irp) {
    VmdLowerDevice* device = Record(pdo);
    Note(device, irp);
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return Start(device, irp);
    case IRP_MN_STOP_DEVICE:
        FailHeldReads(device, STATUS_CANCELLED);
        return CompleteIrp(irp, STATUS_SUCCESS, 0);
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
        FailHeldReads(device, STATUS_DELETE_PENDING);
        return CompleteIrp(irp, STATUS_SUCCESS, 0);
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        return CompleteIrp(irp, STATUS_SUCCESS, 0);
    default: {
        // As the bottom of the stack: what no one handled keeps its status.
        const NTSTATUS status = irp->IoStatus.Status;
        IofCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    }
}

NTSTATUS DispatchPower(PDEVICE_OBJECT pdo, PIRP irp) {
    Note(Record(pdo), irp);
    PoStartNextPowerIrp(irp);
    return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

NTSTATUS DispatchCreateClose(PDEVICE_OBJECT pdo, PIRP irp) {
    Note(Record(pdo), irp);
    return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

NTSTATUS Read(VmdLowerDevice* device, PIRP irp) {
    if (!NT_SUCCESS(device->readFailure))
        return CompleteIrp(irp, device->readFailure, 0);
    std::unique_lock<std::mutex> guard(device->lock);
    if (device->reports.empty()) {
        IoMarkIrpPending(irp);
        device->heldReads.push_back(irp);
        return STATUS_PENDING;
    }
    const std::vector<UCHAR> report = device->reports.front();
    const ULONG length =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    if (length >= report.size())
        device->reports.pop_front();
    guard.unlock();
    return Answer(irp, report);
}

NTSTATUS DispatchInternal(PDEVICE_OBJECT pdo, PIRP irp) {
    VmdLowerDevice* device = Record(pdo);
    Note(device, irp);
    if (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode !=
        IOCTL_HID_READ_REPORT)
        return CompleteIrp(irp, STATUS_NOT_SUPPORTED, 0);
    const NTSTATUS status = Read(device, irp);
    std::lock_guard<std::mutex> guard(device->lock);
    device->lastReadReturn = status;
    return status;
}

} // namespace

VmdLowerDevice* CreateVmdLowerDevice() {
    auto* device = new VmdLowerDevice;
    device->driver = km::CreateDriverObject(u"\\Driver\\ZelVirtualBus");
    device->driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    device->driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    device->driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    device->driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    device->driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternal;
    IoCreateDevice(device->driver, sizeof(VmdLowerDevice*), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE,
                   &device->pdo);
    *static_cast<VmdLowerDevice**>(device->pdo->DeviceExtension) = device;
    device->pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return device;
}

void DestroyVmdLowerDevice(VmdLowerDevice* device) {
    if (!device)
        return;
    JoinStarter(device);
    FailHeldReads(device, STATUS_CANCELLED);
    IoDeleteDevice(device->pdo);
    km::DeleteDriverObject(device->driver);
    delete device;
}

std::vector<UCHAR> KeyboardReport(std::initializer_list<UCHAR> keysDown) {
    std::vector<UCHAR> report(30, 0);
    report[0] = 1;
    for (UCHAR usage : keysDown)
        if (usage <= 0xE7)
            report[1 + usage / 8] |= UCHAR(1u << (usage % 8));
    return report;
}

std::vector<UCHAR> MouseReport(UCHAR buttons, int8_t dx, int8_t dy) {
    return {2, UCHAR(buttons & 0x07), UCHAR(dx), UCHAR(dy)};
}

void QueueReport(VmdLowerDevice* device, const std::vector<UCHAR>& report) {
    for (;;) {
        PIRP irp = nullptr;
        {
            std::lock_guard<std::mutex> guard(device->lock);
            if (device->heldReads.empty()) {
                device->reports.push_back(report);
                return;
            }
            irp = device->heldReads.front();
            device->heldReads.pop_front();
        }
        // A read too short for the report fails; the report waits for the next.
        if (NT_SUCCESS(Answer(irp, report)))
            return;
    }
}

size_t HeldReads(VmdLowerDevice* device) {
    std::lock_guard<std::mutex> guard(device->lock);
    return device->heldReads.size();
}

size_t QueuedReports(VmdLowerDevice* device) {
    std::lock_guard<std::mutex> guard(device->lock);
    return device->reports.size();
}

std::vector<SeenRequest> Seen(VmdLowerDevice* device) {
    std::lock_guard<std::mutex> guard(device->lock);
    return device->seen;
}

std::vector<SeenRequest> Seen(VmdLowerDevice* device, UCHAR major, int minor) {
    std::vector<SeenRequest> out;
    for (const SeenRequest& s : Seen(device))
        if (s.major == major && (minor < 0 || s.minor == minor))
            out.push_back(s);
    return out;
}

NTSTATUS LastReadReturn(VmdLowerDevice* device) {
    std::lock_guard<std::mutex> guard(device->lock);
    return device->lastReadReturn;
}

void JoinStarter(VmdLowerDevice* device) {
    if (device->starter.joinable())
        device->starter.join();
}

} // namespace sim
