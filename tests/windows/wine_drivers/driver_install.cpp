// Run under Wine: installs a Plug and Play driver from its INF, as a device setup would.
//   driver_install.exe root CLASS NAME HARDWARE_ID INF
//       creates a root-enumerated device of CLASS (hid or system) with HARDWARE_ID and
//       installs the INF's driver on it; the driver is loaded and the device started
//   driver_install.exe preload INF
//       puts the INF in the system's driver store, where the Plug and Play manager looks
//       for the driver of a device that a bus driver reports later
// Exits with 0 on success, 1 with a message otherwise.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <newdev.h>
#include <setupapi.h>

namespace {

const GUID kHidClass = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
const GUID kSystemClass = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

int Fail(const char* what) {
    std::printf("FAIL: %s (error %lu)\n", what, GetLastError());
    return 1;
}

int Update(const char* hardwareId, const char* inf) {
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, hardwareId, inf, INSTALLFLAG_FORCE, &reboot))
        return Fail("UpdateDriverForPlugAndPlayDevicesA");
    std::printf("driver of %s installed from %s\n", hardwareId, inf);
    return 0;
}

int CreateRootDevice(const char* className, const char* name, const char* hardwareId) {
    const GUID* guid = std::strcmp(className, "hid") == 0 ? &kHidClass : &kSystemClass;
    HDEVINFO set = SetupDiCreateDeviceInfoList(guid, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return Fail("SetupDiCreateDeviceInfoList");
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    int rc = 0;
    // The property is a multi-string: the id, its NUL and the list's NUL.
    char ids[256] = {};
    const DWORD idsBytes = static_cast<DWORD>(std::strlen(hardwareId) + 2);
    std::strncpy(ids, hardwareId, sizeof ids - 2);
    if (!SetupDiCreateDeviceInfoA(set, name, guid, nullptr, nullptr, DICD_GENERATE_ID, &device))
        rc = Fail("SetupDiCreateDeviceInfoA");
    else if (!SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<BYTE*>(ids), idsBytes))
        rc = Fail("SetupDiSetDeviceRegistryPropertyA");
    else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device))
        rc = Fail("DIF_REGISTERDEVICE");
    SetupDiDestroyDeviceInfoList(set);
    return rc;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "root") == 0) {
        if (CreateRootDevice(argv[2], argv[3], argv[4]) != 0)
            return 1;
        return Update(argv[4], argv[5]);
    }
    if (argc == 3 && std::strcmp(argv[1], "preload") == 0) {
        char stored[MAX_PATH] = {};
        if (!SetupCopyOEMInfA(argv[2], nullptr, SPOST_PATH, 0, stored, sizeof stored, nullptr,
                              nullptr))
            return Fail("SetupCopyOEMInfA");
        std::printf("%s stored as %s\n", argv[2], stored);
        return 0;
    }
    std::printf("usage: driver_install root hid|system NAME HARDWARE_ID INF\n"
                "       driver_install preload INF\n");
    return 2;
}
