// Registration of a minidriver with the simulated HID class driver: it takes
// over the minidriver's driver object and keeps the entries it replaced.
#include "class_private.h"

#include "kernel_model.h"

namespace sim::hid {

std::mutex g_lock;
std::condition_variable g_pollsDone;
std::map<PDRIVER_OBJECT, Minidriver> g_minidrivers;
std::map<PDEVICE_OBJECT, DeviceRecord> g_devices;

namespace {

NTSTATUS g_registrationStatus = STATUS_SUCCESS;

void ResetClass() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_minidrivers.clear();
    g_devices.clear();
    g_registrationStatus = STATUS_SUCCESS;
}

VOID ClassUnload(PDRIVER_OBJECT driver) {
    if (PDRIVER_UNLOAD unload = MinidriverUnload(driver))
        unload(driver);
}

} // namespace

void HookReset() {
    static bool hooked = (km::OnReset(ResetClass), true);
    (void)hooked;
}

void SetRegistrationStatus(NTSTATUS status) {
    HookReset();
    std::lock_guard<std::mutex> guard(g_lock);
    g_registrationStatus = status;
}

const HID_MINIDRIVER_REGISTRATION* Registration(PDRIVER_OBJECT driver) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_minidrivers.find(driver);
    return it == g_minidrivers.end() ? nullptr : &it->second.registration;
}

PDRIVER_DISPATCH MinidriverDispatch(PDRIVER_OBJECT driver, UCHAR major) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_minidrivers.find(driver);
    return it == g_minidrivers.end() || major > IRP_MJ_MAXIMUM_FUNCTION
               ? nullptr
               : it->second.dispatch[major];
}

PDRIVER_ADD_DEVICE MinidriverAddDevice(PDRIVER_OBJECT driver) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_minidrivers.find(driver);
    return it == g_minidrivers.end() ? nullptr : it->second.addDevice;
}

PDRIVER_UNLOAD MinidriverUnload(PDRIVER_OBJECT driver) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_minidrivers.find(driver);
    return it == g_minidrivers.end() ? nullptr : it->second.unload;
}

void Unregister(PDRIVER_OBJECT driver) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (auto& [fdo, device] : g_devices)
        if (device.driver == driver)
            km::Fault("HID class: minidriver unregistered while its device objects exist");
    g_minidrivers.erase(driver);
}

} // namespace sim::hid

// The registration entry of the class driver. It checks the record as the
// platform does, then takes over the driver object's entries.
extern "C" NTSTATUS NTAPI HidRegisterMinidriver(PHID_MINIDRIVER_REGISTRATION registration) {
    using namespace sim::hid;
    HookReset();
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        km::Fault("HidRegisterMinidriver above PASSIVE_LEVEL");
    if (!registration)
        return STATUS_INVALID_PARAMETER;
    if (registration->Revision != HID_REVISION)
        return STATUS_REVISION_MISMATCH;
    PDRIVER_OBJECT driver = registration->DriverObject;
    // The device object's size field is 16 bits wide.
    const size_t deviceBytes = sizeof(DEVICE_OBJECT) + sizeof(HID_DEVICE_EXTENSION) +
                               size_t(registration->DeviceExtensionSize);
    if (!driver || !driver->DriverExtension || !registration->RegistryPath || deviceBytes > 0xFFFF)
        return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    if (!NT_SUCCESS(g_registrationStatus))
        return g_registrationStatus;
    if (g_minidrivers.count(driver))
        return STATUS_INVALID_PARAMETER;
    Minidriver& mini = g_minidrivers[driver];
    mini.registration = *registration;
    for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        mini.dispatch[major] = driver->MajorFunction[major];
        driver->MajorFunction[major] = ClassDispatch;
    }
    mini.addDevice = driver->DriverExtension->AddDevice;
    mini.unload = driver->DriverUnload;
    driver->DriverExtension->AddDevice = ClassAddDevice;
    driver->DriverUnload = ClassUnload;
    return STATUS_SUCCESS;
}
