// Starting the service: the process entry, each start path with its reports, exit codes and
// boxes, and the keyboard interface device at start.
#include "service_fixture.h"

namespace zeltest {
namespace {

const std::string kOpen = "CreateFileA \\\\.\\ZelKbInterface";
const std::string kRequest = "DeviceIoControl 0x220404";
const std::string kClose = "CloseHandle \\\\.\\ZelKbInterface";
const std::string kReportRunning = "SetServiceStatus 4";

struct StartCase {
    const char* name;
    CheckModule check;
    uint32_t answer;
    bool failAgent, failRegistration, failRunningReport;
    std::vector<Status> reports;
    std::vector<Box> boxes;
    bool signalled;   // one open, one request and one close of the device
    bool agentKept;   // the agent exists once ServiceMain has returned
    bool checkLoaded; // zel_svc.dll was asked for
};

class StartPathTest : public ServiceTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartPathTest, ReportsBoxesAndDeviceCalls) {
    const StartCase& c = GetParam();
    SetCheckModule(c.check);
    g_CheckAnswer = c.answer;
    um::FailHeapAllocations(c.failAgent);
    um::FailServiceCall(um::ServiceCall::RegisterHandler, c.failRegistration);
    um::FailServiceCall(um::ServiceCall::SetStatus, c.failRunningReport);

    Start();

    EXPECT_EQ(Reports(), c.reports);
    EXPECT_EQ(Boxes(), c.boxes);
    const auto opens = um::DeviceOpens();
    const auto requests = um::DeviceRequests();
    EXPECT_EQ(opens.size(), c.signalled ? 1u : 0u);
    EXPECT_EQ(requests.size(), c.signalled ? 1u : 0u);
    EXPECT_EQ(um::DeviceCloses(), c.signalled ? 1 : 0);
    EXPECT_EQ(zel_svc::Agent != nullptr, c.agentKept);
    EXPECT_EQ(um::HeapBlockCount(), c.agentKept ? 1 : 0);
    const auto calls = um::Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "LoadLibraryA zel_svc.dll"),
              c.checkLoaded ? 1 : 0);

    const auto registrations = um::HandlerRegistrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].name, "Zel-Service");
    EXPECT_EQ(registrations[0].handler, &zel_svc::ServiceControlHandler);
    EXPECT_EQ(registrations[0].context, nullptr);
    // A service that stopped itself ends its process; the others wait for the control manager.
    if (!c.reports.empty() && c.reports.back().state == SERVICE_STOPPED)
        JoinProcess();
}

const Status kRunningRefused{SERVICE_RUNNING, 0, false};
const Box kRegisterBox{"RegisterServiceCtrlHandler error", "[Zel-Service]", kError};
const Box kRunningReportBox{"SetServiceStatus error", "[Zel-Service]", kError};

// clang-format off
// Columns: check module, its answer, agent allocation fails, handler registration fails,
// running report fails; reports, boxes, device signalled, agent kept, check library loaded.
INSTANTIATE_TEST_SUITE_P(
    Service, StartPathTest,
    ::testing::Values(
        StartCase{"CheckPasses",              CheckModule::Answers,       1,      false, false, false, {kRunning},          {},                  true,  true,  true},
        StartCase{"CheckLibraryMissing",      CheckModule::Missing,       1,      false, false, false, {kStoppedNotActive}, {},                  false, false, true},
        StartCase{"CheckExportMissing",       CheckModule::WithoutExport, 1,      false, false, false, {kStoppedNotActive}, {},                  false, false, true},
        StartCase{"CheckReturnsFalse",        CheckModule::Answers,       0,      false, false, false, {kStoppedNotActive}, {},                  false, false, true},
        StartCase{"CheckTrueOnlyInHigherByte", CheckModule::Answers,      0x100,  false, false, false, {kStoppedNotActive}, {},                  false, false, true},
        StartCase{"CheckTrueInLowByteAndHigher", CheckModule::Answers,    0x7F01, false, false, false, {kRunning},          {},                  true,  true,  true},
        StartCase{"AgentCreationFails",       CheckModule::Answers,       1,      true,  false, false, {kStoppedNotActive}, {},                  false, false, false},
        StartCase{"HandlerRegistrationFails", CheckModule::Answers,       1,      false, true,  false, {},                  {kRegisterBox},      false, false, false},
        StartCase{"RunningReportFails",       CheckModule::Answers,       1,      false, false, true,  {kRunningRefused},   {kRunningReportBox}, true,  false, true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(ServiceTest, TheCheckLibraryIsUnloadedRightAfterTheCheckAndBeforeTheSignal) {
    Start();
    const std::vector<std::string> expected = {"StartServiceCtrlDispatcherA",
                                               "RegisterServiceCtrlHandlerExA Zel-Service",
                                               "HeapAlloc",
                                               "LoadLibraryA zel_svc.dll",
                                               "GetProcAddress ComprobarJoysticks",
                                               "ComprobarJoysticks",
                                               "FreeLibrary zel_svc.dll",
                                               kOpen,
                                               kRequest,
                                               kClose,
                                               kReportRunning};
    EXPECT_EQ(um::Calls(), expected);
}

TEST_F(ServiceTest, ServiceMainRunsBesideTheMainThreadAndTheTableNamesTheService) {
    Start();
    EXPECT_EQ(um::DispatcherTable(), std::vector<std::string>{"zelHidUserService"});
    const auto reports = um::StatusReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].thread, process.get_id());
}

TEST_F(ServiceTest, StartedFromAPromptTheDispatcherFailsWithABoxAndExitCode0) {
    um::FailServiceCall(um::ServiceCall::Dispatcher, true);
    StartProcess();
    JoinProcess();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(Boxes(),
              (std::vector<Box>{{"StartServiceCtrlDispatcher error", "[Zel-Service]", kError}}));
    EXPECT_TRUE(um::HandlerRegistrations().empty()) << "ServiceMain must not run";
    EXPECT_TRUE(um::StatusReports().empty());
}

// The device at start, after a passing check, for users of several languages: a box with
// the translated message when the device is missing or refuses, always before the running
// report, and never a stop.
struct DeviceCase {
    const char* name;
    um::KeyboardDevice device;
    LANGID language;
    const char* languageFile;
    int message; // 0: no box
    const char* caption;
    // Device calls, box and report in order (the translation's own calls left out).
    std::vector<std::string> sequence;
};

const std::vector<std::string> kAbsentAtStart = {kOpen, "MessageBoxA [Zel-Service][1.1]",
                                                 kReportRunning};
const std::vector<std::string> kRefusedAtStart = {kOpen, kRequest, "MessageBoxA [Zel-Service][1.2]",
                                                  kClose, kReportRunning};

class DeviceAtStartTest : public ServiceTest, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(DeviceAtStartTest, BoxBeforeTheRunningReport) {
    const DeviceCase& c = GetParam();
    um::SetKeyboardDevice(c.device);
    um::SetUserDefaultLangID(c.language);
    const size_t before = um::Calls().size();
    Start();

    std::vector<Box> boxes;
    if (c.message)
        boxes.push_back({ShippedMessage(c.languageFile, c.message), c.caption, kWarning});
    EXPECT_EQ(Boxes(), boxes);
    EXPECT_EQ(Reports(), std::vector<Status>{kRunning});
    std::vector<std::string> seen;
    for (const auto& call : CallsSince(before))
        if (call.rfind("CreateFileA", 0) == 0 || call.rfind("DeviceIoControl", 0) == 0 ||
            call.rfind("CloseHandle", 0) == 0 || call.rfind("MessageBoxA", 0) == 0 ||
            call.rfind("SetServiceStatus", 0) == 0)
            seen.push_back(call);
    EXPECT_EQ(seen, c.sequence);

    for (const auto& open : um::DeviceOpens()) {
        EXPECT_EQ(open.path, "\\\\.\\ZelKbInterface");
        EXPECT_EQ(open.access, GENERIC_WRITE);
        EXPECT_EQ(open.share, FILE_SHARE_WRITE);
        EXPECT_EQ(open.security, nullptr);
        EXPECT_EQ(open.disposition, OPEN_EXISTING);
        EXPECT_EQ(open.flags, 0u);
        EXPECT_EQ(open.templateFile, nullptr);
    }
    for (const auto& request : um::DeviceRequests()) {
        EXPECT_EQ(request.code, 0x220404u);
        EXPECT_EQ(request.in, nullptr);
        EXPECT_EQ(request.inSize, 0u);
        EXPECT_EQ(request.out, nullptr);
        EXPECT_EQ(request.outSize, 0u);
        EXPECT_TRUE(request.hasReturnedCount);
        EXPECT_EQ(request.overlapped, nullptr);
    }
    EXPECT_NE(zel_svc::Agent, nullptr);
}

const std::vector<std::string> kAcceptedAtStart = {kOpen, kRequest, kClose, kReportRunning};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Service, DeviceAtStartTest,
    ::testing::Values(
        DeviceCase{"AbsentEnglish",   um::KeyboardDevice::Absent,    0x0409, "english", 13, "[Zel-Service][1.1]", kAbsentAtStart},
        DeviceCase{"AbsentGerman",    um::KeyboardDevice::Absent,    0x0407, "german",  13, "[Zel-Service][1.1]", kAbsentAtStart},
        DeviceCase{"AbsentSpanish",   um::KeyboardDevice::Absent,    0x0C0A, "spanish", 13, "[Zel-Service][1.1]", kAbsentAtStart},
        DeviceCase{"RefusingEnglish", um::KeyboardDevice::Refusing,  0x0409, "english", 14, "[Zel-Service][1.2]", kRefusedAtStart},
        DeviceCase{"RefusingFrench",  um::KeyboardDevice::Refusing,  0x040C, "french",  14, "[Zel-Service][1.2]", kRefusedAtStart},
        DeviceCase{"Accepting",       um::KeyboardDevice::Accepting, 0x0409, "english", 0,  "",                   kAcceptedAtStart}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
} // namespace zeltest
