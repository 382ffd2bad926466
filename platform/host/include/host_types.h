// Basic types, status codes, strings, lists and interlocked operations of the host kernel model.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

// ---- Basic types -------------------------------------------------------------
typedef void VOID;
typedef void* PVOID;
typedef uint8_t UCHAR, *PUCHAR;
typedef char CHAR, *PCHAR;
typedef char CCHAR;
typedef uint16_t USHORT, *PUSHORT;
typedef int16_t SHORT, CSHORT;
typedef uint32_t ULONG, *PULONG;
typedef int32_t LONG, *PLONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t ULONG_PTR, *PULONG_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef uint8_t BOOLEAN, *PBOOLEAN;
typedef char16_t WCHAR, *PWSTR;
typedef const WCHAR* PCWSTR;
typedef LONG NTSTATUS;
typedef UCHAR KIRQL, *PKIRQL;
typedef ULONG ACCESS_MASK;
typedef ULONG_PTR KSPIN_LOCK, *PKSPIN_LOCK;
typedef PVOID HANDLE, *PHANDLE;

#define NTAPI
#define TRUE 1
#define FALSE 0
#ifndef NULL
#define NULL 0
#endif
#define UNREFERENCED_PARAMETER(p) ((void)(p))

typedef union _LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    };
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

#define NT_SUCCESS(s) (((NTSTATUS)(s)) >= 0)

// ---- Status codes --------------------------------------------------------------
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_TIMEOUT ((NTSTATUS)0x00000102L)
#define STATUS_PENDING ((NTSTATUS)0x00000103L)
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005L)
#define STATUS_DEVICE_BUSY ((NTSTATUS)0x80000011L)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001L)
#define STATUS_NOT_IMPLEMENTED ((NTSTATUS)0xC0000002L)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_NO_SUCH_DEVICE ((NTSTATUS)0xC000000EL)
#define STATUS_MORE_PROCESSING_REQUIRED ((NTSTATUS)0xC0000016L)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022L)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023L)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034L)
#define STATUS_DELETE_PENDING ((NTSTATUS)0xC0000056L)
#define STATUS_REVISION_MISMATCH ((NTSTATUS)0xC0000059L)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009AL)
#define STATUS_DEVICE_NOT_CONNECTED ((NTSTATUS)0xC000009DL)
#define STATUS_DEVICE_NOT_READY ((NTSTATUS)0xC00000A3L)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BBL)
#define STATUS_CANCELLED ((NTSTATUS)0xC0000120L)
#define STATUS_KEY_DELETED ((NTSTATUS)0xC000017CL)
#define STATUS_DEVICE_CONFIGURATION_ERROR ((NTSTATUS)0xC0000182L)

// ---- Strings and memory ----------------------------------------------------------
typedef struct _UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

#define RtlZeroMemory(d, n) memset((d), 0, (n))
#define RtlCopyMemory(d, s, n) memcpy((d), (s), (n))
#define RtlMoveMemory(d, s, n) memmove((d), (s), (n))
#define RtlFillMemory(d, n, v) memset((d), (v), (n))
#define RtlEqualMemory(a, b, n) (memcmp((a), (b), (n)) == 0)

extern "C" VOID RtlInitUnicodeString(PUNICODE_STRING Destination, PCWSTR Source);

// The field's offset comes from offsetof: taking it through a null record is
// undefined behaviour, which UBSan reports on every use.
#define CONTAINING_RECORD(address, type, field) ((type*)((PCHAR)(address) - offsetof(type, field)))

// ---- Doubly linked lists ----------------------------------------------------------
typedef struct _LIST_ENTRY {
    struct _LIST_ENTRY* Flink;
    struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;

void HostListFault(const char* what);

inline VOID InitializeListHead(PLIST_ENTRY head) {
    head->Flink = head->Blink = head;
}
inline BOOLEAN IsListEmpty(const LIST_ENTRY* head) {
    return head->Flink == head;
}
inline VOID InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
    PLIST_ENTRY last = head->Blink;
    if (last->Flink != head) {
        HostListFault("InsertTailList: corrupted list");
        return;
    }
    entry->Flink = head;
    entry->Blink = last;
    last->Flink = entry;
    head->Blink = entry;
}
// Like the real kernel, a corrupted neighbourhood (an entry unlinked twice,
// for example) stops the system instead of corrupting the list further.
inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
    PLIST_ENTRY next = entry->Flink;
    PLIST_ENTRY prev = entry->Blink;
    if (next == nullptr || prev == nullptr || next->Blink != entry || prev->Flink != entry) {
        HostListFault("RemoveEntryList: corrupted list entry");
        return FALSE;
    }
    prev->Flink = next;
    next->Blink = prev;
    return next == prev;
}

// ---- Interlocked operations ------------------------------------------------------
inline LONG InterlockedIncrement(LONG volatile* v) {
    return __atomic_add_fetch(v, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* v) {
    return __atomic_sub_fetch(v, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* v, LONG n) {
    return __atomic_exchange_n(v, n, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* v, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(v, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
inline LONG InterlockedExchangeAdd(LONG volatile* v, LONG n) {
    return __atomic_fetch_add(v, n, __ATOMIC_SEQ_CST);
}
