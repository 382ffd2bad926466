// Simulated analog game port: four one-shot axis lines on the model's clock.
//
// A write fires every line; line n then reads high for its pulse time and
// falls. Every port access (read or write) samples at the moment of the call
// and then takes `accessCostPs` of virtual time.
#pragma once

#include "kernel_api.h"

#include <cstdint>
#include <optional>

namespace sim {

enum class LineKind { Pulse, NeverFalls, StuckLow };

struct GamePort {
    LineKind kind[4] = {LineKind::Pulse, LineKind::Pulse, LineKind::Pulse, LineKind::Pulse};
    uint64_t pulsePs[4] = {};
    uint64_t accessCostPs = 1000000; // 1 us per port access
    UCHAR upperBits = 0xF0;          // button inputs: released buttons read 1
    NTSTATUS acquireStatus = STATUS_SUCCESS;
    // An interruption of the sampling loop (an interrupt or SMI taking the
    // processor away): after read number `stallAfterRead` the next access
    // comes `stallPs` later.
    uint64_t stallAfterRead = 0;
    uint64_t stallPs = 0;

    // What happened, for the tests and the benchmark.
    bool fired = false;
    uint64_t firedAtPs = 0;
    uint64_t writes = 0, reads = 0, acquires = 0, releases = 0;
    uint64_t acquiredAtPs = 0, releasedAtPs = 0;
    bool held = false;
    uint64_t readsWhileNotHeld = 0;

    void SetPulseUs(int line, double us);
    void SetLine(int line, LineKind k) { kind[line] = k; }
    UCHAR LineStates(uint64_t atPs) const;
};

// The accessors handed to the driver; the context is the GamePort.
UCHAR PortRead(PVOID context);
VOID PortWrite(PVOID context, UCHAR value);
NTSTATUS PortAcquire(PVOID context);
VOID PortRelease(PVOID context);

} // namespace sim
