// Run under Wine, with zel_hidg.sys on the test game-port bus: runs the real zelcal.exe
// and checks what it stores in the registry, what it prints, and what the real driver
// reports once it has read the calibration (the test replugs the joystick through the bus's
// control device, since Wine refuses zelcal's restart; zelcal then says to unplug and
// replug, with exit status 3).
//   zelcal_wine_check.exe ZELCAL       the whole check
//   zelcal_wine_check.exe lines A B C D
//       sets the pulse times of the port's lines 0 to 3 (microseconds): the test rig that
//       zelcal's calibration script runs between its steps
// X, Y, Z and rudder come from lines 0, 1, 3 and 2.
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
#include <winioctl.h>
extern "C" {
#include <hidsdi.h>
}

#include "../wine_check.h"
#include "../wine_drivers/test_bus_protocol.h"

namespace {

constexpr USHORT kVendorId = 0x06A3;
constexpr USHORT kProductId = 13877;
const char kKey[] =
    "System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\Calibrado";

std::string g_Self, g_Zelcal, g_Dir;

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

// The joystick's HID path, waiting at most `waitMs` for it to appear.
std::string FindJoystick(DWORD waitMs = 20000) {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    const DWORD start = GetTickCount();
    for (;;) {
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
        if (!found.empty() || GetTickCount() - start >= waitMs)
            return found;
        Sleep(200);
    }
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

bool Control(DWORD code, const void* input, DWORD size) {
    HANDLE h = CreateFileA(ZELTEST_PORT_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD got = 0;
    const BOOL ok =
        DeviceIoControl(h, code, const_cast<void*>(input), size, nullptr, 0, &got, nullptr);
    CloseHandle(h);
    return ok != FALSE;
}

bool SetLines(const unsigned pulses[4]) {
    zeltest::TestPortLines lines = {};
    for (int n = 0; n < 4; ++n)
        lines.PulseUs[n] = pulses[n];
    return Control(IOCTL_ZELTEST_SET_LINES, &lines, sizeof lines);
}

// Unplugs the joystick (the bus drops its child) and plugs it in again, so that the driver
// starts afresh and reads the calibration; the port keeps its line times.
bool Replug() {
    const zeltest::TestPortChildren none = {};
    if (!CHECK(Control(IOCTL_ZELTEST_SET_CHILDREN, &none, sizeof none)))
        return false;
    const DWORD start = GetTickCount();
    while (!FindJoystick(0).empty() && GetTickCount() - start < 20000)
        Sleep(100);
    // Wine installs the driver of a later device from the INF's copy in the INF directory
    // and looks for the driver file beside it.
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    CopyFileA((std::string(windows) + "\\system32\\drivers\\zel_hidg.sys").c_str(),
              (std::string(windows) + "\\inf\\zel_hidg.sys").c_str(), FALSE);
    zeltest::TestPortChildren one = {};
    one.Count = 1;
    one.Children[0].AxisCount = 4;
    one.Children[0].ButtonCount = 4;
    zeltest::PutOemSet(one.Children[0].OemData, 0, zeltest::kDialVendor, zeltest::kDialProduct,
                       zeltest::kDefaultFlags, zeltest::kDefaultPollTimeoutUs);
    return CHECK(Control(IOCTL_ZELTEST_SET_CHILDREN, &one, sizeof one)) &&
           CHECK(!FindJoystick().empty());
}

// Raw axes: the pulse lengths, X, Y, Z and rudder from lines 0, 1, 3 and 2.
void CheckRaw(const LONG axes[4]) {
    CHECK_NEAR(axes[0], 300, 60);
    CHECK_NEAR(axes[1], 600, 60);
    CHECK_NEAR(axes[2], 1200, 60);
    CHECK_NEAR(axes[3], 900, 60);
}

// The record of one value, and the line `zelcal show` prints for it.
struct Stored4 {
    ULONG Minimum, Centre, Maximum;
    BYTE DeadZone, Band;
    ULONG Reach;
};

bool ReadRecord(const char* name, Stored4* r) {
    const std::vector<BYTE> v = Stored(name);
    if (!CHECK_EQ(v.size(), 16))
        return false;
    std::memcpy(&r->Minimum, &v[0], 4);
    std::memcpy(&r->Centre, &v[4], 4);
    std::memcpy(&r->Maximum, &v[8], 4);
    r->DeadZone = v[12];
    r->Band = v[13];
    r->Reach = std::min(r->Centre - r->DeadZone - r->Minimum, r->Maximum - r->DeadZone - r->Centre);
    return true;
}

std::string ShowLine(const char* name, const char* axis, const Stored4& r) {
    char line[160];
    const auto us = [](ULONG v) { return std::to_string(v) + " us"; };
    std::snprintf(line, sizeof line, "%-5s  %-6s %8s %8s %8s  %9s %6s  -%lu..+%lu\n", name, axis,
                  us(r.Minimum).c_str(), us(r.Centre).c_str(), us(r.Maximum).c_str(),
                  us(r.DeadZone).c_str(), us(r.Band).c_str(), r.Reach, r.Reach);
    return line;
}

// Line times (lines 0 to 3) of the stick at the centre and at both ends; X, Y, Z and
// rudder read lines 0, 1, 3 and 2, each axis with ends of its own.
const unsigned kCentre[4] = {1000, 1100, 900, 1200};
const unsigned kLow[4] = {300, 400, 250, 500};
const unsigned kHigh[4] = {1700, 1800, 1600, 1900};
const int kLineOf[4] = {0, 1, 3, 2};
const char* const kNames[4] = {"Eje1", "Eje2", "Eje3", "Eje4"};
const char* const kAxisNames[4] = {"X", "Y", "Z", "Rudder"};

std::string Lines(const unsigned pulses[4]) {
    std::string s = "run \"" + g_Self + "\" lines";
    for (int n = 0; n < 4; ++n)
        s += " " + std::to_string(pulses[n]);
    return s + "\n";
}

// zelcal calibrate with the steps from a script whose "run" steps move the stick through
// the bus's control device; then the real driver, replugged, reports the stick at the
// centre as 0 and at its ends as the records' reach (the shorter half range). Tolerance: a
// poll under Wine reads a line a few microseconds late now and then, and the median of nine
// reports lies within 10 us of the true position, so a calibrated value within 10 of its
// expected one.
void CheckCalibrateByScript() {
    WriteFile("rig.txt", "# the stick on a test rig\n" + Lines(kCentre) + "centre 30\n" +
                             Lines(kLow) + "ends 30\n" + Lines(kHigh) + "ends 30\n" +
                             Lines(kCentre) + "centre 30\n");
    Result r = Zelcal("calibrate --script " + g_Dir + "\\rig.txt");
    CHECK_EQ(r.code, 3);
    CHECK(Contains(r.output, "proposed calibration (raw positions):"));
    CHECK(Contains(r.output, "the new calibration is stored; the joystick could not be restarted"));
    Stored4 records[4];
    for (int a = 0; a < 4; ++a) {
        if (!ReadRecord(kNames[a], &records[a]))
            return;
        const int line = kLineOf[a];
        CHECK_NEAR(records[a].Centre, kCentre[line], 10);
        CHECK_NEAR(records[a].Minimum, kLow[line], 10);
        CHECK_NEAR(records[a].Maximum, kHigh[line], 10);
    }
    r = Zelcal("show --once");
    CHECK_EQ(r.code, 0);
    for (int a = 0; a < 4; ++a)
        CHECK(Contains(r.output, ShowLine(kNames[a], kAxisNames[a], records[a])));

    if (!Replug())
        return;
    const unsigned* positions[3] = {kCentre, kLow, kHigh};
    const int sign[3] = {0, -1, 1};
    for (int p = 0; p < 3; ++p) {
        LONG axes[4];
        if (!CHECK(SetLines(positions[p])) || !ReadAxes(axes))
            return;
        for (int a = 0; a < 4; ++a)
            CHECK_NEAR(axes[a], sign[p] * LONG(records[a].Reach), 10);
    }
    CHECK(SetLines(kCentre));

    // With this calibration in effect, a new calibration must first take it out of effect;
    // Wine refuses the restart that needs, so zelcal stops and the records stay as they are.
    WriteFile("cancel.txt", "centre 5\nends 5\ncancel\n");
    r = Zelcal("calibrate --script " + g_Dir + "\\cancel.txt");
    CHECK_EQ(r.code, 1);
    CHECK(Contains(r.output, "the joystick could not be restarted"));
    CHECK(Contains(r.output, "the old calibration is back in place"));
    for (int a = 0; a < 4; ++a) {
        Stored4 now;
        if (ReadRecord(kNames[a], &now))
            CHECK(now.Minimum == records[a].Minimum && now.Centre == records[a].Centre &&
                  now.Maximum == records[a].Maximum && now.DeadZone == records[a].DeadZone &&
                  now.Band == records[a].Band);
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
    Replug();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "lines") == 0) {
        const unsigned pulses[4] = {unsigned(std::atoi(argv[2])), unsigned(std::atoi(argv[3])),
                                    unsigned(std::atoi(argv[4])), unsigned(std::atoi(argv[5]))};
        return SetLines(pulses) ? 0 : 1;
    }
    if (argc != 2) {
        std::printf("usage: zelcal_wine_check ZELCAL\n"
                    "       zelcal_wine_check lines PULSE0 PULSE1 PULSE2 PULSE3\n");
        return 2;
    }
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    g_Self = self;
    g_Zelcal = WindowsPath(argv[1]);
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

    if (CHECK(SetLines(kCentre)))
        CheckCalibrateByScript();
    const unsigned defaults[4] = {300, 600, 900, 1200};
    CHECK(SetLines(defaults));

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
