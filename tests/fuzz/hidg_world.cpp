// The joystick driver's world for the fuzz targets.
#include "hidg_world.h"

#include "fuzz_check.h"
#include "hid_class.h"
#include "kernel_model.h"

#include <cstring>

namespace zelfuzz {

const char16_t kCalibrationKey[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\MediaProperties\\"
    u"PrivateProperties\\Joystick\\Calibrado";

namespace {

HidgWorld* g_world = nullptr; // the bridge's dispatch routine finds its input here

BridgeReply NextReply(FuzzedDataProvider& input) {
    BridgeReply r;
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        r.status = STATUS_SUCCESS;
        break;
    case 1:
        r.status = STATUS_UNSUCCESSFUL;
        break;
    case 2:
        r.status = STATUS_BUFFER_OVERFLOW; // a warning: not a success
        break;
    default:
        r.status = input.ConsumeIntegral<NTSTATUS>();
        if (r.status == STATUS_PENDING)
            r.status = STATUS_SUCCESS;
        break;
    }
    r.information = input.ConsumeBool() ? input.ConsumeIntegralInRange<ULONG>(0, 16)
                                        : input.ConsumeIntegral<ULONG>();
    r.returnPending = input.ConsumeBool();
    input.ConsumeData(r.bytes, sizeof r.bytes);
    return r;
}

NTSTATUS BridgeDispatch(PDEVICE_OBJECT device, PIRP irp) {
    ++g_world->bridgeRequests;
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const ULONG room = sp->Parameters.DeviceIoControl.OutputBufferLength;
    const BridgeReply r = NextReply(*g_world->input);
    // Bytes go into the system buffer as far as it reaches; the byte count is
    // whatever the reply claims (the copy back to the caller is bounded by
    // the caller's length).
    const ULONG n = room < sizeof r.bytes ? room : ULONG(sizeof r.bytes);
    if (irp->AssociatedIrp.SystemBuffer)
        std::memcpy(irp->AssociatedIrp.SystemBuffer, r.bytes, n);
    irp->IoStatus.Status = r.status;
    irp->IoStatus.Information = r.information;
    if (r.returnPending)
        IoMarkIrpPending(irp);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return r.returnPending ? STATUS_PENDING : r.status;
}

} // namespace

void Load(HidgWorld& world) {
    km::Reset();
    km::SetCounterFrequency(1000000);
    g_Driver = DriverState{};
    g_world = &world;
    world.driver = km::CreateDriverObject(u"\\Driver\\zel_hidg");
    UNICODE_STRING path;
    RtlInitUnicodeString(&path,
                         u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zel_hidg");
    FUZZ_CHECK(DriverEntry(world.driver, &path) == STATUS_SUCCESS);
    // The stacks are built without the HID class driver: the driver's own
    // entries go back where DriverEntry put them.
    for (UCHAR major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major)
        world.driver->MajorFunction[major] = sim::hid::MinidriverDispatch(world.driver, major);
    world.driver->DriverExtension->AddDevice = sim::hid::MinidriverAddDevice(world.driver);
    world.driver->DriverUnload = sim::hid::MinidriverUnload(world.driver);
    sim::hid::Unregister(world.driver);
    world.enumerator = sim::CreateEnumerator();
}

void AddBridge(HidgWorld& world, FuzzedDataProvider* input) {
    world.input = input;
    world.bridgeDriver = km::CreateDriverObject(u"\\Driver\\ZelFuzzBridge");
    world.bridgeDriver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = BridgeDispatch;
    world.bridgeDriver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = BridgeDispatch;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\Zel_VmdF");
    FUZZ_CHECK(IoCreateDevice(world.bridgeDriver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE,
                              &world.bridge) == STATUS_SUCCESS);
    world.bridge->Flags &= ~DO_DEVICE_INITIALIZING;
}

sim::GamePort* AddPort(HidgWorld& world) {
    world.ports.push_back(std::make_unique<sim::GamePort>());
    return world.ports.back().get();
}

void ShapePort(sim::GamePort& port, FuzzedDataProvider& input) {
    for (int line = 0; line < 4; ++line) {
        port.kind[line] = sim::LineKind(input.ConsumeIntegralInRange<int>(0, 2));
        port.pulsePs[line] = input.ConsumeIntegralInRange<uint64_t>(0, 25000) * (km::kPsPerUs / 8);
    }
    // Slow accesses keep a poll that runs to its time-out (10 ms at most) short
    // in steps: the fuzzer looks for faults, not for precision.
    port.accessCostPs = input.ConsumeIntegralInRange<uint64_t>(16, 256) * km::kPsPerUs;
    port.upperBits = input.ConsumeIntegral<UCHAR>() | 0x0F;
}

Stick& AddStick(HidgWorld& world, sim::GamePort* port, USHORT axes, const uint8_t oem[32]) {
    Stick s;
    s.child = sim::AddChild(world.enumerator, port);
    s.child->numberAxis = axes;
    std::memcpy(s.child->oemData, oem, sizeof s.child->oemData);
    const ULONG size = sizeof(HID_DEVICE_EXTENSION) + sizeof(GameDeviceExtension);
    FUZZ_CHECK(IoCreateDevice(world.driver, size, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &s.fdo) ==
               STATUS_SUCCESS);
    auto* hid = static_cast<PHID_DEVICE_EXTENSION>(s.fdo->DeviceExtension);
    hid->PhysicalDeviceObject = s.child->pdo;
    hid->NextDeviceObject = IoAttachDeviceToDeviceStack(s.fdo, s.child->pdo);
    hid->MiniDeviceExtension = hid + 1;
    s.ext = static_cast<GameDeviceExtension*>(hid->MiniDeviceExtension);
    FUZZ_CHECK(AddDevice(world.driver, s.fdo) == STATUS_SUCCESS);
    world.sticks.push_back(s);
    return world.sticks.back();
}

void Remove(Stick& stick) {
    RequestSpec spec;
    spec.minor = IRP_MN_REMOVE_DEVICE;
    const Sent sent = Send(stick.fdo, spec);
    FUZZ_CHECK(sent.returned == STATUS_SUCCESS);
    stick.removed = true;
    FUZZ_CHECK(stick.ext->RequestCount == 0); // every reference is given back
}

void DeleteDevice(Stick& stick) {
    IoDetachDevice(stick.child->pdo);
    IoDeleteDevice(stick.fdo);
    stick.deleted = true;
}

void Unload(HidgWorld& world) {
    for (Stick& s : world.sticks) {
        if (!s.removed)
            Remove(s);
        if (!s.deleted)
            DeleteDevice(s);
    }
    world.sticks.clear();
    sim::DestroyEnumerator(world.enumerator);
    if (world.bridge)
        IoDeleteDevice(world.bridge);
    km::DeleteDriverObject(world.bridgeDriver);
    km::DeleteDriverObject(world.driver);
    world.ports.clear();
    g_world = nullptr;
    CheckModelClean();
    // The model's own records go too, so that an input frees all it allocated
    // (libFuzzer looks for leaks in every input that does not).
    km::Reset();
}

} // namespace zelfuzz
