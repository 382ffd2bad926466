// The two exports and the load entry point of zel_lng.dll.
#include "message_translator.h"
#include "zel_lng.h"

#include <cstring>

namespace {
// The caller gets exactly 1024 bytes, whatever happens inside; no exception leaves here.
void TranslateInto(zel_lng::LanguageFileScope scope, WORD number, char* text) {
    char local[zel_lng::kTextSize];
    std::memset(local, 0, sizeof local);
    try {
        zel_lng::MessageTranslator().Translate(scope, number, local);
    } catch (...) {
        std::memset(local, 0, sizeof local);
    }
    std::memcpy(text, local, sizeof local);
}
} // namespace

extern "C" void TraduceGlobal(WORD number, char* text) {
    TranslateInto(zel_lng::LanguageFileScope::Global, number, text);
}

extern "C" void TraduceLocal(WORD number, char* text) {
    TranslateInto(zel_lng::LanguageFileScope::Local, number, text);
}

// Loading and unloading need no work of their own.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return TRUE;
}
