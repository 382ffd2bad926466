// Run under Wine: loads the installed zel_lng.dll as the service does, finds both exports by
// name and by ordinal, and checks the texts of messages 13 and 14 for the user's language.
//   lng_wine_check.exe LANGUAGE LANGID EMPTY_DIR
// LANGUAGE is the file the user's language must pick (german, ...), LANGID the id that
// LC_ALL must have given, EMPTY_DIR a directory without language files. The current
// directory holds the bare language files; the system directory the "zel_" ones.
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

int g_Failures = 0;

void Fail(const std::string& what) {
    std::printf("FAIL: %s\n", what.c_str());
    ++g_Failures;
}

// Calls an export with a buffer that starts all 0xAA and a guard behind its 1024 bytes, and
// checks that exactly the text and then zeros came back.
void Check(TraduceProc translate, const char* name, WORD number, const char* expected) {
    char buffer[1024 + 64];
    std::memset(buffer, 0xAA, sizeof buffer);
    translate(number, buffer);
    std::string what = std::string(name) + "(" + std::to_string(number) + ")";
    for (size_t i = 1024; i < sizeof buffer; ++i)
        if (buffer[i] != char(0xAA)) {
            Fail(what + " wrote past the 1024 bytes");
            break;
        }
    size_t length = std::strlen(expected);
    if (std::memcmp(buffer, expected, length + 1) != 0) {
        buffer[1023] = 0;
        Fail(what + " gave \"" + buffer + "\", expected \"" + expected + "\"");
        return;
    }
    for (size_t i = length; i < 1024; ++i)
        if (buffer[i] != 0) {
            Fail(what + ": byte " + std::to_string(i) + " after the text is not zero");
            return;
        }
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
    LANGID wanted = LANGID(std::strtoul(argv[2], nullptr, 0));
    LANGID language = GetUserDefaultLangID();
    if (language != wanted) {
        std::printf("FAIL: user language 0x%04X, expected 0x%04X (check LC_ALL)\n", language,
                    wanted);
        return 1;
    }

    HMODULE library = LoadLibraryA("zel_lng.dll");
    if (library == nullptr) {
        std::printf("FAIL: LoadLibraryA(zel_lng.dll): error %lu\n", GetLastError());
        return 1;
    }
    char loaded[MAX_PATH] = {}, system[MAX_PATH] = {};
    GetModuleFileNameA(library, loaded, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    if (lstrcmpiA(loaded, (std::string(system) + "\\zel_lng.dll").c_str()) != 0)
        Fail(std::string("loaded from ") + loaded + ", not from the system directory");

    auto global = reinterpret_cast<TraduceProc>(GetProcAddress(library, "TraduceGlobal"));
    auto local = reinterpret_cast<TraduceProc>(GetProcAddress(library, "TraduceLocal"));
    auto first = reinterpret_cast<TraduceProc>(GetProcAddress(library, MAKEINTRESOURCEA(1)));
    auto second = reinterpret_cast<TraduceProc>(GetProcAddress(library, MAKEINTRESOURCEA(2)));
    if (global == nullptr || local == nullptr)
        Fail("TraduceGlobal or TraduceLocal not exported by name");
    if (first != global || second != local)
        Fail("ordinals 1 and 2 are not TraduceGlobal and TraduceLocal");
    if (GetProcAddress(library, MAKEINTRESOURCEA(3)) != nullptr)
        Fail("an export with ordinal 3");
    if (g_Failures) {
        FreeLibrary(library);
        return 1;
    }

    Check(first, "TraduceGlobal", 13, expected->text13);
    Check(first, "TraduceGlobal", 14, expected->text14);
    Check(second, "TraduceLocal", 13, expected->text13);
    Check(second, "TraduceLocal", 14, expected->text14);
    // A number that no line carries: an empty text, not some other message.
    Check(global, "TraduceGlobal", 999, "");

    // Without files in the current directory, only the system directory still answers.
    if (!SetCurrentDirectoryA(argv[3]))
        Fail(std::string("cannot change to ") + argv[3]);
    Check(local, "TraduceLocal", 13, "");
    Check(global, "TraduceGlobal", 13, expected->text13);

    FreeLibrary(library);
    if (g_Failures == 0)
        std::printf("ok: %s for 0x%04X\n", expected->language, language);
    return g_Failures ? 1 : 0;
}
