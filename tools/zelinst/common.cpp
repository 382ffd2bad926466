// Paths, rights, messages and file comparisons that the installer's commands share.
#include "zelinst.h"

#include <cstdio>
#include <vector>

namespace zelinst {

namespace {

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '\\')
        dir += '\\';
    return dir;
}

} // namespace

std::string SystemDir() {
    char dir[MAX_PATH] = {};
    GetSystemDirectoryA(dir, sizeof dir);
    return WithSlash(dir);
}

std::string DriversDir() {
    return SystemDir() + "drivers\\";
}

std::string ProgramDir() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, length < sizeof path ? length : 0);
    const size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : dir.substr(0, slash + 1);
}

bool IsAdministrator() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &admins))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, admins, &member))
        member = FALSE;
    FreeSid(admins);
    return member != FALSE;
}

void Say(const char* action, const std::string& what) {
    std::printf("  %-10s %s\n", action, what.c_str());
    std::fflush(stdout);
}

std::string ErrorText(DWORD error) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
    while (length &&
           (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
        text[--length] = 0;
    char code[32];
    std::snprintf(code, sizeof code, "error %lu", error);
    return length ? std::string(text) + " (" + code + ")" : std::string(code);
}

bool Fail(const std::string& step, DWORD error) {
    std::printf("zelinst: %s failed: %s\n", step.c_str(), ErrorText(error).c_str());
    std::fflush(stdout);
    return false;
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

bool ReadWhole(const std::string& path, std::vector<char>& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (64 << 20);
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = bytes.empty() ||
             (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
              got == bytes.size());
    }
    CloseHandle(file);
    return ok;
}

} // namespace

bool SameContents(const std::string& a, const std::string& b) {
    std::vector<char> x, y;
    return ReadWhole(a, x) && ReadWhole(b, y) && x == y;
}

std::string FileVersion(const std::string& path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (!size)
        return {};
    std::vector<char> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data()) ||
        !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", fixed->dwFileVersionMS >> 16,
                  fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
                  fixed->dwFileVersionLS & 0xFFFF);
    return text;
}

} // namespace zelinst
