// How a language file is read: message lines, numbers, texts and their limits, and files
// that cannot be read.
#include "lng_fixture.h"
#include "message_line_cases.h"

#include <atomic>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zeltest {

// Found by argument lookup, so it lives beside the record.
void PrintTo(const MessageLineCase& c, std::ostream* os) {
    *os << c.what;
}

namespace {

using FormatCase = MessageLineCase;

class FileFormat : public LngTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FileFormat, TextOfTheWantedNumber) {
    const FormatCase& c = GetParam();
    std::string path = systemDir + "/zel_english.h";
    Write(path, c.file);
    EXPECT_EQ(Call(TraduceGlobal, c.number), Padded(c.text)) << c.what;

    char text[kText] = {};
    EXPECT_EQ(zel_lng::MessageTranslator().FindMessage(path.c_str(), c.number, text), c.found)
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(Lines, FileFormat, ::testing::ValuesIn(kMessageLineCases));

// Texts around the 1023 characters the buffer holds with its NUL.
struct LengthCase {
    const char* what;
    std::string line; // after "#1="
    std::string text;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
    *os << c.what;
}

class TextLength : public LngTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(TextLength, NeverMoreThan1023CharactersAndTheNul) {
    Write(systemDir + "/zel_english.h", "#1=" + GetParam().line + "\r\n#2=next\r\n");
    std::string got = Call(TraduceGlobal, 1);
    EXPECT_EQ(got, Padded(GetParam().text)) << GetParam().what;
    EXPECT_EQ(got[kText - 1], '\0');
}

std::string Repeat(const std::string& unit, size_t times) {
    std::string s;
    for (size_t i = 0; i < times; ++i)
        s += unit;
    return s;
}

// 1023 distinct-looking characters, so that a cut in the wrong place shows.
std::string Filler(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += char('a' + i % 26);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Limits, TextLength,
    ::testing::Values(LengthCase{"exactly 1023 characters", Filler(1023), Filler(1023)},
                      LengthCase{"1024 characters are cut", Filler(1024), Filler(1023)},
                      LengthCase{"an overlong line is cut", Filler(200000), Filler(1023)},
                      LengthCase{"the cut counts line feeds, not escapes", Repeat("ab\\n", 341),
                                 Repeat("ab\n", 341)},
                      LengthCase{"an escape cut in the middle", Filler(1022) + "\\nz",
                                 Filler(1022) + "\n"}));

TEST_F(LngTest, UnreadableFileGivesZeros) {
    // Present to the probe, but every read fails (address 0 of this process is not mapped).
    std::filesystem::create_symlink("/proc/self/mem", systemDir + "/zel_english.h");
    const char* name = "english.h";
    char path[zel_lng::kPathSize] = {};
    ASSERT_TRUE(zel_lng::MessageTranslator().LocateLanguageFile(zel_lng::LanguageFileScope::Global,
                                                                name, path));
    EXPECT_EQ(Call(TraduceGlobal, 1), Padded(""));
}

TEST_F(LngTest, AFileChangedBetweenCallsIsReadAfresh) {
    Write(systemDir + "/zel_english.h", "#1=before\n");
    EXPECT_EQ(Call(TraduceGlobal, 1), Padded("before"));
    Write(systemDir + "/zel_english.h", "#1=after\n");
    EXPECT_EQ(Call(TraduceGlobal, 1), Padded("after"));
}

// The lookup holds the file open without sharing: while another handle has it open for
// reading, whether that handle shares reading or not, the caller gets the no-file result.
TEST_F(LngTest, AFileHeldOpenByAnotherHandleGivesZeros) {
    const std::string path = systemDir + "/zel_english.h";
    Write(path, "#1=one\n");
    for (DWORD share : {DWORD(0), DWORD(FILE_SHARE_READ)}) {
        HANDLE holder =
            CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Call(TraduceGlobal, 1), Padded("")) << "share " << share;
        CloseHandle(holder);
    }
    EXPECT_EQ(Call(TraduceGlobal, 1), Padded("one"));
}

// The library keeps nothing between calls, so threads asking at once each get their own
// message (run under ThreadSanitizer too). Two lookups of one file at the same moment
// keep each other out (the file is not shared), which gives the no-file result: an empty
// text, never another message.
TEST_F(LngTest, CallsFromSeveralThreadsDoNotMix) {
    std::string file;
    for (int n = 1; n <= 200; ++n)
        file += "#" + std::to_string(n) + "=message " + std::to_string(n) + "\r\n";
    Write(systemDir + "/zel_english.h", file);
    Write(currentDir + "/english.h", file);

    std::atomic<int> wrong{0}, right{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong, &right] {
            for (int i = 0; i < 50; ++i) {
                WORD number = WORD(1 + (t * 53 + i * 7) % 200);
                char text[kText];
                (t % 2 ? TraduceLocal : TraduceGlobal)(number, text);
                if (std::string(text) == "message " + std::to_string(number))
                    ++right;
                else if (text[0] != '\0')
                    ++wrong;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(right.load(), 0);
}

} // namespace
} // namespace zeltest
