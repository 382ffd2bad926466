// Precision of the analog poll on the simulated port.
//
// For each port access cost and counter frequency, 10,000 random stick
// positions are polled through the real poll code, and the reported position
// of every line is compared with the true time from the trigger to the falling
// edge. The method's bound is one sampling pass (the start stamp follows the
// trigger by one port access), plus the half-width of the two-pass bracket,
// plus the 1 us resolution of a reported position; the physical limit of any
// sampling method is half a pass.
#include "game_port.h"
#include "hidg.h"
#include "kernel_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

constexpr int kPositions = 10000;
constexpr double kCounterReadUs = 0.05;

struct Result {
    double maxError = 0, sumError = 0;
    long samples = 0;
    long timeouts = 0;
    double maxHoldBeyond = 0, sumHoldBeyond = 0;
};

Result Measure(double accessUs, uint64_t hz, std::mt19937& random) {
    km::Reset();
    km::SetCounterFrequency(hz);
    km::SetCounterReadCostPs(uint64_t(kCounterReadUs * km::kPsPerUs));
    LARGE_INTEGER f;
    f.QuadPart = LONGLONG(hz);
    g_Driver.CounterScale = ComputeCounterScale(f);
    g_Driver.CounterRead = KeQueryPerformanceCounter;
    KeInitializeSpinLock(&g_Driver.PortLock);

    sim::GamePort port;
    port.accessCostPs = uint64_t(accessUs * km::kPsPerUs + 0.5);
    GameDeviceExtension ext{};
    ext.ReadAccessor = sim::PortRead;
    ext.WriteAccessor = sim::PortWrite;
    ext.AcquirePort = sim::PortAcquire;
    ext.ReleasePort = sim::PortRelease;
    ext.PortContext = ext.PortHandle = &port;
    ext.AxisMask = 0x0F;
    ext.ScaledTimeout = 10000u * 65536u;
    ext.SpreadLimit = 25;

    std::uniform_real_distribution<double> position(10.0, 1500.0);
    Result r;
    for (int i = 0; i < kPositions; ++i) {
        double longest = 0;
        for (int line = 0; line < 4; ++line) {
            port.SetPulseUs(line, position(random));
            longest = std::max(longest, double(port.pulsePs[line]) / km::kPsPerUs);
        }
        NTSTATUS status;
        km::AtIrql(DISPATCH_LEVEL, [&] { status = PollDevice(&ext); });
        if (status == STATUS_TIMEOUT)
            ++r.timeouts;
        for (int line = 0; line < 4; ++line) {
            double truth = double(port.pulsePs[line]) / km::kPsPerUs;
            double error = std::fabs(double(ext.LastAxis[line]) - truth);
            r.maxError = std::max(r.maxError, error);
            r.sumError += error;
            ++r.samples;
        }
        double held = double(port.releasedAtPs - port.firedAtPs) / km::kPsPerUs;
        r.maxHoldBeyond = std::max(r.maxHoldBeyond, held - longest);
        r.sumHoldBeyond += held - longest;
        km::AdvanceUs(5000); // the next read request
    }
    return r;
}

} // namespace

int main() {
    const double accesses[] = {0.5, 1.0, 2.0};
    const uint64_t frequencies[] = {3579545, 10000000, 14318180};
    std::mt19937 random(2026);
    double worst = 0;

    std::printf(
        "Analog poll precision, %d random positions per row, 4 lines, counter read %.2f us\n",
        kPositions, kCounterReadUs);
    std::printf("%8s %11s | %8s %8s | %9s %9s | %8s | %10s %10s\n", "read us", "counter Hz",
                "max err", "mean err", "max/bound", "max/phys", "timeouts", "hold+ mean",
                "hold+ max");
    for (double access : accesses) {
        for (uint64_t hz : frequencies) {
            Result r = Measure(access, hz, random);
            const double pass = access + kCounterReadUs;
            const double bound = pass + pass + 1.0; // start offset + half of two passes + 1 us
            const double physical = pass / 2;
            const double ratio = r.maxError / bound;
            worst = std::max(worst, ratio);
            std::printf("%8.2f %11llu | %8.3f %8.3f | %9.3f %9.2f | %7.2f%% | %10.2f %10.2f\n",
                        access, (unsigned long long)hz, r.maxError, r.sumError / r.samples, ratio,
                        r.maxError / physical, 100.0 * r.timeouts / kPositions,
                        r.sumHoldBeyond / kPositions, r.maxHoldBeyond);
        }
    }
    km::Reset();
    std::printf("worst error ratio: %.3f\n", worst);
    return 0;
}
