// IRQL per thread, events, fast mutexes and spin locks of the host kernel model.
#include "kernel_model.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
thread_local KIRQL t_irql = PASSIVE_LEVEL;
thread_local int t_spinLocksHeld = 0;

// One lock and condition for every dispatcher object: simple, and the model
// never has many waiters.
std::mutex g_dispatcherLock;
std::condition_variable g_dispatcherSignal;

// A wait that no one satisfies would hang the test run; report it instead.
constexpr auto kDeadlockLimit = std::chrono::seconds(20);

PVOID CurrentThreadToken() {
    static thread_local char token;
    return &token;
}

std::string Where(const char* routine) {
    return std::string(routine) + ": ";
}
} // namespace

namespace km {
int SpinLocksHeld() {
    return t_spinLocksHeld;
}
} // namespace km

void HostCheckPagedCode(const char* function) {
    if (t_irql > APC_LEVEL)
        km::Fault(std::string("pageable routine ") + function + " entered at IRQL " +
                  std::to_string(int(t_irql)));
}

extern "C" {

KIRQL KeGetCurrentIrql(void) {
    return t_irql;
}

VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql) {
    if (NewIrql < t_irql)
        km::Fault("KeRaiseIrql to a lower level");
    *OldIrql = t_irql;
    t_irql = NewIrql;
}

VOID KeLowerIrql(KIRQL NewIrql) {
    if (NewIrql > t_irql)
        km::Fault("KeLowerIrql to a higher level");
    t_irql = NewIrql;
}

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
    Event->Header.Type = UCHAR(Type);
    Event->Header.SignalState = State ? 1 : 0;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN Wait) {
    if (t_irql > DISPATCH_LEVEL)
        km::Fault("KeSetEvent above DISPATCH_LEVEL");
    if (Wait)
        km::Fault("KeSetEvent with Wait TRUE is not modelled");
    std::lock_guard<std::mutex> guard(g_dispatcherLock);
    LONG old = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    g_dispatcherSignal.notify_all();
    return old;
}

VOID KeClearEvent(PRKEVENT Event) {
    std::lock_guard<std::mutex> guard(g_dispatcherLock);
    Event->Header.SignalState = 0;
}

LONG KeReadStateEvent(PRKEVENT Event) {
    std::lock_guard<std::mutex> guard(g_dispatcherLock);
    return Event->Header.SignalState;
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER Timeout) {
    auto* event = static_cast<PRKEVENT>(Object);
    const bool poll = Timeout && Timeout->QuadPart == 0;
    if (!poll && t_irql > APC_LEVEL)
        km::Fault(Where("KeWaitForSingleObject") + "wait at IRQL " + std::to_string(int(t_irql)));
    if (!poll && t_spinLocksHeld > 0)
        km::Fault(Where("KeWaitForSingleObject") + "wait while holding a spin lock");
    std::unique_lock<std::mutex> guard(g_dispatcherLock);
    auto signalled = [&] { return event->Header.SignalState != 0; };
    if (poll) {
        if (!signalled())
            return STATUS_TIMEOUT;
    } else if (Timeout) {
        // Relative time-outs (negative, 100 ns units) run on real time.
        auto limit = std::chrono::microseconds(Timeout->QuadPart < 0 ? -Timeout->QuadPart / 10 : 0);
        if (!g_dispatcherSignal.wait_for(guard, limit, signalled))
            return STATUS_TIMEOUT;
    } else if (!g_dispatcherSignal.wait_for(guard, kDeadlockLimit, signalled)) {
        km::Fault("KeWaitForSingleObject: the event was never signalled (deadlock)");
        return STATUS_TIMEOUT;
    }
    if (event->Header.Type == SynchronizationEvent)
        event->Header.SignalState = 0;
    return STATUS_SUCCESS;
}

VOID ExInitializeFastMutex(PFAST_MUTEX FastMutex) {
    FastMutex->Count = 1;
    FastMutex->Owner = nullptr;
    FastMutex->Contention = 0;
    FastMutex->OldIrql = PASSIVE_LEVEL;
}

VOID ExAcquireFastMutex(PFAST_MUTEX FastMutex) {
    if (t_irql > APC_LEVEL) {
        km::Fault("ExAcquireFastMutex at IRQL " + std::to_string(int(t_irql)));
        return;
    }
    if (FastMutex->Owner == CurrentThreadToken()) {
        km::Fault("ExAcquireFastMutex: the thread already owns this fast mutex");
        return;
    }
    std::unique_lock<std::mutex> guard(g_dispatcherLock);
    if (!g_dispatcherSignal.wait_for(guard, kDeadlockLimit,
                                     [&] { return FastMutex->Count == 1; })) {
        km::Fault("ExAcquireFastMutex: never released (deadlock)");
        return;
    }
    FastMutex->Count = 0;
    FastMutex->Owner = CurrentThreadToken();
    FastMutex->OldIrql = t_irql;
    t_irql = APC_LEVEL;
}

VOID ExReleaseFastMutex(PFAST_MUTEX FastMutex) {
    std::lock_guard<std::mutex> guard(g_dispatcherLock);
    if (FastMutex->Owner != CurrentThreadToken()) {
        km::Fault("ExReleaseFastMutex by a thread that does not own it");
        return;
    }
    FastMutex->Owner = nullptr;
    FastMutex->Count = 1;
    t_irql = KIRQL(FastMutex->OldIrql);
    g_dispatcherSignal.notify_all();
}

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) {
    *SpinLock = 0;
}

KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock) {
    if (t_irql > DISPATCH_LEVEL)
        km::Fault("KeAcquireSpinLockRaiseToDpc above DISPATCH_LEVEL");
    const ULONG_PTR me = reinterpret_cast<ULONG_PTR>(CurrentThreadToken()) | 1;
    KIRQL old = t_irql;
    t_irql = DISPATCH_LEVEL;
    if (__atomic_load_n(SpinLock, __ATOMIC_ACQUIRE) == me) {
        km::Fault("KeAcquireSpinLockRaiseToDpc: the thread already holds this spin lock");
        return old;
    }
    ULONG_PTR expected = 0;
    while (!__atomic_compare_exchange_n(SpinLock, &expected, me, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED)) {
        expected = 0;
        std::this_thread::yield();
    }
    ++t_spinLocksHeld;
    return old;
}

VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
    const ULONG_PTR me = reinterpret_cast<ULONG_PTR>(CurrentThreadToken()) | 1;
    if (__atomic_load_n(SpinLock, __ATOMIC_ACQUIRE) != me) {
        km::Fault("KeReleaseSpinLock of a lock the thread does not hold");
        return;
    }
    __atomic_store_n(SpinLock, 0, __ATOMIC_RELEASE);
    --t_spinLocksHeld;
    if (NewIrql > t_irql)
        km::Fault("KeReleaseSpinLock to a higher IRQL");
    t_irql = NewIrql;
}

} // extern "C"
