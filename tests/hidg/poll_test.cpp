// Analog poll: every expected value below is worked out by hand from the
// simulated clock. With a 1 MHz counter and 1 us per port access the trigger
// write ends at 1 us, the start stamp reads tick 1, and pass k stamps t = k - 1
// before reading the port at k us. A line last seen high by read k is
// bracketed by [t(k), t(k + 2)].
#include "poll_fixture.h"

#include <random>

using zeltest::PollFixture;

namespace {

struct ScaleCase {
    ULONGLONG hz;
    ULONG scale;
};

TEST(CounterScale, MicrosecondsPerTickInSixteenDotSixteen) {
    const ScaleCase cases[] = {
        {1000000, 65536},
        {3579545, 18308},
        {10000000, 6553},
        {14318180, 4577},
        {10001, 6552944},
        {0x100000005ULL, 15},
        {10000, 0},
        {1, 0},
        {0, 0},
        // The fastest counter a tick of 1/65536 us can still express.
        {65536000000ULL, 1},
        {65536000001ULL, 0},
    };
    for (const auto& c : cases) {
        LARGE_INTEGER f;
        f.QuadPart = LONGLONG(c.hz);
        EXPECT_EQ(ComputeCounterScale(f), c.scale) << c.hz << " Hz";
    }
}

class AnalogPollTest : public PollFixture {};

TEST_F(AnalogPollTest, BracketMidpointHalvesEachEndAndTightensTheLimit) {
    port.SetPulseUs(0, 10.5); // high for reads 1..10: bracket [t10, t12] = [9, 11]
    auto p = RunAnalogPoll(0x01);
    EXPECT_EQ(p.status, STATUS_SUCCESS);
    EXPECT_EQ(p.values[0], 4u + 5u);
    EXPECT_EQ(ext.SpreadLimit, 4u); // 2 x width 2
    EXPECT_EQ(port.reads, 12u);     // one pass after the first all-low read
    EXPECT_EQ(port.writes, 1u);
}

TEST_F(AnalogPollTest, TenMegahertzCounterRoundsEachEndDown) {
    UseCounter(10000000, 1.0);
    port.SetPulseUs(0, 10.5);
    // Stamps 90 and 110 ticks; scale 6553: 589770 >> 16 = 8, 720830 >> 16 = 10.
    auto p = RunAnalogPoll(0x01);
    EXPECT_EQ(p.status, STATUS_SUCCESS);
    EXPECT_EQ(p.values[0], 4u + 5u);
    EXPECT_EQ(ext.SpreadLimit, 4u);
}

TEST_F(AnalogPollTest, LinesAreEvaluatedFromThreeDownToZero) {
    // Line 3 falls after read 5: bracket [4, 6], value 2 + 3, limit 25 -> 4.
    // Line 2 falls after read 19, and a 6 us stall follows that read: its
    // bracket is [18, 26], 8 us wide: accepted against 25, too wide against 4.
    port.SetPulseUs(3, 5.5);
    port.SetPulseUs(2, 20.5);
    port.stallAfterRead = 19;
    port.stallPs = 6 * km::kPsPerUs;
    auto p = RunAnalogPoll(0x0C);
    EXPECT_EQ(p.values[3], 5u);
    EXPECT_EQ(p.values[2], 18u); // the lower end
    EXPECT_EQ(p.status, STATUS_TIMEOUT);
    EXPECT_EQ(ext.SpreadLimit, 4u);

    // The same stalled line alone is accepted.
    port = sim::GamePort{};
    ext.SpreadLimit = 25;
    port.SetPulseUs(2, 20.5);
    port.stallAfterRead = 19;
    port.stallPs = 6 * km::kPsPerUs;
    p = RunAnalogPoll(0x04);
    EXPECT_EQ(p.status, STATUS_SUCCESS);
    EXPECT_EQ(p.values[2], 9u + 13u);
    EXPECT_EQ(ext.SpreadLimit, 16u);
}

TEST_F(AnalogPollTest, BracketExactlyAsWideAsTheLimitIsAccepted) {
    // Line 2 falls after read 19; a stall of s us after that read closes the
    // bracket at t = 20 + s - 1 - 1: [18, 20 + s], 2 + s wide.
    struct Case {
        uint64_t stallUs;
        NTSTATUS status;
        ULONG value;
    };
    const Case cases[] = {
        {6, STATUS_SUCCESS, 9u + 13u}, // 8 wide, the limit: midpoint
        {7, STATUS_TIMEOUT, 18u},      // 9 wide: the lower end
    };
    for (const auto& c : cases) {
        port = sim::GamePort{};
        ext.SpreadLimit = 8;
        port.SetPulseUs(2, 20.5);
        port.stallAfterRead = 19;
        port.stallPs = c.stallUs * km::kPsPerUs;
        auto p = RunAnalogPoll(0x04);
        EXPECT_EQ(p.status, c.status) << c.stallUs;
        EXPECT_EQ(p.values[2], c.value) << c.stallUs;
        EXPECT_EQ(ext.SpreadLimit, 8u) << c.stallUs; // 2 x 8 is no tightening
    }
}

TEST_F(AnalogPollTest, LineThatNeverFallsRunsTheLoopToTheLimit) {
    SetTimeoutUs(100); // 100 ticks: the pass stamped t = 100 is the last
    port.SetLine(1, sim::LineKind::NeverFalls);
    port.SetPulseUs(0, 10.5);
    auto p = RunAnalogPoll(0x03);
    EXPECT_EQ(p.status, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(p.values[1], kAxisFallen);
    EXPECT_EQ(p.values[0], 9u);
    EXPECT_EQ(port.reads, 101u);
}

TEST_F(AnalogPollTest, EmptyMaskFiresOnceReadsTheClockOnceAndNeverThePort) {
    const uint64_t countsBefore = km::CounterReads();
    auto p = RunAnalogPoll(0x00);
    EXPECT_EQ(p.status, STATUS_SUCCESS);
    EXPECT_EQ(port.writes, 1u);
    EXPECT_EQ(port.reads, 0u);
    EXPECT_EQ(km::CounterReads() - countsBefore, 1u);
    for (ULONG v : p.values)
        EXPECT_EQ(v, 0u);
}

TEST_F(AnalogPollTest, EqualStampsPickTheLowerState) {
    // 100 kHz counter (10 us ticks) and 1 us accesses: pass k stamps k / 10.
    // Line 1 falls after read 17, line 0 after read 18. State 3 and state 1
    // are both last seen at tick 1; state 1 wins for line 0, whose bracket is
    // then closed by read 20's stamp (tick 2): 10..20 us, value 5 + 10.
    // Line 1's bracket [t17, t19] is 10..10 us: zero width, value 10, and the
    // limit stays 25, so line 0 is still accepted after it.
    UseCounter(100000, 1.0);
    port.SetPulseUs(1, 17.5);
    port.SetPulseUs(0, 18.5);
    auto p = RunAnalogPoll(0x03);
    EXPECT_EQ(p.values[1], 10u);
    EXPECT_EQ(p.values[0], 15u);
    EXPECT_EQ(p.status, STATUS_SUCCESS);
    EXPECT_EQ(ext.SpreadLimit, 20u);
}

TEST_F(AnalogPollTest, LineLowOnlyInTheLastReadCountsAsNotFallen) {
    SetTimeoutUs(100); // the pass stamped t = 100 reads at 101 us
    port.SetPulseUs(0, 100.5);
    auto p = RunAnalogPoll(0x01);
    EXPECT_EQ(p.status, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(p.values[0], kAxisFallen);
    EXPECT_EQ(port.reads, 101u);
}

TEST_F(AnalogPollTest, StuckLowLineReadsNoMeasurementAndKeepsTheLimit) {
    port.SetLine(0, sim::LineKind::StuckLow);
    port.SetPulseUs(1, 10.5);
    for (int poll = 0; poll < 3; ++poll) {
        auto p = RunAnalogPoll(0x03);
        EXPECT_EQ(p.status, STATUS_SUCCESS) << "poll " << poll;
        EXPECT_EQ(p.values[0], 0u);
        EXPECT_EQ(p.values[1], 9u);
    }
    EXPECT_EQ(ext.SpreadLimit, 4u);
}

TEST_F(AnalogPollTest, UpperBitsOfThePortByteAreIgnored) {
    port.upperBits = 0xF0;
    port.SetPulseUs(0, 10.5);
    auto p = RunAnalogPoll(0x0F & 0x01);
    EXPECT_EQ(p.values[0], 9u);
    EXPECT_EQ(p.status, STATUS_SUCCESS);
}

TEST_F(AnalogPollTest, WrapOfTheCounterLowWordDoesNoHarm) {
    km::SetCounterTicks(0xFFFFFFFFull - 4); // wraps during the poll
    port.SetPulseUs(0, 10.5);
    auto p = RunAnalogPoll(0x01);
    EXPECT_EQ(p.status, STATUS_SUCCESS);
    EXPECT_EQ(p.values[0], 9u);
}

TEST_F(AnalogPollTest, FastPortReadsNeverCollapseTheLimit) {
    // 0.5 us per access against a 10 MHz counter: a bracket spans about ten
    // ticks, which rounding can turn into 0 us. Such a bracket must not make
    // every later measurement "too wide".
    UseCounter(10000000, 0.5);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> pulse(20.0, 1500.0);
    for (int poll = 0; poll < 300; ++poll) {
        for (int line = 0; line < 4; ++line)
            port.SetPulseUs(line, pulse(random));
        auto p = RunAnalogPoll(0x0F);
        ASSERT_NE(p.status, STATUS_DEVICE_NOT_CONNECTED);
        for (int line = 0; line < 4; ++line) {
            // The true edge, counted from the start stamp that follows the trigger write.
            const double truth = double(port.pulsePs[line]) / 1e6 - 0.5;
            EXPECT_NEAR(double(p.values[line]), truth, 2.5) << "poll " << poll;
        }
        km::AdvanceUs(100);
    }
    EXPECT_GT(ext.SpreadLimit, 0u);
}

// ---- PollDevice -------------------------------------------------------------------------

class PollDeviceTest : public PollFixture {
  protected:
    NTSTATUS Poll() {
        NTSTATUS s;
        km::AtIrql(DISPATCH_LEVEL, [&] { s = PollDevice(&ext); });
        return s;
    }
};

TEST_F(PollDeviceTest, AcquireFailuresSkipThePollAndZeroEveryLine) {
    struct Case {
        NTSTATUS acquire;
        NTSTATUS result;
    };
    const Case cases[] = {
        {STATUS_DEVICE_BUSY, STATUS_TIMEOUT},
        {STATUS_UNSUCCESSFUL, STATUS_UNSUCCESSFUL},
        {STATUS_DEVICE_NOT_READY, STATUS_DEVICE_NOT_READY},
    };
    for (const auto& c : cases) {
        port = sim::GamePort{};
        port.acquireStatus = c.acquire;
        for (auto& v : ext.LastAxis)
            v = 123;
        EXPECT_EQ(Poll(), c.result) << km::StatusName(c.acquire);
        EXPECT_EQ(port.writes, 0u);
        EXPECT_EQ(port.reads, 0u);
        EXPECT_EQ(port.releases, 0u);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(ext.LastAxis[i], 0u);
            EXPECT_EQ(ext.PreviousAxis[i], 123u);
        }
    }
}

TEST_F(PollDeviceTest, PollsUnderThePortAndReleasesIt) {
    ext.AxisMask = 0xF3; // only the low four bits count
    port.SetPulseUs(0, 10.5);
    port.SetPulseUs(1, 30.5);
    port.SetLine(2, sim::LineKind::NeverFalls); // outside the mask: never looked at
    EXPECT_EQ(Poll(), STATUS_SUCCESS);
    EXPECT_EQ(port.acquires, 1u);
    EXPECT_EQ(port.releases, 1u);
    EXPECT_EQ(port.readsWhileNotHeld, 0u);
    EXPECT_EQ(ext.LastAxis[0], 9u);
    EXPECT_EQ(ext.LastAxis[1], 29u);
    EXPECT_EQ(ext.LastAxis[2], 0u);
    EXPECT_EQ(ext.LastAxis[3], 0u);
    EXPECT_EQ(ext.PreviousAxis[0], kAxisFallen);
    EXPECT_EQ(km::SpinLocksHeld(), 0);
}

TEST_F(PollDeviceTest, StableCountFollowsTheValueOfTwoPollsBack) {
    struct Case {
        const char* name;
        std::vector<double> pulses; // line 0, one per poll
        std::vector<int> counts;    // StableCount of filter 0 after each poll
    };
    // Each pulse p gives the value p - 1.5 (bracket midpoint, see above).
    const Case cases[] = {
        {"constant", {10.5, 10.5, 10.5, 10.5, 10.5}, {0, 0, 1, 2, 3}},
        {"alternating", {10.5, 20.5, 10.5, 20.5, 10.5}, {0, 0, 1, 2, 3}},
        {"reset", {10.5, 10.5, 10.5, 10.5, 20.5, 20.5}, {0, 0, 1, 2, 0, 0}},
    };
    for (const auto& c : cases) {
        ext.AxisMask = 0x01;
        ext.AxisFilter[0].StableCount = 0;
        ext.PreviousAxis[0] = 0;
        ext.LastAxis[0] = kAxisFallen;
        for (size_t i = 0; i < c.pulses.size(); ++i) {
            port.SetPulseUs(0, c.pulses[i]);
            Poll();
            EXPECT_EQ(ext.AxisFilter[0].StableCount, c.counts[i]) << c.name << " poll " << i;
            km::AdvanceUs(100);
        }
    }
}

TEST_F(PollDeviceTest, StableCountWrapsAndUnmaskedLinesCountToo) {
    ext.AxisMask = 0x01;
    port.SetPulseUs(0, 10.5);
    Poll();
    Poll();
    ext.AxisFilter[0].StableCount = 255;
    Poll();
    EXPECT_EQ(ext.AxisFilter[0].StableCount, 0);
    // Line 3 is outside the mask and reads 0 every poll. The first poll
    // matches PreviousAxis's start value 0 (1), the second meets the
    // 0xFFFFFFFF of device init (0), the third matches again (1).
    EXPECT_EQ(ext.AxisFilter[3].StableCount, 1);
}

} // namespace
