// Fuzz target: a start of the service in any outside state, then a sequence of controls and
// event types, each with the outside world changed under it.
//
// Input: a byte of start conditions (bits 0-1: the check library missing, without its
// export, or answering; bit 2: zel_lng.dll there; bit 3: with TraduceGlobal; bits 4-5: the
// keyboard interface device absent, accepting or refusing; bit 6: the handler registration
// fails; bit 7: the agent's allocation fails), the check's answer (4 bytes, little-endian),
// a byte whose bit 0 makes status reports fail during the start, then three bytes a control:
// the control code, the event type, and a byte of changes (bit 0: reports fail; bits 1-2:
// the device's new state, 0 keeps it).
//
// After each control the handler's result and the reports it made must be what its table
// gives, a resume must signal the device exactly once while an agent exists, and every box
// must be one of the service's; after the sequence the process must end with exit code 0
// and leave no library loaded, no handle open and no agent behind a reported stop.
#include "fuzz_check.h"
#include "service.h"
#include "user_model.h"
#include "zel_lng.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::atomic<uint32_t> g_CheckAnswer{0};

extern "C" uint32_t FuzzComprobarJoysticks() {
    return g_CheckAnswer;
}

um::KeyboardDevice DeviceState(unsigned bits) {
    switch (bits & 3) {
    case 0:
        return um::KeyboardDevice::Absent;
    case 2:
        return um::KeyboardDevice::Refusing;
    default:
        return um::KeyboardDevice::Accepting;
    }
}

void SetUpWorld(uint8_t conditions, uint32_t answer) {
    um::Reset();
    um::SetSystemDirectory(ZEL_LANGUAGE_DIR);
    zel_svc::ServiceStatus = SERVICE_STATUS{};
    zel_svc::ServiceStatusHandle = nullptr;
    zel_svc::Agent = nullptr;
    std::memset(zel_svc::MessageText, 0, sizeof zel_svc::MessageText);

    g_CheckAnswer = answer;
    switch (conditions & 3) {
    case 0:
        break;
    case 1:
        um::RegisterModule("zel_svc.dll", {{"ComprobarJoystick", (void*)&FuzzComprobarJoysticks}});
        break;
    default:
        um::RegisterModule("zel_svc.dll", {{"ComprobarJoysticks", (void*)&FuzzComprobarJoysticks}});
    }
    if (conditions & 4)
        um::RegisterModule("zel_lng.dll",
                           {{conditions & 8 ? "TraduceGlobal" : "TraduceLocal",
                             conditions & 8 ? (void*)&TraduceGlobal : (void*)&TraduceLocal}});
    um::SetKeyboardDevice(DeviceState(conditions >> 4));
    um::FailServiceCall(um::ServiceCall::RegisterHandler, conditions & 0x40);
    um::FailHeapAllocations(conditions & 0x80);
}

// Every box is one the service shows: no owner, a known caption with its flags, a text that
// fits the buffer.
void CheckBoxes() {
    for (const auto& box : um::MessageBoxes()) {
        FUZZ_CHECK(box.owner == nullptr);
        FUZZ_CHECK(box.text.size() < zel_svc::kTextSize);
        const bool error = box.caption == "[Zel-Service]" && box.flags == 0x200010;
        const bool warning =
            (box.caption == "[Zel-Service]" || box.caption == "[Zel-Service][1.1]" ||
             box.caption == "[Zel-Service][1.2]") &&
            box.flags == 0x200030;
        FUZZ_CHECK(error || warning);
    }
}

// Calls whose log line starts with `prefix`.
size_t Count(const std::vector<std::string>& calls, const char* prefix) {
    size_t n = 0;
    for (const auto& call : calls)
        n += call.rfind(prefix, 0) == 0;
    return n;
}

size_t CountExactly(const std::vector<std::string>& calls, const char* line) {
    size_t n = 0;
    for (const auto& call : calls)
        n += call == line;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6)
        return 0;
    const uint8_t conditions = data[0];
    const uint32_t answer = uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16 |
                            uint32_t(data[4]) << 24;
    SetUpWorld(conditions, answer);
    um::FailServiceCall(um::ServiceCall::SetStatus, data[5] & 1);

    int exitCode = -1;
    std::thread process([&exitCode] { exitCode = zel_svc::ServiceProcessEntry(); });
    FUZZ_CHECK(um::WaitForServiceMain());
    um::FailServiceCall(um::ServiceCall::SetStatus, false);
    FUZZ_CHECK(um::OpenDeviceCount() == 0);
    FUZZ_CHECK(um::LoadedModuleCount() == 0);

    bool stopped = false; // a stop was reported and accepted: the dispatcher has returned
    for (size_t i = 6; i + 3 <= size; i += 3) {
        const DWORD control = data[i];
        const DWORD eventType = data[i + 1];
        const uint8_t changes = data[i + 2];
        um::FailServiceCall(um::ServiceCall::SetStatus, changes & 1);
        if (changes & 6)
            um::SetKeyboardDevice(DeviceState(changes >> 1));

        for (const auto& report : um::StatusReports())
            stopped |= report.accepted && report.status.dwCurrentState == SERVICE_STOPPED;
        const bool registered = zel_svc::ServiceStatusHandle != nullptr;
        const bool hadAgent = zel_svc::Agent != nullptr;
        const size_t reportsBefore = um::StatusReports().size();
        const size_t callsBefore = um::Calls().size();

        const DWORD result = um::SendServiceControl(control, eventType);

        const auto reports = um::StatusReports();
        const auto calls = um::Calls();
        const std::vector<std::string> made(calls.begin() + callsBefore, calls.end());
        if (stopped || !registered) {
            // No handler runs: nothing of the service's is called.
            FUZZ_CHECK(result == ERROR_SERVICE_NOT_ACTIVE);
            FUZZ_CHECK(made.empty());
            continue;
        }
        const bool reporting = control == SERVICE_CONTROL_STOP ||
                               control == SERVICE_CONTROL_INTERROGATE ||
                               control == SERVICE_CONTROL_POWEREVENT;
        if (!reporting) {
            FUZZ_CHECK(result == ERROR_CALL_NOT_IMPLEMENTED);
            FUZZ_CHECK(made.empty());
            continue;
        }
        FUZZ_CHECK(reports.size() == reportsBefore + 1);
        const bool accepted = reports.back().accepted;
        FUZZ_CHECK(result == (accepted ? NO_ERROR : ERROR_INVALID_HANDLE));
        // A failed report is told in the handler's own box.
        FUZZ_CHECK(CountExactly(made, "MessageBoxA [Zel-Service]") == (accepted ? 0u : 1u));

        const bool resume =
            control == SERVICE_CONTROL_POWEREVENT && eventType == PBT_APMRESUMESUSPEND && hadAgent;
        FUZZ_CHECK(Count(made, "CreateFileA") == (resume ? 1u : 0u));
        FUZZ_CHECK(Count(made, "DeviceIoControl") <= Count(made, "CreateFileA"));
        FUZZ_CHECK(Count(made, "CloseHandle") == Count(made, "DeviceIoControl"));
        FUZZ_CHECK(Count(made, "LoadLibraryA zel_svc.dll") == 0); // the check runs at start only
        FUZZ_CHECK(um::OpenDeviceCount() == 0);
        FUZZ_CHECK(um::LoadedModuleCount() == 0);

        if (control == SERVICE_CONTROL_STOP) {
            FUZZ_CHECK(reports.back().status.dwCurrentState == SERVICE_STOPPED);
            FUZZ_CHECK(reports.back().status.dwWin32ExitCode == 0);
            // The agent goes only after a report that went through.
            FUZZ_CHECK((zel_svc::Agent == nullptr) == (accepted || !hadAgent));
        }
    }
    CheckBoxes();
    for (const auto& report : um::StatusReports()) {
        FUZZ_CHECK(report.status.dwServiceType == 0x110);
        FUZZ_CHECK(report.status.dwControlsAccepted == 0x41);
        FUZZ_CHECK(report.status.dwServiceSpecificExitCode == 0);
        FUZZ_CHECK(report.status.dwCheckPoint == 0 && report.status.dwWaitHint == 0);
    }

    um::EndServiceProcess();
    process.join();
    FUZZ_CHECK(exitCode == 0);
    FUZZ_CHECK(um::LoadedModuleCount() == 0);
    FUZZ_CHECK(um::OpenDeviceCount() == 0);
    FUZZ_CHECK(um::OpenHandleCount() == 0);
    // The only heap block the service holds is its agent.
    FUZZ_CHECK(um::HeapBlockCount() == (zel_svc::Agent != nullptr ? 1 : 0));
    um::Reset();
    return 0;
}
