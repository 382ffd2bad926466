// zelcal's command line and calibration scripts: what they accept and what they refuse.
#include "command_line.h"
#include "script.h"

#include <gtest/gtest.h>

namespace zelcal {
namespace {

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(' ', start);
        if (end == line.npos)
            end = line.size();
        if (end > start)
            out.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

TEST(CommandLine, Accepted) {
    struct Case {
        const char* line;
        Command action;
        bool once, yes;
        unsigned mask;
        const char* script;
        const char* file;
    };
    const Case cases[] = {
        {"--help", Command::Help, false, false, 0xF, "", ""},
        {"calibrate --help", Command::Help, false, false, 0xF, "", ""},
        {"show", Command::Show, false, false, 0xF, "", ""},
        {"show --once", Command::Show, true, false, 0xF, "", ""},
        {"calibrate --axes 1,3 --script s.txt", Command::Calibrate, false, false, 0x5, "s.txt", ""},
        {"calibrate --axes Eje4 --yes", Command::Calibrate, false, true, 0x8, "", ""},
        {"reset --yes", Command::Reset, false, true, 0xF, "", ""},
        {"export my.cal", Command::Export, false, false, 0xF, "", "my.cal"},
        {"import C:\\keep\\my.cal", Command::Import, false, false, 0xF, "", "C:\\keep\\my.cal"},
    };
    for (const Case& c : cases) {
        Options o;
        std::string error;
        ASSERT_TRUE(ParseCommandLine(Split(c.line), &o, &error)) << c.line << ": " << error;
        EXPECT_EQ(o.Action, c.action) << c.line;
        EXPECT_EQ(o.Once, c.once) << c.line;
        EXPECT_EQ(o.Yes, c.yes) << c.line;
        EXPECT_EQ(o.AxisMask, c.mask) << c.line;
        EXPECT_EQ(o.Script, c.script) << c.line;
        EXPECT_EQ(o.File, c.file) << c.line;
    }
}

TEST(CommandLine, Refused) {
    struct Case {
        const char* line;
        const char* reason;
    };
    const Case cases[] = {
        {"", "no command given"},
        {"calibrat", "unknown command \"calibrat\""},
        {"export", "export needs a file name"},
        {"import --yes", "import needs a file name"},
        {"show --yes", "\"--yes\" is not an option of show"},
        {"reset --once", "\"--once\" is not an option of reset"},
        {"calibrate --axes", "--axes needs a list of axes"},
        {"calibrate --axes 1,5", "--axes: \"5\" is not an axis"},
        {"calibrate --axes 1,,2", "--axes: \"\" is not an axis"},
        {"calibrate --axes x", "--axes: \"x\" is not an axis"},
        {"calibrate --script", "--script needs a file name"},
        {"export a.cal b.cal", "\"b.cal\" is not an option of export"},
    };
    for (const Case& c : cases) {
        Options o;
        std::string error;
        EXPECT_FALSE(ParseCommandLine(Split(c.line), &o, &error)) << c.line;
        EXPECT_EQ(error.rfind(c.reason, 0), 0u) << c.line << ": got \"" << error << "\"";
    }
}

TEST(Script, StepsInOrder) {
    std::vector<Step> steps;
    std::string error;
    ASSERT_TRUE(ParseScript("# rig\r\n\nrun C:\\rig\\move.exe centre 1000\ncentre\n"
                            "  ends 40  \nrun move.exe low\nends\ncentre 7\ncancel\n",
                            &steps, &error))
        << error;
    ASSERT_EQ(steps.size(), 7u);
    EXPECT_EQ(steps[0].Kind, StepKind::Run);
    EXPECT_EQ(steps[0].CommandLine, "C:\\rig\\move.exe centre 1000");
    EXPECT_EQ(steps[1].Kind, StepKind::Centre);
    EXPECT_EQ(steps[1].Reads, kDefaultCentreReads);
    EXPECT_EQ(steps[2].Kind, StepKind::Ends);
    EXPECT_EQ(steps[2].Reads, 40u);
    EXPECT_EQ(steps[4].Reads, kDefaultEndsReads);
    EXPECT_EQ(steps[5].Reads, 7u);
    EXPECT_EQ(steps[6].Kind, StepKind::Cancel);
}

TEST(Script, Refused) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        {"centre\n", "the script needs a centre step and an ends step"},
        {"ends 5\n", "the script needs a centre step and an ends step"},
        {"centre\nends 0\n", "line 2: \"0\" is not a count of reports from 1 to 100000"},
        {"centre 100001\nends\n", "line 1: \"100001\" is not a count"},
        {"centre -3\nends\n", "line 1: \"-3\" is not a count"},
        {"centre\nends\nrun\n", "line 3: run needs a program"},
        {"centre\nends\nwrite\n", "line 3: unknown step \"write\""},
        {"centre\nends\ncancel now\n", "line 3: unknown step \"cancel now\""},
    };
    for (const Case& c : cases) {
        std::vector<Step> steps;
        std::string error;
        EXPECT_FALSE(ParseScript(c.text, &steps, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.reason, 0), 0u) << c.text << "got \"" << error << "\"";
    }
}

} // namespace
} // namespace zelcal
