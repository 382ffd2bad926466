// `zelinst install`: copies the files, installs both drivers and registers and starts the
// service; a failed step undoes everything this run changed.
#include "device_setup.h"
#include "zelinst.h"

#include <cstdio>
#include <setupapi.h>

namespace zelinst {

namespace {

// One change of this run and how to take it back.
struct Undo {
    enum Kind { RemoveFile, RestoreFile, UnstageInf, RemoveDevice, RemoveDriver, RemoveService };
    Kind kind;
    std::string what;         // the file, stored INF, instance id or service
    std::string extra = {};   // RestoreFile: the backup; RemoveDriver: the hardware id
    bool keepService = false; // RemoveDriver: the driver service and .sys were there before
};

struct Journal {
    std::vector<Undo> changes;
    std::vector<std::string> backups; // replaced files, deleted once the run succeeded
};

bool CheckPackage(const std::string& dir) {
    std::vector<std::string> names(kSystemFiles.begin(), kSystemFiles.end());
    for (const DriverPart& d : kDrivers) {
        names.push_back(std::string(d.service) + ".sys");
        names.push_back(std::string(d.service) + ".inf");
    }
    for (const std::string& name : names) {
        const DWORD attributes = GetFileAttributesA((dir + name).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return Fail("check of the package (" + dir + name + ")", GetLastError());
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return Fail("check of the package (" + dir + name + " is a folder)",
                        ERROR_FILE_NOT_FOUND);
    }
    Say("checked", "the package in " + dir + " is complete");
    return true;
}

bool CopyToSystem(Journal& journal, const std::string& from, const char* name) {
    const std::string source = from + name;
    const std::string target = SystemDir() + name;
    if (FileExists(target)) {
        if (SameContents(source, target)) {
            Say("unchanged", target);
            return true;
        }
        const std::string backup = target + ".zelold";
        if (!MoveFileExA(target.c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING))
            return Fail("replacing " + target, GetLastError());
        journal.changes.push_back({Undo::RestoreFile, target, backup});
        journal.backups.push_back(backup);
        if (!CopyFileA(source.c_str(), target.c_str(), FALSE))
            return Fail("copying " + std::string(name) + " to " + SystemDir(), GetLastError());
        Say("replaced", target);
        return true;
    }
    if (!CopyFileA(source.c_str(), target.c_str(), TRUE)) {
        const DWORD error = GetLastError();
        DeleteFileA(target.c_str()); // a partly written copy is not ours to leave
        return Fail("copying " + std::string(name) + " to " + SystemDir(), error);
    }
    journal.changes.push_back({Undo::RemoveFile, target});
    Say("copied", target);
    return true;
}

bool PresentWithDriver(const std::vector<Device>& devices, const char* service) {
    for (const Device& d : devices)
        if (d.present && lstrcmpiA(d.service.c_str(), service) != 0)
            return false;
    return true;
}

// Why `target` is not the package's copy `source` (the system can report a driver installed
// without having copied its file), or 0 when it is.
DWORD CopyFault(const std::string& source, const std::string& target) {
    if (SameContents(source, target))
        return 0;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError();
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? ERROR_ACCESS_DENIED : ERROR_FILE_INVALID;
}

// Waits until the driver runs every present device with its hardware id (the system starts
// them in the background); 0, or ERROR_SERVICE_NOT_ACTIVE after 10 s.
DWORD WaitForDriver(const DriverPart& part) {
    for (int i = 0; i < 100; ++i) {
        if (QueryService(part.service) == ServiceState::Running &&
            PresentWithDriver(FindDevices(part.hardwareId), part.service))
            return 0;
        Sleep(100);
    }
    return ERROR_SERVICE_NOT_ACTIVE;
}

bool InstallDriverPart(Journal& journal, const std::string& from, const DriverPart& part) {
    const std::string service = part.service;
    const std::string inf = from + service + ".inf";
    const std::string sysName = service + ".sys";
    const std::string sysTarget = DriversDir() + sysName;

    std::string stored;
    for (const std::string& s : FindStagedInfs(sysName.c_str()))
        if (SameContents(s, inf))
            stored = s;
    if (!stored.empty()) {
        Say("unchanged", service + ".inf in the driver store as " + stored);
    } else {
        if (DWORD error = StageInf(inf.c_str(), stored))
            return Fail("putting " + service + ".inf into the driver store", error);
        journal.changes.push_back({Undo::UnstageInf, stored});
        Say("staged", service + ".inf in the driver store as " + stored);
    }

    std::vector<Device> devices = FindDevices(part.hardwareId);
    bool anyPresent = false;
    for (const Device& d : devices)
        anyPresent = anyPresent || d.present;
    if (!anyPresent && part.rootDevice) {
        std::string instance;
        if (DWORD error =
                CreateRootDevice(kHidClassGuid, part.rootDevice, part.hardwareId, instance))
            return Fail(std::string("creating the device ") + part.hardwareId, error);
        journal.changes.push_back({Undo::RemoveDevice, instance});
        Say("created", "device " + instance + " (" + part.hardwareId + ")");
        anyPresent = true;
        devices = FindDevices(part.hardwareId);
    }
    if (!anyPresent) {
        Say("waiting",
            service + " is ready for devices with id " + part.hardwareId + " (none is present)");
        return true;
    }
    if (PresentWithDriver(devices, part.service) && FileExists(sysTarget) &&
        SameContents(sysTarget, from + sysName)) {
        Say("unchanged", "driver " + service + " runs the devices with id " + part.hardwareId);
        return true;
    }
    const bool existed =
        QueryService(part.service) != ServiceState::Absent || FileExists(sysTarget);
    journal.changes.push_back({Undo::RemoveDriver, service, part.hardwareId, existed});
    if (DWORD error = InstallDriver(part.hardwareId, inf.c_str()))
        return Fail("installing the driver " + service + " on " + part.hardwareId, error);
    if (DWORD error = CopyFault(from + sysName, sysTarget))
        return Fail("copying the driver file " + sysTarget, error);
    if (DWORD error = WaitForDriver(part))
        return Fail("starting the driver " + service + " on " + part.hardwareId, error);
    Say("installed", "driver " + service + " on the devices with id " + part.hardwareId);
    return true;
}

bool InstallService(Journal& journal, const ServicePart& part) {
    const std::string program = SystemDir() + part.program;
    ServiceState state = QueryService(part.name);
    if (state == ServiceState::Absent) {
        if (DWORD error = CreateStartupService(part, program))
            return Fail(std::string("registering the service ") + part.name, error);
        journal.changes.push_back({Undo::RemoveService, part.name});
        Say("registered", std::string("service ") + part.name + " (" + program + ")");
    } else {
        Say("unchanged", std::string("service ") + part.name + " is registered");
    }
    if (state == ServiceState::Running) {
        Say("unchanged", std::string("service ") + part.name + " is running");
        return true;
    }
    const std::string service = std::string("service ") + part.name;
    switch (const DWORD error = StartServiceAndWait(part.name)) {
    case 0:
        Say("started", service);
        return true;
    case ERROR_SERVICE_NOT_ACTIVE: // its own answer when no joystick runs on zel_hidg
        Say("stopped", service + " stopped itself: its joystick check found no joystick; it "
                                 "checks again at every start of Windows");
        return true;
    case ERROR_SERVICE_REQUEST_TIMEOUT: // a message box of its start waits to be closed
        Say("starting", service + " is still starting: close its message box (INSTALL.md "
                                  "explains each one)");
        return true;
    default:
        return Fail("starting the " + service, error);
    }
}

void Report(bool undone, const std::string& what, DWORD error) {
    if (undone)
        Say("undone", what);
    else
        std::printf("zelinst: could not undo: %s: %s\n", what.c_str(), ErrorText(error).c_str());
}

// Takes back this run's changes, newest first; returns false when one could not be undone.
bool RollBack(const Journal& journal) {
    bool all = true;
    for (auto it = journal.changes.rbegin(); it != journal.changes.rend(); ++it) {
        const Undo& u = *it;
        DWORD error = 0;
        std::string what;
        switch (u.kind) {
        case Undo::RemoveFile:
            what = "copied " + u.what;
            if (!DeleteFileA(u.what.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
                error = GetLastError();
            break;
        case Undo::RestoreFile:
            what = "replaced " + u.what;
            DeleteFileA(u.what.c_str());
            if (!MoveFileExA(u.extra.c_str(), u.what.c_str(), MOVEFILE_REPLACE_EXISTING))
                error = GetLastError();
            break;
        case Undo::UnstageInf:
            what = "driver store entry " + u.what;
            error = UnstageInf(u.what);
            break;
        case Undo::RemoveDevice:
            what = "device " + u.what;
            error = RemoveDevice(u.what.c_str());
            if (error == ERROR_NO_SUCH_DEVINST) // gone with its driver already
                error = 0;
            break;
        case Undo::RemoveDriver:
            what = "driver " + u.what;
            for (const Device& d : FindDevices(u.extra.c_str()))
                if (!error)
                    error = RemoveDevice(d.instanceId.c_str());
            if (!error && !u.keepService) {
                error = DeleteServiceByName(u.what.c_str());
                const std::string sys = DriversDir() + u.what + ".sys";
                if (!error && FileExists(sys) && !DeleteFileA(sys.c_str()))
                    error = GetLastError();
            }
            break;
        case Undo::RemoveService:
            what = "service " + u.what;
            error = DeleteServiceByName(u.what.c_str());
            break;
        }
        Report(error == 0, what, error);
        all = all && error == 0;
    }
    return all;
}

} // namespace

int Install(const std::string& from) {
    std::printf("zelinst install: from %s into %s\n", from.c_str(), SystemDir().c_str());
    if (!IsAdministrator()) {
        std::printf("zelinst: installing needs administrator rights; run it from a command "
                    "prompt opened with \"Run as administrator\"\n");
        return 1;
    }
    Journal journal;
    bool ok = CheckPackage(from);
    for (size_t i = 0; ok && i < kSystemFiles.size(); ++i)
        ok = CopyToSystem(journal, from, kSystemFiles[i]);
    for (size_t i = 0; ok && i < kDrivers.size(); ++i)
        ok = InstallDriverPart(journal, from, kDrivers[i]);
    if (ok && kService)
        ok = InstallService(journal, *kService);
    if (!ok) {
        if (journal.changes.empty()) {
            std::printf("zelinst: nothing was changed\n");
        } else {
            std::printf("zelinst: taking back what this run changed\n");
            if (RollBack(journal))
                std::printf("zelinst: the system is as it was before this run\n");
            else
                std::printf("zelinst: some changes could not be undone (listed above); "
                            "\"zelinst uninstall\" removes them\n");
        }
        return 1;
    }
    for (const std::string& backup : journal.backups)
        if (!DeleteFileA(backup.c_str())) // in use: goes at the next restart
            MoveFileExA(backup.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    std::printf("zelinst: the package is installed\n");
    return 0;
}

} // namespace zelinst
