// Device start: axis assignment, poll timeout, the second joystick on a port,
// the bridge connection and the failures that end a start.
#include "stack_fixture.h"

#include <cstring>

using namespace sim;
using zeltest::Joystick;
using zeltest::StackFixture;

namespace {

class AssignAxesTest : public zeltest::KernelTest {};

TEST_F(AssignAxesTest, SourceCodesMapToLinesAndCountMustMatch) {
    constexpr LONG N = kNoAxisSource;
    struct Case {
        const char* name;
        ULONG flags;
        USHORT axes;
        bool second; // flags in the second set, which is selected
        NTSTATUS status;
        UCHAR mask;
        LONG sources[4];
    };
    const NTSTATUS ok = STATUS_SUCCESS, bad = STATUS_DEVICE_CONFIGURATION_ERROR;
    const Case cases[] = {
        {"flags 0, two axes", 0, 2, false, ok, 0x03, {0, 1, N, N}},
        {"Z code 0", kFlagZ, 3, false, ok, 0x0B, {0, 1, 3, N}},
        {"Z and rudder", kFlagZ | kFlagRudder, 4, false, ok, 0x0F, {0, 1, 3, 2}},
        {"Z takes X's line", kFlagZ | ZCode(2), 3, false, bad, 0x03, {N, 1, 0, N}},
        {"Z takes X's line, one axis fewer", kFlagZ | ZCode(2), 2, false, ok, 0x03, {N, 1, 0, N}},
        {"rudder takes X's line", kFlagRudder | RudderCode(2), 2, false, ok, 0x03, {N, 1, N, 0}},
        {"rudder on Z's line",
         kFlagZ | ZCode(1) | kFlagRudder | RudderCode(1),
         3,
         false,
         bad,
         0x03,
         {0, N, 1, N}},
        {"X code 3", XCode(3), 1, false, bad, 0x02, {N, 1, N, N}},
        {"Y code 5", YCode(5), 1, false, bad, 0x01, {0, N, N, N}},
        {"Z code 6", kFlagZ | ZCode(6), 2, false, bad, 0x03, {0, 1, N, N}},
        {"rudder code 7", kFlagRudder | RudderCode(7), 2, false, bad, 0x03, {0, 1, N, N}},
        {"Z code not looked at", ZCode(7) | RudderCode(3), 2, false, ok, 0x03, {0, 1, N, N}},
        {"count too high", 0, 3, false, bad, 0x03, {0, 1, N, N}},
        {"second set", XCode(4) | YCode(2), 2, true, ok, 0x0C, {3, 2, N, N}},
    };
    for (const auto& c : cases) {
        GameDeviceExtension ext{};
        ext.AxisCount = c.axes;
        ext.UseSecondOemSet = c.second;
        ext.OemData[c.second ? 1 : 0].HardwareFlags = c.flags;
        ext.OemData[c.second ? 0 : 1].HardwareFlags = kFlagZ | ZCode(3); // never read
        EXPECT_EQ(AssignAxes(&ext), c.status) << c.name;
        EXPECT_EQ(ext.AxisMask, c.mask) << c.name;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(ext.AxisSource[i], c.sources[i]) << c.name << " slot " << i;
    }
}

class StartTest : public StackFixture {};

TEST_F(StartTest, StartTakesThePortParameters) {
    GamePort* port = NewPort();
    Joystick& j = AddJoystick(port, 4, kFlagZ | kFlagRudder, 1500, 0x06A3, 13877);
    EXPECT_EQ(Start(j), STATUS_SUCCESS);
    EXPECT_EQ(j.ext->Started, 1);
    EXPECT_EQ(j.child->parameterRequests, 1);
    EXPECT_EQ(j.ext->PortContext, port);
    EXPECT_EQ(j.ext->PortHandle, port);
    EXPECT_EQ(j.ext->ReadAccessor, &PortRead);
    EXPECT_EQ(j.ext->AcquirePort, &PortAcquire);
    EXPECT_EQ(j.ext->AxisCount, 4);
    EXPECT_EQ(0, std::memcmp(j.ext->OemData, j.child->oemData, 32));
    EXPECT_EQ(j.ext->AxisMask, 0x0F);
    EXPECT_EQ(j.ext->ScaledTimeout, 1500u * 65536u);
    EXPECT_EQ(j.ext->SpreadLimit, 25u);
    for (ULONG v : j.ext->LastAxis)
        EXPECT_EQ(v, kAxisFallen);
    EXPECT_EQ(j.ext->BridgeFileObject, nullptr); // no bridge device: still started
}

TEST_F(StartTest, PollTimeoutComesFromTheFirstSet) {
    struct Case {
        ULONG timeout;
        ULONG scaled;
    };
    const Case cases[] = {{0, 655360000},      {99, 655360000},    {100, 6553600},
                          {20000, 1310720000}, {20001, 655360000}, {4321, 4321u * 65536u}};
    for (const auto& c : cases) {
        Joystick& j = AddJoystick(NewPort(), 2, 0, c.timeout);
        EXPECT_EQ(Start(j), STATUS_SUCCESS);
        EXPECT_EQ(j.ext->ScaledTimeout, c.scaled) << c.timeout;
    }
}

TEST_F(StartTest, SecondJoystickOnAStartedPortUsesTheSecondSet) {
    GamePort* port = NewPort();
    port->SetPulseUs(0, 100.5);
    port->SetPulseUs(1, 200.5);
    port->SetPulseUs(2, 300.5);
    port->SetPulseUs(3, 400.5);
    Joystick& first = AddJoystick(port, 2, 0, 1000);
    ASSERT_EQ(Start(first), STATUS_SUCCESS);
    Joystick& second = AddJoystick(port, 2, 0, 500);
    second.child->SetOem(1, 0x1111, 0x2222, XCode(4) | YCode(2), 20000); // lines 3 and 2
    ASSERT_EQ(Start(second), STATUS_SUCCESS);
    EXPECT_EQ(second.ext->UseSecondOemSet, 1);
    EXPECT_EQ(first.ext->UseSecondOemSet, 0);
    EXPECT_EQ(second.ext->AxisMask, 0x0C);
    EXPECT_EQ(second.ext->ScaledTimeout, 500u * 65536u); // not the second set's 20000

    // Both poll the one port, each its own lines.
    for (Joystick* j : {&first, &second}) {
        km::AtIrql(DISPATCH_LEVEL, [&] { EXPECT_EQ(PollDevice(j->ext), STATUS_SUCCESS); });
        km::AdvanceUs(5000);
    }
    EXPECT_EQ(first.ext->LastAxis[0], 99u);
    EXPECT_EQ(first.ext->LastAxis[2], 0u);
    EXPECT_EQ(second.ext->LastAxis[3], 399u);
    EXPECT_EQ(second.ext->LastAxis[0], 0u);
    EXPECT_EQ(port->acquires, 2u);
    EXPECT_EQ(port->readsWhileNotHeld, 0u);
}

TEST_F(StartTest, SharedLinesFailTheSecondStartAndUnlinkIt) {
    GamePort* port = NewPort();
    Joystick& first = AddJoystick(port, 2, 0);
    ASSERT_EQ(Start(first), STATUS_SUCCESS);
    Joystick& second = AddJoystick(port, 2, 0);
    second.child->SetOem(1, 0, 0, XCode(4), 0); // X on line 3, Y on line 1: shared
    EXPECT_EQ(Start(second), STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_EQ(second.ext->Started, 1); // the start was handled
    EXPECT_EQ(second.ext->InDeviceList, 0);
    EXPECT_EQ(g_Driver.DeviceList.Flink, &first.ext->Link);
    EXPECT_EQ(g_Driver.DeviceList.Blink, &first.ext->Link);
    // Removal must not unlink it a second time (the model stops on that).
    Remove(second);
    EXPECT_EQ(g_Driver.DeviceList.Flink, &first.ext->Link);
}

TEST_F(StartTest, ARecordThatIsNotStartedIsNoSibling) {
    // Both records stay in the device list; only a started one is a sibling.
    for (bool stopped : {false, true}) {
        GamePort* port = NewPort();
        Joystick& first = AddJoystick(port, 2, 0);
        if (stopped) {
            ASSERT_EQ(Start(first), STATUS_SUCCESS);
            ASSERT_EQ(SendPnp(first, IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
        }
        ASSERT_EQ(first.ext->InDeviceList, 1);
        Joystick& second = AddJoystick(port, 2, 0);
        second.child->SetOem(1, 0, 0, XCode(4) | YCode(2), 0);
        EXPECT_EQ(Start(second), STATUS_SUCCESS) << "stopped " << stopped;
        EXPECT_EQ(second.ext->UseSecondOemSet, 0) << "stopped " << stopped;
        EXPECT_EQ(second.ext->AxisMask, 0x03) << "stopped " << stopped;
    }
}

TEST_F(StartTest, SecondSetKeptWithoutASiblingSkipsTheOverlapCheck) {
    GamePort* port = NewPort();
    Joystick& first = AddJoystick(port, 2, 0);
    ASSERT_EQ(Start(first), STATUS_SUCCESS);
    Joystick& second = AddJoystick(port, 2, 0);
    second.child->SetOem(1, 0, 0, XCode(4) | YCode(2), 0);
    ASSERT_EQ(Start(second), STATUS_SUCCESS);
    Remove(first);
    second.child->SetOem(1, 0, 0, 0, 0); // lines 0 and 1 now
    EXPECT_EQ(SendPnp(second, IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(Start(second), STATUS_SUCCESS);
    EXPECT_EQ(second.ext->UseSecondOemSet, 1);
    EXPECT_EQ(second.ext->AxisMask, 0x03);
}

TEST_F(StartTest, FailedPortParametersFailTheStart) {
    for (NTSTATUS failure : {STATUS_UNSUCCESSFUL, STATUS_DEVICE_NOT_CONNECTED}) {
        Joystick& j = AddJoystick(NewPort(), 2, 0);
        j.child->parametersAnswer = EnumeratorAnswer::Fail;
        j.child->failStatus = failure;
        EXPECT_EQ(Start(j), failure);
        EXPECT_EQ(j.ext->Started, 1);
        EXPECT_EQ(j.ext->InDeviceList, 0);
        EXPECT_EQ(j.ext->ReadAccessor, nullptr);
    }
    EXPECT_TRUE(IsListEmpty(&g_Driver.DeviceList));
}

// Such a device is marked started but has no port: a read fails as not
// ready, with no byte written, instead of calling a null port accessor.
TEST_F(StartTest, PendingPortParametersAreWaitedFor) {
    Joystick& j = AddJoystick(NewPort(), 3, kFlagZ);
    j.child->parametersAnswer = EnumeratorAnswer::Pend;
    EXPECT_EQ(Start(j), STATUS_SUCCESS);
    EXPECT_EQ(j.ext->AxisCount, 3);
    EXPECT_EQ(j.ext->AxisMask, 0x0B);
}

TEST_F(StartTest, LowerDriversFailingTheStartSkipStartDevice) {
    Joystick& j = AddJoystick(NewPort(), 2, 0);
    j.child->startStatus = STATUS_UNSUCCESSFUL;
    EXPECT_EQ(Start(j), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(j.ext->Started, 1);
    EXPECT_EQ(j.child->parameterRequests, 0);
    EXPECT_EQ(j.ext->InDeviceList, 1);
}

// A start that failed before the port parameters arrived leaves the device
// marked started but without port functions: a read must refuse, not call them.
TEST_F(StartTest, ReadAfterAStartWithoutPortFunctionsIsNotReady) {
    struct Case {
        const char* name;
        NTSTATUS lowerStart;
        EnumeratorAnswer parameters;
    };
    const Case cases[] = {
        {"lower drivers refused the start", STATUS_UNSUCCESSFUL, EnumeratorAnswer::AtOnce},
        {"port parameters failed", STATUS_SUCCESS, EnumeratorAnswer::Fail},
    };
    for (const auto& c : cases) {
        GamePort* port = NewPort();
        Joystick& j = AddJoystick(port, 2, 0);
        j.child->startStatus = c.lowerStart;
        j.child->parametersAnswer = c.parameters;
        EXPECT_FALSE(NT_SUCCESS(Start(j))) << c.name;
        ASSERT_EQ(j.ext->Started, 1) << c.name;
        for (KIRQL irql : {KIRQL(PASSIVE_LEVEL), KIRQL(DISPATCH_LEVEL)}) {
            std::vector<UCHAR> buffer(kReportBytes + 8, 0xEE);
            sim::hid::InternalRequest request;
            request.code = IOCTL_HID_READ_REPORT;
            request.buffer = buffer.data();
            request.outputLength = kReportBytes;
            sim::hid::InternalCall* call = nullptr;
            km::AtIrql(irql, [&] { call = sim::hid::StartInternal(j.fdo, request); });
            const sim::hid::RequestResult r = sim::hid::FinishInternal(call);
            EXPECT_EQ(r.status, STATUS_DEVICE_NOT_READY) << c.name;
            EXPECT_EQ(r.information, 0u) << c.name;
            for (UCHAR b : buffer)
                EXPECT_EQ(b, 0xEE) << c.name;
        }
        EXPECT_EQ(port->writes + port->reads + port->acquires, 0u) << c.name;
    }
}

TEST_F(StartTest, RestartReleasesTheEarlierBridgeReference) {
    bridge = CreateBridge();
    Joystick& j = AddJoystick(NewPort(), 2, 0);
    ASSERT_EQ(Start(j), STATUS_SUCCESS);
    EXPECT_NE(j.ext->BridgeFileObject, nullptr);
    EXPECT_EQ(j.ext->BridgeDeviceObject, bridge->device);
    EXPECT_EQ(km::OpenReferences(bridge->device), 1);
    EXPECT_EQ(SendPnp(j, IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(j.ext->Started, 0);
    EXPECT_EQ(Start(j), STATUS_SUCCESS);
    EXPECT_EQ(j.ext->Started, 1);
    EXPECT_EQ(j.child->parameterRequests, 2);
    EXPECT_EQ(km::OpenReferences(bridge->device), 1);
    Remove(j);
    EXPECT_EQ(km::OpenReferences(bridge->device), 0);
}

} // namespace
