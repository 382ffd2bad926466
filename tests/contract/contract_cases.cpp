// The kernel contract cases. Each builds what it needs (device objects of
// this driver stacked on each other, requests, locks, pool), checks what the
// kernel does with it, and takes it all down again, also when a check fails.
#include "contract_cases.h"

#include "hidg.h" // the joystick driver's remove lock

#if !defined(_WIN32)
#include "kernel_model.h" // IoCreateDevice and friends, which ntddk.h declares
#endif

#define ZEL_WIDEN(s) ZEL_WIDE(s)

namespace contract {
namespace {

int g_line;            // the failed check's line
unsigned int g_detail; // and the value it saw

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            g_line = __LINE__;                                                                     \
            g_detail = 0;                                                                          \
            return false;                                                                          \
        }                                                                                          \
    } while (0)
#define CHECK_EQ(got, expected)                                                                    \
    do {                                                                                           \
        const unsigned long long got_ = (unsigned long long)(got);                                 \
        if (got_ != (unsigned long long)(expected)) {                                              \
            g_line = __LINE__;                                                                     \
            g_detail = (unsigned int)got_;                                                         \
            return false;                                                                          \
        }                                                                                          \
    } while (0)

// ---- Device objects of the cases ---------------------------------------------------------

enum class Behaviour {
    Complete,        // complete with `status` (and, buffered, write `answer`)
    Pend,            // mark pending, keep the request in `held`, return STATUS_PENDING
    PassSkip,        // skip its location and pass down
    PassCopy,        // copy its location to the next and pass down, no completion routine
    PassWithRoutine, // copy, set a completion routine, pass down
};

struct Device;

// Order of completion routine calls across one case.
struct Sequence {
    int next;
};

struct RoutineSeen {
    int calls;
    int order;
    PDEVICE_OBJECT device;
    BOOLEAN pendingReturned;
};

struct Device {
    Behaviour behaviour;
    PDEVICE_OBJECT self;
    PDEVICE_OBJECT lower;
    Sequence* sequence;
    NTSTATUS status;       // Complete
    ULONG_PTR information; // Complete
    const UCHAR* answer;   // Complete: bytes written to the system buffer
    ULONG answerBytes;
    BOOLEAN onSuccess, onError; // PassWithRoutine
    NTSTATUS routineResult;     // PassWithRoutine: what its routine returns
    PIRP held;                  // Pend

    // What the dispatch routine saw.
    int dispatched;
    PIO_STACK_LOCATION location;
    CCHAR currentLocation;
    PDEVICE_OBJECT locationDevice;
    UCHAR major;
    ULONG code, inputLength, outputLength;
    UCHAR systemBufferFirst;
    // What its completion routine saw.
    RoutineSeen routine;
};

Device* Ext(PDEVICE_OBJECT device) {
    return static_cast<Device*>(device->DeviceExtension);
}

void Saw(Sequence* sequence, RoutineSeen& seen, PDEVICE_OBJECT device, PIRP irp) {
    ++seen.calls;
    seen.order = ++sequence->next;
    seen.device = device;
    seen.pendingReturned = irp->PendingReturned;
}

NTSTATUS PassRoutine(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    Device* d = static_cast<Device*>(context);
    Saw(d->sequence, d->routine, device, irp);
    if (d->routineResult == STATUS_MORE_PROCESSING_REQUIRED)
        return STATUS_MORE_PROCESSING_REQUIRED;
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    return STATUS_SUCCESS;
}

NTSTATUS CaseDispatch(PDEVICE_OBJECT device, PIRP irp) {
    Device* d = Ext(device);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    ++d->dispatched;
    d->location = sp;
    d->currentLocation = irp->CurrentLocation;
    d->locationDevice = sp->DeviceObject;
    d->major = sp->MajorFunction;
    d->code = sp->Parameters.DeviceIoControl.IoControlCode;
    d->inputLength = sp->Parameters.DeviceIoControl.InputBufferLength;
    d->outputLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
    if (irp->AssociatedIrp.SystemBuffer && d->inputLength)
        d->systemBufferFirst = *static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    switch (d->behaviour) {
    case Behaviour::Complete: {
        if (d->answer && irp->AssociatedIrp.SystemBuffer)
            RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, d->answer, d->answerBytes);
        irp->IoStatus.Status = d->status;
        irp->IoStatus.Information = d->information;
        const NTSTATUS status = d->status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    case Behaviour::Pend:
        IoMarkIrpPending(irp);
        d->held = irp;
        return STATUS_PENDING;
    case Behaviour::PassSkip:
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(d->lower, irp);
    case Behaviour::PassCopy:
        IoCopyCurrentIrpStackLocationToNext(irp);
        return IoCallDriver(d->lower, irp);
    case Behaviour::PassWithRoutine:
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, PassRoutine, d, d->onSuccess, d->onError, TRUE);
        return IoCallDriver(d->lower, irp);
    }
    return STATUS_NOT_SUPPORTED;
}

// Up to three device objects, each attached on the one before: devices[0] is
// the bottom. Taken down by the destructor.
struct Stack {
    PDEVICE_OBJECT devices[3] = {};
    int count = 0;
    Sequence sequence = {0};
    bool ok = true;

    Stack(PDRIVER_OBJECT driver, int n) {
        for (int i = 0; i < n; ++i) {
            PDEVICE_OBJECT device = nullptr;
            if (!NT_SUCCESS(IoCreateDevice(driver, sizeof(Device), nullptr, FILE_DEVICE_UNKNOWN, 0,
                                           FALSE, &device))) {
                ok = false;
                return;
            }
            RtlZeroMemory(device->DeviceExtension, sizeof(Device));
            Device* d = Ext(device);
            d->self = device;
            d->sequence = &sequence;
            d->behaviour = Behaviour::Complete;
            d->onSuccess = d->onError = TRUE;
            d->routineResult = STATUS_SUCCESS;
            if (i > 0)
                d->lower = IoAttachDeviceToDeviceStack(device, devices[i - 1]);
            device->Flags &= ~DO_DEVICE_INITIALIZING;
            devices[count++] = device;
        }
    }
    ~Stack() {
        for (int i = count - 1; i >= 0; --i) {
            if (i > 0)
                IoDetachDevice(devices[i - 1]);
            IoDeleteDevice(devices[i]);
        }
    }
    PDEVICE_OBJECT Top() const { return devices[count - 1]; }
    Device* At(int i) const { return Ext(devices[i]); }
};

// The originator of a request: it owns no stack location; its completion
// routine sets an event and keeps the request, which it then frees.
struct Originator {
    RoutineSeen routine = {};
    Sequence* sequence = nullptr;
    KEVENT done;
};

NTSTATUS OriginatorRoutine(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    Originator* o = static_cast<Originator*>(context);
    Saw(o->sequence, o->routine, device, irp);
    KeSetEvent(&o->done, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

constexpr ULONG kCaseCode = 0x0022E003; // METHOD_NEITHER: no buffer handling

PIRP NewRequest(Stack& stack, Originator& o, ULONG code = kCaseCode) {
    PIRP irp = IoAllocateIrp(stack.Top()->StackSize, FALSE);
    if (!irp)
        return nullptr;
    o.sequence = &stack.sequence;
    KeInitializeEvent(&o.done, NotificationEvent, FALSE);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.OutputBufferLength = 7;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoSetCompletionRoutine(irp, OriginatorRoutine, &o, TRUE, TRUE, TRUE);
    return irp;
}

// Frees the request when the case ends, however it ends.
struct Owned {
    PIRP irp;
    ~Owned() {
        if (irp)
            IoFreeIrp(irp);
    }
};

// ---- The cases ----------------------------------------------------------------------------

// A new request's locations, the location each driver finds current, and what
// skipping and copying a location give the driver below.
bool StackLocationsCase(PDRIVER_OBJECT driver) {
    Stack stack(driver, 2);
    CHECK(stack.ok);
    CHECK_EQ(stack.Top()->StackSize, 2);
    Device* top = stack.At(1);
    Device* bottom = stack.At(0);
    const Behaviour passes[] = {Behaviour::PassCopy, Behaviour::PassSkip};
    for (Behaviour pass : passes) {
        top->behaviour = pass;
        bottom->status = STATUS_SUCCESS;
        Originator o;
        Owned request{NewRequest(stack, o)};
        PIRP irp = request.irp;
        CHECK(irp);
        CHECK_EQ(irp->StackCount, 2);
        CHECK_EQ(irp->CurrentLocation, 3);
        PIO_STACK_LOCATION first = IoGetNextIrpStackLocation(irp);
        CHECK_EQ(IoCallDriver(stack.Top(), irp), STATUS_SUCCESS);
        CHECK_EQ(top->dispatched, 1);
        CHECK(top->location == first);
        CHECK_EQ(top->currentLocation, 2);
        CHECK(top->locationDevice == stack.Top());
        CHECK_EQ(top->code, kCaseCode);
        CHECK_EQ(bottom->dispatched, 1);
        CHECK(bottom->locationDevice == stack.devices[0]);
        CHECK_EQ(bottom->code, kCaseCode);
        CHECK_EQ(bottom->outputLength, 7);
        if (pass == Behaviour::PassCopy) {
            CHECK(bottom->location == first - 1);
            CHECK_EQ(bottom->currentLocation, 1);
        } else {
            CHECK(bottom->location == first);
            CHECK_EQ(bottom->currentLocation, 2);
        }
        top->dispatched = bottom->dispatched = 0;
    }
    return true;
}

// Routines run from the bottom up, each with its own driver's device object;
// the originator's, with no location of its own, gets none.
bool CompletionRoutineOrderCase(PDRIVER_OBJECT driver) {
    Stack stack(driver, 3);
    CHECK(stack.ok);
    stack.At(2)->behaviour = Behaviour::PassWithRoutine;
    stack.At(1)->behaviour = Behaviour::PassWithRoutine;
    stack.At(0)->status = STATUS_SUCCESS;
    stack.At(0)->information = 5;
    Originator o;
    Owned request{NewRequest(stack, o)};
    CHECK(request.irp);
    CHECK_EQ(IoCallDriver(stack.Top(), request.irp), STATUS_SUCCESS);
    CHECK_EQ(stack.At(1)->routine.order, 1);
    CHECK(stack.At(1)->routine.device == stack.devices[1]);
    CHECK_EQ(stack.At(2)->routine.order, 2);
    CHECK(stack.At(2)->routine.device == stack.devices[2]);
    CHECK_EQ(o.routine.order, 3);
    CHECK(o.routine.device == nullptr);
    CHECK(!o.routine.pendingReturned);
    CHECK_EQ(request.irp->IoStatus.Status, STATUS_SUCCESS);
    CHECK_EQ(request.irp->IoStatus.Information, 5);
    return true;
}

// A routine set for success only is passed over by a failure, and the other
// way round; a routine for both runs either way.
bool CompletionRoutineFlagsCase(PDRIVER_OBJECT driver) {
    struct Row {
        NTSTATUS status;
        BOOLEAN onSuccess, onError;
        int calls;
    };
    const Row rows[] = {
        {STATUS_SUCCESS, TRUE, FALSE, 1},         {STATUS_SUCCESS, FALSE, TRUE, 0},
        {STATUS_UNSUCCESSFUL, TRUE, FALSE, 0},    {STATUS_UNSUCCESSFUL, FALSE, TRUE, 1},
        {STATUS_BUFFER_OVERFLOW, FALSE, TRUE, 1}, // a warning is no success
    };
    for (const Row& row : rows) {
        Stack stack(driver, 2);
        CHECK(stack.ok);
        stack.At(1)->behaviour = Behaviour::PassWithRoutine;
        stack.At(1)->onSuccess = row.onSuccess;
        stack.At(1)->onError = row.onError;
        stack.At(0)->status = row.status;
        Originator o;
        Owned request{NewRequest(stack, o)};
        CHECK(request.irp);
        CHECK_EQ(IoCallDriver(stack.Top(), request.irp), row.status);
        CHECK_EQ(stack.At(1)->routine.calls, row.calls);
        CHECK_EQ(o.routine.calls, 1);
        CHECK_EQ(request.irp->IoStatus.Status, row.status);
    }
    return true;
}

// A routine that returns STATUS_MORE_PROCESSING_REQUIRED stops the completion
// there; the driver that set it completes the request again later, and the
// routines above it run then.
bool MoreProcessingRequiredCase(PDRIVER_OBJECT driver) {
    Stack stack(driver, 3);
    CHECK(stack.ok);
    stack.At(2)->behaviour = Behaviour::PassWithRoutine;
    stack.At(1)->behaviour = Behaviour::PassWithRoutine;
    stack.At(1)->routineResult = STATUS_MORE_PROCESSING_REQUIRED;
    stack.At(0)->status = STATUS_SUCCESS;
    Originator o;
    Owned request{NewRequest(stack, o)};
    CHECK(request.irp);
    IoCallDriver(stack.Top(), request.irp);
    CHECK_EQ(stack.At(1)->routine.calls, 1);
    CHECK_EQ(stack.At(2)->routine.calls, 0);
    CHECK_EQ(o.routine.calls, 0);
    CHECK_EQ(KeReadStateEvent(&o.done), 0);
    request.irp->IoStatus.Status = STATUS_UNSUCCESSFUL; // the middle driver's own verdict
    IoCompleteRequest(request.irp, IO_NO_INCREMENT);
    CHECK_EQ(stack.At(1)->routine.calls, 1);
    CHECK_EQ(stack.At(2)->routine.calls, 1);
    CHECK_EQ(o.routine.calls, 1);
    CHECK_EQ(stack.At(2)->routine.order, 2);
    CHECK_EQ(request.irp->IoStatus.Status, STATUS_UNSUCCESSFUL);
    return true;
}

// A request the bottom driver completes after returning STATUS_PENDING shows
// PendingReturned to the routines above it; one completed at once shows it
// to none. The middle driver passes the request on by skipping its location
// (the routine above then sits in the bottom driver's location) or, with
// `copy`, by copying it without a routine of its own: the pending mark then
// has to be carried up past that location.
bool PendingReturnedCase(PDRIVER_OBJECT driver, bool copy) {
    const bool pends[] = {true, false};
    for (bool pend : pends) {
        Stack stack(driver, 3);
        CHECK(stack.ok);
        stack.At(2)->behaviour = Behaviour::PassWithRoutine;
        stack.At(1)->behaviour = copy ? Behaviour::PassCopy : Behaviour::PassSkip;
        stack.At(0)->behaviour = pend ? Behaviour::Pend : Behaviour::Complete;
        stack.At(0)->status = STATUS_SUCCESS;
        Originator o;
        Owned request{NewRequest(stack, o)};
        CHECK(request.irp);
        const NTSTATUS returned = IoCallDriver(stack.Top(), request.irp);
        if (pend) {
            CHECK_EQ(returned, STATUS_PENDING);
            CHECK_EQ(stack.At(2)->routine.calls, 0);
            CHECK(stack.At(0)->held == request.irp);
            request.irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(request.irp, IO_NO_INCREMENT);
        } else {
            CHECK_EQ(returned, STATUS_SUCCESS);
        }
        CHECK_EQ(stack.At(2)->routine.calls, 1);
        CHECK_EQ(stack.At(2)->routine.pendingReturned, pend);
        CHECK_EQ(o.routine.calls, 1);
        CHECK_EQ(o.routine.pendingReturned, pend);
    }
    return true;
}

// The wait of a driver that sends a request down and waits for it: the event
// its routine sets wakes it, and the request is still there to read and free.
bool EventFromCompletionRoutineCase(PDRIVER_OBJECT driver) {
    Stack stack(driver, 1);
    CHECK(stack.ok);
    stack.At(0)->behaviour = Behaviour::Pend;
    Originator o;
    Owned request{NewRequest(stack, o)};
    CHECK(request.irp);
    CHECK_EQ(IoCallDriver(stack.Top(), request.irp), STATUS_PENDING);
    LARGE_INTEGER now;
    now.QuadPart = 0;
    CHECK_EQ(KeReadStateEvent(&o.done), 0);
    CHECK_EQ(KeWaitForSingleObject(&o.done, Executive, KernelMode, FALSE, &now), STATUS_TIMEOUT);
    request.irp->IoStatus.Status = STATUS_DEVICE_NOT_CONNECTED;
    request.irp->IoStatus.Information = 3;
    IoCompleteRequest(request.irp, IO_NO_INCREMENT);
    CHECK(KeReadStateEvent(&o.done) != 0);
    CHECK_EQ(KeWaitForSingleObject(&o.done, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    // A notification event stays set for every later wait.
    CHECK_EQ(KeWaitForSingleObject(&o.done, Executive, KernelMode, FALSE, &now), STATUS_SUCCESS);
    CHECK_EQ(request.irp->IoStatus.Status, STATUS_DEVICE_NOT_CONNECTED);
    CHECK_EQ(request.irp->IoStatus.Information, 3);
    return true;
}

// METHOD_BUFFERED through IoBuildDeviceIoControlRequest: the driver finds the
// input in the system buffer and both lengths in its location; its answer, as
// many bytes as it reports, reaches the caller's output buffer and the status
// block by the time the call returns, and the event is set.
constexpr ULONG kBufferedCode = 0x00222008; // CTL_CODE(0x22, 0x802, METHOD_BUFFERED, ANY)
const UCHAR kAnswer[6] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};

bool BufferedCase(PDRIVER_OBJECT driver, bool shared) {
    Stack stack(driver, 1);
    CHECK(stack.ok);
    Device* d = stack.At(0);
    d->status = STATUS_SUCCESS;
    d->answer = kAnswer;
    d->answerBytes = sizeof kAnswer;
    d->information = sizeof kAnswer;
    UCHAR input[8], output[16];
    for (int i = 0; i < 8; ++i)
        input[i] = UCHAR(0x10 + i);
    for (int i = 0; i < 16; ++i)
        output[i] = UCHAR(0x40 + i);
    if (shared)
        RtlCopyMemory(output, input, sizeof input);
    UCHAR before[16];
    RtlCopyMemory(before, output, sizeof output);
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK io;
    io.Status = STATUS_NOT_SUPPORTED;
    io.Information = 99;
    PIRP irp = IoBuildDeviceIoControlRequest(kBufferedCode, stack.Top(), shared ? output : input,
                                             sizeof input, output, sizeof output, TRUE, &done, &io);
    CHECK(irp);
    NTSTATUS status = IoCallDriver(stack.Top(), irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = io.Status;
    }
    CHECK_EQ(status, STATUS_SUCCESS);
    CHECK_EQ(d->major, IRP_MJ_INTERNAL_DEVICE_CONTROL);
    CHECK_EQ(d->code, kBufferedCode);
    CHECK_EQ(d->inputLength, sizeof input);
    CHECK_EQ(d->outputLength, sizeof output);
    CHECK_EQ(d->systemBufferFirst, 0x10);
    CHECK_EQ(io.Status, STATUS_SUCCESS);
    CHECK_EQ(io.Information, sizeof kAnswer);
    CHECK(KeReadStateEvent(&done) != 0);
    for (ULONG i = 0; i < sizeof output; ++i)
        CHECK_EQ(output[i], i < sizeof kAnswer ? kAnswer[i] : before[i]);
    if (!shared)
        for (int i = 0; i < 8; ++i)
            CHECK_EQ(input[i], 0x10 + i);
    return true;
}

// Blocks of every pool type the drivers use, of any size, are 16-byte aligned,
// writable in full and freed with the tag they were allocated with.
bool PoolTagsAndAlignmentCase() {
    const ULONG tag = 0x74436C5A; // "ZlCt"
    const POOL_TYPE types[] = {NonPagedPoolNx, PagedPool};
    const SIZE_T sizes[] = {1, 16, 27, 100, 4096 + 5};
    for (POOL_TYPE type : types)
        for (SIZE_T size : sizes) {
            PVOID block = ExAllocatePoolWithTag(type, size, tag);
            CHECK(block);
            CHECK_EQ(reinterpret_cast<ULONG_PTR>(block) & 15, 0);
            RtlFillMemory(block, size, 0x5A);
            CHECK_EQ(static_cast<PUCHAR>(block)[size - 1], 0x5A);
            ExFreePoolWithTag(block, tag);
        }
    return true;
}

// Two fast mutexes held one inside the other, released, and taken again.
bool FastMutexUseCase() {
    FAST_MUTEX a, b;
    ExInitializeFastMutex(&a);
    ExInitializeFastMutex(&b);
    for (int round = 0; round < 2; ++round) {
        ExAcquireFastMutex(&a);
        ExAcquireFastMutex(&b);
        ExReleaseFastMutex(&b);
        ExReleaseFastMutex(&a);
    }
    return true;
}

// Holding a fast mutex raises the thread to APC_LEVEL; the release goes back.
bool FastMutexRaisesIrqlCase() {
    FAST_MUTEX m;
    ExInitializeFastMutex(&m);
    CHECK_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    ExAcquireFastMutex(&m);
    const KIRQL inside = KeGetCurrentIrql();
    ExReleaseFastMutex(&m);
    CHECK_EQ(inside, APC_LEVEL);
    CHECK_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    return true;
}

// A spin lock taken and given back with the level its acquire returned, twice.
bool SpinLockUseCase() {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    for (int round = 0; round < 2; ++round) {
        const KIRQL old = KeAcquireSpinLockRaiseToDpc(&lock);
        KeReleaseSpinLock(&lock, old);
    }
    return true;
}

// The acquire raises to DISPATCH_LEVEL and returns the level before it.
bool SpinLockRaisesIrqlCase() {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    const KIRQL old = KeAcquireSpinLockRaiseToDpc(&lock);
    const KIRQL inside = KeGetCurrentIrql();
    KeReleaseSpinLock(&lock, old);
    CHECK_EQ(old, PASSIVE_LEVEL);
    CHECK_EQ(inside, DISPATCH_LEVEL);
    CHECK_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    return true;
}

// ZwQueryValueKey with KeyValueFullInformation and buffers of every size: too
// small for the fixed part gives STATUS_BUFFER_TOO_SMALL, room for the fixed
// part but not the whole gives STATUS_BUFFER_OVERFLOW with the fixed part
// filled in, and each reports the size needed; a fitting buffer holds the data
// at DataOffset. Names compare without regard to case.
struct Key {
    HANDLE handle = nullptr;
    ~Key() {
        if (handle)
            ZwClose(handle);
    }
};

bool RegistryShortBuffersCase() {
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, ZEL_WIDEN(ZEL_CONTRACT_KEY));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    Key key;
    CHECK_EQ(ZwOpenKey(&key.handle, KEY_READ, &attributes), STATUS_SUCCESS);

    UNICODE_STRING name;
    RtlInitUnicodeString(&name, ZEL_WIDE("cALIBRATION"));
    const ULONG fixed = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
    const ULONG nameBytes = 2 * (sizeof(ZEL_CONTRACT_VALUE) - 1); // UTF-16
    ULONG needed = 0;
    union {
        KEY_VALUE_FULL_INFORMATION info;
        UCHAR bytes[128];
    } buffer;
    CHECK_EQ(ZwQueryValueKey(key.handle, &name, KeyValueFullInformation, &buffer, 0, &needed),
             STATUS_BUFFER_TOO_SMALL);
    CHECK(needed >= fixed + nameBytes + sizeof kValueBytes);
    CHECK(needed <= sizeof buffer);
    ULONG again = 0;
    CHECK_EQ(
        ZwQueryValueKey(key.handle, &name, KeyValueFullInformation, &buffer, fixed - 1, &again),
        STATUS_BUFFER_TOO_SMALL);
    CHECK_EQ(again, needed);
    const ULONG shortLengths[] = {fixed, fixed + nameBytes, needed - 1};
    for (ULONG length : shortLengths) {
        RtlFillMemory(&buffer, sizeof buffer, 0xCC);
        CHECK_EQ(
            ZwQueryValueKey(key.handle, &name, KeyValueFullInformation, &buffer, length, &again),
            STATUS_BUFFER_OVERFLOW);
        CHECK_EQ(again, needed);
        CHECK_EQ(buffer.info.Type, REG_BINARY);
        CHECK_EQ(buffer.info.DataLength, sizeof kValueBytes);
        CHECK_EQ(buffer.info.NameLength, nameBytes);
        CHECK_EQ(buffer.bytes[length], 0xCC); // nothing past the buffer given
    }
    RtlFillMemory(&buffer, sizeof buffer, 0xCC);
    CHECK_EQ(ZwQueryValueKey(key.handle, &name, KeyValueFullInformation, &buffer, needed, &again),
             STATUS_SUCCESS);
    CHECK_EQ(again, needed);
    CHECK(buffer.info.DataOffset >= fixed + nameBytes);
    CHECK_EQ(buffer.info.DataOffset + buffer.info.DataLength, needed);
    for (ULONG i = 0; i < sizeof kValueBytes; ++i)
        CHECK_EQ(buffer.bytes[buffer.info.DataOffset + i], kValueBytes[i]);

    UNICODE_STRING missing;
    RtlInitUnicodeString(&missing, ZEL_WIDE("NoSuchValue"));
    CHECK_EQ(ZwQueryValueKey(key.handle, &missing, KeyValueFullInformation, &buffer, sizeof buffer,
                             &again),
             STATUS_OBJECT_NAME_NOT_FOUND);
    return true;
}

// The joystick driver's remove lock: a request count with the device's own
// reference, and a synchronization event that the last release sets. The
// kernel side it relies on: an event set before anyone waits satisfies the
// next wait at once, and only that one.
bool RemoveLockCase() {
    GameDeviceExtension ext;
    RtlZeroMemory(&ext, sizeof ext);
    ext.RequestCount = 1;
    KeInitializeEvent(&ext.RemoveEvent, SynchronizationEvent, FALSE);
    LARGE_INTEGER now;
    now.QuadPart = 0;

    CHECK_EQ(AcquireRemoveLock(&ext), STATUS_SUCCESS);
    CHECK_EQ(ext.RequestCount, 2);
    ReleaseRemoveLock(&ext);
    CHECK_EQ(ext.RequestCount, 1);
    CHECK_EQ(KeReadStateEvent(&ext.RemoveEvent), 0);

    CHECK_EQ(AcquireRemoveLock(&ext), STATUS_SUCCESS); // a request in flight
    ext.Removed = 1;                                   // the removal begins
    CHECK_EQ(AcquireRemoveLock(&ext), STATUS_DELETE_PENDING);
    CHECK_EQ(ext.RequestCount, 2);
    CHECK_EQ(InterlockedDecrement(&ext.RequestCount), 1); // the device's own reference
    CHECK_EQ(KeWaitForSingleObject(&ext.RemoveEvent, Executive, KernelMode, FALSE, &now),
             STATUS_TIMEOUT);
    ReleaseRemoveLock(&ext); // the request ends: the count reaches 0
    CHECK_EQ(ext.RequestCount, 0);
    CHECK_EQ(KeWaitForSingleObject(&ext.RemoveEvent, Executive, KernelMode, FALSE, nullptr),
             STATUS_SUCCESS);
    CHECK_EQ(KeWaitForSingleObject(&ext.RemoveEvent, Executive, KernelMode, FALSE, &now),
             STATUS_TIMEOUT);
    return true;
}

bool Run(unsigned int id, PDRIVER_OBJECT driver) {
    switch (id) {
    case StackLocations:
        return StackLocationsCase(driver);
    case CompletionRoutineOrder:
        return CompletionRoutineOrderCase(driver);
    case CompletionRoutineFlags:
        return CompletionRoutineFlagsCase(driver);
    case MoreProcessingRequired:
        return MoreProcessingRequiredCase(driver);
    case PendingReturned:
        return PendingReturnedCase(driver, false);
    case PendingCarriedPastCopiedLocation:
        return PendingReturnedCase(driver, true);
    case EventFromCompletionRoutine:
        return EventFromCompletionRoutineCase(driver);
    case BufferedSharedBuffer:
        return BufferedCase(driver, true);
    case BufferedSeparateBuffers:
        return BufferedCase(driver, false);
    case PoolTagsAndAlignment:
        return PoolTagsAndAlignmentCase();
    case FastMutexUse:
        return FastMutexUseCase();
    case FastMutexRaisesIrql:
        return FastMutexRaisesIrqlCase();
    case SpinLockUse:
        return SpinLockUseCase();
    case SpinLockRaisesIrql:
        return SpinLockRaisesIrqlCase();
    case RegistryShortBuffers:
        return RegistryShortBuffersCase();
    case RemoveLock:
        return RemoveLockCase();
    default:
        g_line = -1; // no such case
        g_detail = id;
        return false;
    }
}

} // namespace

void PrepareDriver(PDRIVER_OBJECT driver) {
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = CaseDispatch;
}

int RunCase(unsigned int id, PDRIVER_OBJECT driver, unsigned int* detail) {
    g_line = 0;
    g_detail = 0;
    const bool passed = Run(id, driver);
    *detail = g_detail;
    return passed ? 0 : g_line;
}

} // namespace contract
