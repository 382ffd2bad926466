// Tagged pool of the host kernel model: every block is accounted for, so a
// double free, a tag mismatch or a leak shows up as a fault.
#include "kernel_model.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace km {
namespace {
struct BlockInfo {
    size_t size;
    ULONG tag;
    POOL_TYPE type;
};
std::mutex g_poolLock;
std::map<void*, BlockInfo> g_blocks;
std::map<ULONG, uint64_t> g_allocationsByTag;
std::function<bool(ULONG, size_t)> g_failure;

std::string TagText(ULONG tag) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = char((tag >> (8 * i)) & 0xFF);
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}
} // namespace

std::vector<PoolBlock> PoolOutstanding() {
    std::lock_guard<std::mutex> guard(g_poolLock);
    std::vector<PoolBlock> out;
    for (auto& [address, info] : g_blocks)
        out.push_back({address, info.size, info.tag, info.type});
    return out;
}

uint64_t PoolAllocations(ULONG tag) {
    std::lock_guard<std::mutex> guard(g_poolLock);
    auto it = g_allocationsByTag.find(tag);
    return it == g_allocationsByTag.end() ? 0 : it->second;
}

void SetPoolFailure(std::function<bool(ULONG, size_t)> fail) {
    std::lock_guard<std::mutex> guard(g_poolLock);
    g_failure = std::move(fail);
}

void ResetPool() {
    std::lock_guard<std::mutex> guard(g_poolLock);
    for (auto& [address, info] : g_blocks)
        std::free(address);
    g_blocks.clear();
    g_allocationsByTag.clear();
    g_failure = nullptr;
}

} // namespace km

extern "C" {

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
    if (PoolType == PagedPool && KeGetCurrentIrql() > APC_LEVEL)
        km::Fault("paged pool allocated at DISPATCH_LEVEL");
    // With memory integrity on, 64-bit Windows keeps data out of executable pool.
    if (PoolType == NonPagedPool)
        km::Fault("executable non-paged pool allocated (data belongs in NonPagedPoolNx)");
    std::lock_guard<std::mutex> guard(km::g_poolLock);
    if (km::g_failure && km::g_failure(Tag, NumberOfBytes))
        return nullptr;
    void* block = std::malloc(NumberOfBytes ? NumberOfBytes : 1);
    // Fresh pool is not zeroed: a pattern shows reads of bytes never written.
    std::memset(block, 0xCD, NumberOfBytes);
    km::g_blocks[block] = {NumberOfBytes, Tag, PoolType};
    ++km::g_allocationsByTag[Tag];
    return block;
}

VOID ExFreePoolWithTag(PVOID P, ULONG Tag) {
    std::lock_guard<std::mutex> guard(km::g_poolLock);
    auto it = km::g_blocks.find(P);
    if (it == km::g_blocks.end()) {
        km::Fault("ExFreePoolWithTag of a block that is not allocated (double free?)");
        return;
    }
    if (Tag != 0 && it->second.tag != Tag)
        km::Fault("ExFreePoolWithTag with tag " + km::TagText(Tag) + " for a block tagged " +
                  km::TagText(it->second.tag));
    std::memset(P, 0xDD, it->second.size);
    std::free(P);
    km::g_blocks.erase(it);
}

VOID ExFreePool(PVOID P) {
    ExFreePoolWithTag(P, 0);
}

} // extern "C"
