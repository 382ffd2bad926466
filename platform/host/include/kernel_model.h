// Controls of the host kernel model, for the simulated world and the tests.
//
// The model keeps one virtual machine per process: a virtual clock behind the
// performance counter, the pool, the requests in flight, and a log of faults,
// each a rule that the real kernel would have stopped the system for.
#pragma once

#include "host_kernel.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace km {

// ---- Faults ----------------------------------------------------------------------
// Records a broken kernel rule. The test fixture fails the test that left one.
void Fault(const std::string& what);
// Returns and clears the faults recorded so far.
std::vector<std::string> TakeFaults();

// Puts the whole model back to its initial state (clock, pool, faults, and
// whatever the other model pieces registered with OnReset).
void Reset();
void OnReset(void (*hook)());

// ---- Virtual clock and performance counter -------------------------------------
// Time is kept in picoseconds. A counter read returns the count at the moment
// of the call and then takes its cost.
constexpr uint64_t kPsPerUs = 1000000;
uint64_t NowPs();
void AdvancePs(uint64_t ps);
inline void AdvanceUs(double us) {
    AdvancePs(static_cast<uint64_t>(us * kPsPerUs + 0.5));
}
double NowUs();
void SetCounterFrequency(uint64_t hz);
uint64_t CounterFrequency();
void SetCounterReadCostPs(uint64_t ps);
// Moves the clock to the first instant at which the counter shows `ticks`.
void SetCounterTicks(uint64_t ticks);
uint64_t CounterReads();

// ---- IRQL --------------------------------------------------------------------------
// Runs fn on the calling thread at the given level, then returns to the old one.
template <class F> void AtIrql(KIRQL level, F&& fn) {
    KIRQL old;
    KeRaiseIrql(level, &old);
    fn();
    KeLowerIrql(old);
}
int SpinLocksHeld(); // by the calling thread

// ---- Pool ------------------------------------------------------------------------
struct PoolBlock {
    void* address;
    size_t size;
    ULONG tag;
    POOL_TYPE type;
};
std::vector<PoolBlock> PoolOutstanding();
uint64_t PoolAllocations(ULONG tag); // allocations ever made with this tag
// Makes allocations fail while the predicate says so (null: none fail).
void SetPoolFailure(std::function<bool(ULONG tag, size_t size)> fail);
constexpr ULONG Tag(const char (&s)[5]) {
    return ULONG(uint8_t(s[0])) | ULONG(uint8_t(s[1])) << 8 | ULONG(uint8_t(s[2])) << 16 |
           ULONG(uint8_t(s[3])) << 24;
}

// ---- Drivers, devices and requests -------------------------------------------------
// A driver object with its extension, as the loader makes it before DriverEntry.
PDRIVER_OBJECT CreateDriverObject(const char16_t* name);
void DeleteDriverObject(PDRIVER_OBJECT driver);
size_t IrpsOutstanding();
// File-object references that IoGetDeviceObjectPointer handed out for a device
// and that are not yet released.
long OpenReferences(PDEVICE_OBJECT device);
std::string StatusName(NTSTATUS status);

} // namespace km

// Device objects, as the platform creates them for a driver (used by the
// simulated bus and class drivers).
extern "C" {
NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                        PUNICODE_STRING DeviceName, ULONG DeviceType, ULONG DeviceCharacteristics,
                        BOOLEAN Exclusive, PDEVICE_OBJECT* DeviceObject);
VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject);
PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice,
                                           PDEVICE_OBJECT TargetDevice);
VOID IoDetachDevice(PDEVICE_OBJECT TargetDevice);
}

#include "registry_model.h"
