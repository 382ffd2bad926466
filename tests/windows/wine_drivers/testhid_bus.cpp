// zel_testhid.sys: a test bus driver below the virtual keyboard and mouse under Wine.
// Root-enumerated, it reports one child that zel_vmd's INF matches. The child holds the
// read requests zel_vmd.sys passes down until a test program queues a report through the
// control device (test_bus_protocol.h), and the control device also fetches the report
// descriptor from the top of the child's stack, as the HID class driver does. Test
// scaffolding only, for Windows.
#include "kernel_api.h"
#include "test_bus.h"
#include "test_bus_protocol.h"

namespace {

// The one id that zel_vmd's INF matches for the child.
const WCHAR kChildHardwareId[] = L"root\\zel_vmd";
const WCHAR kChildDeviceId[] = L"ZelTestHid\\zel_vmd";

using testbus::Role;

struct Report {
    ULONG Length;
    UCHAR Bytes[zeltest::kMaxTestReport];
};

// Reads waiting for a report and reports waiting for a read, under one spin lock: reads
// arrive at up to DISPATCH_LEVEL.
struct BusState {
    PDEVICE_OBJECT Control;
    PDEVICE_OBJECT Bus;
    PDEVICE_OBJECT Child;
    KSPIN_LOCK Lock;
    LIST_ENTRY Reads; // IRPs, by Tail.Overlay.ListEntry
    Report Queued[zeltest::kMaxTestQueuedReports];
    ULONG First, Count;
};
BusState g_State;

constexpr ULONG kExtensionBytes = sizeof(testbus::DeviceHeader);

// Completes a read with a report: as many bytes as the read holds.
void CompleteRead(PIRP irp, const Report& report) {
    const ULONG room =
        IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    const ULONG length = report.Length < room ? report.Length : room;
    RtlCopyMemory(irp->UserBuffer, report.Bytes, length);
    testbus::Complete(irp, STATUS_SUCCESS, length);
}

void CancelRead(PDEVICE_OBJECT, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KIRQL irql;
    KeAcquireSpinLock(&g_State.Lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&g_State.Lock, irql);
    testbus::Complete(irp, STATUS_CANCELLED, 0);
}

NTSTATUS ReadReport(PIRP irp) {
    KIRQL irql;
    KeAcquireSpinLock(&g_State.Lock, &irql);
    if (g_State.Count) {
        const Report report = g_State.Queued[g_State.First];
        g_State.First = (g_State.First + 1) % zeltest::kMaxTestQueuedReports;
        --g_State.Count;
        KeReleaseSpinLock(&g_State.Lock, irql);
        CompleteRead(irp, report);
        return STATUS_SUCCESS;
    }
    IoSetCancelRoutine(irp, CancelRead);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr)) {
        KeReleaseSpinLock(&g_State.Lock, irql);
        return testbus::Complete(irp, STATUS_CANCELLED, 0);
    }
    IoMarkIrpPending(irp);
    InsertTailList(&g_State.Reads, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&g_State.Lock, irql);
    return STATUS_PENDING;
}

// The oldest waiting read that is not being cancelled, taken off the list; or null.
PIRP TakeRead() {
    while (!IsListEmpty(&g_State.Reads)) {
        PLIST_ENTRY entry = RemoveHeadList(&g_State.Reads);
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, nullptr))
            return irp;
        // Its cancel routine runs and unlinks it: give it an entry to unlink.
        InitializeListHead(entry);
    }
    return nullptr;
}

NTSTATUS QueueReport(const UCHAR* bytes, ULONG length) {
    if (length == 0 || length > zeltest::kMaxTestReport)
        return STATUS_INVALID_PARAMETER;
    Report report = {};
    report.Length = length;
    RtlCopyMemory(report.Bytes, bytes, length);
    KIRQL irql;
    KeAcquireSpinLock(&g_State.Lock, &irql);
    PIRP read = TakeRead();
    if (!read) {
        if (g_State.Count == zeltest::kMaxTestQueuedReports) {
            KeReleaseSpinLock(&g_State.Lock, irql);
            return STATUS_DEVICE_BUSY;
        }
        g_State.Queued[(g_State.First + g_State.Count) % zeltest::kMaxTestQueuedReports] = report;
        ++g_State.Count;
    }
    KeReleaseSpinLock(&g_State.Lock, irql);
    if (read)
        CompleteRead(read, report);
    return STATUS_SUCCESS;
}

void FailWaitingReads() {
    KIRQL irql;
    KeAcquireSpinLock(&g_State.Lock, &irql);
    LIST_ENTRY failed;
    InitializeListHead(&failed);
    while (PIRP irp = TakeRead())
        InsertTailList(&failed, &irp->Tail.Overlay.ListEntry);
    g_State.Count = 0;
    KeReleaseSpinLock(&g_State.Lock, irql);
    while (!IsListEmpty(&failed)) {
        PLIST_ENTRY entry = RemoveHeadList(&failed);
        testbus::Complete(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry),
                          STATUS_DELETE_PENDING, 0);
    }
}

// Asks the top of the child's stack for its report descriptor, as the HID class driver
// asks the minidriver, and copies it into the control request's buffer.
NTSTATUS FetchReportDescriptor(PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const ULONG room = sp->Parameters.DeviceIoControl.OutputBufferLength;
    if (!g_State.Child)
        return testbus::Complete(irp, STATUS_DEVICE_NOT_READY, 0);
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(g_State.Child);
    if (top == g_State.Child) {
        ObDereferenceObject(top);
        return testbus::Complete(irp, STATUS_DEVICE_NOT_READY, 0);
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK result = {};
    PIRP request =
        IoBuildDeviceIoControlRequest(IOCTL_HID_GET_REPORT_DESCRIPTOR, top, nullptr, 0,
                                      irp->AssociatedIrp.SystemBuffer, room, TRUE, &done, &result);
    NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
    if (request) {
        status = IoCallDriver(top, request);
        if (status == STATUS_PENDING) {
            KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
            status = result.Status;
        }
    }
    ObDereferenceObject(top);
    return testbus::Complete(irp, status, NT_SUCCESS(status) ? result.Information : 0);
}

NTSTATUS ChildPnp(PDEVICE_OBJECT device, PIRP irp) {
    const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    if (minor == IRP_MN_SURPRISE_REMOVAL || minor == IRP_MN_REMOVE_DEVICE)
        FailWaitingReads();
    const testbus::ChildIds ids = {kChildDeviceId, kChildHardwareId, 0};
    return testbus::ChildPnp(device, irp, ids);
}

NTSTATUS BusPnp(PDEVICE_OBJECT device, PIRP irp) {
    testbus::DeviceHeader* bus = testbus::Header(device);
    const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    if (minor == IRP_MN_QUERY_DEVICE_RELATIONS && !g_State.Child)
        g_State.Child = testbus::CreateChild(device->DriverObject, kExtensionBytes);
    PDEVICE_OBJECT child = g_State.Child;
    if (minor == IRP_MN_REMOVE_DEVICE) {
        g_State.Child = nullptr;
        g_State.Bus = nullptr;
        if (child)
            IoDeleteDevice(child);
    }
    const bool report = child && minor != IRP_MN_REMOVE_DEVICE;
    return testbus::BusPnp(device, irp, bus->Pdo, bus->Lower, report ? &child : nullptr,
                           report ? 1 : 0);
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    return testbus::PnpByRole(device, irp, BusPnp, ChildPnp);
}

NTSTATUS DispatchInternalDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (testbus::Header(device)->Kind == Role::Child &&
        sp->Parameters.DeviceIoControl.IoControlCode == IOCTL_HID_READ_REPORT)
        return ReadReport(irp);
    return testbus::NotOurs(device, irp, STATUS_NOT_SUPPORTED);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    if (testbus::Header(device)->Kind != Role::Control)
        return testbus::NotOurs(device, irp, STATUS_INVALID_DEVICE_REQUEST);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_ZELTEST_QUEUE_REPORT:
        return testbus::Complete(
            irp,
            QueueReport(static_cast<const UCHAR*>(irp->AssociatedIrp.SystemBuffer),
                        sp->Parameters.DeviceIoControl.InputBufferLength),
            0);
    case IOCTL_ZELTEST_GET_REPORT_DESCRIPTOR:
        return FetchReportDescriptor(irp);
    default:
        return testbus::Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    return testbus::AddBus(driver, pdo, kExtensionBytes, &g_State.Bus);
}

void Unload(PDRIVER_OBJECT) {
    testbus::DeleteControlDevice(g_State.Control, ZELTEST_HID_LINK_NAME);
}

} // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    RtlZeroMemory(&g_State, sizeof g_State);
    KeInitializeSpinLock(&g_State.Lock);
    InitializeListHead(&g_State.Reads);
    g_State.Control = testbus::CreateControlDevice(driver, ZELTEST_HID_DEVICE_NAME,
                                                   ZELTEST_HID_LINK_NAME, kExtensionBytes);
    if (!g_State.Control)
        return STATUS_UNSUCCESSFUL;
    testbus::SetDispatch(driver, {DispatchPnp, DispatchDeviceControl, DispatchInternalDeviceControl,
                                  AddDevice, Unload});
    return STATUS_SUCCESS;
}
