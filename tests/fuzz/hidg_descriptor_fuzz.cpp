// Fuzz target: OEM data and axis counts through the device start and the
// three descriptor requests of the joystick driver.
//
// One or two joysticks share a port (the second reads the second OEM set);
// each has its own 32 OEM bytes, axis count and port-parameters answer (or a
// failure). After
// the starts every device is asked for its HID descriptor, report descriptor
// and attributes with buffers of any length. A report descriptor must decode,
// with the tests' own HID decoder, to exactly the 27-byte input report and
// nothing else, and the HID descriptor must give its length.
#include "fuzz_check.h"
#include "hid_report_decoder.h"
#include "hidg_world.h"

#include <cstring>
#include <vector>

using namespace zelfuzz;

namespace {

ULONG AnswerLength(FuzzedDataProvider& input, ULONG usual) {
    return input.ConsumeBool() ? usual : input.ConsumeIntegralInRange<ULONG>(0, usual + 16);
}

void AskDescriptors(Stick& stick, bool started, FuzzedDataProvider& input) {
    const InternalAnswer hid = SendInternal(stick.fdo, IOCTL_HID_GET_DEVICE_DESCRIPTOR,
                                            AnswerLength(input, sizeof(HID_DESCRIPTOR)));
    const InternalAnswer report = SendInternal(stick.fdo, IOCTL_HID_GET_REPORT_DESCRIPTOR,
                                               AnswerLength(input, kReportDescriptorMax));
    const InternalAnswer attributes =
        SendInternal(stick.fdo, IOCTL_HID_GET_DEVICE_ATTRIBUTES,
                     AnswerLength(input, sizeof(HID_DEVICE_ATTRIBUTES)));
    FUZZ_CHECK(stick.ext->RequestCount == 1);

    USHORT declaredLength = 0;
    if (NT_SUCCESS(hid.sent.status)) {
        FUZZ_CHECK(hid.sent.information == sizeof(HID_DESCRIPTOR));
        HID_DESCRIPTOR d;
        std::memcpy(&d, hid.bytes.data(), sizeof d);
        FUZZ_CHECK(d.bLength == sizeof d && d.bDescriptorType == HID_HID_DESCRIPTOR_TYPE);
        FUZZ_CHECK(d.bNumDescriptors == 1);
        FUZZ_CHECK(d.DescriptorList[0].bReportType == HID_REPORT_DESCRIPTOR_TYPE);
        declaredLength = d.DescriptorList[0].wReportLength;
    }
    if (NT_SUCCESS(report.sent.status)) {
        const auto decoded = zeltest::hid::Decode(report.bytes.data(), report.sent.information);
        if (!decoded.ok)
            std::fprintf(stderr, "decoder: %s\n", decoded.error.c_str());
        FUZZ_CHECK(decoded.ok);
        FUZZ_CHECK(!decoded.usesReportIds);
        FUZZ_CHECK(decoded.reports.size() == 1);
        const auto& r = decoded.reports[0];
        FUZZ_CHECK(r.inputBits == 8 * kReportBytes);
        FUZZ_CHECK(r.outputBits == 0 && r.featureBits == 0);
        if (NT_SUCCESS(hid.sent.status))
            FUZZ_CHECK(declaredLength == report.sent.information);
    }
    if (NT_SUCCESS(attributes.sent.status)) {
        FUZZ_CHECK(attributes.sent.information == sizeof(HID_DEVICE_ATTRIBUTES));
        HID_DEVICE_ATTRIBUTES a;
        std::memcpy(&a, attributes.bytes.data(), sizeof a);
        FUZZ_CHECK(a.Size == sizeof a);
        // After a start the ids come from one of the device's two OEM sets.
        bool fromASet = !started;
        for (int set = 0; set < 2; ++set) {
            USHORT vendor, product;
            std::memcpy(&vendor, stick.child->oemData + 16 * set, 2);
            std::memcpy(&product, stick.child->oemData + 16 * set + 2, 2);
            fromASet = fromASet || (a.VendorID == vendor && a.ProductID == product);
        }
        FUZZ_CHECK(fromASet);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    HidgWorld world;
    Load(world);
    sim::GamePort* port = AddPort(world);
    const int count = input.ConsumeBool() ? 2 : 1;
    for (int i = 0; i < count; ++i) {
        uint8_t oem[32] = {};
        input.ConsumeData(oem, sizeof oem);
        const USHORT axes = input.ConsumeBool() ? input.ConsumeIntegralInRange<USHORT>(0, 4)
                                                : input.ConsumeIntegral<USHORT>();
        Stick& stick = AddStick(world, port, axes, oem);
        // The enumerator answering from another thread is left to the host
        // tests: its thread outlives the input, which libFuzzer takes for a leak.
        if (input.ConsumeIntegralInRange<int>(0, 7) == 0)
            stick.child->parametersAnswer = sim::EnumeratorAnswer::Fail;
    }
    // The class driver asks a device that failed to start nothing more; the
    // driver must still answer such requests soundly.
    std::vector<bool> started;
    for (Stick& stick : world.sticks) {
        RequestSpec start;
        start.minor = IRP_MN_START_DEVICE;
        const Sent sent = Send(stick.fdo, start);
        FUZZ_CHECK(sent.returned == sent.status);
        started.push_back(NT_SUCCESS(sent.status));
    }
    for (size_t i = 0; i < world.sticks.size(); ++i)
        AskDescriptors(world.sticks[i], started[i], input);
    Unload(world);
    return 0;
}
