// An independent check of every report descriptor the builder can produce:
// the decoder reads the HID items and lays out the fields, and the layout must
// be the 27-byte report the read path fills.
#include "device_fixture.h"
#include "hid_report_decoder.h"

#include <cstddef>

namespace {

using zeltest::hid::Decode;
using zeltest::hid::Field;

class DescriptorLayoutTest : public zeltest::DeviceFixture {};

constexpr uint16_t kSlotPage[4] = {0x01, 0x01, 0x01, 0x02};
constexpr uint16_t kSlotUsage[4] = {0x30, 0x31, 0x32, 0xBA};

TEST_F(DescriptorLayoutTest, EveryFlagCombinationDeclaresTheReportLayout) {
    // The bits the builder and the axis assignment read: Z (0), game pad (5),
    // the X, Y and Z codes (7-15), rudder (19) and its code (20-22).
    for (ULONG combination = 0; combination < (1u << 15); ++combination) {
        const ULONG flags = (combination & 1) | ((combination >> 1 & 1) << 5) |
                            ((combination >> 2 & 0x1FF) << 7) | ((combination >> 11 & 1) << 19) |
                            ((combination >> 12 & 7) << 20);
        for (bool dialIds : {false, true}) {
            ext->OemData[0].HardwareFlags = flags;
            ext->OemData[0].VendorId = 0x06A3;
            ext->OemData[0].ProductId = dialIds ? 13877 : 13876; // one off: no dials
            UCHAR bytes[kReportDescriptorMax];
            USHORT length = 0;
            ASSERT_EQ(BuildReportDescriptor(device, bytes, &length), STATUS_SUCCESS);

            auto d = Decode(bytes, length);
            ASSERT_TRUE(d.ok) << d.error << " flags " << std::hex << flags;
            ASSERT_FALSE(d.usesReportIds);
            ASSERT_EQ(d.reports.size(), 1u);
            const auto& report = d.reports[0];
            ASSERT_EQ(report.inputBits, 8 * sizeof(HidInputReport)) << std::hex << flags;
            ASSERT_EQ(report.inputs.size(), 4u + 4u + 2u + 1u);

            // Axis fields: the assigned slots first, in slot order, each fed
            // by the line that AxisSource now names; the rest constant. Which
            // slots are assigned comes from the assignment itself.
            GameDeviceExtension probe = *ext;
            AssignAxes(&probe);
            int n = 0;
            for (int slot = 0; slot < 4; ++slot) {
                if (probe.AxisSource[slot] >= kNoAxisSource)
                    continue;
                const Field& f = report.inputs[n];
                EXPECT_EQ(f.bitOffset, offsetof(HidInputReport, Axis) * 8 + 32u * n);
                EXPECT_EQ(f.size, 32u);
                EXPECT_EQ(f.count, 1u);
                EXPECT_FALSE(f.constant);
                EXPECT_TRUE(f.variable && !f.relative);
                ASSERT_EQ(f.usages.size(), 1u);
                EXPECT_EQ(f.usages[0].page, kSlotPage[slot]);
                EXPECT_EQ(f.usages[0].id, kSlotUsage[slot]);
                EXPECT_EQ(f.logicalMin, 0);
                EXPECT_EQ(f.logicalMax, 20000);
                EXPECT_EQ(ext->AxisSource[n], probe.AxisSource[slot]);
                ++n;
            }
            for (int k = n; k < 4; ++k) {
                EXPECT_TRUE(report.inputs[k].constant);
                EXPECT_EQ(report.inputs[k].bitOffset, 32u * k);
                EXPECT_EQ(report.inputs[k].size, 32u);
            }

            const int hatMax[4] = {8, 8, 4, 4};
            for (int h = 0; h < 4; ++h) {
                const Field& f = report.inputs[4 + h];
                EXPECT_EQ(f.bitOffset, (offsetof(HidInputReport, Hat) + h) * 8);
                EXPECT_EQ(f.size, 8u);
                EXPECT_TRUE(f.nullState && f.variable && !f.constant);
                ASSERT_EQ(f.usages.size(), 1u);
                EXPECT_EQ(f.usages[0].id, 0x39);
                EXPECT_EQ(f.logicalMin, 1);
                EXPECT_EQ(f.logicalMax, hatMax[h]);
            }
            for (int k = 0; k < 2; ++k) {
                const Field& f = report.inputs[8 + k];
                EXPECT_EQ(f.bitOffset, (offsetof(HidInputReport, Dial) + k) * 8);
                EXPECT_EQ(f.size, 8u);
                EXPECT_EQ(f.constant, !dialIds);
                if (dialIds) {
                    ASSERT_EQ(f.usages.size(), 1u);
                    EXPECT_EQ(f.usages[0].id, 0x37);
                    EXPECT_EQ(f.logicalMinRaw, 0u);
                    EXPECT_EQ(f.logicalMaxRaw, 0xFFu);
                }
            }
            const Field& buttons = report.inputs[10];
            EXPECT_EQ(buttons.bitOffset, offsetof(HidInputReport, Buttons) * 8);
            EXPECT_EQ(buttons.size, 1u);
            EXPECT_EQ(buttons.count, 40u);
            EXPECT_EQ(buttons.usagePage, 0x09);
            EXPECT_TRUE(buttons.hasRange);
            EXPECT_EQ(buttons.usageMin.id, 1);
            EXPECT_EQ(buttons.usageMax.id, 40);
            EXPECT_EQ(length, (dialIds ? 83 : 79) + 4 * n);
            if (HasFailure())
                FAIL() << "flags " << std::hex << flags << " dial ids " << dialIds;
        }
    }
}

} // namespace
