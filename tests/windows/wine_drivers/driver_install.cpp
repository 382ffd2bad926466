// Run under Wine: installs or removes a Plug and Play driver as a device setup would, with the
// installer's own device code (tools/zelinst/device_setup.h).
//   driver_install.exe root CLASS NAME HARDWARE_ID INF
//       creates a root-enumerated device of CLASS (hid or system) with HARDWARE_ID and
//       installs the INF's driver on it; the driver is loaded and the device started
//   driver_install.exe preload INF
//       puts the INF in the system's driver store, where the Plug and Play manager looks
//       for the driver of a device that a bus driver reports later
// Exits with 0 on success, 1 with a message otherwise.
#include "device_setup.h"

#include <cstdio>
#include <cstring>

namespace {

int Fail(const char* what, const char* subject, DWORD error) {
    std::printf("FAIL: %s %s (error %lu)\n", what, subject, error);
    return 1;
}

int Root(const char* className, const char* name, const char* hardwareId, const char* inf) {
    const GUID& guid =
        std::strcmp(className, "hid") == 0 ? zelinst::kHidClassGuid : zelinst::kSystemClassGuid;
    std::string instance;
    if (DWORD error = zelinst::CreateRootDevice(guid, name, hardwareId, instance))
        return Fail("creating the device", hardwareId, error);
    if (DWORD error = zelinst::InstallDriver(hardwareId, inf))
        return Fail("installing the driver of", inf, error);
    std::printf("driver of %s (%s) installed from %s\n", hardwareId, instance.c_str(), inf);
    return 0;
}

int Preload(const char* inf) {
    std::string stored;
    if (DWORD error = zelinst::StageInf(inf, stored))
        return Fail("putting into the driver store", inf, error);
    std::printf("%s stored as %s\n", inf, stored.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "root") == 0)
        return Root(argv[2], argv[3], argv[4], argv[5]);
    if (argc == 3 && std::strcmp(argv[1], "preload") == 0)
        return Preload(argv[2]);
    std::printf("usage: driver_install root hid|system NAME HARDWARE_ID INF\n"
                "       driver_install preload INF\n");
    return 2;
}
