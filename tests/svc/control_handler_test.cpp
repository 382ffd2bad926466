// The control handler of a running service: each control code and event type with its
// result and report, a failed report inside the handler, and boxes on resume, including
// the text buffer that is cleared before each translation.
#include "service_fixture.h"

namespace zeltest {
namespace {

const std::string kOpen = "CreateFileA \\\\.\\ZelKbInterface";
const std::string kRequest = "DeviceIoControl 0x220404";
const std::string kClose = "CloseHandle \\\\.\\ZelKbInterface";

struct ControlCase {
    const char* name;
    DWORD control, eventType;
    DWORD result;
    // Calls the control makes, in order ("SetServiceStatus N" is its report).
    std::vector<std::string> calls;
    std::vector<Status> reports;
    bool agentAfter;
};

class ControlTableTest : public ServiceTest, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(ControlTableTest, ResultAndReport) {
    const ControlCase& c = GetParam();
    Start();
    const size_t callsBefore = um::Calls().size();
    const size_t reportsBefore = um::StatusReports().size();

    EXPECT_EQ(um::SendServiceControl(c.control, c.eventType), c.result);

    EXPECT_EQ(CallsSince(callsBefore), c.calls);
    const auto reports = Reports();
    EXPECT_EQ(std::vector<Status>(reports.begin() + reportsBefore, reports.end()), c.reports);
    const auto all = um::StatusReports();
    for (size_t i = reportsBefore; i < all.size(); ++i)
        EXPECT_EQ(all[i].thread, process.get_id()) << "the handler runs on the main thread";
    EXPECT_EQ(zel_svc::Agent != nullptr, c.agentAfter);
    EXPECT_EQ(um::HeapBlockCount(), c.agentAfter ? 1 : 0);
    EXPECT_TRUE(Boxes().empty());
    if (!c.agentAfter)
        JoinProcess(); // the dispatcher returns once the stop is reported
}

const std::vector<std::string> kReportOnly = {"SetServiceStatus 4"};
const std::vector<std::string> kSignalThenReport = {kOpen, kRequest, kClose, "SetServiceStatus 4"};
const Status kStopped{SERVICE_STOPPED, 0, true};

// clang-format off
// Columns: control, event type; result, calls made, reports, agent kept.
INSTANTIATE_TEST_SUITE_P(
    Service, ControlTableTest,
    ::testing::Values(
        ControlCase{"Stop",                 SERVICE_CONTROL_STOP,        0,                      0,   {"SetServiceStatus 1", "HeapFree"}, {kStopped}, false},
        ControlCase{"Interrogate",          SERVICE_CONTROL_INTERROGATE, 0,                      0,   kReportOnly,       {kRunning}, true},
        ControlCase{"ResumeFromSuspend",    SERVICE_CONTROL_POWEREVENT,  PBT_APMRESUMESUSPEND,   0,   kSignalThenReport, {kRunning}, true},
        ControlCase{"PowerSuspend",         SERVICE_CONTROL_POWEREVENT,  PBT_APMSUSPEND,         0,   kReportOnly,       {kRunning}, true},
        ControlCase{"PowerAutomaticResume", SERVICE_CONTROL_POWEREVENT,  PBT_APMRESUMEAUTOMATIC, 0,   kReportOnly,       {kRunning}, true},
        ControlCase{"Pause",                SERVICE_CONTROL_PAUSE,       0,                      120, {},                {},         true},
        ControlCase{"Continue",             SERVICE_CONTROL_CONTINUE,    0,                      120, {},                {},         true},
        ControlCase{"Shutdown",             SERVICE_CONTROL_SHUTDOWN,    0,                      120, {},                {},         true},
        ControlCase{"ParameterChange",      SERVICE_CONTROL_PARAMCHANGE, 0,                      120, {},                {},         true},
        ControlCase{"UserControl128",       128,                         0,                      120, {},                {},         true},
        ControlCase{"UserControl255WithResumeType", 255,                 PBT_APMRESUMESUSPEND,   120, {},                {},         true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A report the handler cannot make: a warning box, result 6 at once, and a stop that keeps
// the agent and leaves the service running.
struct FailedReportCase {
    const char* name;
    DWORD control, eventType;
};

class FailedHandlerReportTest : public ServiceTest,
                                public ::testing::WithParamInterface<FailedReportCase> {};

TEST_P(FailedHandlerReportTest, BoxAndInvalidHandle) {
    const FailedReportCase& c = GetParam();
    Start();
    um::FailServiceCall(um::ServiceCall::SetStatus, true);

    EXPECT_EQ(um::SendServiceControl(c.control, c.eventType), 6u);

    EXPECT_EQ(Boxes(),
              (std::vector<Box>{{"Handler SetServiceStatus error", "[Zel-Service]", kWarning}}));
    EXPECT_NE(zel_svc::Agent, nullptr);
    EXPECT_EQ(um::HeapBlockCount(), 1);
    const auto calls = um::Calls();
    EXPECT_EQ(calls.back(), "MessageBoxA [Zel-Service]");
    // The process goes on: a later report succeeds.
    um::FailServiceCall(um::ServiceCall::SetStatus, false);
    EXPECT_EQ(um::SendServiceControl(SERVICE_CONTROL_INTERROGATE), 0u);
    EXPECT_TRUE(um::StatusReports().back().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Service, FailedHandlerReportTest,
    ::testing::Values(FailedReportCase{"Stop", SERVICE_CONTROL_STOP, 0},
                      FailedReportCase{"Interrogate", SERVICE_CONTROL_INTERROGATE, 0},
                      FailedReportCase{"ResumeFromSuspend", SERVICE_CONTROL_POWEREVENT,
                                       PBT_APMRESUMESUSPEND},
                      FailedReportCase{"PowerSuspend", SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, EachResumeSignalsOnceWithoutRerunningTheCheck) {
    Start();
    const size_t before = um::Calls().size();
    for (int resume = 0; resume < 3; ++resume)
        EXPECT_EQ(um::SendServiceControl(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMESUSPEND), 0u);

    const auto calls = CallsSince(before);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "LoadLibraryA zel_svc.dll"), 0);
    EXPECT_EQ(um::DeviceOpens().size(), 4u); // start and three resumes
    EXPECT_EQ(um::DeviceRequests().size(), 4u);
    EXPECT_EQ(um::DeviceCloses(), 4);
}

// The device on resume: missing or refusing shows its box before the report, and the
// service keeps running and tries again at the next resume.
TEST_F(ServiceTest, ResumeWithTheDeviceMissingThenRefusingThenBack) {
    Start();
    const std::string english13 = ShippedMessage("english", 13);
    const std::string english14 = ShippedMessage("english", 14);

    um::SetKeyboardDevice(um::KeyboardDevice::Absent);
    size_t before = um::Calls().size();
    EXPECT_EQ(um::SendServiceControl(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMESUSPEND), 0u);
    auto calls = CallsSince(before);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), kOpen);
    EXPECT_EQ(calls.back(), "SetServiceStatus 4");
    EXPECT_EQ(calls[calls.size() - 2], "MessageBoxA [Zel-Service][1.1]");

    um::SetKeyboardDevice(um::KeyboardDevice::Refusing);
    EXPECT_EQ(um::SendServiceControl(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMESUSPEND), 0u);
    um::SetKeyboardDevice(um::KeyboardDevice::Accepting);
    EXPECT_EQ(um::SendServiceControl(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMESUSPEND), 0u);

    EXPECT_EQ(Boxes(), (std::vector<Box>{{english13, "[Zel-Service][1.1]", kWarning},
                                         {english14, "[Zel-Service][1.2]", kWarning}}));
    EXPECT_EQ(Reports(), (std::vector<Status>{kRunning, kRunning, kRunning, kRunning}));
}

// Each translated box shows only its own message: when zel_lng.dll or its export has gone,
// the box is empty rather than a repeat of the earlier message's text.
struct StaleTextCase {
    const char* name;
    bool libraryPresent, exportPresent;
};

class StaleTextTest : public ServiceTest, public ::testing::WithParamInterface<StaleTextCase> {};

TEST_P(StaleTextTest, NoEarlierTextInALaterBox) {
    const StaleTextCase& c = GetParam();
    um::SetKeyboardDevice(um::KeyboardDevice::Absent);
    Start(); // message 13, translated
    SetTranslation(c.libraryPresent, c.exportPresent);
    um::SetKeyboardDevice(um::KeyboardDevice::Refusing);
    EXPECT_EQ(um::SendServiceControl(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMESUSPEND), 0u);

    EXPECT_EQ(Boxes(),
              (std::vector<Box>{{ShippedMessage("english", 13), "[Zel-Service][1.1]", kWarning},
                                {"", "[Zel-Service][1.2]", kWarning}}));
    EXPECT_EQ(Reports(), (std::vector<Status>{kRunning, kRunning}));
}

INSTANTIATE_TEST_SUITE_P(Service, StaleTextTest,
                         ::testing::Values(StaleTextCase{"LibraryMissing", false, false},
                                           StaleTextCase{"ExportMissing", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, WithoutTheTranslationLibraryTheFirstBoxIsEmpty) {
    SetTranslation(false, false);
    um::SetKeyboardDevice(um::KeyboardDevice::Absent);
    Start();
    EXPECT_EQ(Boxes(), (std::vector<Box>{{"", "[Zel-Service][1.1]", kWarning}}));
    EXPECT_EQ(Reports(), std::vector<Status>{kRunning});
}

TEST_F(ServiceTest, StopEndsTheProcessWithExitCode0) {
    Start();
    EXPECT_EQ(um::SendServiceControl(SERVICE_CONTROL_STOP), 0u);
    JoinProcess();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(Reports(), (std::vector<Status>{kRunning, {SERVICE_STOPPED, 0, true}}));
    EXPECT_EQ(um::SendServiceControl(SERVICE_CONTROL_INTERROGATE), ERROR_SERVICE_NOT_ACTIVE);
}

} // namespace
} // namespace zeltest
