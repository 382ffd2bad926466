// Analog port poll: fire the one-shots, sample the port against the
// performance counter and turn each line's falling edge into microseconds.
#include "hidg.h"

ULONG ComputeCounterScale(LARGE_INTEGER frequency) {
    if (frequency.HighPart == 0 && frequency.LowPart <= 10000)
        return 0;
    return ULONG(65536000000ULL / ULONGLONG(frequency.QuadPart));
}

static inline ULONG CounterLow() {
    return g_Driver.CounterRead(nullptr).LowPart;
}

NTSTATUS AnalogPoll(GameDeviceExtension* ext, UCHAR lineMask, ULONG values[4]) {
    // Per 4-bit line state: stamp before the latest read that returned it, and
    // stamp after the read that followed it. Ticks since the start stamp.
    ULONG lastSeen[16] = {};
    ULONG goneBy[16] = {};

    ext->WriteAccessor(ext->PortContext, 0);
    const ULONG scale = g_Driver.CounterScale;
    const ULONG limit = ext->ScaledTimeout / scale;
    const ULONG start = CounterLow();

    UCHAR finalState = 0;
    if (lineMask != 0) {
        // Before the first read every line in use counts as high. The loop
        // stops one pass after the first read with every line low; that pass's
        // stamp closes the bracket of the last state that had a line high.
        UCHAR older = lineMask;
        UCHAR previous = lineMask;
        for (;;) {
            const ULONG t = CounterLow() - start;
            goneBy[older] = t;
            older = previous;
            const UCHAR s = ext->ReadAccessor(ext->PortContext) & lineMask;
            previous = s;
            lastSeen[s] = t;
            if (t >= limit || older == 0)
                break;
        }
        finalState = older;
    }

    NTSTATUS status = STATUS_SUCCESS;
    for (int n = 3; n >= 0; --n) {
        const UCHAR bit = UCHAR(1u << n);
        if (!(lineMask & bit))
            continue;
        if (finalState & bit) {
            values[n] = kAxisFallen;
            status = STATUS_DEVICE_NOT_CONNECTED;
            continue;
        }
        // The latest state that still had this line high gives the bracket;
        // on equal stamps the lowest such state wins.
        ULONG h = 0;
        ULONG l = 0;
        for (unsigned idx = bit; idx <= lineMask; idx = (idx + 1) | bit) {
            if (lastSeen[idx] > h) {
                h = lastSeen[idx];
                l = goneBy[idx];
            }
        }
        if (h == 0) {
            // The line was never seen high after the trigger (stuck low, or
            // it fell before the first stamp): no measurement, and nothing to
            // learn about the bracket width.
            values[n] = 0;
            continue;
        }
        const ULONG lo = (h * scale) >> 16;
        const ULONG hi = (l * scale) >> 16;
        const ULONG width = hi - lo;
        if (width > ext->SpreadLimit) {
            values[n] = lo;
            if (NT_SUCCESS(status))
                status = STATUS_TIMEOUT;
            continue;
        }
        values[n] = (lo >> 1) + (hi >> 1);
        // Only a real bracket may tighten the limit: a zero width from
        // rounding would otherwise reject every later measurement.
        if (width != 0 && 2 * width < ext->SpreadLimit)
            ext->SpreadLimit = 2 * width;
    }
    return status;
}

NTSTATUS PollDevice(GameDeviceExtension* ext) {
    ULONG values[4] = {};

    // The read path only polls a device that has its port functions.
    const KIRQL oldIrql = KeAcquireSpinLockRaiseToDpc(&g_Driver.PortLock);
    NTSTATUS status = ext->AcquirePort(ext->PortHandle);
    if (NT_SUCCESS(status)) {
        status = AnalogPoll(ext, ext->AxisMask & 0x0F, values);
        ext->ReleasePort(ext->PortHandle);
    }
    KeReleaseSpinLock(&g_Driver.PortLock, oldIrql);

    // History: a line is stable while it matches its value of two polls back,
    // which also counts a value flickering between two numbers as stable.
    for (int i = 0; i < 4; ++i) {
        if (values[i] == ext->PreviousAxis[i])
            ext->AxisFilter[i].StableCount++;
        else
            ext->AxisFilter[i].StableCount = 0;
        ext->PreviousAxis[i] = ext->LastAxis[i];
        ext->LastAxis[i] = values[i];
    }

    if (status == STATUS_DEVICE_BUSY)
        return STATUS_TIMEOUT;
    return status;
}
