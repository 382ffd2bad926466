// Remove lock: keeps a device's record alive while a request works on it.
#include "hidg.h"

NTSTATUS AcquireRemoveLock(GameDeviceExtension* ext) {
    // Count first, test after: a request that passed the test is always
    // counted when the remove request looks at the count.
    InterlockedIncrement(&ext->RequestCount);
    if (LoadShared(ext->Removed)) {
        if (InterlockedDecrement(&ext->RequestCount) == 0)
            KeSetEvent(&ext->RemoveEvent, IO_NO_INCREMENT, FALSE);
        return STATUS_DELETE_PENDING;
    }
    return STATUS_SUCCESS;
}

void ReleaseRemoveLock(GameDeviceExtension* ext) {
    if (InterlockedDecrement(&ext->RequestCount) == 0)
        KeSetEvent(&ext->RemoveEvent, IO_NO_INCREMENT, FALSE);
}

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Information = 0;
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Completion routine of the requests the driver sends down its own stack and
// waits for: wake the waiter and keep the request.
extern "C" NTSTATUS SignalEventCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    UNREFERENCED_PARAMETER(device);
    UNREFERENCED_PARAMETER(irp);
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}
