// Run under Wine: loads the installed zel_lng.dll as the service does, finds both exports by
// name and by ordinal, and checks the texts of messages 13 and 14 for the user's language.
//   lng_wine_check.exe LANGUAGE LANGID EMPTY_DIR
// LANGUAGE is the file the user's language must pick (german, ...), LANGID the id that
// LC_ALL must have given, EMPTY_DIR a directory without language files. The current
// directory holds the bare language files; the system directory the "zel_" ones.
#include "wine_check.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

typedef void (*TraduceProc)(WORD number, char* text);

struct Expected {
    const char* language;
    const char* text13;
    const char* text14;
};

// The shipped texts, as Windows-1252 bytes.
const Expected kTexts[] = {
    {"english", "The keyboard interface device could not be opened.",
     "The keyboard interface device refused the request."},
    {"german",
     "Das Ger\xE4"
     "t der Tastaturschnittstelle konnte nicht ge\xF6"
     "ffnet werden.",
     "Das Ger\xE4"
     "t der Tastaturschnittstelle hat die Anforderung abgelehnt."},
    {"spanish", "No se ha podido abrir el dispositivo de interfaz del teclado.",
     "El dispositivo de interfaz del teclado ha rechazado la petici\xF3"
     "n."},
    {"french",
     "Impossible d'ouvrir le p\xE9"
     "riph\xE9"
     "rique d'interface du clavier.",
     "Le p\xE9"
     "riph\xE9"
     "rique d'interface du clavier a refus\xE9"
     " la requ\xEA"
     "te."},
    {"italian", "Impossibile aprire il dispositivo di interfaccia della tastiera.",
     "Il dispositivo di interfaccia della tastiera ha rifiutato la richiesta."},
};

// Calls an export with a buffer that starts all 0xAA and a guard behind its 1024 bytes, and
// checks that exactly the text and then zeros came back. A failed check names the call.
void CheckTranslation(TraduceProc translate, const char* name, WORD number, const char* expected) {
    char buffer[1024 + 64];
    std::memset(buffer, 0xAA, sizeof buffer);
    translate(number, buffer);
    const int failuresBefore = winecheck::Failures();
    size_t guardBytesChanged = 0;
    for (size_t i = 1024; i < sizeof buffer; ++i)
        guardBytesChanged += buffer[i] != char(0xAA);
    CHECK_EQ(guardBytesChanged, 0);
    // After the text, zeros to the end of the 1024 bytes.
    size_t firstNonZero = 1024;
    for (size_t i = std::strlen(expected); i < 1024 && firstNonZero == 1024; ++i)
        if (buffer[i] != 0)
            firstNonZero = i;
    buffer[1023] = 0; // the text, however long, ends inside the buffer for the message
    if (CHECK_STREQ(buffer, expected))
        CHECK_EQ(firstNonZero, 1024);
    if (winecheck::Failures() != failuresBefore)
        std::printf("    in %s(%u)\n", name, unsigned(number));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::printf("usage: lng_wine_check LANGUAGE LANGID EMPTY_DIR\n");
        return 2;
    }
    const Expected* expected = nullptr;
    for (const auto& e : kTexts)
        if (std::strcmp(e.language, argv[1]) == 0)
            expected = &e;
    if (expected == nullptr) {
        std::printf("unknown language %s\n", argv[1]);
        return 2;
    }
    // LC_ALL gives the user's language id.
    const LANGID wanted = LANGID(std::strtoul(argv[2], nullptr, 0));
    if (!CHECK_EQ(GetUserDefaultLangID(), wanted))
        return WINE_CHECK_RESULT();

    HMODULE library = LoadLibraryA("zel_lng.dll");
    if (!CHECK(library != nullptr)) {
        CHECK_EQ(GetLastError(), ERROR_SUCCESS);
        return WINE_CHECK_RESULT();
    }
    // Loaded from the system directory (the path compared without regard to case).
    char loaded[MAX_PATH] = {}, system[MAX_PATH] = {};
    GetModuleFileNameA(library, loaded, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    std::string expectedPath = std::string(system) + "\\zel_lng.dll";
    CharLowerA(loaded);
    CharLowerA(&expectedPath[0]);
    CHECK_STREQ(loaded, expectedPath.c_str());

    auto global = reinterpret_cast<TraduceProc>(GetProcAddress(library, "TraduceGlobal"));
    auto local = reinterpret_cast<TraduceProc>(GetProcAddress(library, "TraduceLocal"));
    auto first = reinterpret_cast<TraduceProc>(GetProcAddress(library, MAKEINTRESOURCEA(1)));
    auto second = reinterpret_cast<TraduceProc>(GetProcAddress(library, MAKEINTRESOURCEA(2)));
    CHECK(global != nullptr);
    CHECK(local != nullptr);
    CHECK(first == global);
    CHECK(second == local);
    CHECK(GetProcAddress(library, MAKEINTRESOURCEA(3)) == nullptr);
    if (winecheck::Failures()) {
        FreeLibrary(library);
        return WINE_CHECK_RESULT();
    }

    CheckTranslation(first, "TraduceGlobal", 13, expected->text13);
    CheckTranslation(first, "TraduceGlobal", 14, expected->text14);
    CheckTranslation(second, "TraduceLocal", 13, expected->text13);
    CheckTranslation(second, "TraduceLocal", 14, expected->text14);
    // A number that no line carries: an empty text, not some other message.
    CheckTranslation(global, "TraduceGlobal", 999, "");

    // Without files in the current directory, only the system directory still answers.
    CHECK(SetCurrentDirectoryA(argv[3]));
    CheckTranslation(local, "TraduceLocal", 13, "");
    CheckTranslation(global, "TraduceGlobal", 13, expected->text13);

    FreeLibrary(library);
    if (winecheck::Failures() == 0)
        std::printf("ok: %s for 0x%04X\n", expected->language, wanted);
    return WINE_CHECK_RESULT();
}
