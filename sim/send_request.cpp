// The one path by which the simulated platform sends the requests it builds.
#include "send_request.h"

#include "kernel_model.h"

namespace sim {
namespace {

NTSTATUS RequestDone(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    // The request is the sender's: it is read and freed after the wait.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

} // namespace

void SendRequest(SentRequest& sent, PDEVICE_OBJECT device, PIRP irp) {
    KeInitializeEvent(&sent.done, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, RequestDone, &sent.done, TRUE, TRUE, TRUE);
    const PIO_STACK_LOCATION first = IoGetNextIrpStackLocation(irp);
    sent.irp = irp;
    sent.returned = IofCallDriver(device, irp);
    sent.lost = sent.returned != STATUS_PENDING && !Completed(sent);
    if (sent.lost) {
        km::Fault("a dispatch routine returned " + km::StatusName(sent.returned) +
                  " with the request neither completed nor passed on");
        // The sender stops listening: a late completion must not reach it.
        first->CompletionRoutine = nullptr;
    }
}

bool Completed(SentRequest& sent) {
    return KeReadStateEvent(&sent.done) != 0;
}

RequestResult FinishRequest(SentRequest& sent) {
    RequestResult result;
    result.returned = sent.returned;
    result.status = sent.irp->IoStatus.Status;
    result.information = sent.irp->IoStatus.Information;
    if (sent.lost)
        return result; // whoever kept it completes and frees it, or the model's reset does
    if (KeWaitForSingleObject(&sent.done, Executive, KernelMode, FALSE, nullptr) != STATUS_SUCCESS)
        return result; // the wait recorded the deadlock; the request may still be held
    result.status = sent.irp->IoStatus.Status;
    result.information = sent.irp->IoStatus.Information;
    IoFreeIrp(sent.irp);
    return result;
}

} // namespace sim
