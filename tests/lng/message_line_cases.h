// One table of language-file lines and the text each message number gets from them, run by
// the host tests on the model and by the Wine test program against the real zel_lng.dll, so
// that both builds are held to the same answer for every line.
#pragma once

#include <string>

namespace zeltest {

using namespace std::string_literals;

struct MessageLineCase {
    const char* what;
    std::string file;
    unsigned short number;
    std::string text; // what the caller gets (empty: nothing found, or an empty text)
    bool found;       // whether a line carries the number
};

inline const MessageLineCase kMessageLineCases[] = {
    {"LF line ends", "#1=one\n#2=two\n", 2, "two", true},
    {"CR LF line ends", "#1=one\r\n#2=two\r\n", 1, "one", true},
    {"CR LF, last line", "#1=one\r\n#2=two\r\n", 2, "two", true},
    {"no line end after the last line", "#1=one\n#2=two", 2, "two", true},
    {"comments and empty lines", "// messages\n\n;x\n#10=ten\n", 10, "ten", true},
    {"backslash n becomes a line feed", "#3=a\\nb\\n\n", 3, "a\nb\n", true},
    {"pairs taken left to right", "#3=x\\\\ny\n", 3, "x\\\ny", true},
    {"other backslashes stay", "#3=a\\tb\\\n", 3, "a\\tb\\", true},
    {"a second = belongs to the text", "#4=a=b=\n", 4, "a=b=", true},
    {"# after a space is no message line", " #5=wrong\n#5=right\n", 5, "right", true},
    {"# after a space only", " #5=wrong\n", 5, "", false},
    {"spaces between # and the digits", "#  6=six\n", 6, "six", true},
    {"a tab between # and the digits", "#\t6=tab\n", 6, "tab", true},
    {"number plus 65536", "#65543=seven\n", 7, "seven", true},
    {"number plus 2 x 65536", "#131079=seven\n", 7, "seven", true},
    {"a sign, as the C library reads it", "#-65535=one\n", 1, "one", true},
    {"a plus sign", "#+5=plus\n", 5, "plus", true},
    {"a minus wraps around 2^32", "#-70000=minus\n", 61072, "minus", true},
    {"a sign then a space is no number", "#- 5=x\n", 5, "", false},
    // msvcrt gathers the digits in 32 bits that wrap; it never saturates.
    {"2^32 + 7 wraps to 7", "#4294967303=wrapped\n", 7, "wrapped", true},
    {"2^32 + 7 does not stop at 2^32 - 1", "#4294967303=wrapped\n", 65535, "", false},
    {"99999999999 wraps to 1215752191", "#99999999999=big\n", 59391, "big", true},
    {"2^64 + 5 wraps to 5", "#18446744073709551621=huge\n", 5, "huge", true},
    {"first of two equal numbers", "#8=first\n#8=second\n", 8, "first", true},
    {"empty text", "#9=\n#9=later\n", 9, "", true},
    {"spaces in a text are kept", "#11=  two  \n", 11, "  two  ", true},
    {"single-byte text passes unchanged",
     "#12=Gr\xFC\xDF"
     "e \x80\n",
     12,
     "Gr\xFC\xDF"
     "e \x80",
     true},
    {"a NUL byte ends the text, zeros follow", "#12=ab\0cd\n"s, 12, "ab", true},
    {"a 0x1A byte does not end the file", "#1=a\x1A\n#2=b\n", 2, "b", true},
    // A number that no line carries: no other message's text comes back.
    {"unknown number", "#1=one\n#2=two\n", 3, "", false},
    {"unknown number, last line without =", "#1=one\n#2 two\n", 2, "", false},
    {"# directly followed by =", "#=zero\n", 0, "", false},
    {"no digits", "#x1=x\n", 1, "", false},
    {"file without message lines", "// nothing\n", 1, "", false},
};

} // namespace zeltest
