#include "game_port.h"

#include "kernel_model.h"

namespace sim {

void GamePort::SetPulseUs(int line, double us) {
    kind[line] = LineKind::Pulse;
    pulsePs[line] = uint64_t(us * km::kPsPerUs + 0.5);
}

UCHAR GamePort::LineStates(uint64_t atPs) const {
    UCHAR bits = 0;
    for (int n = 0; n < 4; ++n) {
        bool high = false;
        switch (kind[n]) {
        case LineKind::Pulse:
            high = fired && atPs < firedAtPs + pulsePs[n];
            break;
        case LineKind::NeverFalls:
            high = fired;
            break;
        case LineKind::StuckLow:
            high = false;
            break;
        }
        if (high)
            bits |= UCHAR(1u << n);
    }
    return bits;
}

UCHAR PortRead(PVOID context) {
    auto* port = static_cast<GamePort*>(context);
    const UCHAR value = UCHAR((port->upperBits & 0xF0) | port->LineStates(km::NowPs()));
    ++port->reads;
    if (!port->held)
        ++port->readsWhileNotHeld;
    km::AdvancePs(port->accessCostPs);
    if (port->reads == port->stallAfterRead)
        km::AdvancePs(port->stallPs);
    return value;
}

VOID PortWrite(PVOID context, UCHAR) {
    auto* port = static_cast<GamePort*>(context);
    port->fired = true;
    port->firedAtPs = km::NowPs();
    ++port->writes;
    km::AdvancePs(port->accessCostPs);
}

NTSTATUS PortAcquire(PVOID context) {
    auto* port = static_cast<GamePort*>(context);
    ++port->acquires;
    if (NT_SUCCESS(port->acquireStatus) && port->acquireStatus != STATUS_DEVICE_BUSY) {
        port->held = true;
        port->acquiredAtPs = km::NowPs();
    }
    return port->acquireStatus;
}

VOID PortRelease(PVOID context) {
    auto* port = static_cast<GamePort*>(context);
    ++port->releases;
    port->held = false;
    port->releasedAtPs = km::NowPs();
}

} // namespace sim
