// Host user-mode model: the keyboard interface device "\\.\ZelKbInterface", which a test
// makes absent, accepting or refusing, and which records every open, request and close.
#include "user_roles.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

namespace {

constexpr const char* kKeyboardPath = "\\\\.\\zelkbinterface"; // folded
constexpr DWORD kKeyboardSignal = 0x220404;

std::mutex g_Lock;
um::KeyboardDevice g_Mode = um::KeyboardDevice::Absent;
std::vector<um::DeviceOpen> g_Opens;
std::vector<um::DeviceRequest> g_Requests;
int g_Closes = 0;
// Device handles lie far above the file handles (file descriptors plus one).
intptr_t g_NextHandle = 0x40000000;
std::set<intptr_t> g_OpenHandles;

} // namespace

namespace um {

void ResetDevices() {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Mode = KeyboardDevice::Absent;
    g_Opens.clear();
    g_Requests.clear();
    g_Closes = 0;
    g_OpenHandles.clear();
}

void SetKeyboardDevice(KeyboardDevice mode) {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Mode = mode;
}

std::vector<DeviceOpen> DeviceOpens() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Opens;
}

std::vector<DeviceRequest> DeviceRequests() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Requests;
}

int DeviceCloses() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Closes;
}

int OpenDeviceCount() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return int(g_OpenHandles.size());
}

bool IsDevicePath(const char* path) {
    return std::strncmp(path, "\\\\.\\", 4) == 0;
}

HANDLE OpenDevice(const char* path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                  DWORD disposition, DWORD flags, HANDLE templateFile) {
    LogCall(std::string("CreateFileA ") + path);
    std::lock_guard<std::mutex> hold(g_Lock);
    // Only an existing device opens; the model's device takes any access asked for.
    const bool opened = FoldCase(path) == kKeyboardPath && g_Mode != KeyboardDevice::Absent &&
                        disposition == OPEN_EXISTING;
    g_Opens.push_back({path, access, share, security, disposition, flags, templateFile, opened});
    if (!opened)
        return INVALID_HANDLE_VALUE;
    const intptr_t handle = g_NextHandle++;
    g_OpenHandles.insert(handle);
    return reinterpret_cast<HANDLE>(handle);
}

bool CloseDevice(HANDLE handle) {
    std::lock_guard<std::mutex> hold(g_Lock);
    auto it = g_OpenHandles.find(reinterpret_cast<intptr_t>(handle));
    if (it == g_OpenHandles.end())
        return false;
    g_OpenHandles.erase(it);
    ++g_Closes;
    LogCall("CloseHandle \\\\.\\ZelKbInterface");
    return true;
}

} // namespace um

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD returned, LPOVERLAPPED overlapped) {
    char line[48];
    std::snprintf(line, sizeof line, "DeviceIoControl 0x%X", unsigned(code));
    um::LogCall(line);
    std::lock_guard<std::mutex> hold(g_Lock);
    if (g_OpenHandles.count(reinterpret_cast<intptr_t>(device)) == 0)
        return FALSE;
    // The device answers its one request, with no data, unless it is set to refuse.
    const bool succeeded = g_Mode == um::KeyboardDevice::Accepting && code == kKeyboardSignal;
    g_Requests.push_back(
        {code, in, inSize, out, outSize, returned != nullptr, overlapped, succeeded});
    if (succeeded && returned)
        *returned = 0;
    return succeeded ? TRUE : FALSE;
}
