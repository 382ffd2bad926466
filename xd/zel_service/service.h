// The start-up service zel_svc: its entry points, its agent and its process-wide state.
//
// The process entry hands the main thread to the service control manager, which runs
// ServiceMain on a second thread and ServiceControlHandler on the main thread. The two share
// the variables below without locks: ServiceMain writes them until its last report, and from
// then on only the handler does.
#pragma once

#include "user_api.h"

#include <cstddef>
#include <new>

namespace zel_svc {

constexpr const char* kHandlerName = "Zel-Service";
constexpr const char* kCheckLibrary = "zel_svc.dll";
constexpr const char* kCheckEntry = "ComprobarJoysticks";
constexpr const char* kTranslationLibrary = "zel_lng.dll";
constexpr const char* kTranslationEntry = "TraduceGlobal";
constexpr const char* kKeyboardDevice = "\\\\.\\ZelKbInterface";
// FILE_DEVICE_UNKNOWN, function 0x101, METHOD_BUFFERED, FILE_ANY_ACCESS.
constexpr DWORD kKeyboardSignal = 0x220404;
constexpr WORD kMessageCannotOpen = 13;
constexpr WORD kMessageRefused = 14;
constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_POWEREVENT;
// Both box kinds carry MB_SERVICE_NOTIFICATION: errors the stop icon, warnings the exclamation.
constexpr UINT kErrorBox = MB_OK | MB_ICONHAND | MB_SERVICE_NOTIFICATION;
constexpr UINT kWarningBox = MB_OK | MB_ICONEXCLAMATION | MB_SERVICE_NOTIFICATION;
constexpr size_t kTextSize = 1024;
static_assert(kServiceType == 0x110 && kControlsAccepted == 0x41, "status record values");
static_assert(kErrorBox == 0x200010 && kWarningBox == 0x200030, "message box flags");

// The joystick check's entry point: no arguments, a one-byte boolean of which only the low
// byte counts.
typedef BOOLEAN(WINAPI* CheckProc)();
// TraduceGlobal of zel_lng.dll: fills exactly 1024 bytes.
typedef void (*TranslateProc)(WORD number, char* text);

// Groups the service's two actions; it holds no data. It is allocated from the process heap
// so that a failed allocation yields no object instead of an exception.
class StartupAgent {
  public:
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* agent) noexcept;

    // Runs the joystick check of zel_svc.dll; when it passes, signals the keyboard interface
    // device and returns true, whatever the signal's outcome.
    bool RunStartupCheck();
    // Opens the keyboard interface device, sends it the signal and closes it; a failure is
    // shown in a box and goes no further.
    void SignalKeyboardInterface();
};

// Process-wide state.
extern SERVICE_STATUS ServiceStatus;
extern SERVICE_STATUS_HANDLE ServiceStatusHandle;
extern StartupAgent* Agent;
extern char MessageText[kTextSize];

// The process entry: hands the dispatcher table to the service control manager and returns
// the process exit code, 0 in every case.
int ServiceProcessEntry();
VOID WINAPI ServiceMain(DWORD argc, LPSTR* argv);
DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData,
                                   LPVOID context);
// Translates message `number` through zel_lng.dll into MessageText and shows it in a box.
void ShowTranslatedMessage(HWND owner, WORD number, LPCSTR caption, UINT flags);

} // namespace zel_svc
