// Host model of the user-mode Win32 names the product uses (ANSI forms only).
//
// Separate from the kernel model: user-mode code includes "user_api.h", never host_kernel.h.
// Files are real Linux files; the model's directories are real Linux directory paths, and a
// Windows path built from them ("dir\name") is mapped back by turning '\' into '/'.
// Tests drive the model through user_model.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

typedef uint8_t BYTE;
typedef uint8_t BOOLEAN;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int BOOL;
typedef WORD LANGID;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void VOID;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef size_t SIZE_T;
typedef intptr_t INT_PTR;
typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__* HWND;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED* LPOVERLAPPED;
typedef INT_PTR (*FARPROC)();

#define WINAPI
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define OPEN_EXISTING 3u
#define MAX_PATH 260

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// ---- User language and directories -----------------------------------------------------
LANGID GetUserDefaultLangID();
// Both return the length without the NUL when the directory fits `size` characters with its
// NUL, the size it would need (NUL included) and an untouched buffer when it does not, and 0
// on failure.
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);

// ---- Files -----------------------------------------------------------------------------
// Opens an existing file for reading (the only use the product makes of files), or a device of
// the model by its "\\.\" path. Like Windows, a directory cannot be opened this way, and an
// open fails while another handle to the same file refuses to share reading with it (or it
// refuses to share with that handle).
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
// Reads up to `size` bytes; at the end of the file it succeeds with 0 bytes read.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, DWORD* read, LPVOID overlapped);
BOOL CloseHandle(HANDLE handle);

// ---- Devices --------------------------------------------------------------------------
// A path "\\.\NAME" opens a device of the model (user_model.h says which exist); CloseHandle
// closes files and devices alike.
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD returned, LPOVERLAPPED overlapped);

// ---- Error codes ------------------------------------------------------------------------
#define NO_ERROR 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_CALL_NOT_IMPLEMENTED 120u
#define ERROR_SERVICE_NOT_ACTIVE 1062u
#define ERROR_FAILED_SERVICE_CONTROLLER_CONNECT 1063u

// ---- Service control manager ------------------------------------------------------------
#define SERVICE_WIN32_OWN_PROCESS 0x10u
#define SERVICE_INTERACTIVE_PROCESS 0x100u
#define SERVICE_STOPPED 1u
#define SERVICE_START_PENDING 2u
#define SERVICE_RUNNING 4u
#define SERVICE_ACCEPT_STOP 0x1u
#define SERVICE_ACCEPT_POWEREVENT 0x40u
#define SERVICE_CONTROL_STOP 1u
#define SERVICE_CONTROL_PAUSE 2u
#define SERVICE_CONTROL_CONTINUE 3u
#define SERVICE_CONTROL_INTERROGATE 4u
#define SERVICE_CONTROL_SHUTDOWN 5u
#define SERVICE_CONTROL_PARAMCHANGE 6u
#define SERVICE_CONTROL_POWEREVENT 13u
#define PBT_APMSUSPEND 4u
#define PBT_APMRESUMESUSPEND 7u
#define PBT_APMRESUMEAUTOMATIC 18u

typedef struct _SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;
typedef struct SERVICE_STATUS_HANDLE__* SERVICE_STATUS_HANDLE;
typedef VOID (*LPSERVICE_MAIN_FUNCTIONA)(DWORD argc, LPSTR* argv);
typedef DWORD (*LPHANDLER_FUNCTION_EX)(DWORD control, DWORD eventType, LPVOID eventData,
                                       LPVOID context);
typedef struct _SERVICE_TABLE_ENTRYA {
    LPSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
} SERVICE_TABLE_ENTRYA;

// Runs the first entry's service main function on a second thread and the registered
// handler on the calling thread; returns once the service has reported itself stopped.
BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExA(LPCSTR name, LPHANDLER_FUNCTION_EX handler,
                                                    LPVOID context);
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);

// ---- Modules ----------------------------------------------------------------------------
// Only modules a test registered by name can be loaded.
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

// ---- Process heap -----------------------------------------------------------------------
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// ---- Message boxes ----------------------------------------------------------------------
#define MB_OK 0x0u
#define MB_ICONHAND 0x10u
#define MB_ICONEXCLAMATION 0x30u
#define MB_SERVICE_NOTIFICATION 0x200000u
#define IDOK 1
// Recorded and answered at once with IDOK, as if the user had pressed OK.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT flags);

// Where the C++ library meets a Windows path: the Linux path of the file that `path` names
// (separators turned, a relative path taken from the model's current directory).
std::string HostFilePath(const char* path);
