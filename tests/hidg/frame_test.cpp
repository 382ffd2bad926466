// The driver frame: Plug and Play, power, create, close and system control on
// a joystick stack, and the removal clean-up.
#include "stack_fixture.h"

#include <atomic>
#include <cstring>
#include <thread>

using namespace sim;
using zeltest::Joystick;
using zeltest::StackFixture;

namespace {

class FrameTest : public StackFixture {
  protected:
    NTSTATUS Send(Joystick& j, UCHAR major, UCHAR minor = 0) {
        sim::pnp::Request request;
        request.major = major;
        request.minor = minor;
        request.presetStatus = STATUS_NOT_SUPPORTED;
        request.presetInformation = 0x55;
        const sim::pnp::Result r = sim::pnp::Send(j.fdo, request);
        if (major == IRP_MJ_PNP && minor == IRP_MN_REMOVE_DEVICE)
            j.deleted = !j.kept;
        lastStatus = r.status;
        lastInformation = r.information;
        return r.returned;
    }
    NTSTATUS lastStatus = 0;
    ULONG_PTR lastInformation = 0;
};

TEST_F(FrameTest, AddDeviceLeavesTheRecordReady) {
    Joystick& a = AddJoystick(NewPort(), 2, 0);
    Joystick& b = AddJoystick(NewPort(), 2, 0);
    for (Joystick* j : {&a, &b}) {
        const UCHAR identity[4] = {0, 1, 2, 3};
        EXPECT_EQ(0, std::memcmp(j->ext->AxisOrder, identity, 4));
        EXPECT_EQ(0, std::memcmp(j->ext->SavedAxisOrder, identity, 4));
        EXPECT_EQ(j->ext->DialSource, 9);
        EXPECT_EQ(j->ext->RequestCount, 1);
        EXPECT_EQ(j->ext->BridgeFileObject, nullptr);
        EXPECT_EQ(j->fdo->Flags & DO_DEVICE_INITIALIZING, 0u);
        for (UCHAR byte : j->ext->ReportImage)
            EXPECT_EQ(byte, 0);
    }
    // New records go to the tail.
    EXPECT_EQ(g_Driver.DeviceList.Flink, &a.ext->Link);
    EXPECT_EQ(g_Driver.DeviceList.Blink, &b.ext->Link);
}

TEST_F(FrameTest, StopThenStartRunsTheStartAgain) {
    Joystick& j = AddJoystick(NewPort(), 2, 0);
    std::vector<int> started;
    EXPECT_EQ(Start(j), STATUS_SUCCESS);
    started.push_back(j.ext->Started);
    EXPECT_EQ(Send(j, IRP_MJ_PNP, IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    started.push_back(j.ext->Started);
    EXPECT_EQ(Start(j), STATUS_SUCCESS);
    started.push_back(j.ext->Started);
    EXPECT_EQ(started, (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(j.child->parameterRequests, 2);
    EXPECT_EQ(j.ext->RequestCount, 1);
}

TEST_F(FrameTest, OtherRequestsPassDownWithTheRemoveLockHeld) {
    Joystick& j = AddJoystick(NewPort(), 2, 0);
    EXPECT_EQ(Send(j, IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(j.child->pnpMinors.back(), IRP_MN_QUERY_CAPABILITIES);
    EXPECT_EQ(Send(j, IRP_MJ_POWER, IRP_MN_SET_POWER), STATUS_SUCCESS);
    EXPECT_EQ(j.child->powerRequests, 1);
    EXPECT_EQ(Send(j, IRP_MJ_SYSTEM_CONTROL), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(j.child->systemControlRequests, 1);
    EXPECT_EQ(j.ext->RequestCount, 1);
}

TEST_F(FrameTest, SurpriseRemovalThenRemovalCleansUpOnce) {
    bridge = CreateBridge();
    Joystick& other = AddJoystick(NewPort(), 2, 0);
    Joystick& j = AddJoystick(NewPort(), 2, 0);
    ASSERT_EQ(Start(j), STATUS_SUCCESS);
    ASSERT_EQ(km::OpenReferences(bridge->device), 1);

    EXPECT_EQ(Send(j, IRP_MJ_PNP, IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
    EXPECT_EQ(lastStatus, STATUS_SUCCESS);
    EXPECT_EQ(j.ext->Unlinked, 1);
    EXPECT_EQ(j.ext->Removed, 0);
    EXPECT_EQ(j.ext->BridgeFileObject, nullptr);
    EXPECT_EQ(km::OpenReferences(bridge->device), 0);
    EXPECT_EQ(g_Driver.DeviceList.Flink, &other.ext->Link);
    EXPECT_EQ(g_Driver.DeviceList.Blink, &other.ext->Link);

    // Requests are still accepted until the remove request.
    EXPECT_EQ(Internal(j, IOCTL_HID_GET_DEVICE_ATTRIBUTES, 32).status, STATUS_SUCCESS);
    Remove(j); // a second release or unlink would be a fault of the model
    EXPECT_EQ(j.child->pnpMinors.back(), IRP_MN_REMOVE_DEVICE);
}

TEST_F(FrameTest, AfterRemovalOnlyCreateAndCloseSucceed) {
    Joystick& j = AddJoystick(NewPort(), 2, 0);
    ASSERT_EQ(Start(j), STATUS_SUCCESS);
    KeepAfterRemoval(j);
    EXPECT_EQ(Send(j, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(j.ext->RequestCount, 0);
    struct Case {
        UCHAR major, minor;
        NTSTATUS status;
    };
    const Case cases[] = {
        {IRP_MJ_CREATE, 0, STATUS_SUCCESS},
        {IRP_MJ_CLOSE, 0, STATUS_SUCCESS},
        {IRP_MJ_PNP, IRP_MN_START_DEVICE, STATUS_DELETE_PENDING},
        {IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES, STATUS_DELETE_PENDING},
        {IRP_MJ_POWER, IRP_MN_SET_POWER, STATUS_DELETE_PENDING},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Send(j, c.major, c.minor), c.status) << int(c.major);
        EXPECT_EQ(lastStatus, c.status);
        EXPECT_EQ(lastInformation, 0u);
        EXPECT_EQ(j.ext->RequestCount, 0);
    }
    EXPECT_EQ(j.child->powerRequests, 0);
    DeleteAfterRemoval(j);
}

// ---- With real threads ----------------------------------------------------------------

uint64_t PortReads(sim::GamePort* port) {
    // The port is used only under the driver's port lock.
    KIRQL old = KeAcquireSpinLockRaiseToDpc(&g_Driver.PortLock);
    const uint64_t reads = port->reads;
    KeReleaseSpinLock(&g_Driver.PortLock, old);
    return reads;
}

// Like the HID class driver, one poll thread per device; the remove request
// for one device arrives while both devices are being read.
TEST_F(FrameTest, RemoveReturnsOnlyAfterTheLastReadReleasedItsReference) {
    for (int round = 0; round < 2000; ++round) {
        sim::GamePort* ports[2] = {NewPort(), NewPort()};
        Joystick* sticks[2];
        for (int d = 0; d < 2; ++d) {
            ports[d]->SetPulseUs(0, 50.5);
            ports[d]->SetPulseUs(1, 80.5);
            sticks[d] = &AddJoystick(ports[d], 2, 0);
            ASSERT_EQ(Start(*sticks[d]), STATUS_SUCCESS);
        }
        Joystick& j = *sticks[0];

        std::atomic<int> served{0}, refused{0}, other{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> readers;
        for (int d = 0; d < 2; ++d)
            readers.emplace_back([&, d] {
                while (!stop) {
                    NTSTATUS status = STATUS_SUCCESS;
                    UCHAR report[27];
                    sim::hid::InternalRequest request;
                    request.code = IOCTL_HID_READ_REPORT;
                    request.buffer = report;
                    request.outputLength = sizeof report;
                    request.presetStatus = STATUS_SUCCESS;
                    sim::hid::InternalCall* call = nullptr;
                    km::AtIrql(d == 0 ? DISPATCH_LEVEL : PASSIVE_LEVEL,
                               [&] { call = sim::hid::StartInternal(sticks[d]->fdo, request); });
                    status = sim::hid::FinishInternal(call).status;
                    if (d == 0 && status == STATUS_DELETE_PENDING) {
                        ++refused;
                        return;
                    }
                    ++(status == STATUS_SUCCESS ? served : other);
                }
            });
        while (served < 2)
            std::this_thread::yield();
        KeepAfterRemoval(j); // the reader of the removed device may still be sending
        EXPECT_EQ(SendPnp(j, IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
        // Every read of the removed device that got in has finished with its
        // port by now. (The count itself may still blink to 1 and back: a
        // refused read counts itself in before it sees Removed.)
        const uint64_t readsAtRemoval = PortReads(ports[0]);
        readers[0].join();
        stop = true;
        readers[1].join();
        EXPECT_EQ(PortReads(ports[0]), readsAtRemoval);
        EXPECT_EQ(refused, 1);
        EXPECT_EQ(other, 0);
        const LONG count = j.ext->RequestCount;
        EXPECT_EQ(count, 0);
        EXPECT_EQ(sticks[1]->ext->RequestCount, 1);
        DeleteAfterRemoval(j);
        Remove(*sticks[1]);
        ASSERT_FALSE(HasFailure()) << "round " << round;
    }
}

TEST_F(FrameTest, SurpriseRemovalWhileABridgeRequestIsPending) {
    bridge = CreateBridge();
    for (int round = 0; round < 2000; ++round) {
        Joystick& j = AddJoystick(NewPort(), 2, 0);
        ASSERT_EQ(Start(j), STATUS_SUCCESS);
        bridge->answer = BridgeAnswer::Pend;
        std::thread reader([&] {
            auto a = Internal(j, IOCTL_HID_READ_REPORT, 27);
            EXPECT_EQ(a.status, STATUS_SUCCESS);
        });
        ASSERT_TRUE(WaitForPendingRequest(bridge));
        std::thread surprise(
            [&] { EXPECT_EQ(SendPnp(j, IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS); });
        if (round % 2)
            std::this_thread::yield();
        bridge->answer = BridgeAnswer::AtOnce;
        CompletePending(bridge);
        surprise.join();
        reader.join();
        EXPECT_EQ(bridge->referencesAtLastCompletion, 1);
        EXPECT_EQ(km::OpenReferences(bridge->device), 0);
        Remove(j);
        ASSERT_FALSE(HasFailure()) << "round " << round;
    }
}

} // namespace
