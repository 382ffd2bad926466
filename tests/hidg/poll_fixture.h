// A device record wired to a simulated game port, as a start leaves it.
#pragma once

#include "game_port.h"
#include "hidg.h"
#include "kernel_test.h"

namespace zeltest {

// The driver's performance counter at `hz`, and the port's cost per access.
inline void UseCounter(sim::GamePort& port, uint64_t hz, double accessUs) {
    km::SetCounterFrequency(hz);
    LARGE_INTEGER f;
    f.QuadPart = LONGLONG(hz);
    g_Driver.CounterScale = ComputeCounterScale(f);
    g_Driver.CounterRead = KeQueryPerformanceCounter;
    KeInitializeSpinLock(&g_Driver.PortLock);
    port.accessCostPs = uint64_t(accessUs * km::kPsPerUs + 0.5);
}

inline void SetTimeoutUs(GameDeviceExtension& ext, ULONG us) {
    ext.ScaledTimeout = us * 65536;
}

// The port's accessors and the poll's settings, as a start sets them: all
// four lines, a 10 ms timeout, every line fallen so far.
inline void WireToPort(GameDeviceExtension& ext, sim::GamePort& port) {
    UseCounter(port, 1000000, 1.0); // 1 tick = 1 us, 1 us per port access
    ext.ReadAccessor = sim::PortRead;
    ext.WriteAccessor = sim::PortWrite;
    ext.AcquirePort = sim::PortAcquire;
    ext.ReleasePort = sim::PortRelease;
    ext.PortContext = &port;
    ext.PortHandle = &port;
    ext.AxisMask = 0x0F;
    SetTimeoutUs(ext, 10000);
    ext.SpreadLimit = 25;
    for (auto& v : ext.LastAxis)
        v = kAxisFallen;
}

class PollFixture : public KernelTest {
  protected:
    sim::GamePort port;
    GameDeviceExtension ext{};

    void SetUp() override {
        KernelTest::SetUp();
        WireToPort(ext, port);
    }

    void UseCounter(uint64_t hz, double accessUs) { zeltest::UseCounter(port, hz, accessUs); }
    void SetTimeoutUs(ULONG us) { zeltest::SetTimeoutUs(ext, us); }

    struct Poll {
        NTSTATUS status;
        ULONG values[4];
    };
    Poll RunAnalogPoll(UCHAR mask) {
        Poll p{};
        km::AtIrql(DISPATCH_LEVEL, [&] { p.status = AnalogPoll(&ext, mask, p.values); });
        return p;
    }
};

} // namespace zeltest
