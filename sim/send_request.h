// How the simulated platform sends a request it built to a device and waits for it.
//
// A dispatch routine either completes the request, passes it on, or marks it
// pending and returns STATUS_PENDING. One that returns anything else with the
// request neither completed nor passed on has lost it: that is recorded as a
// fault, and the request is left to whoever kept it (or to the model's reset).
#pragma once

#include "kernel_api.h"

namespace sim {

struct RequestResult {
    NTSTATUS returned = STATUS_SUCCESS; // what the dispatch call returned
    NTSTATUS status = STATUS_SUCCESS;   // the request's final status
    ULONG_PTR information = 0;
};

// A request in flight, from the send to the end of the wait.
struct SentRequest {
    PIRP irp = nullptr;
    KEVENT done;
    NTSTATUS returned = STATUS_SUCCESS;
    bool lost = false; // returned neither completed, passed on, nor pending
};

// Sends `irp`, whose next stack location the caller has filled, to `device`
// and returns once the dispatch routine has; the completion stops at the
// sender, which keeps the request.
void SendRequest(SentRequest& sent, PDEVICE_OBJECT device, PIRP irp);
bool Completed(SentRequest& sent);
// Waits for the completion, then frees the request.
RequestResult FinishRequest(SentRequest& sent);

} // namespace sim
