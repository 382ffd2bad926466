// zel_lng: numbered messages in the user's language, read from a language file.
//
// A language file is single-byte text; a line "#<number>=<text>" holds one message, and "\n"
// in a text stands for a line feed. The library keeps no state: every call picks the file
// from the user's language, finds it, reads it from the top and closes it again.
#pragma once

#include "user_api.h"

namespace zel_lng {

// Text and path buffers hold 1023 characters and the NUL.
constexpr unsigned kTextSize = 1024;
constexpr unsigned kPathSize = 1024;
// Directory limits (NUL included) that leave room for "\zel_" and a 9-character name.
constexpr unsigned kSystemDirectoryLimit = 1004;
constexpr unsigned kCurrentDirectoryLimit = 1013;

enum class LanguageFileScope {
    Global, // the system directory, names prefixed "zel_"
    Local,  // the current directory, bare names
};

// The language file name for the user's language: only the low 8 bits of the id count.
const char* LanguageFileName(LANGID language);

// The library's operations, grouped in one object without data.
struct MessageTranslator {
    // Writes the message's text into `text` (kTextSize bytes, zero-filled by the caller);
    // leaves it as it is when no file or no such message is found.
    void Translate(LanguageFileScope scope, WORD number, char* text) const;
    // Finds the language file of `name` in the scope's place, falling back to "english.h"
    // (and then `name` points to it); fills `path` (kPathSize bytes) with its full path.
    bool LocateLanguageFile(LanguageFileScope scope, const char*& name, char* path) const;
    // Looks for the first line carrying `number`. When there is one, fills `text` with its
    // text (cut to 1023 characters), zero-filled after it; otherwise leaves `text` untouched.
    bool FindMessage(const char* path, WORD number, char* text) const;
};

} // namespace zel_lng
