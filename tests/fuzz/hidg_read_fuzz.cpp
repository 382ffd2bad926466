// Fuzz target: the joystick's read path. Registry data for the four axes, the
// port's line timings, the device's OEM data and axis count, and a stream of
// bridge replies (data, flags, axis order, each with any status and byte
// count) go through the calibration load and read requests at PASSIVE_LEVEL
// and DISPATCH_LEVEL.
//
// Each read gets a heap block of exactly the length it declares
// (SendInternal): nothing may be written outside it or past the bytes the read
// reports, and a successful read reports exactly the 27-byte report.
#include "fuzz_check.h"
#include "hidg_world.h"
#include "kernel_model.h"

using namespace zelfuzz;

namespace {

void SetCalibrationValues(FuzzedDataProvider& input) {
    const char16_t* names[4] = {u"Eje1", u"Eje2", u"Eje3", u"Eje4"};
    for (const char16_t* name : names) {
        if (!input.ConsumeBool())
            continue;
        const ULONG type = input.ConsumeBool() ? REG_BINARY : input.ConsumeIntegral<ULONG>();
        const size_t length = input.ConsumeIntegralInRange<size_t>(0, 40);
        km::SetRegistryValue(kCalibrationKey, name, type, input.ConsumeBytes<uint8_t>(length));
    }
}

void Read(Stick& stick, FuzzedDataProvider& input) {
    const KIRQL irql = input.ConsumeBool() ? DISPATCH_LEVEL : PASSIVE_LEVEL;
    const ULONG length =
        input.ConsumeBool() ? kReportBytes : input.ConsumeIntegralInRange<ULONG>(0, 64);
    const InternalAnswer answer = SendInternal(stick.fdo, IOCTL_HID_READ_REPORT, length, irql);
    FUZZ_CHECK(stick.ext->RequestCount == 1); // the remove lock is balanced
    if (NT_SUCCESS(answer.sent.status))
        FUZZ_CHECK(answer.sent.information == kReportBytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    HidgWorld world;
    Load(world);
    SetCalibrationValues(input);
    sim::GamePort* port = AddPort(world);
    ShapePort(*port, input);
    uint8_t oem[32] = {};
    input.ConsumeData(oem, sizeof oem);
    const USHORT axes = input.ConsumeBool() ? input.ConsumeIntegralInRange<USHORT>(0, 4)
                                            : input.ConsumeIntegral<USHORT>();
    if (input.ConsumeBool())
        AddBridge(world, &input);
    Stick& stick = AddStick(world, port, axes, oem);

    RequestSpec start;
    start.minor = IRP_MN_START_DEVICE;
    const Sent started = Send(stick.fdo, start);
    FUZZ_CHECK(started.returned == started.status);
    const int reads = input.ConsumeIntegralInRange<int>(1, 8);
    for (int i = 0; i < reads; ++i)
        Read(stick, input);
    Unload(world);
    return 0;
}
