// Read path: port poll, bridge bytes, follow-up steps of the bridge's commands,
// and the guard that keeps the bridge reference alive while a read uses it.
#include "read_fixture.h"

#include <atomic>
#include <thread>

using zeltest::ReadFixture;

namespace {

class ReadReportTest : public ReadFixture {};

TEST_F(ReadReportTest, RefusedReadsWriteNothing) {
    struct Case {
        UCHAR started;
        ULONG length;
        NTSTATUS status;
    };
    // Not started wins over a short buffer.
    const Case cases[] = {
        {0, 10, STATUS_DEVICE_NOT_READY},
        {0, 27, STATUS_DEVICE_NOT_READY},
        {1, 26, STATUS_BUFFER_TOO_SMALL},
        {1, 0, STATUS_BUFFER_TOO_SMALL},
    };
    for (const auto& c : cases) {
        ext->Started = c.started;
        auto r = DoRead(PASSIVE_LEVEL, c.length);
        EXPECT_EQ(r.status, c.status) << int(c.started) << "/" << c.length;
        EXPECT_EQ(r.information, 0u);
        for (UCHAR b : r.buffer)
            EXPECT_EQ(b, 0xEE);
    }
    EXPECT_EQ(port.writes, 0u);
    EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_DATA), 0);
}

TEST_F(ReadReportTest, FullReportWithAxesFromThePollAndTheRestFromTheBridge) {
    for (int k = 0; k < 13; ++k)
        bridge->data[k] = UCHAR(0xA0 + k);
    auto r = DoRead();
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 27u);
    EXPECT_EQ(r.Axis(0), 99u);
    EXPECT_EQ(r.Axis(1), 199u);
    EXPECT_EQ(r.Axis(2), 299u);
    EXPECT_EQ(r.Axis(3), 399u);
    for (int k = 2; k < 13; ++k)
        EXPECT_EQ(r.buffer[14 + k], 0xA0 + k) << "reply byte " << k;
    EXPECT_EQ(r.buffer[27], 0xEE); // nothing past the report
}

TEST_F(ReadReportTest, AxisCountLimitsTheFilledFieldsAndBridgeBytesZeroAndOneAreDropped) {
    ext->AxisCount = 2;
    ext->AxisSource[0] = 3;
    ext->AxisSource[1] = 1;
    bridge->data[0] = 0x11;
    bridge->data[1] = 0x22;
    auto r = DoRead();
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.Axis(0), 399u);
    EXPECT_EQ(r.Axis(1), 199u);
    EXPECT_EQ(r.Axis(2), 0u);
    EXPECT_EQ(r.Axis(3), 0u);
    for (int i = 0; i < 27; ++i)
        EXPECT_TRUE(r.buffer[i] != 0x11 && r.buffer[i] != 0x22) << "byte " << i;
}

TEST_F(ReadReportTest, AxisSourceThatIsNoPortLineLeavesItsFieldZero) {
    ext->AxisSource[1] = kNoAxisSource;
    ext->AxisSource[2] = -1;
    auto r = DoRead();
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.Axis(0), 99u);
    EXPECT_EQ(r.Axis(1), 0u);
    EXPECT_EQ(r.Axis(2), 0u);
    EXPECT_EQ(r.Axis(3), 399u);
}

TEST_F(ReadReportTest, FailedPollTouchesNeitherTheImageNorTheBridge) {
    port.SetLine(2, sim::LineKind::NeverFalls);
    ext->ReportImage[16] = 0x5A;
    auto r = DoRead();
    EXPECT_EQ(r.status, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(r.information, 0u);
    EXPECT_EQ(r.buffer[0], 0xEE);
    EXPECT_EQ(ext->ReportImage[0], 0);
    EXPECT_EQ(ext->ReportImage[16], 0x5A);
    EXPECT_TRUE(bridge->requests.empty());
}

TEST_F(ReadReportTest, TimeoutPollStillDeliversTheWholeReport) {
    port.acquireStatus = STATUS_DEVICE_BUSY;
    bridge->data[12] = 0x80; // button 40
    auto r = DoRead();
    EXPECT_EQ(r.status, STATUS_TIMEOUT);
    EXPECT_EQ(r.information, 27u);
    EXPECT_EQ(r.Axis(0), 0u);
    EXPECT_EQ(r.buffer[26], 0x80);
}

// ---- Commands from the bridge ------------------------------------------------------

TEST_F(ReadReportTest, FlagsSevenTakeThreeReadsAndTheFourthAsksAgain) {
    ext->AxisOrder[0] = 1; // an order fetched earlier
    ext->AxisOrder[1] = 0;
    bridge->flags = {0x07};
    const UCHAR fetched[5] = {3, 2, 1, 0, 6};
    std::memcpy(bridge->axisOrder, fetched, 5);

    // 1: the flag query; raw mode at once.
    DoRead();
    EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_FLAGS), 1);
    const UCHAR identity[4] = {0, 1, 2, 3};
    const UCHAR before[4] = {1, 0, 2, 3};
    EXPECT_EQ(0, std::memcmp(ext->AxisOrder, identity, 4));
    EXPECT_EQ(0, std::memcmp(ext->SavedAxisOrder, before, 4));
    EXPECT_TRUE(ext->AxisOrderUpdatePending && ext->CalibrationReloadPending);

    // 2: the order fetch.
    DoRead();
    EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_AXIS_ORDER), 1);
    EXPECT_EQ(0, std::memcmp(ext->AxisOrder, fetched, 4));
    EXPECT_EQ(ext->DialSource, 6);
    EXPECT_FALSE(ext->AxisOrderUpdatePending);

    // 3: the reload puts back the order from before raw mode.
    DoRead();
    EXPECT_EQ(0, std::memcmp(ext->AxisOrder, before, 4));
    EXPECT_FALSE(ext->CalibrationReloadPending);
    EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_FLAGS), 1);

    // 4: news again.
    DoRead();
    EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_FLAGS), 2);
}

TEST_F(ReadReportTest, OrderAndReloadFlagsWithoutRawMode) {
    ext->AxisOrder[0] = 2;
    ext->AxisOrder[2] = 0;
    bridge->flags = {BRIDGE_FLAG_AXIS_ORDER | BRIDGE_FLAG_RELOAD_CALIBRATION};
    DoRead();
    EXPECT_EQ(ext->AxisOrder[0], 2); // no raw mode
    DoRead();
    EXPECT_EQ(ext->AxisOrder[0], 0); // the fetched identity
    ext->AxisOrder[0] = 3;
    DoRead(); // the reload installs SavedAxisOrder
    EXPECT_EQ(ext->AxisOrder[0], 0);
    DoRead();
    EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_FLAGS), 2);
    EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_AXIS_ORDER), 1);
}

TEST_F(ReadReportTest, UnknownFlagBitsAreIgnored) {
    bridge->flags = {0xF8};
    DoRead();
    DoRead();
    EXPECT_FALSE(ext->AxisOrderUpdatePending);
    EXPECT_FALSE(ext->CalibrationReloadPending);
    EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_FLAGS), 2);
    EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_AXIS_ORDER), 0);
}

TEST_F(ReadReportTest, RawModeTurnsCalibrationOffAndTwoInARowLoseTheOrder) {
    ext->AxisOrder[0] = 1;
    ext->AxisOrder[1] = 0;
    for (int i = 0; i < 4; ++i)
        ext->AxisCalibration[i].Enabled = ext->AxisFilter[i].Enabled = 1;
    bridge->flags = {BRIDGE_FLAG_RAW_MODE, BRIDGE_FLAG_RAW_MODE};
    DoRead();
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(ext->AxisCalibration[i].Enabled || ext->AxisFilter[i].Enabled);
    EXPECT_EQ(ext->SavedAxisOrder[0], 1);
    DoRead();
    EXPECT_EQ(ext->SavedAxisOrder[0], 0); // the identity of the first command
    // Raw positions in field order from the next read on.
    auto r = DoRead();
    EXPECT_EQ(r.Axis(0), 99u);
    EXPECT_EQ(r.Axis(1), 199u);
}

TEST_F(ReadReportTest, ReadsAboveDispatchKeepEverythingPendingUntilAPassiveRead) {
    bridge->data[2] = 0x03; // hat 0
    ext->AxisOrderUpdatePending = 1;
    ext->CalibrationReloadPending = 1;
    for (int i = 0; i < 3; ++i) {
        auto r = DoRead(DISPATCH_LEVEL);
        EXPECT_EQ(r.status, STATUS_SUCCESS);
        EXPECT_EQ(r.buffer[16], 0); // no bridge data at DISPATCH_LEVEL
    }
    EXPECT_TRUE(bridge->requests.empty());
    EXPECT_TRUE(ext->AxisOrderUpdatePending && ext->CalibrationReloadPending);

    auto r = DoRead(PASSIVE_LEVEL);
    EXPECT_EQ(r.buffer[16], 0x03);
    EXPECT_FALSE(ext->AxisOrderUpdatePending);
    EXPECT_TRUE(ext->CalibrationReloadPending); // one follow-up per read
    DoRead(DISPATCH_LEVEL);
    EXPECT_TRUE(ext->CalibrationReloadPending);
    DoRead(PASSIVE_LEVEL);
    EXPECT_FALSE(ext->CalibrationReloadPending);
}

// ---- Bridge answers --------------------------------------------------------------------

TEST_F(ReadReportTest, UnusableDataRepliesKeepThePreviousBytes) {
    bridge->data[5] = 0x44;
    DoRead();
    for (auto answer : {sim::BridgeAnswer::Fail, sim::BridgeAnswer::Short}) {
        bridge->answer = answer;
        bridge->data[5] = 0x99;
        auto r = DoRead();
        EXPECT_EQ(r.status, STATUS_SUCCESS);
        EXPECT_EQ(r.buffer[19], 0x44) << int(answer);
    }
}

TEST_F(ReadReportTest, UnusableOrderRepliesKeepTheOrderAndAskForNewsAgain) {
    struct Case {
        const char* name;
        sim::BridgeAnswer answer;
        UCHAR reply[5];
    };
    const Case cases[] = {
        {"entry above 3", sim::BridgeAnswer::AtOnce, {0, 4, 2, 3, 9}},
        {"dial source above 31", sim::BridgeAnswer::AtOnce, {3, 2, 1, 0, 32}},
        {"failed", sim::BridgeAnswer::Fail, {3, 2, 1, 0, 6}},
        {"short", sim::BridgeAnswer::Short, {3, 2, 1, 0, 6}},
    };
    for (const auto& c : cases) {
        ext->AxisOrderUpdatePending = 1;
        bridge->answer = c.answer;
        std::memcpy(bridge->axisOrder, c.reply, 5);
        const int queries = bridge->Count(IOCTL_BRIDGE_GET_FLAGS);
        DoRead();
        const UCHAR identity[4] = {0, 1, 2, 3};
        EXPECT_EQ(0, std::memcmp(ext->AxisOrder, identity, 4)) << c.name;
        EXPECT_EQ(ext->DialSource, 9) << c.name;
        EXPECT_FALSE(ext->AxisOrderUpdatePending) << c.name;
        bridge->answer = sim::BridgeAnswer::AtOnce;
        DoRead();
        EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_FLAGS), queries + 1) << c.name;
    }
}

TEST_F(ReadReportTest, UnusableFlagRepliesSetNoFlag) {
    for (auto answer : {sim::BridgeAnswer::Fail, sim::BridgeAnswer::Short}) {
        bridge->answer = answer;
        bridge->flags = {0x07};
        DoRead();
        EXPECT_FALSE(ext->AxisOrderUpdatePending || ext->CalibrationReloadPending);
        EXPECT_EQ(ext->SavedAxisOrder[0], 0);
    }
}

TEST_F(ReadReportTest, AbsentBridgeKeepsItsBytesButAReloadStillRuns) {
    ext->ReportImage[22] = 0x01;
    ReleaseBridge(ext);
    ext->CalibrationReloadPending = 1;
    ext->AxisOrderUpdatePending = 0;
    auto r = DoRead();
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.buffer[22], 0x01);
    EXPECT_FALSE(ext->CalibrationReloadPending);
    ext->AxisOrderUpdatePending = 1;
    DoRead();
    EXPECT_TRUE(ext->AxisOrderUpdatePending); // could not be sent
    EXPECT_TRUE(bridge->requests.empty());
}

TEST_F(ReadReportTest, PendingBridgeRequestIsWaitedFor) {
    bridge->answer = sim::BridgeAnswer::Pend;
    bridge->data[3] = 0x07;
    std::thread answerer([&] {
        for (int i = 0; i < 2; ++i) { // the data request, then the flag query
            ASSERT_TRUE(sim::WaitForPendingRequest(bridge));
            sim::CompletePending(bridge);
        }
    });
    auto r = DoRead();
    answerer.join();
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.buffer[17], 0x07);
}

TEST_F(ReadReportTest, ReleaseWaitsForTheRequestInFlightAndLaterReadsSkipTheBridge) {
    for (int round = 0; round < 20; ++round) {
        if (!ext->BridgeFileObject)
            OpenBridge(ext);
        bridge->answer = sim::BridgeAnswer::Pend;
        bridge->referencesAtLastCompletion = -1;
        std::thread reader([&] { DoRead(); });
        ASSERT_TRUE(sim::WaitForPendingRequest(bridge));

        std::atomic<bool> released{false};
        std::thread cleanup([&] {
            ReleaseBridge(ext);
            released = true;
        });
        // Give a release that does not wait every chance to go first.
        std::this_thread::sleep_for(std::chrono::milliseconds(round == 0 ? 50 : 2));
        EXPECT_FALSE(released);
        bridge->answer = sim::BridgeAnswer::AtOnce;
        sim::CompletePending(bridge);
        EXPECT_EQ(bridge->referencesAtLastCompletion, 1); // still held when it completed
        cleanup.join();
        reader.join();
        EXPECT_EQ(ext->BridgeFileObject, nullptr);
        EXPECT_EQ(km::OpenReferences(bridge->device), 0);

        const int before = bridge->Count(IOCTL_BRIDGE_GET_DATA);
        auto r = DoRead();
        EXPECT_EQ(r.status, STATUS_SUCCESS);
        EXPECT_EQ(bridge->Count(IOCTL_BRIDGE_GET_DATA), before);
    }
}

} // namespace
