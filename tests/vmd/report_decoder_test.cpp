// The report-descriptor decoder that the descriptor tests rely on, on items
// the minidriver's own descriptor does not use.
#include "hid_report_decoder.h"
#include "vmd_fixture.h"

namespace zeltest {
namespace {

using namespace zeltest::hid;

TEST(ReportDecoder, LaysOutFieldsWithGlobalStateLocalStateAndPushPop) {
    const Descriptor d =
        Decode(Hex("05 01 09 04 A1 01"             // Generic Desktop, Joystick, Application
                   "16 00 80 26 FF 7F"             // logical -32768 to 32767 (two-byte items)
                   "75 10 95 01 A4"                // 16 bits x 1, Push
                   "0B 30 00 01 00 81 02"          // four-byte usage X of page 1; Input
                   "75 08 15 00 25 FF"             // 8 bits, logical 0 and the one-byte 0xFF
                   "05 09 09 02 09 05 95 02 81 42" // two usages of the button page, null state
                   "B4"                            // Pop: 16 bits x 1, page Generic Desktop again
                   "09 31 81 06"                   // Y, relative
                   "FE 02 01 AA BB"                // a long item, skipped
                   "91 02"                         // Output: counted apart from the inputs
                   "C0"));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_FALSE(d.usesReportIds);
    const Report* r = d.FindReport(0);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->inputs.size(), 3u);

    const Field& x = r->inputs[0];
    EXPECT_EQ(x.bitOffset, 0u);
    EXPECT_EQ(x.size, 16u);
    EXPECT_EQ(x.usages, (std::vector<Usage>{{0x01, 0x30}}));
    EXPECT_EQ(x.logicalMin, -32768);
    EXPECT_EQ(x.logicalMax, 32767);

    const Field& buttons = r->inputs[1];
    EXPECT_EQ(buttons.bitOffset, 16u);
    EXPECT_EQ(buttons.size, 8u);
    EXPECT_EQ(buttons.count, 2u);
    EXPECT_EQ(buttons.usages, (std::vector<Usage>{{0x09, 2}, {0x09, 5}}));
    EXPECT_EQ(buttons.logicalMax, -1) << "25 FF is a signed one-byte item";
    EXPECT_EQ(buttons.logicalMaxRaw, 0xFFu);
    EXPECT_TRUE(buttons.nullState);

    const Field& y = r->inputs[2];
    EXPECT_EQ(y.bitOffset, 32u);
    EXPECT_EQ(y.size, 16u) << "Pop restored the report size";
    EXPECT_EQ(y.count, 1u);
    EXPECT_EQ(y.usages, (std::vector<Usage>{{0x01, 0x31}}));
    EXPECT_EQ(y.logicalMin, -32768);
    EXPECT_TRUE(y.relative);
    EXPECT_EQ(r->inputBits, 48u);

    ASSERT_EQ(r->outputs.size(), 1u);
    EXPECT_EQ(r->outputs[0].bitOffset, 0u);
    EXPECT_EQ(r->outputBits, 16u);
    EXPECT_EQ(r->outputs[0].usages.size(), 0u) << "local state ends at each main item";
}

struct BadCase {
    const char* name;
    const char* bytes;
};
void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

class ReportDecoderRefuses : public ::testing::TestWithParam<BadCase> {};

TEST_P(ReportDecoderRefuses, MalformedDescriptors) {
    const Descriptor d = Decode(Hex(GetParam().bytes));
    EXPECT_FALSE(d.ok);
    EXPECT_FALSE(d.error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportDecoderRefuses,
    ::testing::Values(BadCase{"EndWithoutCollection", "A1 01 C0 C0"},
                      BadCase{"CollectionNeverEnded", "A1 01 A1 00 C0"},
                      BadCase{"PopWithoutPush", "B4"}, BadCase{"ItemCutShort", "05 01 27 00 00"},
                      BadCase{"LongItemCutShort", "FE 04 01 00"}, BadCase{"ReportIdZero", "85 00"},
                      BadCase{"FieldsOutsideReportIds", "75 08 95 01 81 02 85 01 81 02"},
                      BadCase{"UsageMinimumWithoutMaximum", "19 01 75 01 95 01 81 02"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zeltest
