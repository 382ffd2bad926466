// `zelinst uninstall`: removes the service, the drivers with their devices and driver-store
// entries, and the files, whatever an earlier install left of them.
#include "device_setup.h"
#include "zelinst.h"

#include <cstdio>

namespace zelinst {

namespace {

bool Done(DWORD error, const char* action, const std::string& what) {
    if (error)
        return Fail("removing " + what, error);
    Say(action, what);
    return true;
}

// Set when a file is in use (a driver that its device still holds): it goes at the restart.
bool g_RestartNeeded = false;

bool DeleteIfThere(const std::string& path) {
    if (!FileExists(path))
        return true;
    if (DeleteFileA(path.c_str())) {
        Say("deleted", path);
        return true;
    }
    const DWORD error = GetLastError();
    if ((error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) &&
        MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        Say("at restart", path + " is in use; Windows deletes it at the next restart");
        g_RestartNeeded = true;
        return true;
    }
    return Done(error, "deleted", path);
}

bool RemoveDriverPart(const DriverPart& part) {
    bool ok = true;
    for (const Device& d : FindDevices(part.hardwareId))
        ok = Done(RemoveDevice(d.instanceId.c_str()), "removed", "device " + d.instanceId) && ok;
    if (QueryService(part.service) != ServiceState::Absent)
        ok = Done(DeleteServiceByName(part.service), "removed",
                  std::string("driver service ") + part.service) &&
             ok;
    ok = DeleteIfThere(DriversDir() + part.service + ".sys") && ok;
    for (const std::string& inf : FindStagedInfs((std::string(part.service) + ".sys").c_str()))
        ok = Done(UnstageInf(inf), "removed", "driver store entry " + inf) && ok;
    return ok;
}

} // namespace

int Uninstall() {
    std::printf("zelinst uninstall: from %s\n", SystemDir().c_str());
    if (!IsAdministrator()) {
        std::printf("zelinst: uninstalling needs administrator rights; run it from a command "
                    "prompt opened with \"Run as administrator\"\n");
        return 1;
    }
    bool ok = true;
    if (kService && QueryService(kService->name) != ServiceState::Absent)
        ok = Done(DeleteServiceByName(kService->name), "removed",
                  std::string("service ") + kService->name);
    for (auto it = kDrivers.rbegin(); it != kDrivers.rend(); ++it)
        ok = RemoveDriverPart(*it) && ok;
    for (const char* name : kSystemFiles)
        ok = DeleteIfThere(SystemDir() + name) && ok;
    if (!ok) {
        std::printf("zelinst: some parts could not be removed (listed above)\n");
        return 1;
    }
    if (g_RestartNeeded) {
        std::printf("zelinst: restart Windows to finish the removal\n");
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    }
    std::printf("zelinst: nothing of the package is left\n");
    return 0;
}

} // namespace zelinst
