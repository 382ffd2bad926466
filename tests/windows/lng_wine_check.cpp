// Run under Wine: loads the installed zel_lng.dll as the service does, finds both exports by
// name and by ordinal, and checks the real DLL's texts.
//   lng_wine_check.exe LANGUAGE LANGID EMPTY_DIR
//       messages 13 and 14 for the user's language: LANGUAGE is the file the user's language
//       must pick (german, ...), LANGID the id that LC_ALL must have given, EMPTY_DIR a
//       directory without language files. The current directory holds the bare language
//       files; the system directory the "zel_" ones.
//   lng_wine_check.exe lines LANGUAGE DIR
//       for a user whose language picks LANGUAGE (not english): every case of the host
//       tests' table of language-file lines, each written to DIR as the only file,
//       "english.h" (so TraduceLocal falls back to English), a file held open by another
//       handle, and TraduceGlobal falling back to "zel_english.h" while the user's file is
//       moved aside.
#include "message_line_cases.h"
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

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

const Expected* TextsOf(const char* language) {
    for (const auto& e : kTexts)
        if (std::strcmp(e.language, language) == 0)
            return &e;
    return nullptr;
}

// The table of lines, the sharing of the file and both exports' English fallback.
int CheckLines(HMODULE library, const char* language, const char* dir) {
    auto global = reinterpret_cast<TraduceProc>(GetProcAddress(library, "TraduceGlobal"));
    auto local = reinterpret_cast<TraduceProc>(GetProcAddress(library, "TraduceLocal"));
    if (!CHECK(global != nullptr && local != nullptr))
        return WINE_CHECK_RESULT();
    CreateDirectoryA(dir, nullptr);
    if (!CHECK(SetCurrentDirectoryA(dir)))
        return WINE_CHECK_RESULT();
    const std::string file = std::string(dir) + "\\english.h";
    for (const zeltest::MessageLineCase& c : zeltest::kMessageLineCases) {
        std::printf("%s\n", c.what);
        if (!CHECK(WriteFileBytes(file, c.file)))
            break;
        CheckTranslation(local, "TraduceLocal", c.number, c.text.c_str());
    }

    // Another handle on the file, even one that shares reading, keeps the lookup out.
    CHECK(WriteFileBytes(file, "#1=one\n"));
    HANDLE holder = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    CHECK(holder != INVALID_HANDLE_VALUE);
    CheckTranslation(local, "TraduceLocal", 1, ""); // held open by another handle
    CloseHandle(holder);
    CheckTranslation(local, "TraduceLocal", 1, "one");
    DeleteFileA(file.c_str());
    CheckTranslation(local, "TraduceLocal", 1, ""); // no file at all

    // The system directory without the user's file: the English one answers.
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string chosen = std::string(system) + "\\zel_" + language + ".h";
    const std::string aside = chosen + ".aside";
    const Expected* english = TextsOf("english");
    const Expected* own = TextsOf(language);
    if (CHECK(own != nullptr && own != english)) {
        CheckTranslation(global, "TraduceGlobal", 13, own->text13);
        if (CHECK(MoveFileA(chosen.c_str(), aside.c_str()))) {
            CheckTranslation(global, "TraduceGlobal", 13, english->text13);
            CHECK(MoveFileA(aside.c_str(), chosen.c_str()));
        }
    }
    return WINE_CHECK_RESULT();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::printf("usage: lng_wine_check LANGUAGE LANGID EMPTY_DIR\n"
                    "       lng_wine_check lines LANGUAGE DIR\n");
        return 2;
    }
    const bool lines = std::strcmp(argv[1], "lines") == 0;
    const Expected* expected = TextsOf(lines ? argv[2] : argv[1]);
    if (expected == nullptr) {
        std::printf("unknown language %s\n", lines ? argv[2] : argv[1]);
        return 2;
    }
    // LC_ALL gives the user's language id (the lines check takes the user's language as it is).
    if (!lines && !CHECK_EQ(GetUserDefaultLangID(), LANGID(std::strtoul(argv[2], nullptr, 0))))
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
    if (lines) {
        const int result = CheckLines(library, argv[2], argv[3]);
        FreeLibrary(library);
        return result;
    }

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
        std::printf("ok: %s for 0x%04X\n", expected->language, unsigned(GetUserDefaultLangID()));
    return WINE_CHECK_RESULT();
}
