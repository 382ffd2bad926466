// The Plug and Play manager's side of a device stack, as far as the drivers
// see it: AddDevice, and Plug and Play, power, create and close requests sent
// to the top of the stack and waited for.
//
// Each request is built with IoAllocateIrp, starts with the status the
// platform gives it (STATUS_NOT_SUPPORTED for Plug and Play and power
// requests) and is sent through SendRequest, which frees it after its
// completion.
#pragma once

#include "kernel_api.h"
#include "send_request.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace sim::pnp {

struct Request {
    UCHAR major = IRP_MJ_PNP;
    UCHAR minor = 0;
    NTSTATUS presetStatus = STATUS_NOT_SUPPORTED;
    ULONG_PTR presetInformation = 0;
    // When set, the request carries one more stack location, the sender's own,
    // naming this device object: a request a driver of the stack sends itself.
    PDEVICE_OBJECT sender = nullptr;
    // Fills the parameters of the first driver's stack location.
    std::function<void(PIO_STACK_LOCATION)> parameters;
};

using Result = RequestResult;

// The highest device object attached above `device`.
PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT device);

// Calls the driver's AddDevice for the physical device object, as the
// platform does when it loads the driver for a new device.
NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);

// Sends to the top of `device`'s stack and waits for the completion.
Result Send(PDEVICE_OBJECT device, const Request& request);
Result Send(PDEVICE_OBJECT device, UCHAR major, UCHAR minor);

inline Result Start(PDEVICE_OBJECT d) {
    return Send(d, IRP_MJ_PNP, IRP_MN_START_DEVICE);
}
inline Result QueryStop(PDEVICE_OBJECT d) {
    return Send(d, IRP_MJ_PNP, IRP_MN_QUERY_STOP_DEVICE);
}
inline Result CancelStop(PDEVICE_OBJECT d) {
    return Send(d, IRP_MJ_PNP, IRP_MN_CANCEL_STOP_DEVICE);
}
inline Result Stop(PDEVICE_OBJECT d) {
    return Send(d, IRP_MJ_PNP, IRP_MN_STOP_DEVICE);
}
inline Result QueryRemove(PDEVICE_OBJECT d) {
    return Send(d, IRP_MJ_PNP, IRP_MN_QUERY_REMOVE_DEVICE);
}
inline Result CancelRemove(PDEVICE_OBJECT d) {
    return Send(d, IRP_MJ_PNP, IRP_MN_CANCEL_REMOVE_DEVICE);
}
inline Result SurpriseRemoval(PDEVICE_OBJECT d) {
    return Send(d, IRP_MJ_PNP, IRP_MN_SURPRISE_REMOVAL);
}
// After it the stack's function device object may be gone: `d` must be the
// physical device object or one that outlives the removal.
inline Result Remove(PDEVICE_OBJECT d) {
    return Send(d, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE);
}
inline Result Create(PDEVICE_OBJECT d) {
    return Send(d, IRP_MJ_CREATE, 0);
}
inline Result Close(PDEVICE_OBJECT d) {
    return Send(d, IRP_MJ_CLOSE, 0);
}

// A set-power or query-power request for a device power state.
Result Power(PDEVICE_OBJECT device, UCHAR minor, DEVICE_POWER_STATE state);

// IRP_MN_QUERY_ID. The reply buffer belongs to the requester: its bytes, pool
// tag and block size are taken here and the block is freed.
struct IdResult {
    Result request;
    std::vector<UCHAR> bytes; // the whole pool block; empty without a reply
    ULONG tag = 0;
};
IdResult QueryId(PDEVICE_OBJECT device, BUS_QUERY_ID_TYPE type, PDEVICE_OBJECT sender = nullptr,
                 NTSTATUS presetStatus = STATUS_NOT_SUPPORTED);

} // namespace sim::pnp
