// The process entry, ServiceMain and the process-wide state of zel_svc.
#include "service.h"

namespace zel_svc {

SERVICE_STATUS ServiceStatus;
SERVICE_STATUS_HANDLE ServiceStatusHandle;
StartupAgent* Agent;
char MessageText[kTextSize];

namespace {

void SetState(DWORD state, DWORD win32ExitCode) {
    ServiceStatus.dwCurrentState = state;
    ServiceStatus.dwWin32ExitCode = win32ExitCode;
    ServiceStatus.dwServiceSpecificExitCode = 0;
    ServiceStatus.dwCheckPoint = 0;
    ServiceStatus.dwWaitHint = 0;
}

void DeleteAgent() {
    delete Agent;
    Agent = nullptr;
}

} // namespace

int ServiceProcessEntry() {
    char name[] = "zelHidUserService"; // the table takes a writable name
    const SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    // Returns once the service has stopped; fails at once outside the service control manager.
    if (!StartServiceCtrlDispatcherA(table))
        MessageBoxA(nullptr, "StartServiceCtrlDispatcher error", "[Zel-Service]", kErrorBox);
    return 0;
}

VOID WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
    ServiceStatus.dwServiceType = kServiceType;
    ServiceStatus.dwControlsAccepted = kControlsAccepted;
    SetState(SERVICE_START_PENDING, 0); // held, never reported

    ServiceStatusHandle =
        RegisterServiceCtrlHandlerExA(kHandlerName, ServiceControlHandler, nullptr);
    if (!ServiceStatusHandle) {
        MessageBoxA(nullptr, "RegisterServiceCtrlHandler error", "[Zel-Service]", kErrorBox);
        return;
    }

    Agent = new (std::nothrow) StartupAgent;
    if (Agent) {
        if (Agent->RunStartupCheck()) {
            SetState(SERVICE_RUNNING, 0);
            if (SetServiceStatus(ServiceStatusHandle, &ServiceStatus))
                return;
            MessageBoxA(nullptr, "SetServiceStatus error", "[Zel-Service]", kErrorBox);
            DeleteAgent();
            return;
        }
        DeleteAgent();
    }

    // The check did not pass or there is no agent: the service stops itself.
    SetState(SERVICE_STOPPED, ERROR_SERVICE_NOT_ACTIVE);
    SetServiceStatus(ServiceStatusHandle, &ServiceStatus);
}

} // namespace zel_svc
