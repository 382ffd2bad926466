// The kernel contract suite's case list and the request that runs one case in
// the test driver: shared by the cases, the driver, the Wine test program and
// the host test.
#pragma once

namespace contract {

// "\Device\ZelContract", opened from user mode as "\\.\ZelContract".
// CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr unsigned long kRunCaseCode = 0x00222000;

struct RunRequest {
    unsigned int id;
};
struct RunResult {
    int failedLine;      // 0: every check of the case held
    unsigned int detail; // the value the failing check saw
};

enum CaseId : unsigned int {
    StackLocations,
    CompletionRoutineOrder,
    CompletionRoutineFlags,
    MoreProcessingRequired,
    PendingReturned,
    PendingCarriedPastCopiedLocation,
    EventFromCompletionRoutine,
    BufferedSharedBuffer,
    BufferedSeparateBuffers,
    PoolTagsAndAlignment,
    FastMutexUse,
    FastMutexRaisesIrql,
    SpinLockUse,
    SpinLockRaisesIrql,
    RegistryShortBuffers,
    RemoveLock,
    CaseCount
};

struct CaseInfo {
    const char* name;
    // Why the case runs on the host model only, or null when it runs on both sides.
    const char* hostOnly;
};

constexpr const char* kNoIrqlUnderWine =
    "Wine 8.0 does not model IRQL: KeGetCurrentIrql always reads PASSIVE_LEVEL";

constexpr CaseInfo kCases[CaseCount] = {
    {"StackLocations", nullptr},
    {"CompletionRoutineOrder", nullptr},
    {"CompletionRoutineFlags", nullptr},
    {"MoreProcessingRequired", nullptr},
    {"PendingReturned", nullptr},
    // The kernel documentation has the I/O manager mark a location pending
    // when the one below it returned pending and no routine sat between.
    {"PendingCarriedPastCopiedLocation",
     "Wine 8.0 does not carry the pending mark up past a location without a completion "
     "routine; the host model does, as the kernel documentation describes"},
    {"EventFromCompletionRoutine", nullptr},
    {"BufferedSharedBuffer", nullptr},
    {"BufferedSeparateBuffers",
     "Wine 8.0 leaves a METHOD_BUFFERED answer of IoBuildDeviceIoControlRequest in the input "
     "buffer, not in a separate output buffer"},
    {"PoolTagsAndAlignment", nullptr},
    {"FastMutexUse", nullptr},
    {"FastMutexRaisesIrql", kNoIrqlUnderWine},
    {"SpinLockUse", nullptr},
    {"SpinLockRaisesIrql", kNoIrqlUnderWine},
    {"RegistryShortBuffers", nullptr},
    {"RemoveLock", nullptr},
};

// The value the registry case reads: written by the Wine test with `reg add`
// and by the host test into the model.
#define ZEL_CONTRACT_KEY                                                                           \
    "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zel_contract\\Parameters"
#define ZEL_CONTRACT_VALUE "Calibration"
constexpr unsigned char kValueBytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

} // namespace contract
