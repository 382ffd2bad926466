// Language choice and the path from a message number to its text.
#include "message_translator.h"

#include <cstring>

namespace zel_lng {

const char* LanguageFileName(LANGID language) {
    switch (language & 0xFF) {
    case 0x07:
        return "german.h";
    case 0x0A:
        return "spanish.h";
    case 0x0C:
        return "french.h";
    case 0x10:
        return "italian.h";
    default:
        return "english.h";
    }
}

void MessageTranslator::Translate(LanguageFileScope scope, WORD number, char* text) const {
    char path[kPathSize];
    std::memset(path, 0, sizeof path);
    const char* name = LanguageFileName(GetUserDefaultLangID());
    if (LocateLanguageFile(scope, name, path))
        FindMessage(path, number, text);
}

} // namespace zel_lng
