// Fuzz target: sequences of requests against the virtual keyboard and mouse
// driver, in its stack under the simulated HID class driver and above the
// simulated bus driver. Plug and Play requests follow the manager's state
// diagram (pnp_states.h); other minor codes (identity queries of every type,
// also as sent by the stack to itself) come at any point, with power, create,
// close, internal device-control requests of any code and buffer length
// (also too short, and none), reads at PASSIVE_LEVEL and DISPATCH_LEVEL that
// the bus holds until it has a report, reports of any length, and read
// failures of the bus.
//
// After every request: completed exactly once, no kernel rule broken. After
// the removal: every read ever sent has come back, none held anywhere to be
// served later. At the end: nothing leaked.
#include "fuzz_check.h"
#include "hid_class.h"
#include "kernel_model.h"
#include "pnp.h"
#include "pnp_states.h"
#include "request_sender.h"
#include "vmd.h"
#include "vmd_lower_device.h"

#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <memory>
#include <vector>

using namespace zelfuzz;

namespace {

constexpr UCHAR kUntouched = 0xEE;

const ULONG kInternalCodes[] = {
    IOCTL_HID_GET_DEVICE_DESCRIPTOR, IOCTL_HID_GET_REPORT_DESCRIPTOR,
    IOCTL_HID_WRITE_REPORT,          IOCTL_HID_GET_STRING,
    IOCTL_HID_ACTIVATE_DEVICE,       IOCTL_HID_DEACTIVATE_DEVICE,
    IOCTL_HID_GET_DEVICE_ATTRIBUTES, IOCTL_HID_SEND_IDLE_NOTIFICATION_REQUEST};

bool PassiveOnly(ULONG code) {
    return code == IOCTL_HID_GET_DEVICE_DESCRIPTOR || code == IOCTL_HID_GET_REPORT_DESCRIPTOR ||
           code == IOCTL_HID_GET_DEVICE_ATTRIBUTES;
}

// A read of ours, possibly held by the bus.
struct Read {
    PendingRequest* request;
    std::unique_ptr<UCHAR[]> buffer;
    ULONG length;
};

void FinishRead(Read& read) {
    const Sent sent = Finish(read.request);
    const ULONG_PTR written = NT_SUCCESS(sent.status) ? sent.information : 0;
    FUZZ_CHECK(written <= read.length);
    for (ULONG i = ULONG(written); i < read.length; ++i)
        FUZZ_CHECK(read.buffer[i] == kUntouched);
}

// Frees the reads that have come back.
void CollectReads(std::vector<Read>& reads) {
    for (size_t i = 0; i < reads.size();) {
        if (Completed(reads[i].request)) {
            FinishRead(reads[i]);
            reads.erase(reads.begin() + long(i));
        } else {
            ++i;
        }
    }
}

void StartRead(PDEVICE_OBJECT fdo, std::vector<Read>& reads, FuzzedDataProvider& input) {
    Read read;
    read.length = input.ConsumeIntegralInRange<ULONG>(0, 64);
    read.buffer.reset(new UCHAR[read.length ? read.length : 1]);
    std::memset(read.buffer.get(), kUntouched, read.length);
    RequestSpec spec;
    spec.major = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    spec.code = IOCTL_HID_READ_REPORT;
    spec.buffer = read.buffer.get();
    spec.outputLength = read.length;
    spec.presetInformation = 0;
    spec.irql = input.ConsumeBool() ? DISPATCH_LEVEL : PASSIVE_LEVEL;
    read.request = Start(fdo, spec);
    reads.push_back(std::move(read));
}

Sent SendPnp(PDEVICE_OBJECT fdo, UCHAR minor, FuzzedDataProvider& input) {
    RequestSpec spec;
    spec.minor = minor;
    if (minor == IRP_MN_QUERY_ID) {
        spec.idType = BUS_QUERY_ID_TYPE(input.ConsumeIntegralInRange<int>(0, 6));
        if (input.ConsumeBool())
            spec.sender = fdo;
    }
    const Sent sent = Send(fdo, spec);
    if (sent.returned != STATUS_PENDING)
        FUZZ_CHECK(sent.returned == sent.status);
    // An identity reply belongs to the requester.
    if (minor == IRP_MN_QUERY_ID && NT_SUCCESS(sent.status) && sent.information)
        ExFreePool(reinterpret_cast<PVOID>(sent.information));
    return sent;
}

void QueueAnyReport(sim::VmdLowerDevice* lower, FuzzedDataProvider& input) {
    std::vector<UCHAR> report;
    switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        report =
            sim::KeyboardReport({input.ConsumeIntegral<UCHAR>(), input.ConsumeIntegral<UCHAR>()});
        break;
    case 1:
        report = sim::MouseReport(input.ConsumeIntegral<UCHAR>(), input.ConsumeIntegral<int8_t>(),
                                  input.ConsumeIntegral<int8_t>());
        break;
    default:
        report = input.ConsumeBytes<UCHAR>(input.ConsumeIntegralInRange<size_t>(0, 40));
        break;
    }
    sim::QueueReport(lower, report);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    km::Reset();
    PDRIVER_OBJECT driver = km::CreateDriverObject(u"\\Driver\\zel_vmd");
    UNICODE_STRING path;
    RtlInitUnicodeString(&path,
                         u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zel_vmd");
    sim::VmdLowerDevice* lower = sim::CreateVmdLowerDevice();
    if (input.ConsumeIntegralInRange<int>(0, 7) == 0)
        lower->startStatus = STATUS_UNSUCCESSFUL;
    FUZZ_CHECK(DriverEntry(driver, &path) == STATUS_SUCCESS);
    FUZZ_CHECK(sim::pnp::AddDevice(driver, lower->pdo) == STATUS_SUCCESS);
    const PDEVICE_OBJECT fdo = sim::hid::FunctionalDevice(lower->pdo);
    FUZZ_CHECK(fdo != nullptr);

    std::vector<Read> reads;
    PnpState state = PnpState::NotStarted;
    while (state != PnpState::Removed && input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: {
            const PnpStep step = PickStep(state, input);
            const Sent sent = SendPnp(fdo, step.minor, input);
            state = NT_SUCCESS(sent.status) ? step.next : step.ifFailed;
            break;
        }
        case 1: {
            const UCHAR minor =
                input.ConsumeBool() ? UCHAR(IRP_MN_QUERY_ID) : input.ConsumeIntegral<UCHAR>();
            if (!ChangesState(minor))
                SendPnp(fdo, minor, input);
            break;
        }
        case 2: {
            RequestSpec spec;
            spec.major = IRP_MJ_POWER;
            spec.minor = input.ConsumeIntegralInRange<UCHAR>(0, 3);
            spec.powerType = input.ConsumeBool() ? DevicePowerState : SystemPowerState;
            spec.powerState = input.ConsumeIntegralInRange<ULONG>(0, 6);
            const Sent sent = Send(fdo, spec);
            FUZZ_CHECK(sent.returned == sent.status);
            break;
        }
        case 3: {
            RequestSpec spec;
            spec.major = input.ConsumeBool() ? IRP_MJ_CREATE : IRP_MJ_CLOSE;
            const Sent sent = Send(fdo, spec);
            FUZZ_CHECK(sent.returned == sent.status);
            break;
        }
        case 4: {
            ULONG code = input.ConsumeBool() ? input.PickValueInArray(kInternalCodes)
                                             : input.ConsumeIntegral<ULONG>();
            if (code == IOCTL_HID_READ_REPORT)
                code = IOCTL_HID_WRITE_REPORT; // reads go through StartRead: they may be held
            const KIRQL irql =
                !PassiveOnly(code) && input.ConsumeBool() ? DISPATCH_LEVEL : PASSIVE_LEVEL;
            const bool none = input.ConsumeIntegralInRange<int>(0, 7) == 0;
            SendInternal(fdo, code, input.ConsumeIntegralInRange<ULONG>(0, 128), irql, none);
            break;
        }
        case 5:
            QueueAnyReport(lower, input);
            break;
        case 6:
            lower->readFailure = input.ConsumeBool() ? STATUS_SUCCESS : STATUS_DEVICE_NOT_CONNECTED;
            break;
        default:
            StartRead(fdo, reads, input);
            break;
        }
        CollectReads(reads);
    }
    // The manager's way out of any other state: surprise removal, then removal.
    if (state != PnpState::Removed) {
        if (state != PnpState::NotStarted && state != PnpState::SurpriseRemoved)
            SendPnp(fdo, IRP_MN_SURPRISE_REMOVAL, input);
        SendPnp(fdo, IRP_MN_REMOVE_DEVICE, input);
    }
    // The removal deleted the device: every read must be back by now.
    FUZZ_CHECK(sim::hid::FunctionalDevice(lower->pdo) == nullptr);
    for (Read& read : reads) {
        FUZZ_CHECK(Completed(read.request));
        FinishRead(read);
    }
    FUZZ_CHECK(sim::HeldReads(lower) == 0);
    sim::hid::Unregister(driver);
    sim::DestroyVmdLowerDevice(lower);
    km::DeleteDriverObject(driver);
    CheckModelClean();
    km::Reset();
    return 0;
}
