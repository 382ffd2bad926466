// HID descriptor, report descriptor and attributes as the HID class driver
// asks for them, and the internal-request dispatch around them.
#include "stack_fixture.h"

#include <cstring>

using namespace sim;
using zeltest::Joystick;
using zeltest::StackFixture;

namespace {

std::vector<UCHAR> Hex(const char* text) {
    std::vector<UCHAR> out;
    for (const char* p = text; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back(UCHAR(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
        p += 2;
    }
    return out;
}

const char* const kFourAxesWithDials =
    "05 01 09 04 A1 01 17 00 00 00 00 27 20 4E 00 00 95 01 75 20 05 01 09 30 81 02 05 01 09 31 "
    "81 02 05 01 09 32 81 02 05 02 09 BA 81 02 05 01 75 08 15 01 25 08 09 39 81 42 09 39 81 42 "
    "25 04 09 39 81 42 09 39 81 42 15 00 25 FF 09 37 81 02 09 37 81 02 05 09 19 01 29 28 15 00 "
    "25 01 75 01 95 28 81 02 C0";
const char* const kXYOtherIds =
    "05 01 09 04 A1 01 17 00 00 00 00 27 20 4E 00 00 95 01 75 20 05 01 09 30 81 02 05 01 09 31 "
    "81 02 81 01 81 01 05 01 75 08 15 01 25 08 09 39 81 42 09 39 81 42 25 04 09 39 81 42 09 39 "
    "81 42 15 00 25 FF 81 01 81 01 05 09 19 01 29 28 15 00 25 01 75 01 95 28 81 02 C0";
const char* const kNoAxis =
    "05 01 09 04 A1 01 17 00 00 00 00 27 20 4E 00 00 95 01 75 20 81 01 81 01 81 01 81 01 05 01 "
    "75 08 15 01 25 08 09 39 81 42 09 39 81 42 25 04 09 39 81 42 09 39 81 42 15 00 25 FF 81 01 "
    "81 01 05 09 19 01 29 28 15 00 25 01 75 01 95 28 81 02 C0";

class DescriptorTest : public StackFixture {
  protected:
    std::vector<UCHAR> ReportDescriptor(Joystick& j) {
        auto a = Internal(j, IOCTL_HID_GET_REPORT_DESCRIPTOR, kReportDescriptorMax);
        EXPECT_EQ(a.status, STATUS_SUCCESS);
        return std::vector<UCHAR>(a.buffer.begin(), a.buffer.begin() + a.information);
    }
};

TEST_F(DescriptorTest, FullDescriptorsByteForByte) {
    struct Case {
        const char* name;
        USHORT axes;
        ULONG flags;
        USHORT vendor, product;
        const char* bytes;
        size_t length;
    };
    const Case cases[] = {
        {"four axes, dial ids", 4, kFlagZ | kFlagRudder, 0x06A3, 13877, kFourAxesWithDials, 99},
        {"X and Y, other ids", 2, 0, 0x06A3, 13878, kXYOtherIds, 87},
        {"no axis", 0, XCode(3) | YCode(3), 0x1234, 13877, kNoAxis, 79},
    };
    for (const auto& c : cases) {
        Joystick& j = AddJoystick(NewPort(), c.axes, c.flags, 10000, c.vendor, c.product);
        Start(j);
        auto bytes = ReportDescriptor(j);
        EXPECT_EQ(bytes.size(), c.length) << c.name;
        EXPECT_EQ(bytes, Hex(c.bytes)) << c.name;
    }
}

TEST_F(DescriptorTest, AssignedSlotsMoveToTheFrontWithTheirSources) {
    // Rudder takes line 0, so X loses it; Z is absent: Y and rudder remain.
    Joystick& j = AddJoystick(NewPort(), 2, kFlagRudder | RudderCode(2));
    // The start leaves the sources uncompacted (AssignAxesTest); the class
    // driver's fetch of the descriptors right after it compacts them, and a
    // second build must give the same.
    ASSERT_EQ(Start(j), STATUS_SUCCESS);
    auto bytes = ReportDescriptor(j);
    const auto axes = Hex("05 01 09 31 81 02 05 02 09 BA 81 02 81 01 81 01");
    ASSERT_GE(bytes.size(), 20 + axes.size());
    EXPECT_EQ(std::vector<UCHAR>(bytes.begin() + 20, bytes.begin() + 20 + axes.size()), axes);
    EXPECT_EQ(j.ext->AxisSource[0], 1); // Y's line
    EXPECT_EQ(j.ext->AxisSource[1], 0); // rudder's line
    EXPECT_EQ(bytes.size(), 87u);
}

TEST_F(DescriptorTest, GamePadBitChangesOnlyTheUsage) {
    Joystick& pad = AddJoystick(NewPort(), 2, kFlagGamePad);
    Joystick& stick = AddJoystick(NewPort(), 2, 0);
    Start(pad);
    Start(stick);
    auto a = ReportDescriptor(pad);
    auto b = ReportDescriptor(stick);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(a[3], 0x05);
    EXPECT_EQ(b[3], 0x04);
    a[3] = b[3];
    EXPECT_EQ(a, b);
}

TEST_F(DescriptorTest, DialIdsOnlyCountInTheSelectedSet) {
    GamePort* port = NewPort();
    Joystick& first = AddJoystick(port, 2, 0);
    ASSERT_EQ(Start(first), STATUS_SUCCESS);
    Joystick& second = AddJoystick(port, 2, 0, 10000, 0x06A3, 13877); // ids in set 0
    second.child->SetOem(1, 0x0001, 0x0002, XCode(4) | YCode(2), 0);
    ASSERT_EQ(Start(second), STATUS_SUCCESS);
    EXPECT_EQ(ReportDescriptor(second).size(), 87u);
    auto attributes = Internal(second, IOCTL_HID_GET_DEVICE_ATTRIBUTES, 32);
    HID_DEVICE_ATTRIBUTES a;
    std::memcpy(&a, attributes.buffer.data(), 32);
    EXPECT_EQ(a.VendorID, 0x0001);
    EXPECT_EQ(a.ProductID, 0x0002);
}

TEST_F(DescriptorTest, BufferBoundariesOfTheThreeRequests) {
    Joystick& j = AddJoystick(NewPort(), 4, kFlagZ | kFlagRudder, 10000, 0x06A3, 13877);
    Start(j);
    struct Case {
        ULONG code;
        ULONG length;
        NTSTATUS status;
        ULONG_PTR information; // 0xABCD: left as it came
    };
    const Case cases[] = {
        {IOCTL_HID_GET_DEVICE_DESCRIPTOR, 8, STATUS_BUFFER_TOO_SMALL, 0xABCD},
        {IOCTL_HID_GET_DEVICE_DESCRIPTOR, 9, STATUS_SUCCESS, 9},
        {IOCTL_HID_GET_REPORT_DESCRIPTOR, 98, STATUS_BUFFER_TOO_SMALL, 0xABCD},
        {IOCTL_HID_GET_REPORT_DESCRIPTOR, 99, STATUS_SUCCESS, 99},
        {IOCTL_HID_GET_DEVICE_ATTRIBUTES, 31, STATUS_BUFFER_TOO_SMALL, 0xABCD},
        {IOCTL_HID_GET_DEVICE_ATTRIBUTES, 32, STATUS_SUCCESS, 32},
        {IOCTL_HID_GET_DEVICE_ATTRIBUTES, 40, STATUS_SUCCESS, 32},
    };
    for (const auto& c : cases) {
        auto a = Internal(j, c.code, c.length);
        EXPECT_EQ(a.dispatch, STATUS_SUCCESS);
        EXPECT_EQ(a.status, c.status) << std::hex << c.code << " " << std::dec << c.length;
        EXPECT_EQ(a.information, c.information) << c.length;
        const size_t written = NT_SUCCESS(c.status) ? c.information : 0;
        for (size_t i = written; i < a.buffer.size(); ++i)
            ASSERT_EQ(a.buffer[i], 0xEE) << "byte " << i << " of " << c.length;
    }

    auto hid = Internal(j, IOCTL_HID_GET_DEVICE_DESCRIPTOR, 9);
    EXPECT_EQ(std::vector<UCHAR>(hid.buffer.begin(), hid.buffer.begin() + 9),
              Hex("09 21 01 00 00 01 22 63 00"));
    auto attributes = Internal(j, IOCTL_HID_GET_DEVICE_ATTRIBUTES, 32);
    EXPECT_EQ(std::vector<UCHAR>(attributes.buffer.begin(), attributes.buffer.begin() + 32),
              Hex("20 00 00 00 A3 06 35 36 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                  "00 00 00 00 00 00 00 00"));
}

TEST_F(DescriptorTest, UnsupportedRequestsAndRequestsAfterRemoval) {
    Joystick& j = AddJoystick(NewPort(), 2, 0);
    Start(j);
    auto write = Internal(j, IOCTL_HID_WRITE_REPORT, 16);
    EXPECT_EQ(write.dispatch, STATUS_SUCCESS);
    EXPECT_EQ(write.status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(write.information, 0xABCDu);
    EXPECT_EQ(j.ext->RequestCount, 1);

    KeepAfterRemoval(j);
    EXPECT_EQ(SendPnp(j, IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(j.ext->RequestCount, 0);
    for (ULONG code : {IOCTL_HID_GET_DEVICE_DESCRIPTOR, IOCTL_HID_READ_REPORT}) {
        auto a = Internal(j, code, 64);
        EXPECT_EQ(a.dispatch, STATUS_SUCCESS);
        EXPECT_EQ(a.status, STATUS_DELETE_PENDING);
        EXPECT_EQ(a.information, 0u);
        EXPECT_EQ(a.buffer[0], 0xEE);
        EXPECT_EQ(j.ext->RequestCount, 0);
    }
    DeleteAfterRemoval(j);
}

} // namespace
