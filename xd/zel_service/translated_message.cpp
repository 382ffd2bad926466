// Message boxes of zel_svc whose text comes from zel_lng.dll in the user's language.
#include "service.h"

#include <cstring>

namespace zel_svc {

void ShowTranslatedMessage(HWND owner, WORD number, LPCSTR caption, UINT flags) {
    // Cleared first, so that a box never shows an earlier message's text: without the
    // library or its export the box is empty.
    std::memset(MessageText, 0, sizeof MessageText);
    HMODULE library = LoadLibraryA(kTranslationLibrary);
    if (library) {
        auto translate = reinterpret_cast<TranslateProc>(
            reinterpret_cast<void*>(GetProcAddress(library, kTranslationEntry)));
        if (translate)
            translate(number, MessageText);
        FreeLibrary(library);
    }
    MessageBoxA(owner, MessageText, caption, flags);
}

} // namespace zel_svc
