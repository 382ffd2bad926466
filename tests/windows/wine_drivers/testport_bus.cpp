// zel_testport.sys: a test bus driver standing in for the game-port enumerator under Wine.
// Root-enumerated, it reports joystick children (at its start one, with the ids that bring
// the dials, on port 0) that the joystick driver's INF matches, and answers each child's
// port-parameters request with its port: four one-shot lines on the real performance
// counter, fired by a write, line n reading 1 until its pulse time has passed. A control
// device lets a test program set the children and each port's line times
// (test_bus_protocol.h). Test scaffolding only, for Windows.
#include "kernel_api.h"
#include "test_bus.h"
#include "test_bus_protocol.h"

namespace {

// The one id that the joystick driver's INF matches for each child.
const WCHAR kChildHardwareId[] = L"GamePort\\VID_06A3&PID_3635";
const WCHAR kChildDeviceId[] = L"Gameport\\zel_testjoy";

struct Port {
    LONGLONG FiredAt; // counter value of the last write
    unsigned PulseUs[4];
    unsigned NeverFalls;
};

using testbus::Role;

struct Extension {
    testbus::DeviceHeader Header;
    // Child:
    zeltest::TestPortChild Setup;
    ULONG Instance;
    bool Reported; // in the bus's current list; once not, its removal deletes it
};

// Driver-wide: one bus serves all ports. The control device and the Plug and Play
// requests both run at PASSIVE_LEVEL; the mutex keeps their view of the children whole.
struct BusState {
    PDEVICE_OBJECT Control;
    PDEVICE_OBJECT Bus;
    PDEVICE_OBJECT Children[zeltest::kMaxTestChildren];
    ULONG ChildCount;
    ULONG NextInstance;
    Port Ports[zeltest::kTestPorts];
    FAST_MUTEX Lock;
};
BusState g_State;

Extension* Ext(PDEVICE_OBJECT device) {
    return static_cast<Extension*>(device->DeviceExtension);
}

Port* PortOf(PVOID context) {
    return static_cast<Port*>(context);
}

UCHAR ReadPort(PVOID context) {
    LARGE_INTEGER frequency;
    const LONGLONG now = KeQueryPerformanceCounter(&frequency).QuadPart;
    const Port* port = PortOf(context);
    const LONGLONG elapsedUs = (now - port->FiredAt) * 1000000 / frequency.QuadPart;
    UCHAR lines = 0xF0; // buttons up (their lines read 1)
    for (int n = 0; n < 4; ++n)
        if ((port->NeverFalls & (1u << n)) || elapsedUs < LONGLONG(port->PulseUs[n]))
            lines |= UCHAR(1u << n);
    return lines;
}

void WritePort(PVOID context, UCHAR) {
    PortOf(context)->FiredAt = KeQueryPerformanceCounter(nullptr).QuadPart;
}

NTSTATUS AcquirePort(PVOID) {
    return STATUS_SUCCESS;
}

void ReleasePort(PVOID) {}

void SetLines(Port& port, const unsigned pulseUs[4], unsigned neverFalls) {
    for (int n = 0; n < 4; ++n)
        port.PulseUs[n] = pulseUs[n];
    port.NeverFalls = neverFalls;
}

// A new child PDO with this setup, not yet reported; null on failure.
PDEVICE_OBJECT CreateChild(PDRIVER_OBJECT driver, const zeltest::TestPortChild& setup) {
    PDEVICE_OBJECT child = testbus::CreateChild(driver, sizeof(Extension));
    if (!child)
        return nullptr;
    Extension* ext = Ext(child);
    ext->Setup = setup;
    ext->Instance = g_State.NextInstance++;
    ext->Reported = true;
    return child;
}

// Replaces the reported children (caller holds the lock). Children that are gone stay
// until the Plug and Play manager removes them.
NTSTATUS ReplaceChildren(PDRIVER_OBJECT driver, const zeltest::TestPortChildren& wanted) {
    if (wanted.Count > zeltest::kMaxTestChildren)
        return STATUS_INVALID_PARAMETER;
    for (ULONG i = 0; i < wanted.Count; ++i)
        if (wanted.Children[i].Port >= zeltest::kTestPorts)
            return STATUS_INVALID_PARAMETER;
    PDEVICE_OBJECT fresh[zeltest::kMaxTestChildren] = {};
    for (ULONG i = 0; i < wanted.Count; ++i) {
        fresh[i] = CreateChild(driver, wanted.Children[i]);
        if (!fresh[i]) {
            for (ULONG j = 0; j < i; ++j)
                IoDeleteDevice(fresh[j]);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    for (ULONG i = 0; i < g_State.ChildCount; ++i)
        Ext(g_State.Children[i])->Reported = false;
    for (ULONG i = 0; i < wanted.Count; ++i)
        g_State.Children[i] = fresh[i];
    g_State.ChildCount = wanted.Count;
    return STATUS_SUCCESS;
}

zeltest::TestPortChildren DefaultChildren() {
    zeltest::TestPortChildren children = {};
    children.Count = 1;
    zeltest::TestPortChild& child = children.Children[0];
    child.Port = 0;
    child.AxisCount = 4;
    child.ButtonCount = 4;
    zeltest::PutOemSet(child.OemData, 0, zeltest::kDialVendor, zeltest::kDialProduct,
                       zeltest::kDefaultFlags, zeltest::kDefaultPollTimeoutUs);
    zeltest::PutOemSet(child.OemData, 1, 0, 0, 0, 0);
    return children;
}

NTSTATUS ChildPnp(PDEVICE_OBJECT device, PIRP irp) {
    Extension* ext = Ext(device);
    if (IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_REMOVE_DEVICE) {
        ExAcquireFastMutex(&g_State.Lock);
        const bool gone = !ext->Reported;
        ExReleaseFastMutex(&g_State.Lock);
        testbus::Complete(irp, STATUS_SUCCESS, 0);
        if (gone)
            IoDeleteDevice(device);
        return STATUS_SUCCESS;
    }
    const testbus::ChildIds ids = {kChildDeviceId, kChildHardwareId, ext->Instance};
    return testbus::ChildPnp(device, irp, ids);
}

NTSTATUS BusPnp(PDEVICE_OBJECT device, PIRP irp) {
    Extension* ext = Ext(device);
    const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    ExAcquireFastMutex(&g_State.Lock);
    // A bus that starts (installed, or plugged in again) reports the default joystick on
    // ports with the default line times.
    if (minor == IRP_MN_START_DEVICE) {
        ReplaceChildren(device->DriverObject, DefaultChildren());
        for (Port& port : g_State.Ports)
            SetLines(port, zeltest::kDefaultPulseUs, 0);
    }
    PDEVICE_OBJECT children[zeltest::kMaxTestChildren];
    const ULONG count = g_State.ChildCount;
    for (ULONG i = 0; i < count; ++i)
        children[i] = g_State.Children[i];
    if (minor == IRP_MN_REMOVE_DEVICE) {
        // The children were removed first; those still listed go with the bus.
        for (ULONG i = 0; i < count; ++i)
            IoDeleteDevice(children[i]);
        g_State.ChildCount = 0;
        g_State.Bus = nullptr;
    }
    ExReleaseFastMutex(&g_State.Lock);
    return testbus::BusPnp(device, irp, ext->Header.Pdo, ext->Header.Lower, children,
                           minor == IRP_MN_REMOVE_DEVICE ? 0 : count);
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    return testbus::PnpByRole(device, irp, BusPnp, ChildPnp);
}

// A child's port parameters: its axes, buttons and OEM data, and its port's functions.
NTSTATUS PortParameters(PDEVICE_OBJECT device, PIRP irp) {
    auto* params = static_cast<PGAMEENUM_PORT_PARAMETERS>(irp->UserBuffer);
    if (!params || params->Size != sizeof(GAMEENUM_PORT_PARAMETERS))
        return testbus::Complete(irp, STATUS_INVALID_PARAMETER, 0);
    const zeltest::TestPortChild& setup = Ext(device)->Setup;
    Port* port = &g_State.Ports[setup.Port];
    params->ReadAccessor = ReadPort;
    params->WriteAccessor = WritePort;
    params->PortContext = port;
    params->Portion = GameenumWhole;
    params->NumberAxis = setup.AxisCount;
    params->UnitId = 0;
    RtlCopyMemory(params->OemData, setup.OemData, sizeof params->OemData);
    params->NumberButtons = setup.ButtonCount;
    params->AcquirePort = AcquirePort;
    params->ReleasePort = ReleasePort;
    params->PortHandle = port;
    return testbus::Complete(irp, STATUS_SUCCESS, sizeof(GAMEENUM_PORT_PARAMETERS));
}

NTSTATUS DispatchInternalDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (Ext(device)->Header.Kind == Role::Child &&
        sp->Parameters.DeviceIoControl.IoControlCode == IOCTL_GAMEENUM_PORT_PARAMETERS)
        return PortParameters(device, irp);
    return testbus::NotOurs(device, irp, STATUS_NOT_SUPPORTED);
}

// The control device's requests from the test program.
NTSTATUS Control(PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const ULONG length = sp->Parameters.DeviceIoControl.InputBufferLength;
    const PVOID input = irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status = STATUS_INVALID_PARAMETER;
    switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_ZELTEST_SET_CHILDREN: {
        if (length != sizeof(zeltest::TestPortChildren))
            break;
        ExAcquireFastMutex(&g_State.Lock);
        PDEVICE_OBJECT bus = g_State.Bus;
        status = bus ? ReplaceChildren(bus->DriverObject,
                                       *static_cast<zeltest::TestPortChildren*>(input))
                     : STATUS_DEVICE_NOT_READY;
        ExReleaseFastMutex(&g_State.Lock);
        if (NT_SUCCESS(status))
            IoInvalidateDeviceRelations(Ext(bus)->Header.Pdo, BusRelations);
        break;
    }
    case IOCTL_ZELTEST_SET_LINES: {
        if (length != sizeof(zeltest::TestPortLines))
            break;
        const auto* lines = static_cast<zeltest::TestPortLines*>(input);
        ExAcquireFastMutex(&g_State.Lock);
        if (lines->Child < g_State.ChildCount) {
            const ULONG port = Ext(g_State.Children[lines->Child])->Setup.Port;
            SetLines(g_State.Ports[port], lines->PulseUs, lines->NeverFalls);
            status = STATUS_SUCCESS;
        }
        ExReleaseFastMutex(&g_State.Lock);
        break;
    }
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    return testbus::Complete(irp, status, 0);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    if (Ext(device)->Header.Kind == Role::Control)
        return Control(irp);
    return testbus::NotOurs(device, irp, STATUS_INVALID_DEVICE_REQUEST);
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDEVICE_OBJECT bus = nullptr;
    const NTSTATUS status = testbus::AddBus(driver, pdo, sizeof(Extension), &bus);
    if (NT_SUCCESS(status)) {
        ExAcquireFastMutex(&g_State.Lock);
        g_State.Bus = bus;
        ExReleaseFastMutex(&g_State.Lock);
    }
    return status;
}

void Unload(PDRIVER_OBJECT) {
    testbus::DeleteControlDevice(g_State.Control, ZELTEST_PORT_LINK_NAME);
}

} // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    RtlZeroMemory(&g_State, sizeof g_State);
    ExInitializeFastMutex(&g_State.Lock);
    for (Port& port : g_State.Ports)
        SetLines(port, zeltest::kDefaultPulseUs, 0);
    g_State.Control = testbus::CreateControlDevice(driver, ZELTEST_PORT_DEVICE_NAME,
                                                   ZELTEST_PORT_LINK_NAME, sizeof(Extension));
    if (!g_State.Control)
        return STATUS_UNSUCCESSFUL;
    testbus::SetDispatch(driver, {DispatchPnp, DispatchDeviceControl, DispatchInternalDeviceControl,
                                  AddDevice, Unload});
    return STATUS_SUCCESS;
}
