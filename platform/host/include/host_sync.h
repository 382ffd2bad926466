// IRQL, events, fast mutexes and spin locks of the host kernel model.
#pragma once

#include "host_types.h"

// ---- IRQL ----------------------------------------------------------------------
#define PASSIVE_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2

extern "C" {
KIRQL KeGetCurrentIrql(void);
VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql);
VOID KeLowerIrql(KIRQL NewIrql);
}

// A pageable routine states that it runs at or below APC_LEVEL.
void HostCheckPagedCode(const char* function);
#define PAGED_CODE() HostCheckPagedCode(__func__)

// ---- Dispatcher objects ---------------------------------------------------------
typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;
typedef enum _KWAIT_REASON { Executive = 0 } KWAIT_REASON;
typedef enum _MODE { KernelMode = 0, UserMode = 1 } KPROCESSOR_MODE_ENUM;
typedef CCHAR KPROCESSOR_MODE;
typedef LONG KPRIORITY;
#define IO_NO_INCREMENT 0

typedef struct _DISPATCHER_HEADER {
    UCHAR Type;
    UCHAR Reserved[3];
    LONG volatile SignalState;
} DISPATCHER_HEADER;
typedef struct _KEVENT {
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

extern "C" {
VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
VOID KeClearEvent(PRKEVENT Event);
LONG KeReadStateEvent(PRKEVENT Event);
NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout);
}

typedef struct _FAST_MUTEX {
    LONG volatile Count;
    PVOID volatile Owner;
    ULONG Contention;
    KEVENT Event;
    ULONG OldIrql;
} FAST_MUTEX, *PFAST_MUTEX;

extern "C" {
VOID ExInitializeFastMutex(PFAST_MUTEX FastMutex);
VOID ExAcquireFastMutex(PFAST_MUTEX FastMutex);
VOID ExReleaseFastMutex(PFAST_MUTEX FastMutex);

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock);
KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock);
VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql);
}
