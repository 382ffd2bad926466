// Host model of the user-mode Win32 names the product uses (ANSI forms only).
//
// Separate from the kernel model: user-mode code includes "user_api.h", never host_kernel.h.
// Files are real Linux files; the model's directories are real Linux directory paths, and a
// Windows path built from them ("dir\name") is mapped back by turning '\' into '/'.
// Tests drive the model through user_model.h.
#pragma once

#include <cstdint>
#include <string>

typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int BOOL;
typedef WORD LANGID;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define WINAPI
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
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
// Opens an existing file for reading (the only use the product makes of it). Like Windows,
// a directory cannot be opened this way.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);

// Where the C++ library meets a Windows path: the Linux path of the file that `path` names
// (separators turned, a relative path taken from the model's current directory).
std::string HostFilePath(const char* path);
