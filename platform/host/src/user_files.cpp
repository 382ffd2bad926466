// Host user-mode model: opening and closing files, with a count of the handles out; device
// paths and handles are handed to the device part.
#include "user_roles.h"

#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::mutex g_Lock;
// A handle is the file descriptor plus one, so that no valid handle is null.
std::set<intptr_t> g_Open;

HANDLE ToHandle(int fd) {
    return reinterpret_cast<HANDLE>(intptr_t(fd) + 1);
}
} // namespace

namespace um {
int OpenHandleCount() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return int(g_Open.size());
}

void CloseAllFiles() {
    std::lock_guard<std::mutex> hold(g_Lock);
    for (intptr_t h : g_Open)
        ::close(int(h - 1));
    g_Open.clear();
}
} // namespace um

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (path != nullptr && um::IsDevicePath(path))
        return um::OpenDevice(path, access, share, security, disposition, flags, templateFile);
    // Only what the product asks for is modelled: open an existing file to read it.
    if (path == nullptr || access != GENERIC_READ || disposition != OPEN_EXISTING)
        return INVALID_HANDLE_VALUE;
    int fd = ::open(HostFilePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return INVALID_HANDLE_VALUE;
    struct stat info;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Open.insert(intptr_t(fd) + 1);
    return ToHandle(fd);
}

BOOL CloseHandle(HANDLE handle) {
    if (um::CloseDevice(handle))
        return TRUE;
    std::lock_guard<std::mutex> hold(g_Lock);
    auto it = g_Open.find(reinterpret_cast<intptr_t>(handle));
    if (it == g_Open.end())
        return FALSE;
    ::close(int(*it - 1));
    g_Open.erase(it);
    return TRUE;
}
