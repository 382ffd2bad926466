// The installer's parts list, its commands and the helpers its steps share.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zelinst {

// A kernel driver of the package and the devices it is installed on.
struct DriverPart {
    const char* service;    // driver service name, also the .sys and .inf base name
    const char* hardwareId; // the devices the INF matches
    const char* rootDevice; // name of the root-enumerated device to create, or null when a
                            // bus reports the devices (the driver is then staged for them)
};

// The user-mode start-up service.
struct ServicePart {
    const char* name;
    const char* displayName;
    const char* description;
    const char* program; // in the system directory
};

extern const std::vector<const char*> kSystemFiles; // copied to the system directory
extern const std::vector<DriverPart> kDrivers;
extern const ServicePart* const kService; // null while the package carries no service

// Commands; each returns the process exit code.
int Install(const std::string& packageDir);
int Uninstall();
int Status();

// Paths: the system directory, its drivers folder, the folder of this program (each with a
// trailing backslash).
std::string SystemDir();
std::string DriversDir();
std::string ProgramDir();

bool IsAdministrator();

// One line of what a step did: "  copied     zel_lng.dll to C:\windows\system32\".
void Say(const char* action, const std::string& what);
// The system's text for an error code, "The system cannot find the file specified. (error 2)".
std::string ErrorText(DWORD error);
// Prints "zelinst: STEP failed: ERROR TEXT" and returns false.
bool Fail(const std::string& step, DWORD error);

bool FileExists(const std::string& path);
bool SameContents(const std::string& a, const std::string& b);
// The fixed file version of a PE file ("2.1.1.0"), or empty.
std::string FileVersion(const std::string& path);

// Driver services and the start-up service in the service control manager.
enum class ServiceState { Absent, Stopped, Starting, Running, Stopping, Other };
ServiceState QueryService(const char* name);
const char* StateName(ServiceState state);
// Stops (when running) and deletes a service; 0 when it is gone or was never there.
DWORD DeleteServiceByName(const char* name);
// Registers the start-up service (own process, interactive, automatic start).
DWORD CreateStartupService(const ServicePart& service, const std::string& binaryPath);
// Starts a service and waits up to 30 s until it runs: 0, the exit code it stopped with, the
// error of the start, or ERROR_SERVICE_REQUEST_TIMEOUT while it is still starting.
DWORD StartServiceAndWait(const char* name);

} // namespace zelinst
