// Virtual clock of the host kernel model and the performance counter that reads it.
#include "kernel_model.h"

#include <atomic>

namespace km {
namespace {
std::atomic<uint64_t> g_nowPs{0};
std::atomic<uint64_t> g_frequency{10000000};
std::atomic<uint64_t> g_counterReadCostPs{0};
std::atomic<uint64_t> g_counterReads{0};
} // namespace

void ResetClock() {
    g_nowPs = 0;
    g_frequency = 10000000;
    g_counterReadCostPs = 0;
    g_counterReads = 0;
}

uint64_t NowPs() {
    return g_nowPs.load();
}
void AdvancePs(uint64_t ps) {
    g_nowPs.fetch_add(ps);
}
double NowUs() {
    return double(g_nowPs.load()) / double(kPsPerUs);
}
void SetCounterFrequency(uint64_t hz) {
    g_frequency = hz;
}
uint64_t CounterFrequency() {
    return g_frequency.load();
}
void SetCounterReadCostPs(uint64_t ps) {
    g_counterReadCostPs = ps;
}
uint64_t CounterReads() {
    return g_counterReads.load();
}

static uint64_t TicksAt(uint64_t ps) {
    return uint64_t((unsigned __int128)ps * g_frequency.load() / 1000000000000ull);
}

void SetCounterTicks(uint64_t ticks) {
    const uint64_t f = g_frequency.load();
    g_nowPs = uint64_t(((unsigned __int128)ticks * 1000000000000ull + f - 1) / f);
}

} // namespace km

extern "C" LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER PerformanceFrequency) {
    LARGE_INTEGER now;
    now.QuadPart = LONGLONG(km::TicksAt(km::g_nowPs.load()));
    if (PerformanceFrequency)
        PerformanceFrequency->QuadPart = LONGLONG(km::g_frequency.load());
    km::g_counterReads.fetch_add(1);
    km::g_nowPs.fetch_add(km::g_counterReadCostPs.load());
    return now;
}
