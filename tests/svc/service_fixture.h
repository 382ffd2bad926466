// The start-up service run as a process on the user-mode model: a test starts the process
// entry on a thread of its own (the service's main thread), the model's control manager runs
// ServiceMain beside it, and the test sends controls and reads what the service did.
#pragma once

#include "service.h"
#include "user_model.h"
#include "zel_lng.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace zeltest {

// What the test's joystick check answers: the whole return register, of which the service
// may read only the low byte.
inline std::atomic<uint32_t> g_CheckAnswer{1};

extern "C" inline uint32_t TestComprobarJoysticks() {
    um::LogCall("ComprobarJoysticks");
    return g_CheckAnswer;
}

enum class CheckModule { Missing, WithoutExport, Answers };

// The text of message `number` as the shipped language file of `language` writes it.
inline std::string ShippedMessage(const std::string& language, int number) {
    std::ifstream file(std::string(ZEL_LANGUAGE_DIR) + "/zel_" + language + ".h");
    const std::string prefix = "#" + std::to_string(number) + "=";
    for (std::string line; std::getline(file, line);)
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line.substr(prefix.size(), line.find_last_not_of('\r') + 1 - prefix.size());
    ADD_FAILURE() << "no message " << number << " in " << language;
    return {};
}

struct Status {
    DWORD state, exitCode;
    bool accepted;
};

inline bool operator==(const Status& a, const Status& b) {
    return a.state == b.state && a.exitCode == b.exitCode && a.accepted == b.accepted;
}

inline std::ostream& operator<<(std::ostream& out, const Status& s) {
    return out << "{state " << s.state << ", exit " << s.exitCode
               << (s.accepted ? ", accepted}" : ", refused}");
}

struct Box {
    std::string text, caption;
    UINT flags;
};

inline bool operator==(const Box& a, const Box& b) {
    return a.text == b.text && a.caption == b.caption && a.flags == b.flags;
}

inline std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "{\"" << b.text << "\", \"" << b.caption << "\", 0x" << std::hex << b.flags
               << std::dec << "}";
}

class ServiceTest : public ::testing::Test {
  protected:
    std::thread process;
    std::atomic<int> exitCode{-1};

    void SetUp() override {
        um::Reset();
        um::SetSystemDirectory(ZEL_LANGUAGE_DIR);
        ClearServiceState();
        g_CheckAnswer = 1;
        SetCheckModule(CheckModule::Answers);
        SetTranslation(true, true);
        um::SetKeyboardDevice(um::KeyboardDevice::Accepting);
    }

    void TearDown() override {
        EndProcess();
        EXPECT_EQ(exitCode, 0) << "the process exit code is 0 in every case";
        EXPECT_EQ(um::LoadedModuleCount(), 0) << "a library was left loaded";
        EXPECT_EQ(um::OpenDeviceCount(), 0) << "a device handle was left open";
        EXPECT_EQ(um::OpenHandleCount(), 0) << "a file handle was left open";
        um::Reset(); // frees an agent the service kept
        ClearServiceState();
    }

    // The process state as a new process has it.
    static void ClearServiceState() {
        zel_svc::ServiceStatus = SERVICE_STATUS{};
        zel_svc::ServiceStatusHandle = nullptr;
        zel_svc::Agent = nullptr;
        std::memset(zel_svc::MessageText, 0, sizeof zel_svc::MessageText);
    }

    static void SetCheckModule(CheckModule module) {
        um::UnregisterModule("zel_svc.dll");
        if (module == CheckModule::WithoutExport)
            um::RegisterModule("zel_svc.dll",
                               {{"ComprobarJoystick", (void*)&TestComprobarJoysticks}});
        if (module == CheckModule::Answers)
            um::RegisterModule("zel_svc.dll",
                               {{"ComprobarJoysticks", (void*)&TestComprobarJoysticks}});
    }

    // The host build of zel_lng, with or without its export.
    static void SetTranslation(bool present, bool withExport) {
        um::UnregisterModule("zel_lng.dll");
        if (present)
            um::RegisterModule("zel_lng.dll",
                               {{withExport ? "TraduceGlobal" : "TraduceLocal",
                                 withExport ? (void*)&TraduceGlobal : (void*)&TraduceLocal}});
    }

    // Runs the process entry, as the control manager starts the service program.
    void StartProcess() {
        process = std::thread([this] { exitCode = zel_svc::ServiceProcessEntry(); });
    }

    // Starts the service and waits until ServiceMain has returned.
    void Start() {
        StartProcess();
        ASSERT_TRUE(um::WaitForServiceMain()) << "ServiceMain did not return";
    }

    // Waits for the process to end; ends it first when the service never reported stopped.
    void EndProcess() {
        if (!process.joinable())
            return;
        um::EndServiceProcess();
        process.join();
    }

    // The process ends on its own, as after a reported stop.
    void JoinProcess() {
        ASSERT_TRUE(process.joinable());
        process.join();
    }

    static std::vector<Status> Reports() {
        std::vector<Status> out;
        for (const auto& report : um::StatusReports()) {
            // Fields the service never changes, in every report.
            EXPECT_EQ(report.status.dwServiceType, 0x110u);
            EXPECT_EQ(report.status.dwControlsAccepted, 0x41u);
            EXPECT_EQ(report.status.dwServiceSpecificExitCode, 0u);
            EXPECT_EQ(report.status.dwCheckPoint, 0u);
            EXPECT_EQ(report.status.dwWaitHint, 0u);
            EXPECT_NE(report.handle, nullptr);
            out.push_back(
                {report.status.dwCurrentState, report.status.dwWin32ExitCode, report.accepted});
        }
        return out;
    }

    static std::vector<Box> Boxes() {
        std::vector<Box> out;
        for (const auto& box : um::MessageBoxes()) {
            EXPECT_EQ(box.owner, nullptr) << "boxes have no owner window";
            out.push_back({box.text, box.caption, box.flags});
        }
        return out;
    }

    // The calls made from the `from`-th on.
    static std::vector<std::string> CallsSince(size_t from) {
        auto calls = um::Calls();
        return std::vector<std::string>(calls.begin() + std::min(from, calls.size()), calls.end());
    }
};

constexpr Status kRunning{SERVICE_RUNNING, 0, true};
constexpr Status kStoppedNotActive{SERVICE_STOPPED, 1062, true};
constexpr UINT kError = 0x200010, kWarning = 0x200030;

} // namespace zeltest
