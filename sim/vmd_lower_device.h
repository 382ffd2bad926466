// The driver below the virtual keyboard and mouse minidriver: a tiny bus
// driver whose physical device object completes the start (or fails it),
// answers read requests with the reports a test queues, holds reads until it
// has one, and completes every other Plug and Play and power request.
//
// When it stops or leaves (stop, surprise removal, removal) it fails the reads
// it holds, as a bus driver fails the requests of a device that is gone.
#pragma once

#include "kernel_api.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

// One request as it reached the lower device, before it was touched.
struct SeenRequest {
    UCHAR major = 0;
    UCHAR minor = 0;
    NTSTATUS status = 0; // the request's status on arrival
    ULONG_PTR information = 0;
    ULONG code = 0;
    PVOID userBuffer = nullptr;
    ULONG outputLength = 0;
    ULONG inputLength = 0;
    PVOID inputBuffer = nullptr;
    BUS_QUERY_ID_TYPE idType = BusQueryDeviceID;
    POWER_STATE_TYPE powerType = SystemPowerState;
    ULONG powerState = 0;
};

struct VmdLowerDevice {
    PDRIVER_OBJECT driver = nullptr;
    PDEVICE_OBJECT pdo = nullptr;

    // Behaviour, set by the test.
    NTSTATUS startStatus = STATUS_SUCCESS;
    bool pendStart = false;                // return STATUS_PENDING, complete from another thread
    NTSTATUS readFailure = STATUS_SUCCESS; // a failure status fails every read at once
    // Called with each request as it arrives, before it is handled.
    std::function<void(PIRP irp)> observer;

    // Internal: guarded by `lock`; no request is completed while it is held.
    std::mutex lock;
    std::vector<SeenRequest> seen;
    std::deque<std::vector<UCHAR>> reports;
    std::deque<PIRP> heldReads;
    std::thread starter;
    NTSTATUS lastReadReturn = STATUS_SUCCESS;
};

VmdLowerDevice* CreateVmdLowerDevice();
// Fails the reads still held, deletes the device and its driver object.
void DestroyVmdLowerDevice(VmdLowerDevice* device);

// Reports laid out as the minidriver's report descriptor declares them.
std::vector<UCHAR> KeyboardReport(std::initializer_list<UCHAR> keysDown);
std::vector<UCHAR> MouseReport(UCHAR buttons, int8_t dx, int8_t dy);

// Answers the oldest held read with the report, or keeps it for the next read.
void QueueReport(VmdLowerDevice* device, const std::vector<UCHAR>& report);
size_t HeldReads(VmdLowerDevice* device);
size_t QueuedReports(VmdLowerDevice* device);
std::vector<SeenRequest> Seen(VmdLowerDevice* device);
// Requests seen with this major (and minor, for Plug and Play and power).
std::vector<SeenRequest> Seen(VmdLowerDevice* device, UCHAR major, int minor = -1);
NTSTATUS LastReadReturn(VmdLowerDevice* device);
// Waits for a start completed from another thread.
void JoinStarter(VmdLowerDevice* device);

} // namespace sim
