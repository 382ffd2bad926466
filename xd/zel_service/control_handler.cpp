// The control handler of zel_svc: stop, interrogate and power events.
#include "service.h"

namespace zel_svc {

namespace {

// Reports the status record; a failure is shown and ends the control with ERROR_INVALID_HANDLE.
bool Report(DWORD* result) {
    if (SetServiceStatus(ServiceStatusHandle, &ServiceStatus))
        return true;
    MessageBoxA(nullptr, "Handler SetServiceStatus error", "[Zel-Service]", kWarningBox);
    *result = ERROR_INVALID_HANDLE;
    return false;
}

} // namespace

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData,
                                   LPVOID context) {
    DWORD result = NO_ERROR;
    switch (control) {
    case SERVICE_CONTROL_STOP:
        ServiceStatus.dwCurrentState = SERVICE_STOPPED;
        ServiceStatus.dwWin32ExitCode = 0;
        ServiceStatus.dwCheckPoint = 0;
        ServiceStatus.dwWaitHint = 0;
        // The agent goes only once the stop is reported; after a failed report it stays.
        if (Report(&result)) {
            delete Agent;
            Agent = nullptr;
        }
        return result;
    case SERVICE_CONTROL_INTERROGATE:
        Report(&result);
        return result;
    case SERVICE_CONTROL_POWEREVENT:
        // Only the resume from suspend signals the device again; the check is not rerun.
        if (eventType == PBT_APMRESUMESUSPEND && Agent)
            Agent->SignalKeyboardInterface();
        Report(&result);
        return result;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

} // namespace zel_svc
