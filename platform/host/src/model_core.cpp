// Fault log and reset hooks of the host kernel model.
#include "kernel_model.h"

#include <cstdio>
#include <mutex>

namespace km {
namespace {
std::mutex g_faultLock;
std::vector<std::string> g_faults;

std::mutex g_resetLock;
std::vector<void (*)()> g_resetHooks;
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

void ResetClock();
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
    ResetClock();
    TakeFaults();
}

std::string StatusName(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(status));
    return text;
}

} // namespace km
