// The answers zel_vmd gives from its fixed tables, at every buffer boundary,
// and what the class driver makes of them after a start.
#include "hid_report_decoder.h"
#include "vmd_fixture.h"

namespace zeltest {
namespace {

const std::vector<UCHAR> kHidDescriptor = Hex("09 21 00 01 00 01 22 4D 00");
const std::vector<UCHAR> kReportDescriptor = Hex(
    "05 01 09 06 A1 01 85 01 05 07 19 00 29 E7 15 00 25 01 75 01 95 E8 81 02 C0 05 01 09 02 A1 01"
    "85 02 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 75 05 81 03 05 01 09"
    "30 09 31 15 81 25 7F 75 08 95 02 81 06 C0 C0");
// Size 32, vendor 0x06A3, product 13877 (0x3635), version 0x0101, 22 zero bytes.
const std::vector<UCHAR> kAttributes = [] {
    std::vector<UCHAR> a = Hex("20 00 00 00 A3 06 35 36 01 01");
    a.resize(32, 0);
    return a;
}();

struct BufferCase {
    const char* name;
    ULONG code;
    ULONG length;
    const std::vector<UCHAR>* answer; // null: STATUS_BUFFER_TOO_SMALL expected
};
void PrintTo(const BufferCase& c, std::ostream* os) {
    *os << c.name;
}

class VmdAnswers : public VmdTest, public ::testing::WithParamInterface<BufferCase> {};

TEST_P(VmdAnswers, WritesTheWholeAnswerOrNothing) {
    const BufferCase& c = GetParam();
    Answer a = Ask(c.code, c.length);
    // Whatever the request's status, the dispatch routine reports success.
    EXPECT_EQ(a.result.returned, STATUS_SUCCESS);
    std::vector<UCHAR> expected(128, 0xEE);
    if (c.answer) {
        EXPECT_EQ(a.result.status, STATUS_SUCCESS);
        EXPECT_EQ(a.result.information, c.answer->size());
        std::copy(c.answer->begin(), c.answer->end(), expected.begin());
    } else {
        EXPECT_EQ(a.result.status, STATUS_BUFFER_TOO_SMALL);
        EXPECT_EQ(a.result.information, kPresetInformation) << "byte count must stay as it came";
    }
    EXPECT_EQ(a.buffer, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, VmdAnswers,
    ::testing::Values(
        BufferCase{"HidDescriptor0", IOCTL_HID_GET_DEVICE_DESCRIPTOR, 0, nullptr},
        BufferCase{"HidDescriptor8", IOCTL_HID_GET_DEVICE_DESCRIPTOR, 8, nullptr},
        BufferCase{"HidDescriptor9", IOCTL_HID_GET_DEVICE_DESCRIPTOR, 9, &kHidDescriptor},
        BufferCase{"HidDescriptor64", IOCTL_HID_GET_DEVICE_DESCRIPTOR, 64, &kHidDescriptor},
        BufferCase{"ReportDescriptor76", IOCTL_HID_GET_REPORT_DESCRIPTOR, 76, nullptr},
        BufferCase{"ReportDescriptor77", IOCTL_HID_GET_REPORT_DESCRIPTOR, 77, &kReportDescriptor},
        BufferCase{"ReportDescriptor128", IOCTL_HID_GET_REPORT_DESCRIPTOR, 128, &kReportDescriptor},
        BufferCase{"Attributes31", IOCTL_HID_GET_DEVICE_ATTRIBUTES, 31, nullptr},
        BufferCase{"Attributes32", IOCTL_HID_GET_DEVICE_ATTRIBUTES, 32, &kAttributes},
        BufferCase{"Attributes100", IOCTL_HID_GET_DEVICE_ATTRIBUTES, 100, &kAttributes}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VmdTest, UnsupportedRequestsFailWithoutTouchingAnything) {
    for (ULONG code : {IOCTL_HID_WRITE_REPORT, IOCTL_HID_GET_STRING, IOCTL_HID_ACTIVATE_DEVICE,
                       IOCTL_HID_SEND_IDLE_NOTIFICATION_REQUEST, ULONG(0x220404)}) {
        SCOPED_TRACE(code);
        Answer a = Ask(code, 64);
        EXPECT_EQ(a.result.returned, STATUS_SUCCESS);
        EXPECT_EQ(a.result.status, STATUS_NOT_SUPPORTED);
        EXPECT_EQ(a.result.information, kPresetInformation);
        EXPECT_EQ(a.buffer, std::vector<UCHAR>(128, 0xEE));
    }
    EXPECT_TRUE(sim::Seen(lower, IRP_MJ_INTERNAL_DEVICE_CONTROL).empty()) << "answered, not passed";
}

// The class driver fetches the three answers after the start, as the platform
// does, and an independent decoder reads the keyboard and the mouse out of the
// report descriptor.
TEST_F(VmdTest, ClassDriverGetsAKeyboardAndAMouseAfterStart) {
    ASSERT_EQ(sim::pnp::Start(lower->pdo).status, STATUS_SUCCESS);
    const sim::hid::DeviceInfo info = sim::hid::Device(fdo);
    ASSERT_TRUE(info.started);
    EXPECT_EQ(info.attributes.Size, 32u);
    EXPECT_EQ(info.attributes.VendorID, 0x06A3);
    EXPECT_EQ(info.attributes.ProductID, 13877);
    EXPECT_EQ(info.attributes.VersionNumber, 0x0101);
    EXPECT_EQ(info.hidDescriptor.DescriptorList[0].wReportLength, 77);
    ASSERT_EQ(info.reportDescriptor, kReportDescriptor);

    using namespace zeltest::hid;
    const Descriptor d = Decode(info.reportDescriptor);
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(d.reports.size(), 2u);

    // Three collections: keyboard application, mouse application, and the
    // mouse's pointer inside it.
    ASSERT_EQ(d.collections.size(), 3u);
    EXPECT_EQ(d.collections[0].type, 1);
    EXPECT_EQ(d.collections[0].usage, (Usage{0x01, 0x06}));
    EXPECT_EQ(d.collections[1].type, 1);
    EXPECT_EQ(d.collections[1].usage, (Usage{0x01, 0x02}));
    EXPECT_EQ(d.collections[2].type, 0);
    EXPECT_EQ(d.collections[2].usage, (Usage{0x01, 0x01}));
    EXPECT_EQ(d.collections[2].parent, 1);

    // Report 1: a bitmap of the 232 keyboard usages 0x00 to 0xE7; with the id
    // byte, 30 bytes.
    const Report* keyboard = d.FindReport(1);
    ASSERT_NE(keyboard, nullptr);
    ASSERT_EQ(keyboard->inputs.size(), 1u);
    const Field& keys = keyboard->inputs[0];
    EXPECT_EQ(keys.bitOffset, 0u);
    EXPECT_EQ(keys.size, 1u);
    EXPECT_EQ(keys.count, 232u);
    EXPECT_TRUE(keys.hasRange);
    EXPECT_EQ(keys.usageMin, (Usage{0x07, 0x00}));
    EXPECT_EQ(keys.usageMax, (Usage{0x07, 0xE7}));
    EXPECT_EQ(keys.logicalMin, 0);
    EXPECT_EQ(keys.logicalMax, 1);
    EXPECT_TRUE(keys.variable);
    EXPECT_FALSE(keys.constant || keys.relative || keys.nullState);
    EXPECT_EQ(keys.collection, 0);
    EXPECT_EQ(1 + keyboard->inputBits / 8, 30u);
    EXPECT_EQ(keyboard->inputBits % 8, 0u);

    // Report 2: three buttons, five constant bits, relative X and Y from -127
    // to 127; with the id byte, 4 bytes.
    const Report* mouse = d.FindReport(2);
    ASSERT_NE(mouse, nullptr);
    ASSERT_EQ(mouse->inputs.size(), 3u);
    const Field& buttons = mouse->inputs[0];
    EXPECT_EQ(buttons.bitOffset, 0u);
    EXPECT_EQ(buttons.size, 1u);
    EXPECT_EQ(buttons.count, 3u);
    EXPECT_EQ(buttons.usageMin, (Usage{0x09, 1}));
    EXPECT_EQ(buttons.usageMax, (Usage{0x09, 3}));
    EXPECT_TRUE(buttons.variable);
    EXPECT_FALSE(buttons.constant || buttons.relative);
    const Field& pad = mouse->inputs[1];
    EXPECT_EQ(pad.bitOffset, 3u);
    EXPECT_EQ(pad.size * pad.count, 5u);
    EXPECT_TRUE(pad.constant);
    const Field& motion = mouse->inputs[2];
    EXPECT_EQ(motion.bitOffset, 8u);
    EXPECT_EQ(motion.size, 8u);
    EXPECT_EQ(motion.count, 2u);
    EXPECT_EQ(motion.usages, (std::vector<Usage>{{0x01, 0x30}, {0x01, 0x31}}));
    EXPECT_EQ(motion.logicalMin, -127);
    EXPECT_EQ(motion.logicalMax, 127);
    EXPECT_TRUE(motion.relative && motion.variable && !motion.constant);
    for (const Field& f : mouse->inputs)
        EXPECT_EQ(f.collection, 2);
    EXPECT_EQ(1 + mouse->inputBits / 8, 4u);
    EXPECT_EQ(mouse->inputBits % 8, 0u);
}

} // namespace
} // namespace zeltest
