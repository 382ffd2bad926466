// How a language file is read: message lines, numbers, texts and their limits, and files
// that cannot be read.
#include "lng_fixture.h"

#include <atomic>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zeltest {
namespace {

struct FormatCase {
    const char* what;
    std::string file;
    WORD number;
    std::string text; // what the caller gets (empty: nothing found, or an empty text)
    bool found;       // FindMessage's answer
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.what;
}

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

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Lines, FileFormat,
    ::testing::Values(
        FormatCase{"LF line ends", "#1=one\n#2=two\n", 2, "two", true},
        FormatCase{"CR LF line ends", "#1=one\r\n#2=two\r\n", 1, "one", true},
        FormatCase{"CR LF, last line", "#1=one\r\n#2=two\r\n", 2, "two", true},
        FormatCase{"no line end after the last line", "#1=one\n#2=two", 2, "two", true},
        FormatCase{"comments and empty lines", "// messages\n\n;x\n#10=ten\n", 10, "ten", true},
        FormatCase{"backslash n becomes a line feed", "#3=a\\nb\\n\n", 3, "a\nb\n", true},
        FormatCase{"pairs taken left to right", "#3=x\\\\ny\n", 3, "x\\\ny", true},
        FormatCase{"other backslashes stay", "#3=a\\tb\\\n", 3, "a\\tb\\", true},
        FormatCase{"a second = belongs to the text", "#4=a=b=\n", 4, "a=b=", true},
        FormatCase{"# after a space is no message line", " #5=wrong\n#5=right\n", 5, "right", true},
        FormatCase{"# after a space only", " #5=wrong\n", 5, "", false},
        FormatCase{"spaces between # and the digits", "#  6=six\n", 6, "six", true},
        FormatCase{"number plus 65536", "#65543=seven\n", 7, "seven", true},
        FormatCase{"number plus 2 x 65536", "#131079=seven\n", 7, "seven", true},
        FormatCase{"a sign, as the C library reads it", "#-65535=one\n", 1, "one", true},
        FormatCase{"first of two equal numbers", "#8=first\n#8=second\n", 8, "first", true},
        FormatCase{"empty text", "#9=\n#9=later\n", 9, "", true},
        FormatCase{"spaces in a text are kept", "#11=  two  \n", 11, "  two  ", true},
        FormatCase{"single-byte text passes unchanged",
                   "#12=Gr\xFC\xDF"
                   "e \x80\n",
                   12,
                   "Gr\xFC\xDF"
                   "e \x80",
                   true},
        FormatCase{"a NUL byte ends the text, zeros follow", "#12=ab\0cd\n"s, 12, "ab", true},
        // A number that no line carries: no other message's text comes back.
        FormatCase{"unknown number", "#1=one\n#2=two\n", 3, "", false},
        FormatCase{"unknown number, last line without =", "#1=one\n#2 two\n", 2, "", false},
        FormatCase{"# directly followed by =", "#=zero\n", 0, "", false},
        FormatCase{"no digits", "#x1=x\n", 1, "", false},
        FormatCase{"file without message lines", "// nothing\n", 1, "", false}));

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

// The library keeps nothing between calls, so threads asking at once each get their own
// message (run under ThreadSanitizer too).
TEST_F(LngTest, CallsFromSeveralThreadsDoNotMix) {
    std::string file;
    for (int n = 1; n <= 200; ++n)
        file += "#" + std::to_string(n) + "=message " + std::to_string(n) + "\r\n";
    Write(systemDir + "/zel_english.h", file);
    Write(currentDir + "/english.h", file);

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 50; ++i) {
                WORD number = WORD(1 + (t * 53 + i * 7) % 200);
                char text[kText];
                (t % 2 ? TraduceLocal : TraduceGlobal)(number, text);
                if (std::string(text) != "message " + std::to_string(number))
                    ++wrong;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
} // namespace zeltest
