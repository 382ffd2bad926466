// Fuzz target: sequences of requests against the joystick driver. Plug and
// Play requests follow the manager's state diagram (pnp_states.h), other
// minor codes come at any point, and between them power, create, close,
// system control and internal device-control requests with any code and any
// buffer length (also too short, and none), reads at PASSIVE_LEVEL and
// DISPATCH_LEVEL, with a bridge answering anything. The bus below may fail
// the start and the port-parameters request.
//
// After every request: completed exactly once (request_sender.h), the remove
// lock back at the device's own reference, no kernel rule broken. After the
// removal: every request fails without touching its buffer, the port or the
// bridge. At the end: nothing leaked.
#include "fuzz_check.h"
#include "hidg_world.h"
#include "kernel_model.h"
#include "pnp_states.h"

using namespace zelfuzz;

namespace {

const ULONG kInternalCodes[] = {IOCTL_HID_GET_DEVICE_DESCRIPTOR,
                                IOCTL_HID_GET_REPORT_DESCRIPTOR,
                                IOCTL_HID_READ_REPORT,
                                IOCTL_HID_WRITE_REPORT,
                                IOCTL_HID_GET_STRING,
                                IOCTL_HID_ACTIVATE_DEVICE,
                                IOCTL_HID_DEACTIVATE_DEVICE,
                                IOCTL_HID_GET_DEVICE_ATTRIBUTES,
                                IOCTL_HID_SEND_IDLE_NOTIFICATION_REQUEST};

// Codes the driver answers only at PASSIVE_LEVEL, as the class driver sends them.
bool PassiveOnly(ULONG code) {
    return code == IOCTL_HID_GET_DEVICE_DESCRIPTOR || code == IOCTL_HID_GET_REPORT_DESCRIPTOR ||
           code == IOCTL_HID_GET_DEVICE_ATTRIBUTES;
}

Sent SendPlain(Stick& stick, UCHAR major, UCHAR minor, FuzzedDataProvider& input) {
    RequestSpec spec;
    spec.major = major;
    spec.minor = minor;
    if (major == IRP_MJ_POWER) {
        spec.powerType = input.ConsumeBool() ? DevicePowerState : SystemPowerState;
        spec.powerState = input.ConsumeIntegralInRange<ULONG>(0, 6);
    }
    const Sent sent = Send(stick.fdo, spec);
    if (sent.returned != STATUS_PENDING)
        FUZZ_CHECK(sent.returned == sent.status);
    return sent;
}

InternalAnswer SendAnyInternal(Stick& stick, FuzzedDataProvider& input) {
    const ULONG code = input.ConsumeBool() ? input.PickValueInArray(kInternalCodes)
                                           : input.ConsumeIntegral<ULONG>();
    const KIRQL irql = !PassiveOnly(code) && input.ConsumeBool() ? DISPATCH_LEVEL : PASSIVE_LEVEL;
    const bool none = input.ConsumeIntegralInRange<int>(0, 7) == 0;
    const ULONG length = input.ConsumeIntegralInRange<ULONG>(0, 300);
    return SendInternal(stick.fdo, code, length, irql, none);
}

// Requests that reach the device after its removal: none may be served.
void AfterRemoval(HidgWorld& world, Stick& stick, sim::GamePort& port, FuzzedDataProvider& input) {
    const uint64_t portReads = port.reads;
    const int bridgeRequests = world.bridgeRequests;
    for (int i = input.ConsumeIntegralInRange<int>(0, 3); i > 0; --i) {
        const InternalAnswer answer = SendAnyInternal(stick, input);
        FUZZ_CHECK(!NT_SUCCESS(answer.sent.status));
        FUZZ_CHECK(stick.ext->RequestCount == 0);
    }
    const Sent pnp = SendPlain(stick, IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES, input);
    FUZZ_CHECK(!NT_SUCCESS(pnp.status));
    FUZZ_CHECK(port.reads == portReads);
    FUZZ_CHECK(world.bridgeRequests == bridgeRequests);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    HidgWorld world;
    Load(world);
    sim::GamePort* port = AddPort(world);
    ShapePort(*port, input);
    uint8_t oem[32] = {};
    input.ConsumeData(oem, sizeof oem);
    if (input.ConsumeBool())
        AddBridge(world, &input);
    Stick& stick = AddStick(world, port, input.ConsumeIntegralInRange<USHORT>(0, 5), oem);
    if (input.ConsumeIntegralInRange<int>(0, 7) == 0)
        stick.child->startStatus = STATUS_UNSUCCESSFUL;
    if (input.ConsumeIntegralInRange<int>(0, 7) == 0)
        stick.child->parametersAnswer = sim::EnumeratorAnswer::Fail;

    PnpState state = PnpState::NotStarted;
    while (state != PnpState::Removed && input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: {
            const PnpStep step = PickStep(state, input);
            if (step.minor == IRP_MN_REMOVE_DEVICE) {
                Remove(stick);
                state = PnpState::Removed;
                break;
            }
            const Sent sent = SendPlain(stick, IRP_MJ_PNP, step.minor, input);
            state = NT_SUCCESS(sent.status) ? step.next : step.ifFailed;
            break;
        }
        case 1: {
            const UCHAR minor = input.ConsumeIntegral<UCHAR>();
            if (!ChangesState(minor))
                SendPlain(stick, IRP_MJ_PNP, minor, input);
            break;
        }
        case 2:
            SendPlain(stick, IRP_MJ_POWER, input.ConsumeIntegralInRange<UCHAR>(0, 3), input);
            break;
        case 3:
            SendPlain(stick, input.ConsumeBool() ? IRP_MJ_CREATE : IRP_MJ_CLOSE, 0, input);
            break;
        case 4:
            SendPlain(stick, IRP_MJ_SYSTEM_CONTROL, 0, input);
            break;
        case 5:
            SendAnyInternal(stick, input);
            break;
        default: {
            const KIRQL irql = input.ConsumeBool() ? DISPATCH_LEVEL : PASSIVE_LEVEL;
            const InternalAnswer read =
                SendInternal(stick.fdo, IOCTL_HID_READ_REPORT, kReportBytes, irql);
            if (NT_SUCCESS(read.sent.status))
                FUZZ_CHECK(read.sent.information == kReportBytes);
            break;
        }
        }
        if (state != PnpState::Removed)
            FUZZ_CHECK(stick.ext->RequestCount == 1);
    }
    // The manager's way out of any other state: surprise removal, then removal.
    if (state != PnpState::Removed) {
        if (state != PnpState::NotStarted && state != PnpState::SurpriseRemoved)
            SendPlain(stick, IRP_MJ_PNP, IRP_MN_SURPRISE_REMOVAL, input);
        Remove(stick);
    }
    AfterRemoval(world, stick, *port, input);
    Unload(world);
    return 0;
}
