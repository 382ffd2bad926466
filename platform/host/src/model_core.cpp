// Fault log, reset hooks and the virtual clock of the host kernel model.
#include "kernel_model.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace km {
namespace {
std::mutex g_faultLock;
std::vector<std::string> g_faults;

std::mutex g_resetLock;
std::vector<void (*)()> g_resetHooks;

std::atomic<uint64_t> g_nowPs{0};
std::atomic<uint64_t> g_frequency{10000000};
std::atomic<uint64_t> g_counterReadCostPs{0};
std::atomic<uint64_t> g_counterReads{0};
} // namespace

void Fault(const std::string& what) {
    std::lock_guard<std::mutex> guard(g_faultLock);
    g_faults.push_back(what);
}

std::vector<std::string> TakeFaults() {
    std::lock_guard<std::mutex> guard(g_faultLock);
    std::vector<std::string> out;
    out.swap(g_faults);
    return out;
}

void OnReset(void (*hook)()) {
    std::lock_guard<std::mutex> guard(g_resetLock);
    for (auto h : g_resetHooks)
        if (h == hook)
            return;
    g_resetHooks.push_back(hook);
}

void ResetPool();
void ResetIo();

void Reset() {
    std::vector<void (*)()> hooks;
    {
        std::lock_guard<std::mutex> guard(g_resetLock);
        hooks = g_resetHooks;
    }
    for (auto h : hooks)
        h();
    ResetIo();
    ResetPool();
    g_nowPs = 0;
    g_frequency = 10000000;
    g_counterReadCostPs = 0;
    g_counterReads = 0;
    TakeFaults();
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

std::string StatusName(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(status));
    return text;
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

void HostListFault(const char* what) {
    km::Fault(what);
}
