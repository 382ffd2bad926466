// What the pieces of the simulated HID class driver share: its records of the
// registered minidrivers and of the device objects it made, and the routines
// that one piece calls in another.
#pragma once

#include "hid_class.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace sim::hid {

struct Minidriver {
    HID_MINIDRIVER_REGISTRATION registration{};
    PDRIVER_DISPATCH dispatch[IRP_MJ_MAXIMUM_FUNCTION + 1] = {};
    PDRIVER_ADD_DEVICE addDevice = nullptr;
    PDRIVER_UNLOAD unload = nullptr;
};

struct DeviceRecord {
    DeviceInfo info;
    PDRIVER_OBJECT driver = nullptr;
    bool readsRunning = false;
    int pollsInFlight = 0;
    bool deleting = false; // removal is done: no new poll may begin
    bool keptAfterRemoval = false;
};

// Driver code is never called with this lock held: a minidriver may send
// requests that come back here.
extern std::mutex g_lock;
extern std::condition_variable g_pollsDone;
extern std::map<PDRIVER_OBJECT, Minidriver> g_minidrivers;
extern std::map<PDEVICE_OBJECT, DeviceRecord> g_devices;

// Registration (registration.cpp): empties the records when the model resets.
void HookReset();

// Device lifetime (devices.cpp).
NTSTATUS ClassAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
void DeleteDevice(PDEVICE_OBJECT fdo);

// Plug and Play (pnp.cpp).
NTSTATUS DispatchPnp(PDEVICE_OBJECT fdo, PIRP irp);

// Continuous reads of a non-polled minidriver (continuous_reads.cpp).
void StartReads(PDEVICE_OBJECT fdo);
void StopReads(PDEVICE_OBJECT fdo);

// Request plumbing (requests.cpp).
NTSTATUS ClassDispatch(PDEVICE_OBJECT device, PIRP irp);
// The device object below the class driver's one.
PDEVICE_OBJECT Lower(PDEVICE_OBJECT fdo);
// Calls the minidriver's own routine for the request's major function, with
// the request at the class driver's stack location; passes it down without one.
NTSTATUS CallMinidriver(PDEVICE_OBJECT fdo, PIRP irp);

} // namespace sim::hid
