// Registration, AddDevice, the Plug and Play state record and the id reply.
#include "vmd_fixture.h"

namespace zeltest {
namespace {

using vmd::VirtualDeviceExtension;

TEST_F(VmdTest, DriverEntryRegistersANonPolledMinidriverWithThreeRoutines) {
    const HID_MINIDRIVER_REGISTRATION* reg = sim::hid::Registration(driver);
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg->Revision, 1u);
    EXPECT_EQ(reg->DriverObject, driver);
    EXPECT_EQ(reg->RegistryPath, &registryPath);
    EXPECT_EQ(reg->DeviceExtensionSize, 8u);
    EXPECT_EQ(reg->DevicesArePolled, FALSE);
    EXPECT_EQ(reg->Reserved[0] | reg->Reserved[1] | reg->Reserved[2], 0);

    for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        SCOPED_TRACE(major);
        PDRIVER_DISPATCH expected = nullptr;
        if (major == IRP_MJ_INTERNAL_DEVICE_CONTROL)
            expected = vmd::DispatchInternalDeviceControl;
        if (major == IRP_MJ_PNP)
            expected = vmd::DispatchPnp;
        if (major == IRP_MJ_POWER)
            expected = vmd::DispatchPower;
        EXPECT_EQ(sim::hid::MinidriverDispatch(driver, UCHAR(major)), expected);
    }
    EXPECT_EQ(sim::hid::MinidriverAddDevice(driver), vmd::AddDevice);
    EXPECT_EQ(sim::hid::MinidriverUnload(driver), vmd::DriverUnload);
}

TEST(VmdRegistration, DriverEntryReturnsTheClassDriversRefusal) {
    km::Reset();
    PDRIVER_OBJECT driver = km::CreateDriverObject(u"\\Driver\\zel_vmd");
    UNICODE_STRING path;
    RtlInitUnicodeString(&path,
                         u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zel_vmd");
    for (NTSTATUS refusal : {STATUS_INSUFFICIENT_RESOURCES, STATUS_UNSUCCESSFUL}) {
        sim::hid::SetRegistrationStatus(refusal);
        EXPECT_EQ(DriverEntry(driver, &path), refusal);
        EXPECT_EQ(sim::hid::Registration(driver), nullptr);
    }
    km::DeleteDriverObject(driver);
    CheckModelClean();
}

// The class driver refuses records the platform would refuse, and leaves the
// driver object as it was.
TEST(VmdRegistration, ClassDriverChecksTheRecord) {
    km::Reset();
    PDRIVER_OBJECT driver = km::CreateDriverObject(u"\\Driver\\zel_vmd");
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, u"\\Registry\\Machine\\System");
    struct Case {
        const char* name;
        void (*spoil)(HID_MINIDRIVER_REGISTRATION&);
        NTSTATUS status;
    };
    const Case cases[] = {
        {"revision", [](HID_MINIDRIVER_REGISTRATION& r) { r.Revision = 2; }, NTSTATUS(0xC0000059L)},
        {"driver", [](HID_MINIDRIVER_REGISTRATION& r) { r.DriverObject = nullptr; },
         STATUS_INVALID_PARAMETER},
        {"path", [](HID_MINIDRIVER_REGISTRATION& r) { r.RegistryPath = nullptr; },
         STATUS_INVALID_PARAMETER},
        {"size", [](HID_MINIDRIVER_REGISTRATION& r) { r.DeviceExtensionSize = 0x10000; },
         STATUS_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HID_MINIDRIVER_REGISTRATION reg{};
        reg.Revision = HID_REVISION;
        reg.DriverObject = driver;
        reg.RegistryPath = &path;
        reg.DeviceExtensionSize = 8;
        c.spoil(reg);
        EXPECT_EQ(HidRegisterMinidriver(&reg), c.status);
        EXPECT_EQ(sim::hid::Registration(driver), nullptr);
        EXPECT_EQ(driver->DriverExtension->AddDevice, nullptr);
    }
    km::DeleteDriverObject(driver);
    CheckModelClean();
}

TEST_F(VmdTest, AddDeviceResetsTheStateAndReleasesTheDeviceObject) {
    // The class driver made the device object and attached it to the stack.
    auto* hid = static_cast<PHID_DEVICE_EXTENSION>(fdo->DeviceExtension);
    EXPECT_EQ(hid->NextDeviceObject, lower->pdo);
    EXPECT_EQ(hid->MiniDeviceExtension, static_cast<void*>(hid + 1));
    EXPECT_EQ(fdo->Flags & DO_DEVICE_INITIALIZING, 0u);
    EXPECT_EQ(Ext()->PnpState, 0u);

    // Whatever the area held before, AddDevice starts from NotStarted.
    Ext()->PnpState = vmd::PnpSurpriseRemoved;
    Ext()->PreviousPnpState = vmd::PnpStopped;
    fdo->Flags |= DO_DEVICE_INITIALIZING;
    EXPECT_EQ(vmd::AddDevice(driver, fdo), STATUS_SUCCESS);
    EXPECT_EQ(Ext()->PnpState, ULONG(vmd::PnpNotStarted));
    EXPECT_EQ(Ext()->PreviousPnpState, ULONG(vmd::PnpNotStarted));
    EXPECT_EQ(fdo->Flags & DO_DEVICE_INITIALIZING, 0u);
}

// ---- The Plug and Play state record ---------------------------------------------------------
enum class Step {
    Start,
    QueryStop,
    CancelStop,
    Stop,
    QueryRemove,
    CancelRemove,
    SurpriseRemoval,
    Remove,
    Capabilities, // a request outside the state table
};

struct States {
    ULONG state, previous;
};

struct StateCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<States> after; // one per step
    NTSTATUS startStatus = STATUS_SUCCESS;
    bool pendStart = false;
};
void PrintTo(const StateCase& c, std::ostream* os) {
    *os << c.name;
}

UCHAR MinorOf(Step step) {
    switch (step) {
    case Step::Start:
        return IRP_MN_START_DEVICE;
    case Step::QueryStop:
        return IRP_MN_QUERY_STOP_DEVICE;
    case Step::CancelStop:
        return IRP_MN_CANCEL_STOP_DEVICE;
    case Step::Stop:
        return IRP_MN_STOP_DEVICE;
    case Step::QueryRemove:
        return IRP_MN_QUERY_REMOVE_DEVICE;
    case Step::CancelRemove:
        return IRP_MN_CANCEL_REMOVE_DEVICE;
    case Step::SurpriseRemoval:
        return IRP_MN_SURPRISE_REMOVAL;
    case Step::Remove:
        return IRP_MN_REMOVE_DEVICE;
    case Step::Capabilities:
        return IRP_MN_QUERY_CAPABILITIES;
    }
    return 0xFF;
}

class VmdStates : public VmdTest, public ::testing::WithParamInterface<StateCase> {
  protected:
    // The state as the driver below sees it: after a removal the class driver
    // deletes the device object, and this is the last look at it.
    States below{};
};

TEST_P(VmdStates, FollowTheRequests) {
    const StateCase& c = GetParam();
    ASSERT_EQ(c.steps.size(), c.after.size());
    lower->startStatus = c.startStatus;
    lower->pendStart = c.pendStart;
    lower->observer = [this](PIRP) { below = {Ext()->PnpState, Ext()->PreviousPnpState}; };

    for (size_t i = 0; i < c.steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        const Step step = c.steps[i];
        const size_t seenBefore = sim::Seen(lower, IRP_MJ_PNP).size();
        const sim::pnp::Result r = sim::pnp::Send(lower->pdo, IRP_MJ_PNP, MinorOf(step));
        sim::JoinStarter(lower);

        const auto seen = sim::Seen(lower, IRP_MJ_PNP);
        ASSERT_EQ(seen.size(), seenBefore + 1) << "every request goes down";
        EXPECT_EQ(seen.back().minor, MinorOf(step));
        if (step == Step::Start) {
            EXPECT_EQ(r.returned, c.startStatus);
            EXPECT_EQ(r.status, c.startStatus);
        } else if (step == Step::Capabilities) {
            EXPECT_EQ(seen.back().status, STATUS_NOT_SUPPORTED) << "status left as it came";
            EXPECT_EQ(r.status, STATUS_NOT_SUPPORTED);
        } else {
            EXPECT_EQ(seen.back().status, STATUS_SUCCESS) << "status set before passing down";
            EXPECT_EQ(r.returned, STATUS_SUCCESS);
        }

        States now = below;
        if (step == Step::Remove) {
            EXPECT_EQ(sim::hid::FunctionalDevice(lower->pdo), nullptr)
                << "the class driver deletes the device object after the removal";
        } else {
            now = {Ext()->PnpState, Ext()->PreviousPnpState};
        }
        EXPECT_EQ(now.state, c.after[i].state);
        EXPECT_EQ(now.previous, c.after[i].previous);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, VmdStates,
    ::testing::Values(StateCase{"QueryStopThenCancel",
                                {Step::Start, Step::QueryStop, Step::CancelStop},
                                {{1, 0}, {2, 1}, {1, 1}}},
                      StateCase{"QueryStopTwiceThenCancelStaysStopPending",
                                {Step::Start, Step::QueryStop, Step::QueryStop, Step::CancelStop},
                                {{1, 0}, {2, 1}, {2, 2}, {2, 2}}},
                      StateCase{"QueryRemoveThenCancel",
                                {Step::Start, Step::QueryRemove, Step::CancelRemove},
                                {{1, 0}, {4, 1}, {1, 1}}},
                      StateCase{"StartFailedBelowStaysNotStarted",
                                {Step::Start},
                                {{0, 0}},
                                STATUS_DEVICE_CONFIGURATION_ERROR},
                      StateCase{"StartPendingBelow", {Step::Start}, {{1, 0}}, STATUS_SUCCESS, true},
                      StateCase{"StartPendingBelowThenFailed",
                                {Step::Start},
                                {{0, 0}},
                                STATUS_INSUFFICIENT_RESOURCES,
                                true},
                      StateCase{"StopThenStartAgain",
                                {Step::Start, Step::QueryStop, Step::Stop, Step::Start},
                                {{1, 0}, {2, 1}, {3, 2}, {1, 3}}},
                      StateCase{"SurpriseRemovalThenRemoval",
                                {Step::Start, Step::SurpriseRemoval, Step::Remove},
                                {{1, 0}, {5, 1}, {6, 5}}},
                      StateCase{"QueryRemoveThenRemoval",
                                {Step::Start, Step::QueryRemove, Step::Remove},
                                {{1, 0}, {4, 1}, {6, 4}}},
                      StateCase{"RemovalWithoutStart", {Step::Remove}, {{6, 0}}},
                      StateCase{"OtherRequestsChangeNothing",
                                {Step::Start, Step::Capabilities},
                                {{1, 0}, {1, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Query id -----------------------------------------------------------------------------------
// "HID\NullVirtualHidDevice", its NUL, the list's NUL and one more, UTF-16LE.
std::vector<UCHAR> ExpectedIdReply() {
    std::vector<UCHAR> bytes;
    for (char c : std::string("HID\\NullVirtualHidDevice")) {
        bytes.push_back(UCHAR(c));
        bytes.push_back(0);
    }
    bytes.resize(bytes.size() + 6, 0);
    return bytes;
}

enum class Sender { Platform, ThisDevice, AnotherDevice };

struct IdCase {
    const char* name;
    BUS_QUERY_ID_TYPE type;
    Sender sender;
    NTSTATUS preset;
    bool reply;      // answered here with the id
    bool passedDown; // otherwise completed here
    NTSTATUS status; // final status of the request
};
void PrintTo(const IdCase& c, std::ostream* os) {
    *os << c.name;
}

class VmdQueryId : public VmdTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(VmdQueryId, AnswersOrLeavesTheRequest) {
    const IdCase& c = GetParam();
    ASSERT_EQ(sim::pnp::Start(lower->pdo).status, STATUS_SUCCESS);
    const States before{Ext()->PnpState, Ext()->PreviousPnpState};
    PDEVICE_OBJECT sender = c.sender == Sender::ThisDevice      ? fdo
                            : c.sender == Sender::AnotherDevice ? lower->pdo
                                                                : nullptr;
    const sim::pnp::IdResult r = sim::pnp::QueryId(lower->pdo, c.type, sender, c.preset);

    EXPECT_EQ(r.request.status, c.status);
    EXPECT_EQ(r.request.returned, c.status);
    const auto seen = sim::Seen(lower, IRP_MJ_PNP, IRP_MN_QUERY_ID);
    EXPECT_EQ(seen.size(), c.passedDown ? 1u : 0u);
    if (c.passedDown) {
        EXPECT_EQ(seen[0].status, c.preset) << "passed down as it came";
        EXPECT_EQ(seen[0].idType, c.type);
    }
    if (c.reply) {
        EXPECT_EQ(r.bytes, ExpectedIdReply());
        EXPECT_EQ(r.bytes.size(), 54u);
        EXPECT_EQ(r.tag, 0x64694856u);
        EXPECT_EQ(r.tag, km::Tag("VHid"));
    } else {
        EXPECT_EQ(r.request.information, 0u);
        EXPECT_TRUE(r.bytes.empty());
    }
    EXPECT_EQ(km::PoolAllocations(km::Tag("VHid")), c.reply ? 1u : 0u);
    EXPECT_EQ(Ext()->PnpState, before.state);
    EXPECT_EQ(Ext()->PreviousPnpState, before.previous);
}

INSTANTIATE_TEST_SUITE_P(
    Types, VmdQueryId,
    ::testing::Values(IdCase{"DeviceId", BusQueryDeviceID, Sender::Platform, STATUS_NOT_SUPPORTED,
                             true, false, STATUS_SUCCESS},
                      IdCase{"HardwareIds", BusQueryHardwareIDs, Sender::Platform,
                             STATUS_NOT_SUPPORTED, true, false, STATUS_SUCCESS},
                      IdCase{"CompatibleIds", BusQueryCompatibleIDs, Sender::Platform,
                             STATUS_NOT_SUPPORTED, false, false, STATUS_NOT_SUPPORTED},
                      IdCase{"CompatibleIdsKeepASuccess", BusQueryCompatibleIDs, Sender::Platform,
                             STATUS_SUCCESS, false, false, STATUS_SUCCESS},
                      IdCase{"InstanceId", BusQueryInstanceID, Sender::Platform,
                             STATUS_NOT_SUPPORTED, false, false, STATUS_NOT_SUPPORTED},
                      IdCase{"FromThisDeviceGoesDown", BusQueryHardwareIDs, Sender::ThisDevice,
                             STATUS_NOT_SUPPORTED, false, true, STATUS_NOT_SUPPORTED},
                      IdCase{"FromAnotherDeviceIsAnswered", BusQueryHardwareIDs,
                             Sender::AnotherDevice, STATUS_NOT_SUPPORTED, true, false,
                             STATUS_SUCCESS}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VmdTest, QueryIdWithoutPoolFailsAndGoesNoFurther) {
    km::SetPoolFailure([](ULONG tag, size_t) { return tag == km::Tag("VHid"); });
    for (BUS_QUERY_ID_TYPE type : {BusQueryDeviceID, BusQueryHardwareIDs}) {
        SCOPED_TRACE(int(type));
        const sim::pnp::IdResult r = sim::pnp::QueryId(lower->pdo, type);
        EXPECT_EQ(r.request.returned, STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_EQ(r.request.status, STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_EQ(r.request.information, 0u);
    }
    EXPECT_TRUE(sim::Seen(lower, IRP_MJ_PNP, IRP_MN_QUERY_ID).empty());
}

} // namespace
} // namespace zeltest
