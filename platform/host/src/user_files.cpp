// Host user-mode model: opening, reading and closing files, with a count of the handles
// out and the share modes that let one handle keep others away from its file; device paths
// and handles are handed to the device part.
#include "user_roles.h"

#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct OpenFile {
    dev_t device;
    ino_t inode;
    DWORD share;
};

std::mutex g_Lock;
// A handle is the file descriptor plus one, so that no valid handle is null.
std::map<intptr_t, OpenFile> g_Open;
std::vector<std::string> g_Paths;

HANDLE ToHandle(int fd) {
    return reinterpret_cast<HANDLE>(intptr_t(fd) + 1);
}

// Every handle reads, so each side must let the other read.
bool SharingAllows(const struct stat& info, DWORD share) {
    for (const auto& [handle, open] : g_Open)
        if (open.device == info.st_dev && open.inode == info.st_ino &&
            (!(open.share & FILE_SHARE_READ) || !(share & FILE_SHARE_READ)))
            return false;
    return true;
}
} // namespace

namespace um {
int OpenHandleCount() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return int(g_Open.size());
}

std::vector<std::string> OpenedPaths() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Paths;
}

void CloseAllFiles() {
    std::lock_guard<std::mutex> hold(g_Lock);
    for (const auto& [handle, open] : g_Open)
        ::close(int(handle - 1));
    g_Open.clear();
    g_Paths.clear();
}
} // namespace um

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (path != nullptr && um::IsDevicePath(path))
        return um::OpenDevice(path, access, share, security, disposition, flags, templateFile);
    if (path != nullptr) {
        std::lock_guard<std::mutex> hold(g_Lock);
        g_Paths.push_back(path);
    }
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
    if (!SharingAllows(info, share)) {
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    g_Open[intptr_t(fd) + 1] = OpenFile{info.st_dev, info.st_ino, share};
    return ToHandle(fd);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, DWORD* read, LPVOID overlapped) {
    int fd;
    {
        std::lock_guard<std::mutex> hold(g_Lock);
        auto it = g_Open.find(reinterpret_cast<intptr_t>(file));
        if (it == g_Open.end() || read == nullptr || overlapped != nullptr)
            return FALSE;
        fd = int(it->first - 1);
    }
    const ssize_t got = ::read(fd, buffer, size);
    if (got < 0) {
        *read = 0;
        return FALSE;
    }
    *read = DWORD(got);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    if (um::CloseDevice(handle))
        return TRUE;
    std::lock_guard<std::mutex> hold(g_Lock);
    auto it = g_Open.find(reinterpret_cast<intptr_t>(handle));
    if (it == g_Open.end())
        return FALSE;
    ::close(int(it->first - 1));
    g_Open.erase(it);
    return TRUE;
}
