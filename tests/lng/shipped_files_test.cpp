// The language files as they ship beside the library, under both names.
#include "lng_fixture.h"

namespace zeltest {
namespace {

struct Shipped {
    LANGID id;
    const char* language;
};

void PrintTo(const Shipped& c, std::ostream* os) {
    *os << c.language;
}

class ShippedFiles : public LngTest, public ::testing::WithParamInterface<Shipped> {};

// Bytes that Windows-1252 does not define, and the lead bytes of UTF-8 two-byte forms
// followed by a continuation byte: a file saved as UTF-8 by mistake shows either way.
void ExpectWindows1252(const std::string& text, const char* what) {
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = text[i];
        EXPECT_FALSE(c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 ||
                     c == 0x9D)
            << what << ": byte " << int(c) << " at " << i;
        if (c >= 0xC2 && c <= 0xDF && i + 1 < text.size()) {
            unsigned char next = text[i + 1];
            EXPECT_FALSE(next >= 0x80 && next <= 0xBF) << what << ": looks like UTF-8 at " << i;
        }
    }
}

TEST_P(ShippedFiles, CarryMessages13And14InTheirLanguage) {
    um::SetSystemDirectory(ZEL_SHIPPED_LANGUAGE_DIR);
    um::SetCurrentDirectory(ZEL_SHIPPED_LANGUAGE_DIR);
    um::SetUserDefaultLangID(0x0409);
    std::string english13 = Call(TraduceGlobal, 13);

    um::SetUserDefaultLangID(GetParam().id);
    std::string text13 = Call(TraduceGlobal, 13);
    std::string text14 = Call(TraduceGlobal, 14);
    for (auto* text : {&text13, &text14}) {
        ASSERT_GT(std::strlen(text->c_str()), 20u) << GetParam().language;
        ExpectWindows1252(text->c_str(), GetParam().language);
    }
    EXPECT_NE(text13, text14);
    // The bare copy for TraduceLocal is the same file.
    EXPECT_EQ(Call(TraduceLocal, 13), text13);
    EXPECT_EQ(Call(TraduceLocal, 14), text14);
    if (std::string(GetParam().language) != "english") {
        EXPECT_NE(text13, english13) << GetParam().language << " fell back to English";
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedFiles,
                         ::testing::Values(Shipped{0x0409, "english"}, Shipped{0x0407, "german"},
                                           Shipped{0x0C0A, "spanish"}, Shipped{0x040C, "french"},
                                           Shipped{0x0410, "italian"}));

} // namespace
} // namespace zeltest
