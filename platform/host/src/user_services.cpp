// Host user-mode model: the service control manager, as a service program meets it.
//
// The dispatcher runs the service main function on a thread of its own and the registered
// handler on the dispatcher's (the process's main) thread, one control at a time, and
// returns once the service main function has returned and the last accepted report said
// stopped, or when a test ends the process.
#include "user_roles.h"

#include <condition_variable>
#include <mutex>

namespace {

struct ServiceModel {
    bool failDispatcher = false, failRegister = false, failReports = false;
    std::vector<std::string> table;
    std::vector<um::HandlerRegistration> registrations;
    LPHANDLER_FUNCTION_EX handler = nullptr;
    LPVOID context = nullptr;
    std::vector<um::StatusReport> reports;
    bool dispatching = false, mainReturned = false, stopped = false, endRequested = false;
    // One control at a time from a test to the dispatcher's thread.
    bool controlPending = false, resultReady = false;
    DWORD control = 0, eventType = 0, result = 0;
    LPVOID eventData = nullptr;
};

std::mutex g_Lock;
std::condition_variable g_Changed;
ServiceModel g_Model;

// The one status handle the model hands out.
SERVICE_STATUS_HANDLE const kStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5E5);

} // namespace

namespace um {

void ResetServices() {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Model = ServiceModel();
}

void FailServiceCall(ServiceCall call, bool fail) {
    std::lock_guard<std::mutex> hold(g_Lock);
    switch (call) {
    case ServiceCall::Dispatcher:
        g_Model.failDispatcher = fail;
        break;
    case ServiceCall::RegisterHandler:
        g_Model.failRegister = fail;
        break;
    case ServiceCall::SetStatus:
        g_Model.failReports = fail;
        break;
    }
}

std::vector<StatusReport> StatusReports() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Model.reports;
}

std::vector<std::string> DispatcherTable() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Model.table;
}

std::vector<HandlerRegistration> HandlerRegistrations() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Model.registrations;
}

bool WaitForServiceMain(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(g_Lock);
    return g_Changed.wait_for(hold, limit, [] { return g_Model.mainReturned; });
}

DWORD SendServiceControl(DWORD control, DWORD eventType, LPVOID eventData) {
    std::unique_lock<std::mutex> hold(g_Lock);
    g_Changed.wait(hold, [] { return !g_Model.controlPending; });
    if (!g_Model.dispatching)
        return ERROR_SERVICE_NOT_ACTIVE;
    g_Model.control = control;
    g_Model.eventType = eventType;
    g_Model.eventData = eventData;
    g_Model.controlPending = true;
    g_Model.resultReady = false;
    g_Changed.notify_all();
    g_Changed.wait(hold, [] { return g_Model.resultReady; });
    g_Model.controlPending = false;
    g_Changed.notify_all();
    return g_Model.result;
}

void EndServiceProcess() {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Model.endRequested = true;
    g_Changed.notify_all();
}

} // namespace um

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table) {
    um::LogCall("StartServiceCtrlDispatcherA");
    std::unique_lock<std::mutex> hold(g_Lock);
    if (g_Model.failDispatcher || table == nullptr || table[0].lpServiceName == nullptr)
        return FALSE;
    for (const SERVICE_TABLE_ENTRYA* entry = table; entry->lpServiceName; ++entry)
        g_Model.table.push_back(entry->lpServiceName);
    g_Model.dispatching = true;
    g_Model.mainReturned = g_Model.stopped = g_Model.endRequested = false;

    LPSTR argv[] = {table[0].lpServiceName, nullptr};
    LPSERVICE_MAIN_FUNCTIONA serviceMain = table[0].lpServiceProc;
    std::thread mainThread([serviceMain, &argv] {
        serviceMain(1, argv);
        std::lock_guard<std::mutex> done(g_Lock);
        g_Model.mainReturned = true;
        g_Changed.notify_all();
    });

    for (;;) {
        g_Changed.wait(hold, [] {
            return (g_Model.controlPending && !g_Model.resultReady) || g_Model.endRequested ||
                   (g_Model.mainReturned && g_Model.stopped);
        });
        // A control that meets a stopped service or an ending process is not handed over.
        if ((g_Model.mainReturned && g_Model.stopped) || g_Model.endRequested)
            break;
        LPHANDLER_FUNCTION_EX handler = g_Model.handler;
        LPVOID context = g_Model.context;
        const DWORD control = g_Model.control, eventType = g_Model.eventType;
        LPVOID eventData = g_Model.eventData;
        hold.unlock();
        const DWORD result =
            handler ? handler(control, eventType, eventData, context) : ERROR_SERVICE_NOT_ACTIVE;
        hold.lock();
        g_Model.result = result;
        g_Model.resultReady = true;
        g_Changed.notify_all();
    }
    // No control is taken from here on; one already sent is answered as the manager does.
    g_Model.dispatching = false;
    if (g_Model.controlPending && !g_Model.resultReady) {
        g_Model.result = ERROR_SERVICE_NOT_ACTIVE;
        g_Model.resultReady = true;
        g_Changed.notify_all();
    }
    hold.unlock();
    mainThread.join();
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExA(LPCSTR name, LPHANDLER_FUNCTION_EX handler,
                                                    LPVOID context) {
    um::LogCall(std::string("RegisterServiceCtrlHandlerExA ") + (name ? name : "(null)"));
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Model.registrations.push_back({name ? name : "", handler, context});
    if (g_Model.failRegister || handler == nullptr)
        return nullptr;
    g_Model.handler = handler;
    g_Model.context = context;
    return kStatusHandle;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    um::LogCall("SetServiceStatus " + std::to_string(status ? status->dwCurrentState : 0));
    std::lock_guard<std::mutex> hold(g_Lock);
    const bool accepted = !g_Model.failReports && handle == kStatusHandle &&
                          g_Model.handler != nullptr && status != nullptr;
    g_Model.reports.push_back(
        {handle, status ? *status : SERVICE_STATUS{}, accepted, std::this_thread::get_id()});
    if (accepted && status->dwCurrentState == SERVICE_STOPPED) {
        g_Model.stopped = true;
        g_Changed.notify_all();
    }
    return accepted ? TRUE : FALSE;
}
