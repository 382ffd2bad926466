// The model check after each fuzz input: faults and leaks end the run.
#include "fuzz_check.h"

#include "kernel_model.h"

namespace zelfuzz {

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

void CheckModelClean() {
    bool clean = true;
    for (const auto& fault : km::TakeFaults()) {
        std::fprintf(stderr, "kernel fault: %s\n", fault.c_str());
        clean = false;
    }
    for (const auto& block : km::PoolOutstanding()) {
        std::fprintf(stderr, "pool leak: %zu bytes, tag 0x%08X\n", block.size, unsigned(block.tag));
        clean = false;
    }
    if (km::IrpsOutstanding() != 0) {
        std::fprintf(stderr, "%zu request(s) never freed\n", km::IrpsOutstanding());
        clean = false;
    }
    if (km::OpenKeyHandles() != 0) {
        std::fprintf(stderr, "%zu registry key handle(s) never closed\n", km::OpenKeyHandles());
        clean = false;
    }
    if (!clean)
        Fail("the kernel model is clean after the input");
}

} // namespace zelfuzz
