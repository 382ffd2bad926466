// Which language file each export reads: language choice, English fallback, the place each
// scope looks in, and the limits of the directory paths.
#include "lng_fixture.h"

#include <filesystem>

namespace zeltest {
namespace {

using zel_lng::LanguageFileScope;

const char* const kLanguages[] = {"english", "german", "spanish", "french", "italian"};

struct LanguageCase {
    LANGID id;
    const char* language;
};

void PrintTo(const LanguageCase& c, std::ostream* os) {
    *os << "0x" << std::hex << c.id << " " << c.language;
}

class LanguageChoice : public LngTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(LanguageChoice, PicksTheFileOfThePrimaryLanguageInBothScopes) {
    for (const char* language : kLanguages) {
        Write(systemDir + "/zel_" + language + ".h", std::string("#1=global ") + language + "\n");
        Write(currentDir + "/" + language + ".h", std::string("#1=local ") + language + "\n");
    }
    um::SetUserDefaultLangID(GetParam().id);
    EXPECT_EQ(Call(TraduceGlobal, 1), Padded(std::string("global ") + GetParam().language));
    EXPECT_EQ(Call(TraduceLocal, 1), Padded(std::string("local ") + GetParam().language));
}

INSTANTIATE_TEST_SUITE_P(
    Languages, LanguageChoice,
    ::testing::Values(LanguageCase{0x0407, "german"},  // Germany
                      LanguageCase{0x0807, "german"},  // Switzerland
                      LanguageCase{0x0C07, "german"},  // Austria
                      LanguageCase{0x040A, "spanish"}, // traditional sort
                      LanguageCase{0x0C0A, "spanish"}, // modern sort
                      LanguageCase{0x040C, "french"},  // France
                      LanguageCase{0x080C, "french"},  // Belgium
                      LanguageCase{0x0410, "italian"}, // Italy
                      LanguageCase{0x0810, "italian"}, // Switzerland
                      LanguageCase{0x0207, "german"},  // only the low 8 bits count
                      LanguageCase{0x0409, "english"}, // United States
                      LanguageCase{0x0809, "english"}, // United Kingdom
                      LanguageCase{0x0411, "english"}, // Japanese: no file of its own
                      LanguageCase{0x0419, "english"}, // Russian: no file of its own
                      LanguageCase{0x0000, "english"}));

class Fallback : public LngTest, public ::testing::WithParamInterface<LanguageFileScope> {};

TEST_P(Fallback, UsesEnglishWhenTheUsersLanguageHasNoFile) {
    bool global = GetParam() == LanguageFileScope::Global;
    std::string dir = global ? systemDir : currentDir;
    std::string prefix = global ? "zel_" : "";
    Write(dir + "/" + prefix + "english.h", "#13=english text\n");
    // Italian is there, but the user is German.
    Write(dir + "/" + prefix + "italian.h", "#13=italian text\n");
    um::SetUserDefaultLangID(0x0407);

    EXPECT_EQ(Call(global ? TraduceGlobal : TraduceLocal, 13), Padded("english text"));

    const char* name = "german.h";
    char path[zel_lng::kPathSize] = {};
    ASSERT_TRUE(zel_lng::MessageTranslator().LocateLanguageFile(GetParam(), name, path));
    EXPECT_STREQ(name, "english.h");
    EXPECT_EQ(std::string(path), dir + (global ? "\\zel_english.h" : "\\english.h"));
}

TEST_P(Fallback, WritesZerosWhenNoLanguageFileIsThere) {
    um::SetUserDefaultLangID(0x0407);
    TraduceProc translate = GetParam() == LanguageFileScope::Global ? TraduceGlobal : TraduceLocal;
    EXPECT_EQ(Call(translate, 13), Padded(""));
    um::SetUserDefaultLangID(0x0409);
    EXPECT_EQ(Call(translate, 13), Padded(""));
}

INSTANTIATE_TEST_SUITE_P(Scopes, Fallback,
                         ::testing::Values(LanguageFileScope::Global, LanguageFileScope::Local));

// Each export looks only in its own place and only under its own names.
struct PlaceCase {
    const char* what;
    bool global; // which export
    int dir;     // 0 system, 1 current, 2 elsewhere
    const char* file;
    bool found;
};

void PrintTo(const PlaceCase& c, std::ostream* os) {
    *os << c.what;
}

class Places : public LngTest, public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(Places, EachScopeReadsOnlyItsOwnPlaceAndNames) {
    const PlaceCase& c = GetParam();
    const std::string dirs[] = {systemDir, currentDir, otherDir};
    Write(dirs[c.dir] + "/" + c.file, "#2=there\n");
    EXPECT_EQ(Call(c.global ? TraduceGlobal : TraduceLocal, 2), Padded(c.found ? "there" : ""))
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Scopes, Places,
    ::testing::Values(
        PlaceCase{"global, prefixed name in the system directory", true, 0, "zel_english.h", true},
        PlaceCase{"global, bare name in the system directory", true, 0, "english.h", false},
        PlaceCase{"global, prefixed name in the current directory", true, 1, "zel_english.h",
                  false},
        PlaceCase{"global, prefixed name elsewhere", true, 2, "zel_english.h", false},
        PlaceCase{"local, bare name in the current directory", false, 1, "english.h", true},
        PlaceCase{"local, prefixed name in the current directory", false, 1, "zel_english.h",
                  false},
        PlaceCase{"local, bare name in the system directory", false, 0, "english.h", false},
        PlaceCase{"local, prefixed name in the system directory", false, 0, "zel_english.h",
                  false}));

// A directory of exactly `length` characters below the test's root.
std::string DirectoryOfLength(const std::string& root, size_t length) {
    std::string dir = root;
    while (dir.size() < length) {
        size_t part = std::min<size_t>(200, length - dir.size() - 1);
        if (length - dir.size() - 1 - part == 1) // leave room for "/x", never "/"
            --part;
        dir += "/" + std::string(part, 'd');
    }
    std::filesystem::create_directories(dir);
    return dir;
}

struct LengthCase {
    bool global;
    size_t length; // of the directory, without its NUL
    bool found;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
    *os << (c.global ? "system" : "current") << " directory of " << c.length;
}

class DirectoryLength : public LngTest, public ::testing::WithParamInterface<LengthCase> {};

// A directory that does not fit its limit (1004 for the system directory, 1013 for the
// current one, NUL included) is not written by the platform; it counts as no file, even
// when the file is really there.
TEST_P(DirectoryLength, TooLongADirectoryCountsAsNoFile) {
    const LengthCase& c = GetParam();
    std::string dir = DirectoryOfLength(root, c.length);
    ASSERT_EQ(dir.size(), c.length);
    Write(dir + (c.global ? "/zel_english.h" : "/english.h"), "#1=found\n");
    if (c.global)
        um::SetSystemDirectory(dir);
    else
        um::SetCurrentDirectory(dir);
    EXPECT_EQ(Call(c.global ? TraduceGlobal : TraduceLocal, 1), Padded(c.found ? "found" : ""));
}

INSTANTIATE_TEST_SUITE_P(Limits, DirectoryLength,
                         ::testing::Values(LengthCase{true, 1003, true},
                                           LengthCase{true, 1004, false},
                                           LengthCase{false, 1012, true},
                                           LengthCase{false, 1013, false}));

// A directory call that fails (returns 0) means no file: no path is built on the empty
// buffer, so nothing at the root of the drive is ever probed. The bare name of the local
// scope is probed first, where the platform resolves it, before the directory is asked for.
TEST_F(LngTest, DirectoryCallFailingMeansNoFileAndNoProbeAtTheRoot) {
    struct Case {
        bool global;
        std::vector<std::string> opened;
    };
    const Case cases[] = {{true, {}}, {false, {"english.h"}}};
    for (const auto& c : cases) {
        um::Reset();
        Write(systemDir + "/zel_english.h", "#1=found\n");
        Write(currentDir + "/english.h", "#1=found\n");
        um::SetSystemDirectory(c.global ? "" : systemDir);
        um::SetCurrentDirectory(currentDir);
        // The bare name still resolves against the current directory; only the call fails.
        um::SetCurrentDirectoryCallFails(!c.global);
        const std::string got = Call(c.global ? TraduceGlobal : TraduceLocal, 1);
        EXPECT_EQ(got, Padded("")) << (c.global ? "global" : "local");
        EXPECT_EQ(um::OpenedPaths(), c.opened) << (c.global ? "global" : "local");
    }
}

} // namespace
} // namespace zeltest
