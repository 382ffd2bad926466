// Registration with the HID class driver and the per-device record.
#include "vmd.h"

namespace vmd {

VirtualDeviceExtension* GetVirtualExtension(PDEVICE_OBJECT device) {
    auto* hid = static_cast<PHID_DEVICE_EXTENSION>(device->DeviceExtension);
    return static_cast<VirtualDeviceExtension*>(hid->MiniDeviceExtension);
}

PDEVICE_OBJECT LowerDevice(PDEVICE_OBJECT device) {
    return static_cast<PHID_DEVICE_EXTENSION>(device->DeviceExtension)->NextDeviceObject;
}

// The device object belongs to the HID class driver; only the state is ours.
ZEL_PAGEABLE NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device) {
    PAGED_CODE();
    UNREFERENCED_PARAMETER(driver);
    VirtualDeviceExtension* ext = GetVirtualExtension(device);
    ext->PnpState = PnpNotStarted;
    ext->PreviousPnpState = PnpNotStarted;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

// Nothing driver-wide is held, so there is nothing to release.
ZEL_PAGEABLE VOID NTAPI DriverUnload(PDRIVER_OBJECT driver) {
    PAGED_CODE();
    UNREFERENCED_PARAMETER(driver);
}

} // namespace vmd

// Discarded once the driver has initialised.
extern "C" ZEL_INIT_CODE NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject,
                                                    PUNICODE_STRING RegistryPath) {
    DriverObject->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] =
        vmd::DispatchInternalDeviceControl;
    DriverObject->MajorFunction[IRP_MJ_PNP] = vmd::DispatchPnp;
    DriverObject->MajorFunction[IRP_MJ_POWER] = vmd::DispatchPower;
    DriverObject->DriverUnload = vmd::DriverUnload;
    DriverObject->DriverExtension->AddDevice = vmd::AddDevice;

    HID_MINIDRIVER_REGISTRATION registration;
    RtlZeroMemory(&registration, sizeof registration);
    registration.Revision = HID_REVISION;
    registration.DriverObject = DriverObject;
    registration.RegistryPath = RegistryPath;
    registration.DeviceExtensionSize = sizeof(vmd::VirtualDeviceExtension);
    // The driver below holds each read until it has a report.
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
