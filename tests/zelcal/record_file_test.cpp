// The calibration record's bytes and ordering check, and the export/import text format.
#include "calibration_file.h"
#include "calibration_record.h"
#include "hidg.h"
#include "stored_values.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zelcal {
namespace {

// The driver reads the value into its own record: the bytes zelcal writes must land in the
// driver's fields.
TEST(CalibrationRecord, BytesLandInTheDriversRecordFields) {
    const AxisRecord r{0x01020304, 0x0A0B0C0D, 0x7FFFFFF0, 0xE1, 0xB2};
    const auto bytes = EncodeRecord(r);
    CalibrationValue v;
    static_assert(sizeof v == kRecordBytes, "same size as the driver's record");
    std::memcpy(&v, bytes.data(), sizeof v);
    EXPECT_EQ(v.Minimum, r.Minimum);
    EXPECT_EQ(v.Centre, r.Centre);
    EXPECT_EQ(v.Maximum, r.Maximum);
    EXPECT_EQ(v.DeadZone, r.DeadZone);
    EXPECT_EQ(v.Band, r.Band);
    EXPECT_EQ(v.Unused, 0);

    AxisRecord back;
    ASSERT_TRUE(DecodeRecord(std::vector<uint8_t>(bytes.begin(), bytes.end()), &back));
    EXPECT_EQ(back, r);
}

TEST(CalibrationRecord, OnlySixteenByteValuesDecode) {
    AxisRecord r;
    for (size_t size : {0, 14, 15, 17, 32})
        EXPECT_FALSE(DecodeRecord(std::vector<uint8_t>(size, 1), &r)) << size;
    EXPECT_TRUE(DecodeRecord(std::vector<uint8_t>(16, 1), &r));
}

TEST(CalibrationRecord, OrderingCheck) {
    struct Case {
        AxisRecord r;
        bool ordered;
    };
    const Case cases[] = {
        {{100, 600, 1200, 10, 4}, true},
        {{590, 600, 610, 10, 0}, true},   // the dead zone touches both ends
        {{591, 600, 1200, 10, 0}, false}, // minimum inside the dead zone
        {{100, 600, 609, 10, 0}, false},  // maximum inside the dead zone
        {{700, 600, 1200, 0, 0}, false},  // minimum above the centre
        {{0, 5, 1000, 10, 0}, false},     // the dead zone reaches below 0
        // centre + dead zone passes 32 bits: wraps to a small number in the driver's sums
        {{100, 0xFFFFFFFA, 0xFFFFFFFF, 10, 0}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckRecord(c.r).empty(), c.ordered)
            << c.r.Minimum << " " << c.r.Centre << " " << c.r.Maximum << " " << int(c.r.DeadZone)
            << ": " << CheckRecord(c.r);
}

TEST(CalibrationRecord, HalfRangesAndReach) {
    const HalfRanges h = HalfRangesOf({100, 600, 1200, 10, 4});
    EXPECT_EQ(h.Below, 490u);
    EXPECT_EQ(h.Above, 590u);
    EXPECT_EQ(h.Reach, 490u);
}

TEST(CalibrationFile, ExportThenImportGivesTheSameCalibration) {
    Calibration cases[3];
    cases[0][0] = AxisRecord{100, 600, 1200, 10, 4};
    cases[0][2] = AxisRecord{0, 0xFFFFFEFF, 0xFFFFFFFE, 255, 255};
    cases[1][3] = AxisRecord{590, 600, 610, 10, 0};
    // cases[2]: nothing calibrated
    for (const Calibration& c : cases) {
        const std::string text = FormatCalibration(c);
        Calibration back;
        back[1] = AxisRecord{1, 2, 3, 0, 0}; // replaced as a whole
        std::string error;
        ASSERT_TRUE(ParseCalibration(text, &back, &error)) << error << "\n" << text;
        EXPECT_EQ(back, c) << text;
        // and the bytes stored for it are the same as well
        EXPECT_EQ(ToStored(back), ToStored(c));
    }
}

TEST(CalibrationFile, ReadsCommentsBlankLinesAndAnyCaseNames) {
    Calibration c;
    std::string error;
    ASSERT_TRUE(ParseCalibration("# kept from my old PC\r\n\r\n  eje2 100 600 1200 10 4\r\n"
                                 "EJE4\t-\n",
                                 &c, &error))
        << error;
    EXPECT_FALSE(c[0]);
    ASSERT_TRUE(c[1]);
    EXPECT_EQ(*c[1], (AxisRecord{100, 600, 1200, 10, 4}));
    EXPECT_FALSE(c[3]);
}

TEST(CalibrationFile, RefusesWhatIsNoCalibration) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        {"Eje5 1 2 3 0 0\n", "line 1: unknown value \"Eje5\""},
        {"X 1 2 3 0 0\n", "line 1: unknown value \"X\""},
        {"Eje1 -\n# c\nEje1 -\n", "line 3: Eje1 is named twice"},
        {"Eje1 100 600 1200 10\n", "line 1: Eje1 needs minimum"},
        {"Eje1 100 600 1200 10 4 7\n", "line 1: Eje1 needs minimum"},
        {"Eje2 100 600 1200 256 4\n",
         "line 1: Eje2 dead zone \"256\" is not a number from 0 to 255"},
        {"Eje2 100 600 1200 10 -1\n", "line 1: Eje2 band \"-1\" is not a number"},
        {"Eje3 1e3 600 1200 10 4\n", "line 1: Eje3 minimum \"1e3\" is not a number"},
        {"Eje3 100 600 4294967296 10 4\n", "line 1: Eje3 maximum \"4294967296\" is not a number"},
        {"Eje4 700 600 1200 10 4\n", "line 1: Eje4: minimum 700 + dead zone 10 lies above"},
    };
    for (const Case& c : cases) {
        Calibration kept;
        kept[0] = AxisRecord{1, 2, 3, 0, 0};
        std::string error;
        EXPECT_FALSE(ParseCalibration(c.text, &kept, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.reason, 0), 0u) << "got: " << error;
        ASSERT_TRUE(kept[0]) << "a refused file changes nothing";
        EXPECT_EQ(*kept[0], (AxisRecord{1, 2, 3, 0, 0}));
    }
}

TEST(StoredValues, WrongSizedValuesAreNamedAndGiveNoRecord) {
    StoredValues s;
    s[0] = std::vector<uint8_t>(16, 0);
    s[2] = std::vector<uint8_t>(12, 0);
    std::string wrong;
    const Calibration c = FromStored(s, &wrong);
    EXPECT_TRUE(c[0]);
    EXPECT_FALSE(c[2]);
    EXPECT_EQ(wrong, "Eje3 holds 12 bytes instead of 16");
}

} // namespace
} // namespace zelcal
