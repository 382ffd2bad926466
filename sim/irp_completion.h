// How the simulated drivers finish a request they answer themselves.
#pragma once

#include "kernel_api.h"

namespace sim {

inline NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

} // namespace sim
