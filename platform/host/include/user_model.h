// Controls of the host user-mode model, for the tests.
//
// The model holds the user's language and the two directories the product asks for, and
// counts the file handles it handed out so that a test can see one left open. For a service
// it plays the service control manager, loads modules that a test registers, holds the
// keyboard interface device, records message boxes and keeps the process heap; each of
// these records what the product asked of it, and every such call is also written, in
// order, to one call log.
#pragma once

#include "host_user.h"

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace um {

// Back to the initial state: language 0x0409, both directories empty (their calls fail),
// no handles open, and each part below as its comment says. No service may be running.
void Reset();

void SetUserDefaultLangID(LANGID id);
// Real Linux directory paths, without a trailing '/'. An empty string makes the platform
// call fail (return 0).
void SetSystemDirectory(const std::string& dir);
void SetCurrentDirectory(const std::string& dir);
// Makes GetCurrentDirectoryA fail (return 0) while relative paths still resolve against
// the current directory, as when the process's own record of it cannot be read.
void SetCurrentDirectoryCallFails(bool fails);

// Handles from CreateFileA not yet closed.
int OpenHandleCount();
// Every path handed to CreateFileA since the last Reset, in order.
std::vector<std::string> OpenedPaths();

// ---- Call log ---------------------------------------------------------------------------
// One line per modelled call of the service's kinds, in the order made: "SetServiceStatus 4"
// (the state), "LoadLibraryA zel_svc.dll", "GetProcAddress ComprobarJoysticks",
// "FreeLibrary zel_svc.dll", "CreateFileA \\.\ZelKbInterface", "DeviceIoControl 0x220404",
// "CloseHandle \\.\ZelKbInterface", "MessageBoxA CAPTION", "HeapAlloc", "HeapFree" and the
// service control manager's three calls by name. File opens are not logged.
std::vector<std::string> Calls();
// Adds a line: for test functions standing in for a module's exports.
void LogCall(const std::string& line);

// ---- Service control manager (reset: no service, nothing fails) -------------------------
enum class ServiceCall { Dispatcher, RegisterHandler, SetStatus };
// While set, the call fails: the dispatcher and the registration at once, a status report
// without being recorded as accepted.
void FailServiceCall(ServiceCall call, bool fail);

struct StatusReport {
    SERVICE_STATUS_HANDLE handle;
    SERVICE_STATUS status;
    bool accepted;
    std::thread::id thread;
};
std::vector<StatusReport> StatusReports();
// The service names of the table handed to the dispatcher, up to its null entry.
std::vector<std::string> DispatcherTable();
struct HandlerRegistration {
    std::string name;
    LPHANDLER_FUNCTION_EX handler;
    LPVOID context;
};
// Every registration attempt, failed ones included.
std::vector<HandlerRegistration> HandlerRegistrations();

// Waits until the service main function has returned; false when it has not within `limit`.
bool WaitForServiceMain(std::chrono::milliseconds limit = std::chrono::seconds(10));
// Sends a control to the registered handler, which runs on the dispatcher's thread, and
// returns its result. ERROR_SERVICE_NOT_ACTIVE when no dispatcher runs.
DWORD SendServiceControl(DWORD control, DWORD eventType = 0, LPVOID eventData = nullptr);
// Ends the dispatcher although the service never reported itself stopped, as the control
// manager ends a process whose start timed out.
void EndServiceProcess();

// ---- Modules (reset: none registered, none loaded) --------------------------------------
// Registers a loadable module by file name (compared without regard to case) with its
// exports by name.
void RegisterModule(const std::string& name,
                    const std::vector<std::pair<std::string, void*>>& exports);
void UnregisterModule(const std::string& name);
// Loads not yet matched by a FreeLibrary, over all modules.
int LoadedModuleCount();

// ---- Keyboard interface device "\\.\ZelKbInterface" (reset: absent) ---------------------
enum class KeyboardDevice { Absent, Accepting, Refusing };
void SetKeyboardDevice(KeyboardDevice mode);
struct DeviceOpen {
    std::string path;
    DWORD access, share;
    LPSECURITY_ATTRIBUTES security;
    DWORD disposition, flags;
    HANDLE templateFile;
    bool opened;
};
struct DeviceRequest {
    DWORD code;
    LPVOID in;
    DWORD inSize;
    LPVOID out;
    DWORD outSize;
    bool hasReturnedCount;
    LPOVERLAPPED overlapped;
    bool succeeded;
};
// Every open attempt, every request on an open device handle, and the number of closes.
std::vector<DeviceOpen> DeviceOpens();
std::vector<DeviceRequest> DeviceRequests();
int DeviceCloses();
int OpenDeviceCount();

// ---- Message boxes (reset: none shown) --------------------------------------------------
struct MessageBoxRecord {
    HWND owner;
    std::string text, caption;
    UINT flags;
};
std::vector<MessageBoxRecord> MessageBoxes();

// ---- Process heap (reset: every block freed, allocations succeed) -----------------------
void FailHeapAllocations(bool fail);
int HeapBlockCount();

} // namespace um
