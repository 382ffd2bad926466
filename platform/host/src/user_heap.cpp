// Host user-mode model: the process heap, whose allocations a test can make fail and whose
// blocks it can count.
#include "user_roles.h"

#include <cstdlib>
#include <mutex>
#include <set>

namespace {
std::mutex g_Lock;
bool g_Fail = false;
std::set<void*> g_Blocks;
HANDLE const kProcessHeap = reinterpret_cast<HANDLE>(0x4EA9);
} // namespace

namespace um {

void ResetHeap() {
    std::lock_guard<std::mutex> hold(g_Lock);
    for (void* block : g_Blocks)
        std::free(block);
    g_Blocks.clear();
    g_Fail = false;
}

void FailHeapAllocations(bool fail) {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Fail = fail;
}

int HeapBlockCount() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return int(g_Blocks.size());
}

} // namespace um

HANDLE GetProcessHeap() {
    return kProcessHeap;
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    um::LogCall("HeapAlloc");
    std::lock_guard<std::mutex> hold(g_Lock);
    if (g_Fail || heap != kProcessHeap)
        return nullptr;
    void* block = std::malloc(size ? size : 1);
    if (block)
        g_Blocks.insert(block);
    return block;
}

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    um::LogCall("HeapFree");
    std::lock_guard<std::mutex> hold(g_Lock);
    if (heap != kProcessHeap || g_Blocks.erase(block) == 0)
        return FALSE;
    std::free(block);
    return TRUE;
}
