// Run under Wine, with zel_hidg.sys on the test game-port bus: runs the real zelcal.exe
// and checks what it stores in the registry, what it prints, and what the real driver
// reports once it has read the calibration (the test replugs the joystick, since Wine
// refuses zelcal's restart; zelcal then says to unplug and replug, with exit status 3).
//   zelcal_wine_check.exe ZELCAL DRIVER_INSTALL
// The port's lines fall after 300, 600, 900 and 1200 us; X, Y, Z and rudder come from
// lines 0, 1, 3 and 2.
#include <windows.h>

#include <aclapi.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sddl.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include "../wine_check.h"

namespace {

constexpr USHORT kVendorId = 0x06A3;
constexpr USHORT kProductId = 13877;
const char kKey[] =
    "System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\Calibrado";

std::string g_Zelcal, g_DriverInstall, g_Dir;

std::string WindowsPath(const char* path) {
    std::string p = path;
    if (!p.empty() && p[0] == '/') {
        std::replace(p.begin(), p.end(), '/', '\\');
        p = "Z:" + p;
    }
    return p;
}

struct Result {
    DWORD code = 999;
    std::string output;
};

// Runs a program with its output (both streams) in a file, and returns both.
Result RunProgram(const std::string& commandLine) {
    Result r;
    const std::string outPath = g_Dir + "\\output.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE in = CreateFileA("NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = startup.hStdError = out;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, 120000);
        GetExitCodeProcess(process.hProcess, &r.code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(out);
    CloseHandle(in);
    std::ifstream file(outPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    for (char c : text.str())
        if (c != '\r')
            r.output += c;
    std::printf("> %s\n[exit %lu]\n%s", commandLine.c_str(), r.code, r.output.c_str());
    std::fflush(stdout);
    return r;
}

Result Zelcal(const std::string& args) {
    return RunProgram("\"" + g_Zelcal + "\" " + args);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream(g_Dir + "\\" + name, std::ios::binary) << text;
}

// The stored bytes of one value; empty when it is absent.
std::vector<BYTE> Stored(const char* name) {
    std::vector<BYTE> data(64);
    DWORD size = DWORD(data.size());
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_ANY, nullptr, data.data(), &size) !=
        ERROR_SUCCESS)
        return {};
    data.resize(size);
    return data;
}

std::vector<BYTE> Record(ULONG minimum, ULONG centre, ULONG maximum, BYTE deadZone, BYTE band) {
    std::vector<BYTE> v(16, 0);
    std::memcpy(&v[0], &minimum, 4);
    std::memcpy(&v[4], &centre, 4);
    std::memcpy(&v[8], &maximum, 4);
    v[12] = deadZone;
    v[13] = band;
    return v;
}

// Denies (or allows again) setting values of the calibration key to everyone.
bool DenySetValue(bool deny) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, WRITE_DAC, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const char* sddl = deny ? "D:(D;;0x2;;;WD)(A;;KA;;;WD)" : "D:(A;;KA;;;WD)";
    bool ok =
        ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr) &&
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
    LocalFree(sd);
    RegCloseKey(key);
    return ok;
}

std::string FindJoystick() {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 20000) {
        HDEVINFO set =
            SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        SP_DEVICE_INTERFACE_DATA iface = {};
        iface.cbSize = sizeof iface;
        std::string found;
        for (DWORD i = 0;
             found.empty() && SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, i, &iface); ++i) {
            union {
                SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
                char bytes[1024];
            } buffer;
            buffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, &buffer.detail, sizeof buffer,
                                                  nullptr, nullptr))
                continue;
            HANDLE h = CreateFileA(buffer.detail.DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE)
                continue;
            HIDD_ATTRIBUTES a = {};
            a.Size = sizeof a;
            PHIDP_PREPARSED_DATA preparsed = nullptr;
            HIDP_CAPS caps = {};
            if (HidD_GetAttributes(h, &a) && a.VendorID == kVendorId && a.ProductID == kProductId &&
                HidD_GetPreparsedData(h, &preparsed)) {
                if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS && caps.Usage == 0x04)
                    found = buffer.detail.DevicePath;
                HidD_FreePreparsedData(preparsed);
            }
            CloseHandle(h);
        }
        SetupDiDestroyDeviceInfoList(set);
        if (!found.empty())
            return found;
        Sleep(200);
    }
    return "";
}

// The median of nine reports of each axis field, as signed values.
bool ReadAxes(LONG axes[4]) {
    const std::string path = FindJoystick();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (!CHECK(h != INVALID_HANDLE_VALUE))
        return false;
    std::vector<LONG> seen[4];
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (int r = 0; r < 9; ++r) {
        BYTE report[28] = {};
        OVERLAPPED o = {};
        o.hEvent = event;
        ResetEvent(event);
        DWORD got = 0;
        BOOL ok = ReadFile(h, report, sizeof report, &got, &o);
        if (!ok && GetLastError() == ERROR_IO_PENDING &&
            WaitForSingleObject(event, 5000) == WAIT_OBJECT_0)
            ok = GetOverlappedResult(h, &o, &got, FALSE);
        if (!CHECK(ok && got == sizeof report))
            break;
        for (int a = 0; a < 4; ++a) {
            LONG v;
            std::memcpy(&v, &report[1 + 4 * a], 4);
            seen[a].push_back(v);
        }
    }
    CloseHandle(event);
    CloseHandle(h);
    for (int a = 0; a < 4; ++a) {
        if (seen[a].size() != 9)
            return false;
        std::sort(seen[a].begin(), seen[a].end());
        axes[a] = seen[a][4];
    }
    std::printf("axes (median of 9 reports): %ld %ld %ld %ld\n", axes[0], axes[1], axes[2],
                axes[3]);
    return true;
}

// Unplugs the test game port (removing its device takes the joystick with it) and plugs it
// in again, so that the joystick driver starts afresh and reads the calibration.
bool Replug() {
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    int removed = 0;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        char service[64] = {};
        if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr,
                                              reinterpret_cast<BYTE*>(service), sizeof service,
                                              nullptr) &&
            std::strcmp(service, "zel_testport") == 0 && SetupDiRemoveDevice(set, &device))
            ++removed;
    }
    SetupDiDestroyDeviceInfoList(set);
    CHECK_EQ(removed, 1);
    const Result install = RunProgram("\"" + g_DriverInstall +
                                      "\" root system zel_testport root\\zel_testport "
                                      "C:\\zel_drivers\\zel_testport.inf");
    return CHECK_EQ(install.code, 0) && CHECK(!FindJoystick().empty());
}

// Raw axes: the pulse lengths, X, Y, Z and rudder from lines 0, 1, 3 and 2.
void CheckRaw(const LONG axes[4]) {
    CHECK_NEAR(axes[0], 300, 60);
    CHECK_NEAR(axes[1], 600, 60);
    CHECK_NEAR(axes[2], 1200, 60);
    CHECK_NEAR(axes[3], 900, 60);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: zelcal_wine_check ZELCAL DRIVER_INSTALL\n");
        return 2;
    }
    g_Zelcal = WindowsPath(argv[1]);
    g_DriverInstall = WindowsPath(argv[2]);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    g_Dir = std::string(temp) + "zelcal_check";
    CreateDirectoryA(g_Dir.c_str(), nullptr);
    if (!CHECK(!FindJoystick().empty()))
        return WINE_CHECK_RESULT();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);

    // Help and a bad command line.
    Result r = Zelcal("--help");
    CHECK_EQ(r.code, 0);
    CHECK(Contains(r.output, "zelcal calibrate [--axes LIST] [--script FILE]"));
    r = Zelcal("calibrate --axes 7");
    CHECK_EQ(r.code, 2);
    CHECK(Contains(r.output, "zelcal: --axes: \"7\" is not an axis"));

    // Nothing calibrated: the table says so, the values are raw microseconds.
    r = Zelcal("show --once");
    CHECK_EQ(r.code, 0);
    CHECK(Contains(r.output, "Eje1   X       not calibrated\n"
                             "Eje2   Y       not calibrated\n"
                             "Eje3   Z       not calibrated\n"
                             "Eje4   Rudder  not calibrated\n"));
    CHECK(Contains(r.output, "4 axes"));
    CHECK(Contains(r.output, " us ["));

    // Import: the bytes land in the registry, show prints them, and after a replug the
    // driver calibrates X: 600 - 10 - ~298 = ~292 below the centre, unscaled (the lower half
    // range, 490, is the shorter), so about -292.
    WriteFile("kept.cal", "# a kept calibration\nEje1 100 600 1200 10 4\nEje2 -\n");
    r = Zelcal("import " + g_Dir + "\\kept.cal");
    CHECK_EQ(r.code, 3);
    CHECK(Contains(r.output, "unplug and replug it to use it"));
    CHECK(Stored("Eje1") == Record(100, 600, 1200, 10, 4));
    CHECK(Stored("Eje2").empty());
    r = Zelcal("show --once");
    CHECK_EQ(r.code, 0);
    CHECK(Contains(r.output,
                   "value  axis    minimum   centre  maximum  dead zone   band  output range\n"
                   "Eje1   X        100 us   600 us  1200 us      10 us   4 us  -490..+490\n"
                   "Eje2   Y       not calibrated\n"));
    LONG axes[4] = {};
    if (Replug() && ReadAxes(axes)) {
        CHECK_NEAR(axes[0], -292, 20);
        CHECK_NEAR(axes[1], 600, 60);
    }

    // A refused file and a refused write change nothing.
    WriteFile("bad.cal", "Eje1 700 600 1200 10 4\n");
    r = Zelcal("import " + g_Dir + "\\bad.cal");
    CHECK_EQ(r.code, 1);
    CHECK(Contains(r.output, "line 1: Eje1: minimum 700 + dead zone 10 lies above the centre"));
    WriteFile("other.cal", "Eje1 200 700 1300 20 8\nEje2 100 600 1100 5 2\n");
    if (CHECK(DenySetValue(true))) {
        r = Zelcal("import " + g_Dir + "\\other.cal");
        CHECK_EQ(r.code, 1);
        CHECK(Contains(r.output, "needs administrator rights"));
        r = Zelcal("reset --yes");
        CHECK_EQ(r.code, 1);
        WriteFile("steps.txt", "centre 5\nends 5\n");
        r = Zelcal("calibrate --script " + g_Dir + "\\steps.txt");
        CHECK_EQ(r.code, 1);
        CHECK(Contains(r.output, "needs administrator rights"));
        CHECK(DenySetValue(false));
    }
    CHECK(Stored("Eje1") == Record(100, 600, 1200, 10, 4));
    CHECK(Stored("Eje2").empty());

    // Export and import give back the same bytes.
    r = Zelcal("export " + g_Dir + "\\saved.cal");
    CHECK_EQ(r.code, 0);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
    r = Zelcal("import " + g_Dir + "\\saved.cal");
    CHECK_EQ(r.code, 3);
    CHECK(Stored("Eje1") == Record(100, 600, 1200, 10, 4));
    CHECK(Stored("Eje3").empty());

    // A value of the wrong size is named, not exported.
    const BYTE twelve[12] = {};
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, "Eje3", REG_BINARY, twelve, sizeof twelve);
    r = Zelcal("show --once");
    CHECK(Contains(r.output, "Eje3   Z       wrong size: 12 bytes instead of 16"));
    r = Zelcal("export " + g_Dir + "\\wrong.cal");
    CHECK_EQ(r.code, 1);
    CHECK(Contains(r.output, "cannot export: Eje3 holds 12 bytes instead of 16"));

    // Reset removes every value, and after a replug the reports are raw again.
    r = Zelcal("reset --yes");
    CHECK_EQ(r.code, 3);
    for (const char* name : {"Eje1", "Eje2", "Eje3", "Eje4"})
        CHECK(Stored(name).empty());
    if (Replug() && ReadAxes(axes))
        CheckRaw(axes);
    return WINE_CHECK_RESULT();
}
