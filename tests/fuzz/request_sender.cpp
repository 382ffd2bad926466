// The fuzz targets' request sender.
#include "request_sender.h"

#include "fuzz_check.h"
#include "kernel_model.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace zelfuzz {
namespace {

NTSTATUS CountCompletion(PDEVICE_OBJECT, PIRP, PVOID context) {
    static_cast<std::atomic<int>*>(context)->fetch_add(1);
    return STATUS_SUCCESS;
}

} // namespace

struct PendingRequest {
    PIRP irp = nullptr;
    std::atomic<int> completions{0};
    NTSTATUS returned = STATUS_SUCCESS;
};

PendingRequest* Start(PDEVICE_OBJECT device, const RequestSpec& spec) {
    auto* request = new PendingRequest;
    PIRP irp = IoAllocateIrp(CCHAR(device->StackSize + 1), FALSE);
    request->irp = irp;
    IoSetNextIrpStackLocation(irp); // the sender's own location
    IoGetCurrentIrpStackLocation(irp)->DeviceObject = spec.sender;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = spec.major;
    next->MinorFunction = spec.minor;
    if (spec.major == IRP_MJ_INTERNAL_DEVICE_CONTROL) {
        next->Parameters.DeviceIoControl.IoControlCode = spec.code;
        next->Parameters.DeviceIoControl.OutputBufferLength = spec.outputLength;
        irp->UserBuffer = spec.buffer;
    } else if (spec.major == IRP_MJ_POWER) {
        next->Parameters.Power.Type = spec.powerType;
        if (spec.powerType == DevicePowerState)
            next->Parameters.Power.State.DeviceState = DEVICE_POWER_STATE(spec.powerState);
        else
            next->Parameters.Power.State.SystemState = SYSTEM_POWER_STATE(spec.powerState);
    } else if (spec.major == IRP_MJ_PNP && spec.minor == IRP_MN_QUERY_ID) {
        next->Parameters.QueryId.IdType = spec.idType;
    }
    irp->IoStatus.Status = spec.presetStatus;
    irp->IoStatus.Information = spec.presetInformation;
    IoSetCompletionRoutine(irp, CountCompletion, &request->completions, TRUE, TRUE, TRUE);
    km::AtIrql(spec.irql, [&] { request->returned = IoCallDriver(device, irp); });
    if (request->returned != STATUS_PENDING)
        FUZZ_CHECK(request->completions.load() == 1); // completed before the return
    return request;
}

bool Completed(const PendingRequest* request) {
    return request->completions.load() != 0;
}

Sent Finish(PendingRequest* request) {
    Sent sent;
    sent.returned = request->returned;
    sent.completions = request->completions.load();
    sent.status = request->irp->IoStatus.Status;
    sent.information = request->irp->IoStatus.Information;
    FUZZ_CHECK(sent.completions == 1); // a second completion is also a model fault
    IoFreeIrp(request->irp);
    delete request;
    return sent;
}

Sent Send(PDEVICE_OBJECT device, const RequestSpec& spec) {
    PendingRequest* request = Start(device, spec);
    if (request->returned == STATUS_PENDING) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Completed(request) && std::chrono::steady_clock::now() < limit)
            std::this_thread::yield();
    }
    return Finish(request);
}

InternalAnswer SendInternal(PDEVICE_OBJECT device, ULONG code, ULONG length, KIRQL irql,
                            bool nullBuffer) {
    constexpr UCHAR kUntouched = 0xEE;
    if (nullBuffer)
        length = 0; // the I/O manager never pairs a null buffer with a length
    std::unique_ptr<UCHAR[]> block(nullBuffer ? nullptr : new UCHAR[length ? length : 1]);
    if (block)
        std::memset(block.get(), kUntouched, length);
    RequestSpec spec;
    spec.major = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    spec.code = code;
    spec.buffer = block.get();
    spec.outputLength = length;
    spec.irql = irql;
    spec.presetInformation = 0;
    InternalAnswer answer;
    answer.sent = Send(device, spec);
    const ULONG_PTR written = NT_SUCCESS(answer.sent.status) ? answer.sent.information : 0;
    FUZZ_CHECK(written <= length);
    if (!NT_SUCCESS(answer.sent.status))
        FUZZ_CHECK(answer.sent.information == 0);
    for (ULONG i = ULONG(written); i < length; ++i)
        FUZZ_CHECK(block[i] == kUntouched);
    if (block)
        answer.bytes.assign(block.get(), block.get() + length);
    return answer;
}

} // namespace zelfuzz
