// Driver entry: counter scale, dispatch table and registration as a polled
// HID minidriver. Discarded once the driver has initialised.
#include "hidg.h"

extern "C" ZEL_INIT_CODE NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    LARGE_INTEGER frequency;
    KeQueryPerformanceCounter(&frequency);
    const ULONG scale = ComputeCounterScale(frequency);
    if (scale == 0)
        return STATUS_UNSUCCESSFUL; // 10 kHz or slower: too coarse to time a line
    g_Driver.CounterScale = scale;
    g_Driver.CounterRead = KeQueryPerformanceCounter;

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalDeviceControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchSystemControl;
    driver->DriverUnload = DriverUnload;
    driver->DriverExtension->AddDevice = AddDevice;

    HID_MINIDRIVER_REGISTRATION registration;
    RtlZeroMemory(&registration, sizeof registration);
    registration.Revision = HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = sizeof(GameDeviceExtension);
    registration.DevicesArePolled = TRUE;
    const NTSTATUS status = HidRegisterMinidriver(&registration);
    if (!NT_SUCCESS(status))
        return status;

    ExInitializeFastMutex(&g_Driver.DeviceListMutex);
    KeInitializeSpinLock(&g_Driver.PortLock);
    InitializeListHead(&g_Driver.DeviceList);
    return status;
}
