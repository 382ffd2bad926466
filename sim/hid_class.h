// Simulated HID class driver: the platform side of HidRegisterMinidriver.
//
// Like the platform's class driver it takes over the minidriver's driver
// object at registration (it keeps the minidriver's dispatch table, AddDevice
// and unload, and installs its own), creates the functional device object in
// its AddDevice, calls the minidriver with the request at the same stack
// location, fetches the attributes and descriptors after a start, keeps read
// requests going and deletes the device object after the remove request.
//
// Reads: for a non-polled minidriver `kOutstandingReads` read requests are
// kept outstanding from the start on; each completed read's bytes are stored
// and the request is sent again until the device stops or leaves. A polled
// minidriver is read by the class driver's poll: one read request per poll
// interval of virtual time, sent at the IRQL the caller chooses (PollRead,
// PollReads). Polls may run on several threads at once; the device object is
// deleted after removal only once every poll in flight has returned.
//
// Its parts live in hid_class/, one file per role, sharing class_private.h.
#pragma once

#include "kernel_api.h"
#include "send_request.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace sim::hid {

constexpr int kOutstandingReads = 2;
constexpr ULONG kDefaultReadLength = 64;
constexpr double kDefaultPollIntervalUs = 10000;

// ---- Registration ------------------------------------------------------------------
// The next HidRegisterMinidriver calls fail with this status (success: none fail).
void SetRegistrationStatus(NTSTATUS status);
// What the minidriver registered; null when it has not registered.
const HID_MINIDRIVER_REGISTRATION* Registration(PDRIVER_OBJECT driver);
// The minidriver's own entries, as its DriverEntry left them before registering.
PDRIVER_DISPATCH MinidriverDispatch(PDRIVER_OBJECT driver, UCHAR major);
PDRIVER_ADD_DEVICE MinidriverAddDevice(PDRIVER_OBJECT driver);
PDRIVER_UNLOAD MinidriverUnload(PDRIVER_OBJECT driver);
// Gives the driver object back to the model: call before km::DeleteDriverObject.
void Unregister(PDRIVER_OBJECT driver);

// ---- Devices ---------------------------------------------------------------------------
struct DeviceInfo {
    PDEVICE_OBJECT fdo = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    PDEVICE_OBJECT lower = nullptr;             // what the device object was attached to
    bool started = false;                       // the last start succeeded, descriptors included
    NTSTATUS descriptorStatus = STATUS_SUCCESS; // first failure while fetching them
    HID_DEVICE_ATTRIBUTES attributes{};
    HID_DESCRIPTOR hidDescriptor{};
    std::vector<UCHAR> reportDescriptor;
    ULONG readLength = kDefaultReadLength;   // output buffer size of each read
    std::vector<std::vector<UCHAR>> reports; // bytes of every successful read, in order
    std::vector<NTSTATUS> readFailures;
    int readsOutstanding = 0;
    double pollIntervalUs = kDefaultPollIntervalUs;
};

// The device object the class driver made for `pdo`'s stack, or null.
PDEVICE_OBJECT FunctionalDevice(PDEVICE_OBJECT pdo);
// A copy of the class driver's record of the device (fdo); empty when unknown.
DeviceInfo Device(PDEVICE_OBJECT fdo);
// The size of each read request's buffer from the next start on.
void SetReadLength(PDEVICE_OBJECT fdo, ULONG length);
// For tests of what a minidriver answers after its removal: the device object
// stays after the remove request, and requests still reach the minidriver,
// until DeleteKeptDevice deletes it.
void KeepAfterRemoval(PDEVICE_OBJECT fdo);
void DeleteKeptDevice(PDEVICE_OBJECT fdo);
// ---- The poll of a polled minidriver -------------------------------------------------
struct PolledRead {
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;
    std::vector<UCHAR> report; // the read's buffer, `readLength` bytes
};
// One read request, sent at `irql` and completed before it returns. A device
// that is gone (or going) answers STATUS_NO_SUCH_DEVICE without a request.
PolledRead PollRead(PDEVICE_OBJECT fdo, KIRQL irql = PASSIVE_LEVEL);
// `count` polls, the virtual clock advancing by the poll interval after each.
std::vector<PolledRead> PollReads(PDEVICE_OBJECT fdo, int count, KIRQL irql = PASSIVE_LEVEL);
void SetPollIntervalUs(PDEVICE_OBJECT fdo, double us);

// Removes and returns the reports received so far.
std::vector<std::vector<UCHAR>> TakeReports(PDEVICE_OBJECT fdo);

// ---- Requests to the minidriver -----------------------------------------------------
// One internal device-control request sent to the device object as the class
// driver sends it (METHOD_NEITHER: the output buffer is the user buffer). The
// request starts with `presetStatus` and `presetInformation`, so a test sees
// what the minidriver changed.
struct InternalRequest {
    ULONG code = 0;
    PVOID buffer = nullptr;
    ULONG outputLength = 0;
    PVOID inputBuffer = nullptr;
    ULONG inputLength = 0;
    NTSTATUS presetStatus = STATUS_NOT_SUPPORTED;
    ULONG_PTR presetInformation = 0;
};
using RequestResult = sim::RequestResult;
// A request in flight: `returned` is known at once, the rest once it completes.
struct InternalCall;
// Sends the request and returns without waiting; FinishInternal waits for its
// completion and frees it. Every started call must be finished.
InternalCall* StartInternal(PDEVICE_OBJECT fdo, const InternalRequest& request);
NTSTATUS Returned(const InternalCall* call);
bool Completed(InternalCall* call);
RequestResult FinishInternal(InternalCall* call);
// Both in one: send and wait.
RequestResult SendInternal(PDEVICE_OBJECT fdo, const InternalRequest& request);

} // namespace sim::hid
