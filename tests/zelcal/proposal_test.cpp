// The proposal from raw readings: centre and noise to dead zone and band, the range, the
// refusals, and the positions the driver's own transform makes of a proposed record.
#include "device_fixture.h"
#include "proposal.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace zelcal {
namespace {

std::vector<uint32_t> Repeat(uint32_t v, size_t n) {
    return std::vector<uint32_t>(n, v);
}

std::vector<uint32_t> Join(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A sweep from `low` to `high` in steps of 10 us.
std::vector<uint32_t> Sweep(uint32_t low, uint32_t high) {
    std::vector<uint32_t> out;
    for (uint32_t v = low; v <= high; v += 10)
        out.push_back(v);
    return out;
}

TEST(Proposal, NoiseAtRestGivesDeadZoneAndBand) {
    struct Case {
        const char* what;
        std::vector<uint32_t> rest;
        uint32_t centre, noise;
        uint8_t deadZone, band;
    };
    const Case cases[] = {
        {"still", Repeat(1000, 10), 1000, 0, 1, 0},
        {"+/-2", {998, 999, 1000, 1001, 1002, 998, 999, 1000, 1001, 1002}, 1000, 2, 5, 4},
        {"lopsided", {1000, 1000, 1000, 1004, 1004, 1004, 1004, 1004, 1004}, 1004, 4, 9, 8},
        // a read taken late now and then is left out, as long as it is one in ten
        {"one late read in ten", Join(Repeat(1000, 9), {1300}), 1000, 0, 1, 0},
        {"one late read in twenty", Join(Repeat(1000, 17), {1002, 1001, 1400}), 1000, 1, 3, 2},
        // no measurement and a line that did not fall are no readings
        {"gaps", Join(Repeat(1000, 5), {0, 0xFFFFFFFF}), 1000, 0, 1, 0},
        {"largest noise", Join(Repeat(1000, 5), Repeat(1127, 5)), 1000, 127, 255, 254},
    };
    for (const Case& c : cases) {
        const Proposal p = ProposeRecord({c.rest, Sweep(100, 1900)});
        EXPECT_EQ(p.Error, "") << c.what;
        EXPECT_EQ(p.Record.Centre, c.centre) << c.what;
        EXPECT_EQ(p.Noise, c.noise) << c.what;
        EXPECT_EQ(p.Record.DeadZone, c.deadZone) << c.what;
        EXPECT_EQ(p.Record.Band, c.band) << c.what;
    }
}

TEST(Proposal, RangeLeavesOutTheMostExtremeReadings) {
    struct Case {
        const char* what;
        std::vector<uint32_t> moving;
        uint32_t minimum, maximum;
    };
    const Case cases[] = {
        {"few readings: all count", {400, 1000, 1700}, 400, 1700},
        // 50 readings: the lowest and the highest one are left out
        {"one stray each side",
         Join(Join({50, 2500}, Repeat(300, 3)), Join(Repeat(1000, 42), Repeat(1700, 3))), 300,
         1700},
        // 100 readings: two each side
        {"two strays each side",
         Join(Join({10, 20, 3000, 3100}, Repeat(280, 2)), Join(Repeat(1000, 92), Repeat(1720, 2))),
         280, 1720},
        {"gaps", {0, 400, 0xFFFFFFFF, 1700, 1000}, 400, 1700},
    };
    for (const Case& c : cases) {
        const Proposal p = ProposeRecord({Repeat(1000, 10), c.moving});
        EXPECT_EQ(p.Error, "") << c.what;
        EXPECT_EQ(p.Record.Minimum, c.minimum) << c.what;
        EXPECT_EQ(p.Record.Maximum, c.maximum) << c.what;
    }
}

TEST(Proposal, Refusals) {
    struct Case {
        const char* what;
        AxisSamples samples;
        const char* reason;
    };
    const Case cases[] = {
        {"no readings at rest",
         {{0, 0xFFFFFFFF, 1000, 1000}, Sweep(100, 1900)},
         "no readings at rest (2 usable)"},
        {"no readings moving",
         {Repeat(1000, 10), {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}},
         "no readings while moving (0 usable)"},
        {"too noisy",
         {Join(Repeat(1000, 5), Repeat(1128, 5)), Sweep(100, 1900)},
         "the stick is too noisy at rest (+/-128 us"},
        {"two late reads in ten",
         {Join(Repeat(1000, 8), {1300, 1310}), Sweep(100, 1900)},
         "the stick is too noisy at rest (+/-300 us"},
        {"too little travel below",
         {Repeat(1000, 10), {950, 1000, 1900}},
         "the stick moved only 49 us below and 899 us above"},
        {"too little travel above",
         {Repeat(1000, 10), {100, 1000, 1050}},
         "the stick moved only 899 us below and 49 us above"},
        {"never below the centre",
         {Repeat(1000, 10), {1200, 1500, 1900}},
         "minimum 1200 + dead zone 1 lies above the centre 1000"},
    };
    for (const Case& c : cases) {
        const Proposal p = ProposeRecord(c.samples);
        EXPECT_EQ(p.Error.rfind(c.reason, 0), 0u) << c.what << ": got \"" << p.Error << "\"";
    }
}

// The proposed record, loaded by the driver's calibration store, gives through its own
// transform 0 for every reading at rest and the full reach at both ends of the range.
class ProposalThroughDriver : public zeltest::DeviceFixture {
  protected:
    LONG Transform(ULONG raw) {
        UCHAR report[kReportBytes] = {};
        std::memcpy(report, &raw, 4);
        TransformReport(device, report);
        LONG out;
        std::memcpy(&out, report, 4);
        return out;
    }
};

TEST_F(ProposalThroughDriver, CentreReadsZeroAndTheEndsReachTheHalfRange) {
    struct Case {
        const char* what;
        std::vector<uint32_t> rest;
        uint32_t low, high;
    };
    const Case cases[] = {
        {"symmetric, still", Repeat(1000, 20), 300, 1700},
        {"longer below", {997, 1003, 1000, 1001, 999, 1002, 998, 1000, 1000, 1000}, 200, 1500},
        {"longer above", {1000, 1001, 999, 1000, 1000, 1002}, 700, 1900},
        {"wide", Repeat(9000, 10), 100, 19000},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> moving = Sweep(c.low, c.high);
        const Proposal p = ProposeRecord({c.rest, moving});
        ASSERT_EQ(p.Error, "") << c.what;
        const auto bytes = EncodeRecord(p.Record);
        km::SetRegistryValue(u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\"
                             u"MediaProperties\\PrivateProperties\\Joystick\\Calibrado",
                             u"Eje1", REG_BINARY, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        LoadCalibration(device);
        ASSERT_EQ(ext->AxisCalibration[0].Enabled, 1) << c.what << ": the driver took the record";
        const LONG reach = LONG(HalfRangesOf(p.Record).Reach);
        EXPECT_GT(reach, 0) << c.what;
        for (uint32_t v : c.rest)
            EXPECT_EQ(Transform(v), 0) << c.what << ": at rest " << v;
        EXPECT_EQ(Transform(p.Record.Minimum), -reach) << c.what;
        EXPECT_EQ(Transform(c.low), -reach) << c.what;
        EXPECT_EQ(Transform(p.Record.Maximum), reach) << c.what;
        EXPECT_EQ(Transform(c.high), reach) << c.what;
        // half way out on the shorter side is half the reach, within a microsecond
        const HalfRanges h = HalfRangesOf(p.Record);
        const uint32_t dz = p.Record.DeadZone;
        if (h.Below <= h.Above)
            EXPECT_NEAR(Transform(p.Record.Centre - dz - h.Below / 2), -reach / 2, 1) << c.what;
        else
            EXPECT_NEAR(Transform(p.Record.Centre + dz + h.Above / 2), reach / 2, 1) << c.what;
    }
}

} // namespace
} // namespace zelcal
