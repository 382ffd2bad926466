// Requests as the stack above a driver sends them, with one stack location of
// the sender's own whose completion routine counts the completions, so that a
// request completed twice or never shows.
#pragma once

#include "kernel_api.h"

#include <vector>

namespace zelfuzz {

struct Sent {
    NTSTATUS returned = STATUS_SUCCESS; // what the dispatch call returned
    NTSTATUS status = STATUS_SUCCESS;   // the request's final status
    ULONG_PTR information = 0;
    int completions = 0;
};

struct RequestSpec {
    UCHAR major = IRP_MJ_PNP;
    UCHAR minor = 0;
    NTSTATUS presetStatus = STATUS_NOT_SUPPORTED;
    ULONG_PTR presetInformation = 0;
    // Internal device control (METHOD_NEITHER: the output buffer is the user buffer).
    ULONG code = 0;
    PVOID buffer = nullptr;
    ULONG outputLength = 0;
    // Power.
    POWER_STATE_TYPE powerType = DevicePowerState;
    ULONG powerState = 0;
    BUS_QUERY_ID_TYPE idType = BusQueryDeviceID;
    // The device named in the sender's own location: a driver of the stack
    // sending a request to its own stack names itself there.
    PDEVICE_OBJECT sender = nullptr;
    KIRQL irql = PASSIVE_LEVEL;
};

// Sends the request to `device`, waits (real time, bounded) for a pending one,
// frees it and checks that it was completed exactly once.
Sent Send(PDEVICE_OBJECT device, const RequestSpec& spec);

// A request that may stay pending: Start sends it, Finish checks that it was
// completed exactly once (by then) and frees it.
struct PendingRequest;
PendingRequest* Start(PDEVICE_OBJECT device, const RequestSpec& spec);
bool Completed(const PendingRequest* request);
Sent Finish(PendingRequest* request);

// An internal device-control request with a heap block of exactly `length`
// bytes (none when `nullBuffer`), filled with a pattern: AddressSanitizer stops
// a write outside it, and every byte past the reported count, all of them
// when the request failed, must be left as it was.
struct InternalAnswer {
    Sent sent;
    std::vector<UCHAR> bytes; // the block after the request
};
InternalAnswer SendInternal(PDEVICE_OBJECT device, ULONG code, ULONG length,
                            KIRQL irql = PASSIVE_LEVEL, bool nullBuffer = false);

} // namespace zelfuzz
