// Run under Wine: drives the real zel_svc.exe through the service control manager, with
// the stand-in keyboard interface device zel_testkbd.sys, and checks each case.
//   svc_wine_check CASE EXE [LANGUAGE_FILE]
// CASE is one of
//   no-joystick  the check finds no joystick: stopped with 1062, no box, the device untouched
//   accepting    the device takes the signal: running, no box, exactly one signal counted
//   absent       no device: a box with message 13 while the start is pending, then running
//   refusing     the device refuses the signal: a box with message 14, then running
//   prompt       EXE started as a plain program: the dispatcher's error box, exit code 0
// A service that reached running is then stopped and must report stopped with exit code 0.
// LANGUAGE_FILE (a "zel_<language>.h" in Windows form) gives the expected texts of the boxes
// of absent and refusing. Exits with 0 when every check passed.
#include "kbd_interface_protocol.h"
#include "wine_check.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kService[] = "zelHidUserService";
const char kDriver[] = "zel_testkbd";
const char kDriverPath[] = "C:\\windows\\system32\\drivers\\zel_testkbd.sys";
const DWORD kLimitMs = 30000;

struct Box {
    HWND window;
    std::string caption, text;
};

// ---- Boxes ------------------------------------------------------------------------------

// Reads the box that `window` is, if it is one of the service's.
bool ReadBox(HWND window, Box* box) {
    char className[64] = {}, caption[256] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    if (std::strcmp(className, "#32770") != 0 || std::strncmp(caption, "[Zel-Service]", 13) != 0)
        return false;
    char text[1100] = {};
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text); // the box's static text
    box->window = window;
    box->caption = caption;
    box->text = text;
    return true;
}

BOOL CALLBACK CheckWindow(HWND window, LPARAM box) {
    return !ReadBox(window, reinterpret_cast<Box*>(box));
}

bool FindBox(HDESK desktop, Box* box) {
    box->window = nullptr;
    EnumDesktopWindows(desktop, CheckWindow, reinterpret_cast<LPARAM>(box));
    return box->window != nullptr;
}

// Wine opens the boxes of own-process services on the desktop of a hidden window station of
// theirs; it is opened afresh for each look, as it may not exist yet.
bool FindServiceBox(Box* box) {
    box->window = nullptr;
    HWINSTA station = OpenWindowStationA("__wineservice_winstation", FALSE, GENERIC_ALL);
    if (!station)
        return false;
    HWINSTA own = GetProcessWindowStation();
    SetProcessWindowStation(station); // a desktop is opened in the process's station
    HDESK desktop = OpenDesktopA("Default", 0, FALSE, GENERIC_ALL);
    SetProcessWindowStation(own);
    if (desktop) {
        FindBox(desktop, box);
        CloseDesktop(desktop);
    }
    CloseWindowStation(station);
    return box->window != nullptr;
}

// ---- Expected texts ---------------------------------------------------------------------

std::string MessageFromFile(const char* path, int number) {
    std::string text;
    FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!CHECK(file != nullptr))
        return text;
    char line[1200];
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "#%d=", number);
    while (std::fgets(line, sizeof line, file))
        if (std::strncmp(line, prefix, std::strlen(prefix)) == 0) {
            text = line + std::strlen(prefix);
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            break;
        }
    std::fclose(file);
    CHECK(!text.empty());
    return text;
}

void PressOk(HWND box) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// ---- Services ---------------------------------------------------------------------------

SERVICE_STATUS_PROCESS Query(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                         sizeof status, &needed);
    return status;
}

bool WaitForState(SC_HANDLE service, DWORD state) {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < kLimitMs;) {
        if (Query(service).dwCurrentState == state)
            return true;
        Sleep(10);
    }
    return false;
}

SC_HANDLE CreateOrOpen(SC_HANDLE manager, const char* name, DWORD type, const char* path) {
    SC_HANDLE service =
        CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, type, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
        service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
        if (service)
            ChangeServiceConfigA(service, type, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    return service;
}

// Loads the stand-in device, or unloads it so that the device is absent.
bool SetDevicePresent(SC_HANDLE manager, bool present) {
    SC_HANDLE driver = CreateOrOpen(manager, kDriver, SERVICE_KERNEL_DRIVER, kDriverPath);
    if (!CHECK(driver != nullptr))
        return false;
    SERVICE_STATUS status;
    bool ok;
    if (present) {
        if (Query(driver).dwCurrentState != SERVICE_RUNNING)
            StartServiceA(driver, 0, nullptr);
        ok = CHECK(WaitForState(driver, SERVICE_RUNNING));
    } else {
        if (Query(driver).dwCurrentState != SERVICE_STOPPED)
            ControlService(driver, SERVICE_CONTROL_STOP, &status);
        ok = CHECK(WaitForState(driver, SERVICE_STOPPED));
    }
    CloseServiceHandle(driver);
    return ok;
}

// The test's own requests to the device, through an open the device does not count.
bool DeviceRequest(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
    HANDLE device =
        CreateFileA("\\\\.\\ZelKbInterface", GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!CHECK(device != INVALID_HANDLE_VALUE))
        return false;
    DWORD returned = 0;
    const bool ok =
        CHECK(DeviceIoControl(device, code, in, inSize, out, outSize, &returned, nullptr) != FALSE);
    CloseHandle(device);
    return ok;
}

ZelTestKbdCounts TakeCounts() {
    ZelTestKbdCounts counts = {};
    DeviceRequest(ZEL_TESTKBD_TAKE_COUNTS, nullptr, 0, &counts, sizeof counts);
    return counts;
}

DWORD WINAPI StartService(LPVOID service) {
    if (!StartServiceA(static_cast<SC_HANDLE>(service), 0, nullptr))
        return GetLastError();
    return 0;
}

struct Run {
    SERVICE_STATUS_PROCESS final = {};
    std::vector<Box> boxes;
    std::vector<bool> startPendingAtBoxes; // StartService had not returned while the box was open
};

// Starts the service and watches it until it runs or stops, reading and closing each box.
// Under Wine, StartService returns once the service has left start pending (or after 10 s,
// failing), and status queries wait for it meanwhile; so the boxes are looked for while it
// is on its way, and the state is read once it has returned. A service that stopped itself
// makes StartService fail; its exit code shows only until the manager has seen its process
// end, after which it reads 1077 (never started).
Run StartAndWatch(SC_HANDLE service) {
    Run run;
    HANDLE starter = CreateThread(nullptr, 0, StartService, service, 0, nullptr);
    if (!CHECK(starter != nullptr))
        return run;
    HWND lastPressed = nullptr;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < kLimitMs; Sleep(2)) {
        if (WaitForSingleObject(starter, 0) == WAIT_OBJECT_0) {
            run.final = Query(service);
            if (run.final.dwCurrentState != SERVICE_START_PENDING)
                break;
            continue;
        }
        Box box;
        if (FindServiceBox(&box) && box.window != lastPressed) {
            std::printf("box \"%s\": \"%s\"\n", box.caption.c_str(), box.text.c_str());
            run.boxes.push_back(box);
            run.startPendingAtBoxes.push_back(WaitForSingleObject(starter, 0) == WAIT_TIMEOUT);
            lastPressed = box.window;
            PressOk(box.window);
        }
    }
    WaitForSingleObject(starter, kLimitMs);
    DWORD startResult = 0;
    GetExitCodeThread(starter, &startResult);
    CloseHandle(starter);
    std::printf("StartService result %lu; service state %lu, exit code %lu\n", startResult,
                run.final.dwCurrentState, run.final.dwWin32ExitCode);
    return run;
}

void StopAndCheck(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    CHECK(ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE);
    CHECK_EQ(status.dwCurrentState, SERVICE_STOPPED);
    CHECK_EQ(status.dwWin32ExitCode, 0);
    CHECK(WaitForState(service, SERVICE_STOPPED));
}

int ServiceCase(const std::string& name, const char* exe, const char* languageFile) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    const bool present = name != "absent";
    if (!CHECK(manager != nullptr) || !SetDevicePresent(manager, present))
        return WINE_CHECK_RESULT();
    if (present) {
        ULONG accept = name == "refusing" ? 0 : 1;
        DeviceRequest(ZEL_TESTKBD_SET_ACCEPT, &accept, sizeof accept, nullptr, 0);
        TakeCounts(); // from zero
    }
    // The installation is not the service's: an own-process service, fresh (never started,
    // exit code 1077).
    if (SC_HANDLE old = OpenServiceA(manager, kService, SERVICE_ALL_ACCESS)) {
        DeleteService(old);
        CloseServiceHandle(old);
    }
    SC_HANDLE service = CreateOrOpen(manager, kService, SERVICE_WIN32_OWN_PROCESS, exe);
    if (!CHECK(service != nullptr))
        return WINE_CHECK_RESULT();

    const Run run = StartAndWatch(service);
    const bool joystick = name != "no-joystick";
    if (joystick) {
        CHECK_EQ(run.final.dwCurrentState, SERVICE_RUNNING);
        if (name == "accepting") {
            CHECK_EQ(run.boxes.size(), 0);
        } else if (CHECK_EQ(run.boxes.size(), 1)) {
            const bool refused = name == "refusing";
            CHECK_STREQ(run.boxes[0].caption.c_str(),
                        refused ? "[Zel-Service][1.2]" : "[Zel-Service][1.1]");
            CHECK_STREQ(run.boxes[0].text.c_str(),
                        MessageFromFile(languageFile, refused ? 14 : 13).c_str());
            CHECK(run.startPendingAtBoxes[0]); // the running report waits for the box
        }
        StopAndCheck(service);
    } else {
        CHECK_EQ(run.final.dwCurrentState, SERVICE_STOPPED);
        CHECK_EQ(run.final.dwWin32ExitCode, 1062);
        CHECK_EQ(run.final.dwServiceSpecificExitCode, 0);
        CHECK_EQ(run.boxes.size(), 0);
    }
    if (present) {
        const ZelTestKbdCounts counts = TakeCounts();
        CHECK_EQ(counts.Opens, joystick ? 1 : 0);
        CHECK_EQ(counts.Requests, joystick ? 1 : 0);
        CHECK_EQ(counts.Refused, name == "refusing" ? 1 : 0);
        CHECK_EQ(counts.Closes, joystick ? 1 : 0);
    }
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return WINE_CHECK_RESULT();
}

// The service program started from a prompt (the dispatcher fails after Wine's 10 s wait
// for the control manager), on a window station of its own, where its box opens without a
// display and is found among the desktop's windows.
int PromptCase(const char* exe) {
    HWINSTA own = GetProcessWindowStation();
    HWINSTA station = CreateWindowStationA("zel_svc_prompt", 0, WINSTA_ALL_ACCESS, nullptr);
    if (!CHECK(station != nullptr))
        return WINE_CHECK_RESULT();
    SetProcessWindowStation(station);
    HDESK desktop = CreateDesktopA("default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
    if (!CHECK(desktop != nullptr))
        return WINE_CHECK_RESULT();

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    char desktopName[] = "zel_svc_prompt\\default";
    startup.lpDesktop = desktopName;
    PROCESS_INFORMATION process = {};
    std::string command = std::string("\"") + exe + "\"";
    if (!CHECK(CreateProcessA(exe, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process) != FALSE))
        return WINE_CHECK_RESULT();
    Box box = {};
    bool found = false;
    for (const DWORD start = GetTickCount(); !found && GetTickCount() - start < kLimitMs;) {
        found = FindBox(desktop, &box);
        if (!found)
            Sleep(5);
    }
    if (CHECK(found)) {
        std::printf("box \"%s\": \"%s\"\n", box.caption.c_str(), box.text.c_str());
        CHECK_STREQ(box.caption.c_str(), "[Zel-Service]");
        CHECK_STREQ(box.text.c_str(), "StartServiceCtrlDispatcher error");
        PressOk(box.window);
    }
    CHECK_EQ(WaitForSingleObject(process.hProcess, kLimitMs), WAIT_OBJECT_0);
    DWORD exitCode = 259;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CHECK_EQ(exitCode, 0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseDesktop(desktop);
    CloseWindowStation(station);
    return WINE_CHECK_RESULT();
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0); // progress shows even if the run is cut short
    const std::string name = argc >= 3 ? argv[1] : "";
    if (name == "prompt" && argc == 3)
        return PromptCase(argv[2]);
    if ((name == "no-joystick" || name == "accepting") && argc == 3)
        return ServiceCase(name, argv[2], nullptr);
    if ((name == "absent" || name == "refusing") && argc == 4)
        return ServiceCase(name, argv[2], argv[3]);
    std::printf("usage: svc_wine_check no-joystick|accepting|prompt EXE\n"
                "       svc_wine_check absent|refusing EXE LANGUAGE_FILE\n");
    return 2;
}
