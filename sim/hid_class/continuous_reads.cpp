// Continuous reads in the simulated HID class driver: for a non-polled
// minidriver a few read requests stay outstanding from the start on, each
// sent again once it completes, until the device stops or leaves.
#include "class_private.h"

#include "kernel_model.h"

#include <algorithm>

namespace sim::hid {
namespace {

struct ReadContext {
    PDEVICE_OBJECT fdo;
    std::vector<UCHAR> buffer;
};

void SendRead(PDEVICE_OBJECT fdo);

NTSTATUS ReadDone(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    auto* read = static_cast<ReadContext*>(context);
    const NTSTATUS status = irp->IoStatus.Status;
    const ULONG_PTR bytes = irp->IoStatus.Information;
    bool again = false;
    if (NT_SUCCESS(status) && bytes > read->buffer.size())
        km::Fault("a read request completed with more bytes than its buffer holds");
    {
        std::lock_guard<std::mutex> guard(g_lock);
        auto it = g_devices.find(read->fdo);
        if (it != g_devices.end()) {
            DeviceInfo& info = it->second.info;
            --info.readsOutstanding;
            if (NT_SUCCESS(status)) {
                const size_t n = std::min<size_t>(bytes, read->buffer.size());
                info.reports.emplace_back(read->buffer.begin(), read->buffer.begin() + n);
            } else {
                info.readFailures.push_back(status);
            }
            // A failed read is not repeated: the device is stopping or broken.
            again = it->second.readsRunning && NT_SUCCESS(status);
        }
    }
    const PDEVICE_OBJECT fdo = read->fdo;
    IoFreeIrp(irp);
    delete read;
    if (again)
        SendRead(fdo);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void SendRead(PDEVICE_OBJECT fdo) {
    auto* read = new ReadContext{fdo, {}};
    {
        std::lock_guard<std::mutex> guard(g_lock);
        DeviceInfo& info = g_devices.at(fdo).info;
        read->buffer.assign(info.readLength, 0);
        ++info.readsOutstanding;
    }
    PIRP irp = IoAllocateIrp(fdo->StackSize, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    irp->UserBuffer = read->buffer.data();
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    sp->Parameters.DeviceIoControl.IoControlCode = IOCTL_HID_READ_REPORT;
    sp->Parameters.DeviceIoControl.OutputBufferLength = ULONG(read->buffer.size());
    IoSetCompletionRoutine(irp, ReadDone, read, TRUE, TRUE, TRUE);
    IofCallDriver(fdo, irp);
}

} // namespace

// A polled minidriver is read by the class driver's poll (polled_reads.cpp)
// instead.
void StartReads(PDEVICE_OBJECT fdo) {
    bool polled;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        DeviceRecord& device = g_devices.at(fdo);
        polled = g_minidrivers.at(device.driver).registration.DevicesArePolled;
        device.readsRunning = !polled;
    }
    if (polled)
        return;
    for (int n = 0; n < kOutstandingReads; ++n)
        SendRead(fdo);
}

// Reads still held below come back when the driver below fails them, as it
// does when it stops or leaves; they are not sent again.
void StopReads(PDEVICE_OBJECT fdo) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_devices.at(fdo).readsRunning = false;
}

} // namespace sim::hid
