// Host user-mode model: the user's language, the system and current directories, the
// mapping of Windows paths onto the Linux files behind them, and the call log.
#include "user_roles.h"

#include <cstring>
#include <mutex>

namespace {
// The product may be called from any thread; the model's state is read under this lock.
std::mutex g_Lock;
LANGID g_LangId = 0x0409;
std::string g_SystemDir;
std::string g_CurrentDir;
std::mutex g_LogLock;
std::vector<std::string> g_Calls;
bool g_CurrentDirCallFails = false;

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
        g_CurrentDirCallFails = false;
    }
    CloseAllFiles();
    ResetServices();
    ResetModules();
    ResetDevices();
    ResetMessageBoxes();
    ResetHeap();
    ResetCallLog();
}

std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> hold(g_LogLock);
    return g_Calls;
}

void LogCall(const std::string& line) {
    std::lock_guard<std::mutex> hold(g_LogLock);
    g_Calls.push_back(line);
}

void ResetCallLog() {
    std::lock_guard<std::mutex> hold(g_LogLock);
    g_Calls.clear();
}

std::string FoldCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
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

void SetCurrentDirectoryCallFails(bool fails) {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_CurrentDirCallFails = fails;
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
    if (g_CurrentDirCallFails)
        return 0;
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
