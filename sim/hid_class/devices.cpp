// Device lifetime in the simulated HID class driver: the functional device
// object it makes in AddDevice, its record, and its deletion after removal.
#include "class_private.h"

#include "kernel_model.h"

namespace sim::hid {

NTSTATUS ClassAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDRIVER_ADD_DEVICE addDevice;
    ULONG extensionSize;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        const Minidriver& mini = g_minidrivers.at(driver);
        addDevice = mini.addDevice;
        extensionSize = mini.registration.DeviceExtensionSize;
    }
    PDEVICE_OBJECT fdo = nullptr;
    NTSTATUS status = IoCreateDevice(driver, ULONG(sizeof(HID_DEVICE_EXTENSION) + extensionSize),
                                     nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo);
    if (!NT_SUCCESS(status))
        return status;
    auto* hid = static_cast<PHID_DEVICE_EXTENSION>(fdo->DeviceExtension);
    hid->PhysicalDeviceObject = pdo;
    hid->NextDeviceObject = IoAttachDeviceToDeviceStack(fdo, pdo);
    hid->MiniDeviceExtension = hid + 1;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        DeviceRecord& device = g_devices[fdo];
        device.driver = driver;
        device.info.fdo = fdo;
        device.info.pdo = pdo;
        device.info.lower = hid->NextDeviceObject;
    }
    status = addDevice ? addDevice(driver, fdo) : STATUS_SUCCESS;
    if (!NT_SUCCESS(status)) {
        {
            std::lock_guard<std::mutex> guard(g_lock);
            g_devices.erase(fdo);
        }
        IoDetachDevice(hid->NextDeviceObject);
        IoDeleteDevice(fdo);
    }
    return status;
}

// Waits for the polls in flight; the device object goes only once none can
// still use it.
void DeleteDevice(PDEVICE_OBJECT fdo) {
    {
        std::unique_lock<std::mutex> guard(g_lock);
        auto it = g_devices.find(fdo);
        if (it->second.keptAfterRemoval)
            return;
        it->second.deleting = true;
        g_pollsDone.wait(guard, [&] { return it->second.pollsInFlight == 0; });
        if (it->second.info.readsOutstanding != 0) {
            // Deleting it now would leave those requests pointing at freed memory.
            km::Fault("HID class: removal with read requests still held below");
            return;
        }
        g_devices.erase(it);
    }
    IoDetachDevice(Lower(fdo));
    IoDeleteDevice(fdo);
}

void KeepAfterRemoval(PDEVICE_OBJECT fdo) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_devices.at(fdo).keptAfterRemoval = true;
}

void DeleteKeptDevice(PDEVICE_OBJECT fdo) {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_devices.at(fdo).keptAfterRemoval = false;
    }
    DeleteDevice(fdo);
}

PDEVICE_OBJECT FunctionalDevice(PDEVICE_OBJECT pdo) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (auto& [fdo, device] : g_devices)
        if (device.info.pdo == pdo)
            return fdo;
    return nullptr;
}

DeviceInfo Device(PDEVICE_OBJECT fdo) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_devices.find(fdo);
    return it == g_devices.end() ? DeviceInfo{} : it->second.info;
}

void SetReadLength(PDEVICE_OBJECT fdo, ULONG length) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_devices.at(fdo).info.readLength = length;
}

std::vector<std::vector<UCHAR>> TakeReports(PDEVICE_OBJECT fdo) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::vector<std::vector<UCHAR>> out;
    auto it = g_devices.find(fdo);
    if (it != g_devices.end())
        out.swap(it->second.info.reports);
    return out;
}

} // namespace sim::hid
