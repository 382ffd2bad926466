// Polls a simulated four-axis stick through the driver's real poll code and
// prints the positions: the stick moves on a circle (X, Y), the throttle ramps
// and the rudder sweeps.
#include "game_port.h"
#include "hidg.h"
#include "kernel_model.h"

#include <cmath>
#include <cstdio>

int main() {
    km::Reset();
    km::SetCounterFrequency(3579545);
    LARGE_INTEGER f;
    f.QuadPart = 3579545;
    g_Driver.CounterScale = ComputeCounterScale(f);
    g_Driver.CounterRead = KeQueryPerformanceCounter;
    KeInitializeSpinLock(&g_Driver.PortLock);

    sim::GamePort port;
    GameDeviceExtension ext{};
    ext.ReadAccessor = sim::PortRead;
    ext.WriteAccessor = sim::PortWrite;
    ext.AcquirePort = sim::PortAcquire;
    ext.ReleasePort = sim::PortRelease;
    ext.PortContext = ext.PortHandle = &port;
    ext.AxisMask = 0x0F;
    ext.ScaledTimeout = 10000u * 65536u;
    ext.SpreadLimit = 25;

    std::printf("%5s %10s | %7s %7s %7s %7s | %7s %7s %7s %7s\n", "poll", "status", "X true",
                "Y true", "Z true", "R true", "X", "Y", "Z", "R");
    const int polls = 24;
    for (int i = 0; i < polls; ++i) {
        const double angle = 2 * M_PI * i / polls;
        const double truth[4] = {600 + 500 * std::cos(angle), 600 + 500 * std::sin(angle),
                                 100 + 1000.0 * i / (polls - 1),
                                 600 + 500 * std::sin(4 * M_PI * i / polls)};
        for (int line = 0; line < 4; ++line)
            port.SetPulseUs(line, truth[line]);
        NTSTATUS status;
        km::AtIrql(DISPATCH_LEVEL, [&] { status = PollDevice(&ext); });
        std::printf("%5d %10s | %7.1f %7.1f %7.1f %7.1f | %7u %7u %7u %7u\n", i,
                    km::StatusName(status).c_str(), truth[0], truth[1], truth[2], truth[3],
                    ext.LastAxis[0], ext.LastAxis[1], ext.LastAxis[2], ext.LastAxis[3]);
        km::AdvanceUs(10000);
    }
    return 0;
}
