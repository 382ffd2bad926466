// zel_contract.sys: the kernel contract cases in a real kernel. A legacy
// (non-Plug and Play) test driver: it creates "\Device\ZelContract", and each
// device-control request runs one case (contract_protocol.h) and answers its
// result. Test scaffolding only, for Windows.
#include "contract_cases.h"

namespace {

const WCHAR kDeviceName[] = L"\\Device\\ZelContract";
const WCHAR kLinkName[] = L"\\DosDevices\\ZelContract";

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS CreateClose(PDEVICE_OBJECT, PIRP irp) {
    return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS DeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (sp->Parameters.DeviceIoControl.IoControlCode != contract::kRunCaseCode ||
        sp->Parameters.DeviceIoControl.InputBufferLength < sizeof(contract::RunRequest) ||
        sp->Parameters.DeviceIoControl.OutputBufferLength < sizeof(contract::RunResult))
        return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    const unsigned int id =
        static_cast<const contract::RunRequest*>(irp->AssociatedIrp.SystemBuffer)->id;
    contract::RunResult result;
    result.failedLine = contract::RunCase(id, device->DriverObject, &result.detail);
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &result, sizeof result);
    return Complete(irp, STATUS_SUCCESS, sizeof result);
}

VOID Unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kLinkName);
    IoDeleteSymbolicLink(&link);
    while (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

} // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, kDeviceName);
    RtlInitUnicodeString(&link, kLinkName);
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    driver->MajorFunction[IRP_MJ_CREATE] = CreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = CreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
    driver->DriverUnload = Unload;
    contract::PrepareDriver(driver);
    return STATUS_SUCCESS;
}
