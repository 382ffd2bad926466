// Host user-mode model: the user's language, the system and current directories, and the
// mapping of Windows paths onto the Linux files behind them.
#include "user_model.h"

#include <cstring>
#include <mutex>

namespace um {
void CloseAllFiles(); // user_files.cpp
} // namespace um

namespace {
// The product may be called from any thread; the model's state is read under this lock.
std::mutex g_Lock;
LANGID g_LangId = 0x0409;
std::string g_SystemDir;
std::string g_CurrentDir;

// The Windows rule for both directory calls: copy only when the text and its NUL fit.
DWORD CopyDirectory(const std::string& dir, char* buffer, DWORD size) {
    if (dir.empty())
        return 0;
    if (dir.size() + 1 > size)
        return DWORD(dir.size() + 1);
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return DWORD(dir.size());
}
} // namespace

namespace um {
void Reset() {
    {
        std::lock_guard<std::mutex> hold(g_Lock);
        g_LangId = 0x0409;
        g_SystemDir.clear();
        g_CurrentDir.clear();
    }
    CloseAllFiles();
}

void SetUserDefaultLangID(LANGID id) {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_LangId = id;
}

void SetSystemDirectory(const std::string& dir) {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_SystemDir = dir;
}

void SetCurrentDirectory(const std::string& dir) {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_CurrentDir = dir;
}
} // namespace um

LANGID GetUserDefaultLangID() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_LangId;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    std::lock_guard<std::mutex> hold(g_Lock);
    return CopyDirectory(g_SystemDir, buffer, size);
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    std::lock_guard<std::mutex> hold(g_Lock);
    return CopyDirectory(g_CurrentDir, buffer, size);
}

std::string HostFilePath(const char* path) {
    std::string out(path);
    for (char& c : out)
        if (c == '\\')
            c = '/';
    if (!out.empty() && out[0] == '/')
        return out;
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_CurrentDir + "/" + out;
}
