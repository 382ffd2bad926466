// The driver in the simulated system, from DriverEntry on: the HID class
// driver registers it, adds and starts the sticks, fetches the descriptors
// and polls reads. Expected reports are worked out by hand: with a 1 MHz
// counter and 1 us per port access a pulse of p + 0.5 us reads p - 1.
#include "hid_report_decoder.h"
#include "hid_class.h"
#include "hidg.h"
#include "kernel_test.h"
#include "pnp.h"
#include "world.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace {

using zelsim::Scenario;
using zelsim::StickSetup;
using zelsim::World;

// Both OEM data sets of a child, the first one given.
std::vector<uint8_t> Oem(uint16_t vendor, uint16_t product, uint32_t flags, uint32_t timeout) {
    std::vector<uint8_t> data = zelsim::OemSetBytes(vendor, product, flags, timeout);
    data.resize(32, 0);
    return data;
}

int32_t Axis(const std::vector<uint8_t>& report, int i) {
    int32_t v;
    std::memcpy(&v, &report[4 * i], 4);
    return v;
}

// A two-axis stick with the dial ids on one port, X on line 0 and Y on line 1.
Scenario TwoAxisStick() {
    Scenario s;
    s.counterHz = 1000000;
    s.portReadUs = 1.0;
    s.ports[0].linesUs[0] = 700.5;
    s.ports[0].linesUs[1] = 1000.5;
    StickSetup stick;
    stick.axisCount = 2;
    stick.oemData = Oem(0x06A3, 13877, 0, 10000);
    s.sticks = {stick};
    return s;
}

class SystemTest : public zeltest::KernelTest {};

TEST_F(SystemTest, FromDriverEntryToCalibratedReportsWithBridgeData) {
    Scenario s = TwoAxisStick();
    s.registry = {{"Eje1", zelsim::CalibrationBytes(100, 600, 1200, 10, 4)}};
    s.bridge->data = {0xAA, 0xBB, 3, 0, 4, 9, 0x10, 0x20, 0x01, 0x00, 0x80, 0x00, 0x80};
    s.bridge->flags = {0x01};
    s.bridge->axisOrder = {1, 0, 2, 3, 6};
    {
        World world(s);
        ASSERT_EQ(world.LoadDriver(), STATUS_SUCCESS);
        auto starts = world.StartSticks();
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0].status, STATUS_SUCCESS);
        EXPECT_EQ(starts[0].descriptor.size(), 91u); // two axes and the dials
        auto decoded = zeltest::hid::Decode(starts[0].descriptor);
        ASSERT_TRUE(decoded.ok) << decoded.error;
        EXPECT_EQ(decoded.reports[0].inputBits, 216u);
        EXPECT_EQ(starts[0].attributes[4], 0xA3);
        EXPECT_EQ(starts[0].attributes[6], 0x35);

        // X: 699 us raw; calibrated y = 699 - 10 - 600 = 89, scaled by
        // 490 / 590 to 73. Y has no calibration: 999 us raw.
        const std::vector<uint8_t> bridgeBytes = {3,    0,    4,    9,    0x10, 0x20,
                                                  0x01, 0x00, 0x80, 0x00, 0x80};
        for (int n = 0; n < 2; ++n) { // the flag query, then the order fetch
            auto r = world.Read(0);
            ASSERT_EQ(r.status, STATUS_SUCCESS);
            ASSERT_EQ(r.bytes, 27u);
            EXPECT_EQ(Axis(r.report, 0), 73) << n;
            EXPECT_EQ(Axis(r.report, 1), 999) << n;
            EXPECT_EQ(Axis(r.report, 2), 0);
            EXPECT_EQ(std::vector<uint8_t>(r.report.begin() + 16, r.report.end()), bridgeBytes);
        }
        // The new order swaps the two axes and the dials from now on.
        auto r = world.Read(0);
        EXPECT_EQ(Axis(r.report, 0), 999);
        EXPECT_EQ(Axis(r.report, 1), 73);
        EXPECT_EQ(r.report[20], 0x20);
        EXPECT_EQ(r.report[21], 0x10);
        EXPECT_EQ(world.Bridge()->Count(IOCTL_BRIDGE_GET_AXIS_ORDER), 1);
    }
    EXPECT_TRUE(km::TakeFaults().empty());
}

TEST_F(SystemTest, CounterTooSlowOrTooFastIsRefused) {
    struct Case {
        uint64_t hz;
        NTSTATUS status;
        bool registered;
    };
    // Too slow to time a line, or so fast that a tick rounds to 0 us.
    const Case cases[] = {{10000, STATUS_UNSUCCESSFUL, false},
                          {10001, STATUS_SUCCESS, true},
                          {65536000000ULL, STATUS_SUCCESS, true},
                          {65536000001ULL, STATUS_UNSUCCESSFUL, false}};
    for (const auto& c : cases) {
        Scenario s = TwoAxisStick();
        s.counterHz = c.hz;
        World world(s);
        EXPECT_EQ(world.LoadDriver(), c.status) << c.hz;
        EXPECT_EQ(sim::hid::Registration(world.Driver()) != nullptr, c.registered) << c.hz;
    }
}

TEST_F(SystemTest, FailedRegistrationLeavesTheDriverStateAlone) {
    World world(TwoAxisStick());
    g_Driver = DriverState{};
    sim::hid::SetRegistrationStatus(STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(world.LoadDriver(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(g_Driver.DeviceList.Flink, nullptr);
    EXPECT_NE(g_Driver.CounterScale, 0u); // set before registering
}

TEST_F(SystemTest, RegistrationRecord) {
    World world(TwoAxisStick());
    ASSERT_EQ(world.LoadDriver(), STATUS_SUCCESS);
    const HID_MINIDRIVER_REGISTRATION* r = sim::hid::Registration(world.Driver());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Revision, 1u);
    EXPECT_EQ(r->DriverObject, world.Driver());
    EXPECT_EQ(r->DeviceExtensionSize, sizeof(GameDeviceExtension));
    EXPECT_EQ(r->DevicesArePolled, TRUE);
    EXPECT_EQ(r->Reserved[0] | r->Reserved[1] | r->Reserved[2], 0);
    EXPECT_EQ(sim::hid::MinidriverDispatch(world.Driver(), IRP_MJ_READ), nullptr);
    EXPECT_EQ(sim::hid::MinidriverDispatch(world.Driver(), IRP_MJ_PNP), &DispatchPnp);
}

TEST_F(SystemTest, ReadsAtDispatchLevelStillPollButLeaveTheBridgeAlone) {
    Scenario s = TwoAxisStick();
    s.dispatchLevel = true;
    s.bridge->data[2] = 5;
    World world(s);
    ASSERT_EQ(world.LoadDriver(), STATUS_SUCCESS);
    world.StartSticks();
    auto r = world.Read(0);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(Axis(r.report, 0), 699);
    EXPECT_EQ(r.report[16], 0);
    EXPECT_TRUE(world.Bridge()->requests.empty());
}

// ---- With real threads ----------------------------------------------------------------

// The class driver keeps polling both sticks of a shared port, one poll thread
// per stick, while the remove request for the first arrives; it deletes that
// device object once the remove returned and its poll came back.
TEST_F(SystemTest, PollsRacingTheRemoveRequest) {
    Scenario s = TwoAxisStick();
    s.sticks.push_back(s.sticks[0]);
    const uint32_t secondSet = (4u << 7) | (2u << 10); // lines 3 and 2
    std::memcpy(&s.sticks[1].oemData[16 + 4], &secondSet, 4);
    s.sticks[0].oemData = s.sticks[1].oemData;
    for (int round = 0; round < 200; ++round) {
        World world(s);
        ASSERT_EQ(world.LoadDriver(), STATUS_SUCCESS);
        auto starts = world.StartSticks();
        ASSERT_EQ(starts[1].status, STATUS_SUCCESS);

        std::atomic<int> served[2] = {{0}, {0}}, refused{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> pollers;
        for (int d = 0; d < 2; ++d)
            pollers.emplace_back([&, d] {
                PDEVICE_OBJECT fdo = world.Fdo(d);
                const KIRQL irql = d == 0 ? DISPATCH_LEVEL : PASSIVE_LEVEL;
                while (!stop) {
                    auto read = sim::hid::PollRead(fdo, irql);
                    if (read.status == STATUS_SUCCESS) {
                        ++served[d];
                        continue;
                    }
                    if (read.status == STATUS_DELETE_PENDING)
                        ++refused;
                    else
                        EXPECT_EQ(read.status, STATUS_NO_SUCH_DEVICE); // deleted
                    return;
                }
            });
        while (served[0] < 2 || served[1] < 2)
            std::this_thread::yield();
        EXPECT_EQ(sim::pnp::Remove(world.Pdo(0)).returned, STATUS_SUCCESS);
        pollers[0].join();
        stop = true;
        pollers[1].join();
        EXPECT_EQ(sim::hid::FunctionalDevice(world.Pdo(0)), nullptr);
        EXPECT_NE(sim::hid::FunctionalDevice(world.Pdo(1)), nullptr);
        EXPECT_LE(refused, 1);
        ASSERT_FALSE(HasFailure()) << "round " << round;
    }
}

} // namespace
