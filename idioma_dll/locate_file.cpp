// Finding the language file: the chosen name, then "english.h", in the scope's place.
#include "message_translator.h"

#include <cstring>

namespace zel_lng {
namespace {
const char kEnglish[] = "english.h";

bool IsPresent(const char* path) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// A directory that did not fit its limit was not written; the call then returns the size it
// needs. Building on the empty buffer would point at the root of the drive, so such a
// directory counts as no file at all.
bool DirectoryFits(unsigned length, unsigned limit) {
    return length != 0 && length < limit;
}

void Append(char* path, const char* separator, const char* name) {
    std::strcat(path, separator);
    std::strcat(path, name);
}

bool LocateGlobal(const char*& name, char* path) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1)
            name = kEnglish;
        std::memset(path, 0, kPathSize);
        if (!DirectoryFits(GetSystemDirectoryA(path, kSystemDirectoryLimit), kSystemDirectoryLimit))
            return false;
        Append(path, "\\zel_", name);
        if (IsPresent(path))
            return true;
    }
    return false;
}

bool LocateLocal(const char*& name, char* path) {
    // The bare name is probed where the platform resolves it: the current directory.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1)
            name = kEnglish;
        if (!IsPresent(name))
            continue;
        std::memset(path, 0, kPathSize);
        if (!DirectoryFits(GetCurrentDirectoryA(kCurrentDirectoryLimit, path),
                           kCurrentDirectoryLimit))
            return false;
        Append(path, "\\", name);
        return true;
    }
    return false;
}
} // namespace

bool MessageTranslator::LocateLanguageFile(LanguageFileScope scope, const char*& name,
                                           char* path) const {
    return scope == LanguageFileScope::Global ? LocateGlobal(name, path) : LocateLocal(name, path);
}

} // namespace zel_lng
