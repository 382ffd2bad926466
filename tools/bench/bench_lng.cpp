// Cost of one TraduceGlobal call: message 14 in the shipped English file, and the last line
// of a 2,000-line file, set against reading that file line by line with the C library.
// Each call chooses, probes, opens and reads the file afresh: nothing is cached.
#include "user_model.h"
#include "zel_lng.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Runs `step` until about half a second has passed; returns nanoseconds per run.
template <class F> double NsPerRun(F&& step) {
    for (int i = 0; i < 20; ++i) // warm the file cache
        step();
    long runs = 0;
    auto start = Clock::now();
    auto elapsed = Clock::duration::zero();
    do {
        for (int i = 0; i < 100; ++i)
            step();
        runs += 100;
        elapsed = Clock::now() - start;
    } while (elapsed < std::chrono::milliseconds(500));
    return std::chrono::duration<double, std::nano>(elapsed).count() / double(runs);
}

unsigned g_Sink = 0;

void Translate(WORD number) {
    char text[1024];
    TraduceGlobal(number, text);
    g_Sink += unsigned(text[0]);
}

void ReadWithCLibrary(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        std::abort();
    char line[2048];
    while (std::fgets(line, sizeof line, file) != nullptr)
        g_Sink += unsigned(line[0]);
    std::fclose(file);
}

} // namespace

int main() {
    char pattern[] = "/tmp/zel_bench_lng_XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    std::string dir = pattern;
    std::string file = dir + "/zel_english.h";
    um::SetSystemDirectory(dir);
    um::SetUserDefaultLangID(0x0409);

    std::filesystem::copy_file(ZEL_LNG_LANG_DIR "/english.h", file);
    char check[1024];
    TraduceGlobal(14, check);
    if (check[0] == '\0') {
        std::fprintf(stderr, "message 14 not found in the shipped English file\n");
        return 1;
    }
    double shipped = NsPerRun([] { Translate(14); });

    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        for (int n = 1; n <= 2000; ++n)
            out << "#" << n << "=Message " << n << " of a long language file, a line of text.\r\n";
    }
    TraduceGlobal(2000, check);
    if (std::string(check) != "Message 2000 of a long language file, a line of text.") {
        std::fprintf(stderr, "the last line of the long file was not found\n");
        return 1;
    }
    double last = NsPerRun([] { Translate(2000); });
    double plain = NsPerRun([&] { ReadWithCLibrary(file); });

    std::printf("zel_lng TraduceGlobal, message 14 of the shipped English file: %8.2f us/call\n",
                shipped / 1000);
    std::printf("zel_lng TraduceGlobal, last line of a 2,000-line file:        %8.2f us/call\n",
                last / 1000);
    std::printf("  reading that file line by line with fopen/fgets alone:      %8.2f us\n",
                plain / 1000);
    std::printf("  ratio lookup / plain read:                                  %8.2f\n",
                last / plain);

    std::filesystem::remove_all(dir);
    return g_Sink == 0xFFFFFFFF ? 1 : 0;
}
