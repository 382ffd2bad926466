// The axis transform of a read: jitter filter, dead zone and calibration per
// axis field, axis order and dial selection.
#include "device_fixture.h"

#include <array>
#include <memory>

namespace zeltest {
namespace {

class TransformTest : public DeviceFixture {
  protected:
    // The report sits in a block of exactly 27 bytes, so that a read past its
    // end shows under AddressSanitizer.
    std::unique_ptr<UCHAR[]> report{new UCHAR[kReportBytes]()};

    void SetAxis(int i, ULONG v) { memcpy(&report[4 * i], &v, 4); }
    LONG Axis(int i) const {
        LONG v;
        memcpy(&v, &report[4 * i], 4);
        return v;
    }
    // Raw positions in all four fields, hats, dials and buttons numbered by offset.
    void FillReport(std::array<ULONG, 4> axes) {
        for (int i = 0; i < 4; ++i)
            SetAxis(i, axes[i]);
        for (ULONG b = 16; b < kReportBytes; ++b)
            report[b] = UCHAR(0xA0 + b);
    }
    void Transform() { TransformReport(device, report.get()); }
    void Calibrate(int i, ULONG minimum, ULONG centre, ULONG maximum, UCHAR deadZone) {
        ext->AxisCalibration[i] = {1, minimum, centre, maximum, deadZone};
    }
};

struct CalibrationCase {
    ULONG raw;
    LONG expected;
};

// Minimum 100, centre 600, maximum 1200, dead zone 10: the lower half range
// (490) is the shorter one, so the upper half is scaled down to it.
TEST_F(TransformTest, CalibrationScalesTheLongerHalfToTheShorter) {
    const CalibrationCase cases[] = {
        {0, 0},     // no measurement reads centred
        {50, -490}, // clamped to the minimum
        {100, -490},
        {589, -1},
        {590, 0},
        {600, 0},
        {610, 0},
        {611, 0}, // 1 * 490 / 590 truncates to 0
        {700, 74},
        {1200, 490},
        {1300, 490},       // clamped to the maximum
        {0xFFFFFFFF, 490}, // a line that did not fall
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 4; ++i)
            Calibrate(i, 100, 600, 1200, 10);
        FillReport({c.raw, c.raw, c.raw, c.raw});
        Transform();
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(Axis(i), c.expected) << "raw " << c.raw << ", field " << i;
    }
}

// Minimum 100, centre 1000, maximum 1300, dead zone 10: the upper half range
// (290) is the shorter one, so now the lower half is scaled down.
TEST_F(TransformTest, CalibrationScalesTheLowerHalfWhenItIsLonger) {
    const CalibrationCase cases[] = {
        {50, -290}, {100, -290}, {500, -159}, // 490 * 290 / 890
        {989, 0},                             // 1 * 290 / 890 truncates to 0
        {990, 0},   {1010, 0},   {1011, 1},   {1200, 190}, {1300, 290}, {5000, 290},
    };
    for (const auto& c : cases) {
        Calibrate(2, 100, 1000, 1300, 10);
        FillReport({0, 0, c.raw, 0});
        Transform();
        EXPECT_EQ(Axis(2), c.expected) << "raw " << c.raw;
    }
}

// Half ranges of 100000 and 50000 us: the scaling product passes 32 bits,
// and must not wrap into a small value.
TEST_F(TransformTest, WideCalibrationRangeScalesWithoutWrapping) {
    Calibrate(0, 1000, 101000, 151000, 0);
    FillReport({1000, 0, 0, 0});
    Transform();
    EXPECT_EQ(Axis(0), -50000);
}

TEST_F(TransformTest, UncalibratedFieldsPassRawMicrosecondsAndOtherBytesPassThrough) {
    Calibrate(1, 100, 600, 1200, 10);
    FillReport({1234, 700, 0xFFFFFFFF, 0});
    Transform();
    EXPECT_EQ(ULONG(Axis(0)), 1234u);
    EXPECT_EQ(Axis(1), 74);
    EXPECT_EQ(ULONG(Axis(2)), 0xFFFFFFFFu);
    EXPECT_EQ(Axis(3), 0);
    for (ULONG b = 16; b < kReportBytes; ++b)
        EXPECT_EQ(report[b], UCHAR(0xA0 + b)) << "byte " << b;
}

// Band 4 around a held 500. Each step: the poll's count before the step, the
// input, and what the filter reports and keeps.
TEST_F(TransformTest, JitterFilterHoldsSmallMovesUntilTheLineHasSettled) {
    struct Step {
        UCHAR stableBefore;
        ULONG input;
        ULONG output;
        ULONG held;
        UCHAR stableAfter;
    };
    const Step steps[] = {
        {0, 503, 500, 500, 0}, {1, 497, 500, 500, 1},
        {2, 504, 500, 500, 2}, {2, 496, 500, 500, 2}, // both ends of the band are inside
        {2, 505, 505, 505, 2}, // leaves the band upwards: accepted, count untouched
        {3, 502, 502, 502, 0}, // settled: a move inside the band is accepted
        {1, 497, 497, 497, 1}, // leaves the band of 502 downwards
        {7, 497, 497, 497, 0}, // settled and unchanged: accepted, count reset
    };
    ext->AxisFilter[3] = {1, 500, 0, 4};
    for (const auto& s : steps) {
        ext->AxisFilter[3].StableCount = s.stableBefore;
        FillReport({11, 22, 33, s.input});
        Transform();
        EXPECT_EQ(ULONG(Axis(3)), s.output) << "input " << s.input;
        EXPECT_EQ(ext->AxisFilter[3].Held, s.held) << "input " << s.input;
        EXPECT_EQ(ext->AxisFilter[3].StableCount, s.stableAfter) << "input " << s.input;
        EXPECT_EQ(Axis(0), 11); // the other fields are not filtered
    }
}

TEST_F(TransformTest, FilterRunsBeforeCalibration) {
    ext->AxisFilter[0] = {1, 700, 0, 4};
    Calibrate(0, 100, 600, 1200, 10);
    FillReport({703, 0, 0, 0});
    Transform();
    EXPECT_EQ(Axis(0), 74); // the held 700, calibrated
}

TEST_F(TransformTest, AxisOrderPicksTransformedFields) {
    struct Case {
        std::array<UCHAR, 4> order;
        std::array<LONG, 4> expected;
    };
    const Case cases[] = {
        {{0, 1, 2, 3}, {10, 20, 30, 40}},
        {{1, 0, 2, 3}, {20, 10, 30, 40}},
        {{3, 2, 1, 0}, {40, 30, 20, 10}},
        {{0, 0, 0, 0}, {10, 10, 10, 10}},
        {{2, 2, 3, 3}, {30, 30, 40, 40}},
        // Entries that name no axis field would take hat, dial, button or
        // bytes past the report: their fields stay 0.
        {{0, 4, 2, 5}, {10, 0, 30, 0}},
        {{6, 255, 3, 1}, {0, 0, 40, 20}},
    };
    for (const auto& c : cases) {
        memcpy(ext->AxisOrder, c.order.data(), 4);
        FillReport({10, 20, 30, 40});
        Transform();
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(Axis(i), c.expected[i])
                << "order " << int(c.order[0]) << int(c.order[1]) << int(c.order[2])
                << int(c.order[3]) << ", field " << i;
        for (ULONG b = 16; b < kReportBytes; ++b) {
            if (b != 20 && b != 21) {
                EXPECT_EQ(report[b], UCHAR(0xA0 + b));
            }
        }
    }
}

TEST_F(TransformTest, CalibrationStaysWithItsFieldWhenTheOrderSwaps) {
    Calibrate(0, 100, 600, 1200, 10);
    const UCHAR order[4] = {1, 0, 2, 3};
    memcpy(ext->AxisOrder, order, 4);
    FillReport({700, 700, 5, 6});
    Transform();
    EXPECT_EQ(Axis(0), 700); // field 1, raw
    EXPECT_EQ(Axis(1), 74);  // field 0, calibrated
}

TEST_F(TransformTest, DialSelectionTakesBytesFromWithinTheReport) {
    struct Case {
        UCHAR source;
        UCHAR dial0;
        UCHAR dial1;
    };
    const UCHAR in20 = 0xA0 + 20, in21 = 0xA0 + 21, in22 = 0xA0 + 22, in26 = 0xA0 + 26;
    const Case cases[] = {
        {0, 0, 0},        {9, in20, in21}, // the default passes both dials through
        {6, in21, in20},                   // swapped
        {11, in22, in21},                  // first button byte as the first dial
        {28, 0, in26},                     // the last byte of the report is still in reach
        {33, in20, 0},                     // byte 27 would be past the report
        {255, in22, 0},
    };
    for (const auto& c : cases) {
        ext->DialSource = c.source;
        FillReport({1, 2, 3, 4});
        Transform();
        EXPECT_EQ(report[20], c.dial0) << "source " << int(c.source);
        EXPECT_EQ(report[21], c.dial1) << "source " << int(c.source);
        EXPECT_EQ(report[22], in22);
        EXPECT_EQ(report[16], UCHAR(0xA0 + 16));
    }
}

} // namespace
} // namespace zeltest
