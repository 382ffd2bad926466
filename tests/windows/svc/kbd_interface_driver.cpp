// zel_testkbd.sys: a legacy test driver standing in for the keyboard interface device under
// Wine. It creates "\\.\ZelKbInterface", accepts or refuses the service's signal as the test
// program sets it, and counts the opens, signals and closes made the service's way. Test
// scaffolding only, for Windows.
#include "kernel_api.h"

#include "kbd_interface_protocol.h"

namespace {

// Marks, in the file object, an open made the service's way, so that its close is counted.
void* const kServiceOpen = reinterpret_cast<void*>(0x5E5);

struct State {
    LONG Accept;
    ZelTestKbdCounts Counts;
};

State* StateOf(PDEVICE_OBJECT device) {
    return static_cast<State*>(device->DeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    State* state = StateOf(device);
    if (stack->MajorFunction == IRP_MJ_CREATE) {
        if (stack->Parameters.Create.ShareAccess == FILE_SHARE_WRITE) {
            stack->FileObject->FsContext2 = kServiceOpen;
            ++state->Counts.Opens;
        }
    } else if (stack->MajorFunction == IRP_MJ_CLOSE &&
               stack->FileObject->FsContext2 == kServiceOpen) {
        ++state->Counts.Closes;
    }
    return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    State* state = StateOf(device);
    const auto& request = stack->Parameters.DeviceIoControl;
    const bool serviceOpen = stack->FileObject->FsContext2 == kServiceOpen;
    switch (request.IoControlCode) {
    case ZEL_TESTKBD_SIGNAL:
        if (!serviceOpen)
            return Complete(irp, STATUS_ACCESS_DENIED, 0);
        ++state->Counts.Requests;
        if (!state->Accept) {
            ++state->Counts.Refused;
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        }
        return Complete(irp, STATUS_SUCCESS, 0);
    case ZEL_TESTKBD_SET_ACCEPT:
        if (serviceOpen || request.InputBufferLength < sizeof(ULONG))
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        state->Accept = *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) != 0;
        return Complete(irp, STATUS_SUCCESS, 0);
    case ZEL_TESTKBD_TAKE_COUNTS:
        if (serviceOpen || request.OutputBufferLength < sizeof(ZelTestKbdCounts))
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &state->Counts, sizeof state->Counts);
        RtlZeroMemory(&state->Counts, sizeof state->Counts);
        return Complete(irp, STATUS_SUCCESS, sizeof(ZelTestKbdCounts));
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

void DriverUnload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, ZEL_TESTKBD_DOS_NAME);
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

} // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, ZEL_TESTKBD_NT_NAME);
    RtlInitUnicodeString(&link, ZEL_TESTKBD_DOS_NAME);
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(State), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    RtlZeroMemory(device->DeviceExtension, sizeof(State));
    StateOf(device)->Accept = 1;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->DriverUnload = DriverUnload;
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
