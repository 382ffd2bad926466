// The host kernel model must stop on what the real kernel stops on, and run
// requests through stack locations and completion routines as it does.
#include "kernel_test.h"

#include <string>
#include <thread>

namespace {

bool HasFault(const std::vector<std::string>& faults, const std::string& part) {
    for (const auto& f : faults)
        if (f.find(part) != std::string::npos)
            return true;
    return false;
}

void PageableRoutine() {
    PAGED_CODE();
}

struct RuleCase {
    const char* name;
    void (*breakRule)();
    const char* fault;
};

KSPIN_LOCK g_lock;
FAST_MUTEX g_mutex;

const RuleCase kRules[] = {
    {"wait at DISPATCH_LEVEL",
     [] {
         KEVENT e;
         KeInitializeEvent(&e, NotificationEvent, TRUE);
         km::AtIrql(DISPATCH_LEVEL,
                    [&] { KeWaitForSingleObject(&e, Executive, KernelMode, FALSE, nullptr); });
     },
     "wait at IRQL 2"},
    {"pageable routine at DISPATCH_LEVEL",
     [] { km::AtIrql(DISPATCH_LEVEL, [] { PageableRoutine(); }); }, "pageable routine"},
    {"fast mutex at DISPATCH_LEVEL",
     [] {
         ExInitializeFastMutex(&g_mutex);
         km::AtIrql(DISPATCH_LEVEL, [] { ExAcquireFastMutex(&g_mutex); });
     },
     "ExAcquireFastMutex at IRQL 2"},
    {"fast mutex taken twice",
     [] {
         ExInitializeFastMutex(&g_mutex);
         ExAcquireFastMutex(&g_mutex);
         ExAcquireFastMutex(&g_mutex);
         ExReleaseFastMutex(&g_mutex);
     },
     "already owns"},
    {"spin lock taken twice",
     [] {
         KeInitializeSpinLock(&g_lock);
         KIRQL old = KeAcquireSpinLockRaiseToDpc(&g_lock);
         KeAcquireSpinLockRaiseToDpc(&g_lock);
         KeReleaseSpinLock(&g_lock, old);
     },
     "already holds"},
    {"pool freed twice",
     [] {
         void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 8, km::Tag("Test"));
         ExFreePoolWithTag(p, km::Tag("Test"));
         ExFreePoolWithTag(p, km::Tag("Test"));
     },
     "double free"},
    {"pool freed with another tag",
     [] {
         void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 8, km::Tag("Test"));
         ExFreePoolWithTag(p, km::Tag("Oops"));
     },
     "for a block tagged Test"},
    {"executable pool",
     [] {
         void* p = ExAllocatePoolWithTag(NonPagedPool, 8, km::Tag("Test"));
         ExFreePoolWithTag(p, km::Tag("Test"));
     },
     "executable non-paged pool"},
    {"registry key opened as a handle of the calling process",
     [] {
         UNICODE_STRING name;
         RtlInitUnicodeString(&name, u"\\Registry\\Machine\\Software");
         OBJECT_ATTRIBUTES attributes;
         InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, NULL, NULL);
         HANDLE key = NULL;
         if (NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes)))
             ZwClose(key);
     },
     "without OBJ_KERNEL_HANDLE"},
    {"list entry unlinked twice",
     [] {
         LIST_ENTRY head, a, b;
         InitializeListHead(&head);
         InsertTailList(&head, &a);
         InsertTailList(&head, &b);
         RemoveEntryList(&a);
         RemoveEntryList(&a);
     },
     "corrupted list entry"},
};

TEST(KernelModelRules, EachBrokenRuleIsAFault) {
    for (const auto& rule : kRules) {
        km::Reset();
        rule.breakRule();
        auto faults = km::TakeFaults();
        EXPECT_TRUE(HasFault(faults, rule.fault)) << rule.name;
        EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL) << rule.name;
    }
    km::Reset();
}

TEST(KernelModelRules, LeakedPoolIsReported) {
    void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 24, km::Tag("Leak"));
    auto blocks = km::PoolOutstanding();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].size, 24u);
    EXPECT_EQ(blocks[0].tag, km::Tag("Leak"));
    EXPECT_EQ(km::PoolAllocations(km::Tag("Leak")), 1u);
    ExFreePoolWithTag(p, km::Tag("Leak"));
    EXPECT_TRUE(km::PoolOutstanding().empty());
}

TEST(KernelModelRules, PoolFailureCanBeInjected) {
    km::SetPoolFailure([](ULONG tag, size_t) { return tag == km::Tag("Fail"); });
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPoolNx, 8, km::Tag("Fail")), nullptr);
    void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 8, km::Tag("Good"));
    EXPECT_NE(p, nullptr);
    ExFreePoolWithTag(p, km::Tag("Good"));
}

TEST(KernelModelRules, SpinLockRaisesToDispatchAndRestores) {
    KeInitializeSpinLock(&g_lock);
    KIRQL old = KeAcquireSpinLockRaiseToDpc(&g_lock);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    EXPECT_EQ(km::SpinLocksHeld(), 1);
    KeReleaseSpinLock(&g_lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_TRUE(km::TakeFaults().empty());
}

TEST(KernelModelRules, IrqlIsPerThread) {
    km::AtIrql(DISPATCH_LEVEL, [] {
        KIRQL other = 99;
        std::thread([&] { other = KeGetCurrentIrql(); }).join();
        EXPECT_EQ(other, PASSIVE_LEVEL);
    });
}

TEST(KernelModelRules, SynchronizationEventWakesOneWaitAndResets) {
    KEVENT e;
    KeInitializeEvent(&e, SynchronizationEvent, FALSE);
    std::thread setter([&] { KeSetEvent(&e, IO_NO_INCREMENT, FALSE); });
    EXPECT_EQ(KeWaitForSingleObject(&e, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    setter.join();
    EXPECT_EQ(KeReadStateEvent(&e), 0);
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    EXPECT_EQ(KeWaitForSingleObject(&e, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
}

TEST(KernelModelClock, CounterReadsCostTimeAndFollowTheFrequency) {
    km::SetCounterFrequency(3579545);
    km::SetCounterReadCostPs(500000); // 0.5 us
    LARGE_INTEGER f;
    LARGE_INTEGER a = KeQueryPerformanceCounter(&f);
    EXPECT_EQ(f.QuadPart, 3579545);
    EXPECT_EQ(a.QuadPart, 0);
    km::AdvanceUs(1000000.0 - 0.5); // one second after the first read
    LARGE_INTEGER b = KeQueryPerformanceCounter(nullptr);
    EXPECT_EQ(b.QuadPart, 3579545);
    EXPECT_EQ(km::CounterReads(), 2u);
    km::SetCounterTicks(0xFFFFFFFFull);
    EXPECT_EQ(KeQueryPerformanceCounter(nullptr).QuadPart, LONGLONG(0xFFFFFFFFull));
}

// ---- Requests -----------------------------------------------------------------

struct Trace {
    std::string steps;
};
Trace g_trace;

NTSTATUS UpperCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
    g_trace.steps += "upper-completion;";
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS LowerDispatch(PDEVICE_OBJECT device, PIRP irp) {
    g_trace.steps += "lower;";
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 7;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

KSPIN_LOCK g_leakedLock;

NTSTATUS LeakyDispatch(PDEVICE_OBJECT device, PIRP irp) {
    KeAcquireSpinLockRaiseToDpc(&g_leakedLock); // returns holding it: a fault
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS HoldingDispatch(PDEVICE_OBJECT device, PIRP irp) {
    IoMarkIrpPending(irp);
    return STATUS_PENDING;
}

class RequestTest : public zeltest::KernelTest {
  protected:
    PDRIVER_OBJECT lowerDriver = nullptr;
    PDEVICE_OBJECT lower = nullptr;
    void SetUp() override {
        KernelTest::SetUp();
        g_trace = {};
        lowerDriver = km::CreateDriverObject(u"\\Driver\\Lower");
        lowerDriver->MajorFunction[IRP_MJ_PNP] = LowerDispatch;
        ASSERT_EQ(IoCreateDevice(lowerDriver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower),
                  STATUS_SUCCESS);
    }
    void TearDown() override {
        IoDeleteDevice(lower);
        km::DeleteDriverObject(lowerDriver);
        KernelTest::TearDown();
    }
};

TEST_F(RequestTest, CompletionRoutineStopsCompletionAndTheOwnerCompletesAgain) {
    PIRP irp = IoAllocateIrp(2, FALSE);
    // Play the upper driver's location, then send the request down.
    IoSkipCurrentIrpStackLocation(irp);
    irp->CurrentLocation -= 2;
    irp->Tail.Overlay.CurrentStackLocation -= 2; // now at the upper location
    IoGetCurrentIrpStackLocation(irp)->MajorFunction = IRP_MJ_PNP;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, UpperCompletion, &done, TRUE, TRUE, TRUE);
    EXPECT_EQ(IoCallDriver(lower, irp), STATUS_SUCCESS);
    EXPECT_EQ(g_trace.steps, "lower;upper-completion;");
    EXPECT_EQ(KeReadStateEvent(&done), 1);
    EXPECT_EQ(irp->IoStatus.Information, 7u);
    // The request is the upper driver's again: it may complete it now, once.
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_TRUE(km::TakeFaults().empty());
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_TRUE(HasFault(km::TakeFaults(), "already completed"));
    IoFreeIrp(irp);
}

TEST_F(RequestTest, DispatchReturningWithASpinLockHeldIsAFault) {
    lowerDriver->MajorFunction[IRP_MJ_PNP] = LeakyDispatch;
    KeInitializeSpinLock(&g_leakedLock);
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_PNP;
    IoCallDriver(lower, irp);
    auto faults = km::TakeFaults();
    EXPECT_TRUE(HasFault(faults, "holding a spin lock"));
    EXPECT_TRUE(HasFault(faults, "another IRQL"));
    KeReleaseSpinLock(&g_leakedLock, PASSIVE_LEVEL);
    IoFreeIrp(irp);
}

TEST_F(RequestTest, FreeingASentRequestBeforeItIsCompletedIsAFault) {
    lowerDriver->MajorFunction[IRP_MJ_PNP] = HoldingDispatch;
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_PNP;
    EXPECT_EQ(IoCallDriver(lower, irp), STATUS_PENDING);
    IoFreeIrp(irp);
    EXPECT_TRUE(HasFault(km::TakeFaults(), "sent and not yet completed"));
    // The lower driver still holds it, so it was not freed; once it is
    // completed, the sender may free it.
    EXPECT_EQ(km::IrpsOutstanding(), 1u);
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    IoFreeIrp(irp);
    EXPECT_TRUE(km::TakeFaults().empty());
    EXPECT_EQ(km::IrpsOutstanding(), 0u);
}

} // namespace
