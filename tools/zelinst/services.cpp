// The service control manager: the state of a service, the start-up service's registration,
// its start, and the deletion of services (driver services included).
#include "zelinst.h"

namespace zelinst {

namespace {

// Closes a service handle when it goes out of scope.
struct Handle {
    SC_HANDLE h;
    ~Handle() {
        if (h)
            CloseServiceHandle(h);
    }
};

DWORD LastError() {
    const DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

// Polls often: once a service that stopped itself has exited, some systems report its exit
// code as 1077 (never started) in place of the code it set.
bool Wait(SC_HANDLE service, DWORD wanted, DWORD pending, SERVICE_STATUS& status) {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 30000;) {
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == wanted)
            return true;
        if (status.dwCurrentState != pending)
            return false;
        Sleep(2);
    }
    return false;
}

} // namespace

ServiceState QueryService(const char* name) {
    Handle manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)};
    if (!manager.h)
        return ServiceState::Other;
    Handle service{OpenServiceA(manager.h, name, SERVICE_QUERY_STATUS)};
    if (!service.h)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ServiceState::Absent
                                                              : ServiceState::Other;
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.h, &status))
        return ServiceState::Other;
    switch (status.dwCurrentState) {
    case SERVICE_STOPPED:
        return ServiceState::Stopped;
    case SERVICE_START_PENDING:
        return ServiceState::Starting;
    case SERVICE_RUNNING:
        return ServiceState::Running;
    case SERVICE_STOP_PENDING:
        return ServiceState::Stopping;
    default:
        return ServiceState::Other;
    }
}

const char* StateName(ServiceState state) {
    switch (state) {
    case ServiceState::Absent:
        return "absent";
    case ServiceState::Stopped:
        return "stopped";
    case ServiceState::Starting:
        return "starting";
    case ServiceState::Running:
        return "running";
    case ServiceState::Stopping:
        return "stopping";
    default:
        return "unknown";
    }
}

DWORD DeleteServiceByName(const char* name) {
    Handle manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)};
    if (!manager.h)
        return LastError();
    Handle service{OpenServiceA(manager.h, name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE)};
    if (!service.h)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : LastError();
    SERVICE_STATUS status = {};
    if (ControlService(service.h, SERVICE_CONTROL_STOP, &status))
        Wait(service.h, SERVICE_STOPPED, SERVICE_STOP_PENDING, status);
    if (!DeleteService(service.h) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return LastError();
    return 0;
}

DWORD CreateStartupService(const ServicePart& part, const std::string& binaryPath) {
    Handle manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE)};
    if (!manager.h)
        return LastError();
    Handle service{CreateServiceA(manager.h, part.name, part.displayName, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                  SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binaryPath.c_str(),
                                  nullptr, nullptr, nullptr, nullptr, nullptr)};
    if (!service.h)
        return LastError();
    SERVICE_DESCRIPTIONA description = {const_cast<char*>(part.description)};
    if (!ChangeServiceConfig2A(service.h, SERVICE_CONFIG_DESCRIPTION, &description)) {
        const DWORD error = LastError();
        DeleteService(service.h);
        return error;
    }
    return 0;
}

DWORD StartServiceAndWait(const char* name) {
    Handle manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)};
    if (!manager.h)
        return LastError();
    Handle service{OpenServiceA(manager.h, name, SERVICE_START | SERVICE_QUERY_STATUS)};
    if (!service.h)
        return LastError();
    // A start that timed out may still end in a report of the service: look at its state.
    if (!StartServiceA(service.h, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING &&
        GetLastError() != ERROR_SERVICE_REQUEST_TIMEOUT)
        return LastError();
    // Until the service's process has reported, it may still read as stopped (exit code 0,
    // or 1077: never started); once it has reported, a stop is its own, with its exit code.
    bool reported = false;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(2)) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service.h, &status))
            return LastError();
        if (status.dwCurrentState == SERVICE_RUNNING)
            return 0;
        if (status.dwCurrentState != SERVICE_STOPPED)
            reported = true;
        else if (reported || (status.dwWin32ExitCode != 0 &&
                              status.dwWin32ExitCode != ERROR_SERVICE_NEVER_STARTED))
            return status.dwWin32ExitCode ? status.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE;
    }
    return reported ? ERROR_SERVICE_REQUEST_TIMEOUT : ERROR_SERVICE_NEVER_STARTED;
}

} // namespace zelinst
