// Read requests: zel_vmd hands them to the driver below untouched and returns
// its result; the reports the driver below produces reach the class driver.
#include "hid_report_decoder.h"
#include "vmd_fixture.h"

#include <set>

namespace zeltest {
namespace {

enum class Below { HasReport, HasNone, Fails };

struct ReadCase {
    const char* name;
    Below below;
    NTSTATUS returned; // what the driver below returns, and so zel_vmd
};
void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class VmdRead : public VmdTest, public ::testing::WithParamInterface<ReadCase> {};

// The device is added but not started, so the class driver has no reads of
// its own below and this is the only one.
TEST_P(VmdRead, ReachesTheDriverBelowUntouchedAndReturnsItsResult) {
    const ReadCase& c = GetParam();
    const std::vector<UCHAR> report = sim::MouseReport(0x05, -127, 127);
    if (c.below == Below::HasReport)
        sim::QueueReport(lower, report);
    if (c.below == Below::Fails)
        lower->readFailure = STATUS_DEVICE_NOT_CONNECTED;

    std::vector<UCHAR> buffer(40, 0xEE);
    UCHAR input[3] = {};
    sim::hid::InternalRequest request;
    request.code = IOCTL_HID_READ_REPORT;
    request.buffer = buffer.data();
    request.outputLength = 33;
    request.inputBuffer = input;
    request.inputLength = 3;
    request.presetStatus = STATUS_NOT_SUPPORTED;
    request.presetInformation = 0x77;
    // Reads come at up to DISPATCH_LEVEL: the path must not touch pageable code.
    sim::hid::InternalCall* call = nullptr;
    km::AtIrql(DISPATCH_LEVEL, [&] { call = sim::hid::StartInternal(fdo, request); });

    EXPECT_EQ(sim::hid::Returned(call), c.returned);
    EXPECT_EQ(sim::LastReadReturn(lower), c.returned);
    const auto seen = sim::Seen(lower, IRP_MJ_INTERNAL_DEVICE_CONTROL);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].code, IOCTL_HID_READ_REPORT);
    EXPECT_EQ(seen[0].userBuffer, buffer.data());
    EXPECT_EQ(seen[0].outputLength, 33u);
    EXPECT_EQ(seen[0].inputBuffer, input);
    EXPECT_EQ(seen[0].inputLength, 3u);
    EXPECT_EQ(seen[0].status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(seen[0].information, 0x77u);

    if (c.below == Below::HasNone) {
        // Held below until a report comes; zel_vmd neither completes nor waits.
        EXPECT_FALSE(sim::hid::Completed(call));
        EXPECT_EQ(sim::HeldReads(lower), 1u);
        sim::QueueReport(lower, report);
    }
    const sim::hid::RequestResult result = sim::hid::FinishInternal(call);
    if (c.below == Below::Fails) {
        EXPECT_EQ(result.status, STATUS_DEVICE_NOT_CONNECTED);
        EXPECT_EQ(buffer, std::vector<UCHAR>(40, 0xEE));
        return;
    }
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    ASSERT_EQ(result.information, 4u);
    EXPECT_EQ(std::vector<UCHAR>(buffer.begin(), buffer.begin() + 4), report);
    EXPECT_EQ(std::vector<UCHAR>(buffer.begin() + 4, buffer.end()), std::vector<UCHAR>(36, 0xEE));
}

INSTANTIATE_TEST_SUITE_P(
    Results, VmdRead,
    ::testing::Values(ReadCase{"ReportWaiting", Below::HasReport, STATUS_SUCCESS},
                      ReadCase{"NoReportYet", Below::HasNone, STATUS_PENDING},
                      ReadCase{"DriverBelowFails", Below::Fails, STATUS_DEVICE_NOT_CONNECTED}),
    [](const auto& info) { return std::string(info.param.name); });

// Keys read back through the descriptor's own layout: bit u of the bitmap
// field, counted from the byte after the report id.
std::set<unsigned> KeysDown(const std::vector<UCHAR>& report, const hid::Field& keys) {
    std::set<unsigned> down;
    for (unsigned i = 0; i < keys.count; ++i) {
        const unsigned bit = keys.bitOffset + i * keys.size;
        if (report[1 + bit / 8] & (1u << (bit % 8)))
            down.insert(keys.usageMin.id + i);
    }
    return down;
}

TEST_F(VmdTest, KeyboardAndMouseReportsReachTheClassDriverIntact) {
    ASSERT_EQ(sim::pnp::Start(lower->pdo).status, STATUS_SUCCESS);
    // Non-polled: the class driver's reads wait below for input.
    EXPECT_EQ(sim::HeldReads(lower), size_t(sim::hid::kOutstandingReads));

    const std::vector<UCHAR> keyboard = sim::KeyboardReport({0x00, 0x04, 0x1D, 0xE1, 0xE7});
    const std::vector<UCHAR> mouse = sim::MouseReport(0x05, -127, 127);
    const std::vector<UCHAR> still = sim::MouseReport(0x00, 0, 0);
    sim::QueueReport(lower, keyboard);
    sim::QueueReport(lower, mouse);
    sim::QueueReport(lower, still); // more reports than reads waiting
    EXPECT_EQ(sim::hid::TakeReports(fdo),
              (std::vector<std::vector<UCHAR>>{keyboard, mouse, still}));
    EXPECT_EQ(sim::HeldReads(lower), size_t(sim::hid::kOutstandingReads)) << "reads sent again";
    EXPECT_TRUE(sim::hid::Device(fdo).readFailures.empty());

    // The reports as the class driver would interpret them.
    const hid::Descriptor d = hid::Decode(sim::hid::Device(fdo).reportDescriptor);
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(keyboard.size(), 1 + d.FindReport(1)->inputBits / 8);
    EXPECT_EQ(keyboard[0], 1);
    EXPECT_EQ(KeysDown(keyboard, d.FindReport(1)->inputs[0]),
              (std::set<unsigned>{0x00, 0x04, 0x1D, 0xE1, 0xE7}));
    ASSERT_EQ(mouse.size(), 1 + d.FindReport(2)->inputBits / 8);
    EXPECT_EQ(mouse[0], 2);
    EXPECT_EQ(mouse[1] & 0x07, 0x05);
    EXPECT_EQ(int8_t(mouse[2]), -127);
    EXPECT_EQ(int8_t(mouse[3]), 127);
}

TEST_F(VmdTest, PowerRequestsPassDownWithTheirParameters) {
    const sim::pnp::Result r = sim::pnp::Power(lower->pdo, IRP_MN_SET_POWER, PowerDeviceD3);
    EXPECT_EQ(r.returned, STATUS_SUCCESS);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    const auto seen = sim::Seen(lower, IRP_MJ_POWER, IRP_MN_SET_POWER);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].status, STATUS_NOT_SUPPORTED) << "passed down as it came";
    EXPECT_EQ(seen[0].powerType, DevicePowerState);
    EXPECT_EQ(seen[0].powerState, ULONG(PowerDeviceD3));
}

} // namespace
} // namespace zeltest
