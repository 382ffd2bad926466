// Fuzz target: a language file's bytes, a message number and a user language,
// through the library's two exports.
//
// Input: language id (2 bytes, little-endian), message number (2 bytes), a
// byte of choices (bit 0: TraduceLocal instead of TraduceGlobal; bit 1: the
// file is there only under the English fallback name), then the file's bytes.
// Each call gets a heap block of exactly 1024 bytes, so AddressSanitizer stops
// any write past it; the text must be zero-filled after its end and every file
// handle closed again.
#include "fuzz_check.h"
#include "message_translator.h"
#include "user_model.h"
#include "zel_lng.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Directories {
    std::string system, current;
};

std::string g_root;

void RemoveDirectories() {
    std::filesystem::remove_all(g_root);
}

// Language files live in memory-backed directories of this process, removed
// when it ends.
const Directories& Dirs() {
    static const Directories dirs = [] {
        g_root = "/dev/shm/zel_lng_fuzz." + std::to_string(getpid());
        Directories d{g_root + "/system32", g_root + "/work"};
        mkdir(g_root.c_str(), 0700);
        mkdir(d.system.c_str(), 0700);
        mkdir(d.current.c_str(), 0700);
        std::atexit(RemoveDirectories);
        return d;
    }();
    return dirs;
}

std::string g_written; // the file of the previous input, removed before the next

void WriteFile(const std::string& path, const uint8_t* bytes, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(write(fd, bytes, size) == ssize_t(size));
    close(fd);
    g_written = path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    const LANGID language = LANGID(data[0] | data[1] << 8);
    const WORD number = WORD(data[2] | data[3] << 8);
    const bool local = data[4] & 1;
    const bool englishOnly = data[4] & 2;

    const Directories& dirs = Dirs();
    if (!g_written.empty())
        unlink(g_written.c_str());
    um::Reset();
    um::SetUserDefaultLangID(language);
    um::SetSystemDirectory(dirs.system);
    um::SetCurrentDirectory(dirs.current);

    const std::string name = englishOnly ? "english.h" : zel_lng::LanguageFileName(language);
    const std::string path = local ? dirs.current + "/" + name : dirs.system + "/zel_" + name;
    WriteFile(path, data + 5, size - 5);

    std::unique_ptr<char[]> text(new char[zel_lng::kTextSize]);
    std::memset(text.get(), 0xAA, zel_lng::kTextSize);
    (local ? TraduceLocal : TraduceGlobal)(number, text.get());

    const size_t length = strnlen(text.get(), zel_lng::kTextSize);
    FUZZ_CHECK(length < zel_lng::kTextSize); // the text always ends with a NUL
    for (size_t i = length; i < zel_lng::kTextSize; ++i)
        FUZZ_CHECK(text[i] == 0);
    FUZZ_CHECK(um::OpenHandleCount() == 0);
    // Every message line holds an '=': a file without one has no text to give.
    if (!std::memchr(data + 5, '=', size - 5))
        FUZZ_CHECK(length == 0);
    return 0;
}
