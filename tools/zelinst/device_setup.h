// Device and driver-store operations of SetupAPI, shared by the installer and the Wine tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zelinst {

extern const GUID kHidClassGuid;
extern const GUID kSystemClassGuid;

struct Device {
    std::string instanceId;
    std::string service; // the driver's service name; empty while the device has no driver
    bool present = false;
};

// Every device the system knows (present or not) that lists `hardwareId` among its hardware ids.
std::vector<Device> FindDevices(const char* hardwareId);

// Creates a root-enumerated device of class `classGuid` named `name` with the one hardware id;
// `instanceId` receives its instance id. Returns 0 or the Windows error code.
DWORD CreateRootDevice(const GUID& classGuid, const char* name, const char* hardwareId,
                       std::string& instanceId);

// Installs the driver of `infPath` on every present device with `hardwareId` (the driver is
// loaded and the devices started). ERROR_NO_SUCH_DEVINST when no such device is present.
DWORD InstallDriver(const char* hardwareId, const char* infPath);

// Removes the device with this instance id: its driver is unloaded and its key deleted.
DWORD RemoveDevice(const char* instanceId);

// Puts the INF into the driver store, where the Plug and Play manager finds the driver of a
// device that a bus reports later; `stored` receives its name there (oemN.inf).
DWORD StageInf(const char* infPath, std::string& stored);

// Full paths of the driver-store INFs whose source files include `sysName`.
std::vector<std::string> FindStagedInfs(const char* sysName);

// Removes an INF (its full path in the driver store) and its precompiled form from the store.
DWORD UnstageInf(const std::string& storedPath);

// The DriverVer version of an INF ("2.1.1.0"), or empty when it has none.
std::string InfDriverVersion(const char* infPath);

} // namespace zelinst
