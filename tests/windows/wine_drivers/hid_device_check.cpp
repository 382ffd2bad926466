// Run under Wine: finds the HID devices that the HID class driver made for one of our
// minidrivers and checks what the system sees of them.
//   hid_device_check.exe vmd
//       zel_vmd's keyboard and mouse: attributes and the capabilities of each top-level
//       collection as the fixed report descriptor declares them
//   hid_device_check.exe vmd-reports
//       the report descriptor zel_vmd answers with, byte for byte, and a keyboard and a
//       mouse report queued at the test bus below it, read back field by field
//   hid_device_check.exe joystick PULSE0 PULSE1 PULSE2 PULSE3
//       zel_hidg's joystick: attributes, capabilities, and input reports whose four axes
//       hold the port's pulse lengths in microseconds (X, Y, Z, rudder from lines 0, 1, 3, 2)
//   hid_device_check.exe joystick-lines | two-sticks | calibration
//       the joystick after the test game-port bus changed its lines or its children
//       (line times followed, an unplugged line; two sticks on one port with disjoint lines,
//       the dials only with their ids; a calibration from the registry)
// Devices appear some time after the driver is installed: each check waits for them.
// Exits with 0 when every check passed, 1 otherwise.
//
// Tolerances: Wine runs the joystick poll in a user-mode process, which the host can
// preempt between the trigger and a read of the port; a line then reads as falling late,
// never early. The checks take the median of several reads and allow 100 us either way
// (idle, the values come within 2 us).
#include "../wine_check.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <setupapi.h>
#include <winioctl.h>
// mingw-w64's HID headers declare C functions without extern "C".
extern "C" {
#include <hidsdi.h>
}

#include "test_bus_protocol.h"

namespace {

constexpr USHORT kVendorId = 0x06A3;
constexpr USHORT kProductId = 13877; // 0x3635
constexpr DWORD kAppearMs = 20000;

struct Collection {
    std::string path;
    HIDD_ATTRIBUTES attributes;
    HIDP_CAPS caps;
    std::vector<HIDP_LINK_COLLECTION_NODE> links;
    std::vector<HIDP_BUTTON_CAPS> buttons;
    std::vector<HIDP_VALUE_CAPS> values;
};

void ReadCapabilities(PHIDP_PREPARSED_DATA preparsed, Collection& c) {
    ULONG links = c.caps.NumberLinkCollectionNodes;
    c.links.resize(links);
    if (links &&
        HidP_GetLinkCollectionNodes(c.links.data(), &links, preparsed) != HIDP_STATUS_SUCCESS)
        links = 0;
    c.links.resize(links);
    USHORT buttons = c.caps.NumberInputButtonCaps;
    c.buttons.resize(buttons);
    if (buttons && HidP_GetButtonCaps(HidP_Input, c.buttons.data(), &buttons, preparsed) !=
                       HIDP_STATUS_SUCCESS)
        buttons = 0;
    c.buttons.resize(buttons);
    USHORT values = c.caps.NumberInputValueCaps;
    c.values.resize(values);
    if (values &&
        HidP_GetValueCaps(HidP_Input, c.values.data(), &values, preparsed) != HIDP_STATUS_SUCCESS)
        values = 0;
    c.values.resize(values);
}

// Every present HID interface with our vendor id (Wine's own devices carry another), with
// its attributes and the capabilities of its collection.
std::vector<Collection> FindOurCollections() {
    std::vector<Collection> found;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return found;
    SP_DEVICE_INTERFACE_DATA iface = {};
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, i, &iface); ++i) {
        union {
            SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
            char bytes[1024];
        } buffer;
        buffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, &buffer.detail, sizeof buffer, nullptr,
                                              nullptr))
            continue;
        HANDLE h = CreateFileA(buffer.detail.DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        Collection c = {};
        c.path = buffer.detail.DevicePath;
        c.attributes.Size = sizeof c.attributes;
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (HidD_GetAttributes(h, &c.attributes) && c.attributes.VendorID == kVendorId &&
            HidD_GetPreparsedData(h, &preparsed)) {
            if (HidP_GetCaps(preparsed, &c.caps) == HIDP_STATUS_SUCCESS) {
                ReadCapabilities(preparsed, c);
                found.push_back(c);
            }
            HidD_FreePreparsedData(preparsed);
        }
        CloseHandle(h);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

// Waits until `complete` holds for our collections (a device's collections appear one
// after another) or the time is up, and prints what it found.
std::vector<Collection> WaitForCollections(bool (*complete)(const std::vector<Collection>&)) {
    std::vector<Collection> found;
    const DWORD start = GetTickCount();
    for (;;) {
        found = FindOurCollections();
        if (complete(found) || GetTickCount() - start > kAppearMs)
            break;
        Sleep(100);
    }
    for (const Collection& c : found)
        std::printf("found %s: vendor %04X product %04X version %04X, usage %02X:%02X, "
                    "input %u output %u feature %u bytes, input button caps %u value caps %u, "
                    "link collections %u\n",
                    c.path.c_str(), c.attributes.VendorID, c.attributes.ProductID,
                    c.attributes.VersionNumber, c.caps.UsagePage, c.caps.Usage,
                    c.caps.InputReportByteLength, c.caps.OutputReportByteLength,
                    c.caps.FeatureReportByteLength, c.caps.NumberInputButtonCaps,
                    c.caps.NumberInputValueCaps, c.caps.NumberLinkCollectionNodes);
    return found;
}

const Collection* WithUsage(const std::vector<Collection>& all, USHORT page, USHORT usage) {
    for (const Collection& c : all)
        if (c.caps.UsagePage == page && c.caps.Usage == usage)
            return &c;
    return nullptr;
}

void CheckAttributes(const Collection& c, USHORT version) {
    CHECK_EQ(c.attributes.VendorID, kVendorId);
    CHECK_EQ(c.attributes.ProductID, kProductId);
    CHECK_EQ(c.attributes.VersionNumber, version);
}

// The collection of `all` that carries input report `reportId`, or null.
const Collection* WithReport(const std::vector<Collection>& all, UCHAR reportId) {
    for (const Collection& c : all) {
        for (const HIDP_BUTTON_CAPS& b : c.buttons)
            if (b.ReportID == reportId)
                return &c;
        for (const HIDP_VALUE_CAPS& v : c.values)
            if (v.ReportID == reportId)
                return &c;
    }
    return nullptr;
}

// Whether `c` declares an application collection with this usage: as its own top-level
// usage, or as one of its link collections when the class driver keeps several top-level
// collections in one device.
bool HasApplication(const Collection& c, USHORT page, USHORT usage) {
    if (c.caps.UsagePage == page && c.caps.Usage == usage)
        return true;
    for (const HIDP_LINK_COLLECTION_NODE& node : c.links)
        if (node.LinkUsagePage == page && node.LinkUsage == usage && node.CollectionType == 1)
            return true;
    return false;
}

// The keyboard (report id 1: 232 key bits) and the mouse (report id 2: three buttons, five
// pad bits, relative X and Y bytes) are two top-level collections. Windows makes a HID
// collection of each; Wine 8 keeps both in one device whose top-level usage is the first
// (the keyboard) and whose input reports are as long as the longer one. Either way each
// report keeps its id, usages and length (the id byte counted).
int CheckVirtualDevice() {
    const std::vector<Collection> found =
        WaitForCollections([](const std::vector<Collection>& all) {
            return WithReport(all, 1) && WithReport(all, 2);
        });
    // The joystick shares the ids but has no report ids (its report 0).
    std::vector<Collection> ours;
    for (const Collection& c : found)
        if (!WithReport({c}, 0))
            ours.push_back(c);
    // A HID device with our vendor and product ids.
    if (!CHECK(!ours.empty()))
        return WINE_CHECK_RESULT();
    for (const Collection& c : ours) {
        CheckAttributes(c, 0x0101);
        CHECK_EQ(c.caps.OutputReportByteLength, 0);
        CHECK_EQ(c.caps.FeatureReportByteLength, 0);
    }
    const Collection* keyboard = WithReport(ours, 1);
    const Collection* mouse = WithReport(ours, 2);
    CHECK(keyboard != nullptr);
    CHECK(mouse != nullptr);
    if (!keyboard || !mouse)
        return WINE_CHECK_RESULT();
    const long long keyboardBytes = 1 + 232 / 8;
    const long long mouseBytes = 1 + 1 + 2;
    CHECK(HasApplication(*keyboard, 0x01, 0x06));
    CHECK(HasApplication(*mouse, 0x01, 0x02));
    if (keyboard == mouse) {
        // One device: the first collection's usage, the longer report's length.
        CHECK_EQ(ours.size(), 1);
        CHECK_EQ(keyboard->caps.UsagePage, 0x01);
        CHECK_EQ(keyboard->caps.Usage, 0x06);
        CHECK_EQ(keyboard->caps.InputReportByteLength, keyboardBytes);
    } else {
        CHECK_EQ(ours.size(), 2);
        CHECK_EQ(keyboard->caps.InputReportByteLength, keyboardBytes);
        CHECK_EQ(mouse->caps.InputReportByteLength, mouseBytes);
    }

    // Keys: one range of usages 0x00 to 0xE7 of the Keyboard/Keypad page in report 1;
    // mouse buttons 1 to 3 in report 2; X and Y, 8-bit relative -127..127, in report 2.
    int keys = 0, mouseButtons = 0, axes = 0;
    for (const Collection* c : {keyboard, mouse}) {
        for (const HIDP_BUTTON_CAPS& b : c->buttons) {
            if (b.ReportID == 1 && b.UsagePage == 0x07 && b.IsRange && b.Range.UsageMin == 0x00 &&
                b.Range.UsageMax == 0xE7)
                ++keys;
            if (b.ReportID == 2 && b.UsagePage == 0x09 && b.IsRange && b.Range.UsageMin == 1 &&
                b.Range.UsageMax == 3)
                ++mouseButtons;
        }
        for (const HIDP_VALUE_CAPS& v : c->values) {
            const USHORT usage = v.IsRange ? v.Range.UsageMin : v.NotRange.Usage;
            std::printf("value caps: report %u usage %02X:%02X bits %u count %u logical %ld..%ld "
                        "absolute %u\n",
                        v.ReportID, v.UsagePage, usage, v.BitSize, v.ReportCount, v.LogicalMin,
                        v.LogicalMax, v.IsAbsolute);
            if (v.ReportID == 2 && v.UsagePage == 0x01 && (usage == 0x30 || usage == 0x31) &&
                v.BitSize == 8 && v.LogicalMin == -127 && v.LogicalMax == 127 && !v.IsAbsolute)
                ++axes;
        }
        if (keyboard == mouse)
            break;
    }
    CHECK_EQ(keys, 1);
    CHECK_EQ(mouseButtons, 1);
    CHECK_EQ(axes, 2);
    return WINE_CHECK_RESULT();
}

// Waits for a report that the joystick answers a read with; false after five seconds.
bool ReadReport(HANDLE h, UCHAR* report, DWORD bytes) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD got = 0;
    bool ok = ReadFile(h, report, bytes, &got, &overlapped) != FALSE;
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0)
            ok = GetOverlappedResult(h, &overlapped, &got, FALSE) != FALSE;
        else
            CancelIo(h);
    }
    CloseHandle(overlapped.hEvent);
    return ok && got == bytes;
}

ULONG AxisAt(const UCHAR* report, int axis) {
    ULONG value;
    std::memcpy(&value, report + 1 + 4 * axis, 4);
    return value;
}

// The joystick on the test port: four axes from lines 0, 1, 3 and 2 (source codes 0 with
// Z and rudder present), hats, two dials (the ids 0x06A3/13877 bring them) and 40 buttons
// in a 27-byte report without id (28 bytes with the id byte 0). With no calibration the
// axes are the pulse lengths in microseconds; real time under Wine is noisy (a pre-empted
// poll reads a line late), so the median of several reads must be near each pulse. No
// bridge device exists, so hats, dials and buttons stay 0.
int CheckJoystick(const long long pulses[4]) {
    const std::vector<Collection> ours = WaitForCollections(
        [](const std::vector<Collection>& all) { return WithUsage(all, 0x01, 0x04) != nullptr; });
    const Collection* joystick = WithUsage(ours, 0x01, 0x04);
    if (!CHECK(joystick != nullptr))
        return WINE_CHECK_RESULT();
    CheckAttributes(*joystick, 0x0001);
    constexpr DWORD kBytes = 1 + 27;
    CHECK_EQ(joystick->caps.InputReportByteLength, kBytes);
    CHECK_EQ(joystick->caps.NumberInputValueCaps, 4 + 4 + 2); // axes, hats, dials
    int dials = 0;
    for (const HIDP_VALUE_CAPS& v : joystick->values) {
        const USHORT usage = v.IsRange ? v.Range.UsageMin : v.NotRange.Usage;
        if (v.UsagePage == 0x01 && usage == 0x37)
            ++dials;
    }
    CHECK_EQ(dials, 2);
    if (winecheck::Failures())
        return WINE_CHECK_RESULT();

    HANDLE h = CreateFileA(joystick->path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (!CHECK(h != INVALID_HANDLE_VALUE)) {
        CHECK_EQ(GetLastError(), ERROR_SUCCESS);
        return WINE_CHECK_RESULT();
    }
    constexpr int kReads = 9;
    std::vector<long long> axes[4];
    for (int r = 0; r < kReads; ++r) {
        UCHAR report[kBytes] = {};
        if (!CHECK(ReadReport(h, report, kBytes))) {
            CHECK_EQ(GetLastError(), ERROR_SUCCESS);
            std::printf("    in read %d\n", r);
            break;
        }
        std::printf("report:");
        for (int a = 0; a < 4; ++a)
            std::printf(" %lu", AxisAt(report, a));
        std::printf(" |");
        for (DWORD b = 17; b < kBytes; ++b)
            std::printf(" %02X", report[b]);
        std::printf("\n");
        CHECK_EQ(report[0], 0); // no report id
        for (int a = 0; a < 4; ++a)
            axes[a].push_back(AxisAt(report, a));
        // Without a bridge, every hat, dial and button byte stays 0.
        for (DWORD b = 17; b < kBytes; ++b)
            CHECK_EQ(report[b], 0);
    }
    CloseHandle(h);
    // X, Y, Z and rudder come from lines 0, 1, 3 and 2.
    const int lineOf[4] = {0, 1, 3, 2};
    for (int a = 0; a < 4 && axes[a].size() == kReads; ++a) {
        std::vector<long long> sorted = axes[a];
        std::sort(sorted.begin(), sorted.end());
        const long long median = sorted[kReads / 2];
        const long long expected = pulses[lineOf[a]];
        CHECK_NEAR(median, expected, 100); // microseconds
    }
    return WINE_CHECK_RESULT();
}

// ---- The test buses' control devices ------------------------------------------------------

HANDLE OpenControl(const char* path) {
    HANDLE h =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!CHECK(h != INVALID_HANDLE_VALUE))
        std::printf("cannot open %s (error %lu)\n", path, GetLastError());
    return h;
}

bool Control(const char* path, DWORD code, const void* in, DWORD inBytes, void* out = nullptr,
             DWORD outBytes = 0, DWORD* got = nullptr) {
    HANDLE h = OpenControl(path);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD bytes = 0;
    const bool ok = DeviceIoControl(h, code, const_cast<void*>(in), inBytes, out, outBytes, &bytes,
                                    nullptr) != FALSE;
    if (!ok)
        std::printf("control request %08lX to %s failed (error %lu)\n", code, path, GetLastError());
    CloseHandle(h);
    if (got)
        *got = bytes;
    return ok;
}

// ---- zel_vmd.sys on the test bus: descriptor and reports -------------------------------------

// The report descriptor of the virtual keyboard and mouse, written out here on its own.
const UCHAR kVirtualReportDescriptor[] = {
    // Keyboard, report id 1: usages 0x00..0xE7 of the keyboard page, one bit each.
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x07, 0x19, 0x00, 0x29, 0xE7, 0x15, 0x00,
    0x25, 0x01, 0x75, 0x01, 0x95, 0xE8, 0x81, 0x02, 0xC0,
    // Mouse, report id 2: buttons 1..3, five constant bits, relative X and Y of -127..127.
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x02, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01,
    0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05,
    0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02,
    0x81, 0x06, 0xC0, 0xC0};

bool QueueReport(const std::vector<UCHAR>& report) {
    return CHECK(Control(ZELTEST_HID_USER_PATH, IOCTL_ZELTEST_QUEUE_REPORT, report.data(),
                         DWORD(report.size())));
}

// Reads one input report of the device (its longest report's length), waiting at most
// `waitMs`; the bytes read, or an empty vector.
std::vector<UCHAR> ReadInput(HANDLE h, DWORD bytes, DWORD waitMs) {
    std::vector<UCHAR> report(bytes);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD got = 0;
    bool ok = ReadFile(h, report.data(), bytes, &got, &overlapped) != FALSE;
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, waitMs) == WAIT_OBJECT_0) {
            ok = GetOverlappedResult(h, &overlapped, &got, FALSE) != FALSE;
        } else {
            CancelIo(h);
            GetOverlappedResult(h, &overlapped, &got, TRUE);
        }
    }
    CloseHandle(overlapped.hEvent);
    report.resize(ok ? got : 0);
    return report;
}

std::vector<USAGE> PressedUsages(PHIDP_PREPARSED_DATA preparsed, USAGE page,
                                 std::vector<UCHAR>& report) {
    std::vector<USAGE> usages(256);
    ULONG count = ULONG(usages.size());
    if (HidP_GetUsages(HidP_Input, page, 0, usages.data(), &count, preparsed,
                       reinterpret_cast<PCHAR>(report.data()),
                       ULONG(report.size())) != HIDP_STATUS_SUCCESS)
        count = 0;
    usages.resize(count);
    std::sort(usages.begin(), usages.end());
    return usages;
}

void CheckUsages(const std::vector<USAGE>& got, const std::vector<USAGE>& expected) {
    if (!CHECK_EQ(got.size(), expected.size()))
        return;
    for (size_t i = 0; i < got.size(); ++i)
        CHECK_EQ(got[i], expected[i]);
}

int CheckVirtualReports() {
    // The descriptor, as the HID class driver gets it from zel_vmd.sys.
    UCHAR descriptor[256] = {};
    DWORD got = 0;
    if (CHECK(Control(ZELTEST_HID_USER_PATH, IOCTL_ZELTEST_GET_REPORT_DESCRIPTOR, nullptr, 0,
                      descriptor, sizeof descriptor, &got))) {
        CHECK_EQ(got, sizeof kVirtualReportDescriptor);
        long long firstDifference = -1;
        for (DWORD i = 0; i < sizeof kVirtualReportDescriptor && firstDifference < 0; ++i)
            if (descriptor[i] != kVirtualReportDescriptor[i])
                firstDifference = i;
        if (!CHECK_EQ(firstDifference, -1))
            std::printf("descriptor byte %lld is %02X, expected %02X\n", firstDifference,
                        descriptor[firstDifference], kVirtualReportDescriptor[firstDifference]);
    }

    const std::vector<Collection> found =
        WaitForCollections([](const std::vector<Collection>& all) {
            return WithReport(all, 1) && WithReport(all, 2);
        });
    const Collection* keyboard = WithReport(found, 1);
    const Collection* mouse = WithReport(found, 2);
    if (!CHECK(keyboard != nullptr && mouse != nullptr))
        return WINE_CHECK_RESULT();

    // Keys a (0x04), Enter (0x28) and left Shift (0xE1): one bit per usage after the id.
    std::vector<UCHAR> keys(1 + 232 / 8, 0);
    keys[0] = 1;
    for (int usage : {0x04, 0x28, 0xE1})
        keys[1 + usage / 8] |= UCHAR(1u << (usage % 8));
    // Buttons 1 and 3, X +16, Y -10.
    const std::vector<UCHAR> move = {2, 0x05, 0x10, 0xF6};

    struct Read {
        const Collection* collection;
        const std::vector<UCHAR>* report;
    };
    for (const Read& r : {Read{keyboard, &keys}, Read{mouse, &move}}) {
        HANDLE h = CreateFileA(r.collection->path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (!CHECK(h != INVALID_HANDLE_VALUE))
            continue;
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        CHECK(HidD_GetPreparsedData(h, &preparsed));
        const UCHAR id = (*r.report)[0];
        std::vector<UCHAR> report;
        if (QueueReport(*r.report))
            report = ReadInput(h, r.collection->caps.InputReportByteLength, 5000);
        std::printf("report %u read back:", id);
        for (UCHAR b : report)
            std::printf(" %02X", b);
        std::printf("\n");
        if (CHECK(!report.empty()) && preparsed) {
            CHECK_EQ(report[0], id);
            if (id == 1) {
                CheckUsages(PressedUsages(preparsed, 0x07, report), {0x04, 0x28, 0xE1});
                CheckUsages(PressedUsages(preparsed, 0x09, report), {});
            } else {
                CheckUsages(PressedUsages(preparsed, 0x09, report), {1, 3});
                LONG x = 0, y = 0;
                CHECK_EQ(HidP_GetScaledUsageValue(HidP_Input, 0x01, 0, 0x30, &x, preparsed,
                                                  reinterpret_cast<PCHAR>(report.data()),
                                                  ULONG(report.size())),
                         HIDP_STATUS_SUCCESS);
                CHECK_EQ(HidP_GetScaledUsageValue(HidP_Input, 0x01, 0, 0x31, &y, preparsed,
                                                  reinterpret_cast<PCHAR>(report.data()),
                                                  ULONG(report.size())),
                         HIDP_STATUS_SUCCESS);
                CHECK_EQ(x, 16);
                CHECK_EQ(y, -10);
            }
        }
        if (preparsed)
            HidD_FreePreparsedData(preparsed);
        CloseHandle(h);
    }
    return WINE_CHECK_RESULT();
}

// ---- zel_hidg.sys on the test game port: lines, children and calibration ------------------

const char kCalibrationKey[] =
    "System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\Calibrado";

zeltest::TestPortChild Stick(unsigned port, unsigned short axes, unsigned short product0,
                             unsigned flags0, unsigned short product1 = 0, unsigned flags1 = 0) {
    zeltest::TestPortChild child = {};
    child.Port = port;
    child.AxisCount = axes;
    child.ButtonCount = 4;
    zeltest::PutOemSet(child.OemData, 0, kVendorId, product0, flags0,
                       zeltest::kDefaultPollTimeoutUs);
    zeltest::PutOemSet(child.OemData, 1, product1 ? kVendorId : 0, product1, flags1,
                       zeltest::kDefaultPollTimeoutUs);
    return child;
}

bool SetLines(unsigned child, const unsigned pulses[4], unsigned neverFalls) {
    zeltest::TestPortLines lines = {};
    lines.Child = child;
    for (int n = 0; n < 4; ++n)
        lines.PulseUs[n] = pulses[n];
    lines.NeverFalls = neverFalls;
    return CHECK(Control(ZELTEST_PORT_USER_PATH, IOCTL_ZELTEST_SET_LINES, &lines, sizeof lines));
}

bool SendChildren(const std::vector<zeltest::TestPortChild>& children) {
    zeltest::TestPortChildren request = {};
    request.Count = unsigned(children.size());
    for (size_t i = 0; i < children.size(); ++i)
        request.Children[i] = children[i];
    return CHECK(
        Control(ZELTEST_PORT_USER_PATH, IOCTL_ZELTEST_SET_CHILDREN, &request, sizeof request));
}

bool IsJoystick(const Collection& c) {
    return c.caps.UsagePage == 0x01 && c.caps.Usage == 0x04;
}

// Replaces the bus's children and waits until joysticks with exactly these product ids
// have appeared in place of the ones there were. The old ones go first: Wine starts new
// children before it removes the old, and a new stick would find an old one started on
// its port and take the second OEM set.
std::vector<Collection> SetChildren(const std::vector<zeltest::TestPortChild>& children,
                                    const std::vector<USHORT>& products) {
    static std::vector<USHORT> wanted;
    wanted = products;
    std::sort(wanted.begin(), wanted.end());
    if (!SendChildren({}))
        return {};
    const auto noJoystick = [](const std::vector<Collection>& all) {
        return std::none_of(all.begin(), all.end(), IsJoystick);
    };
    if (!CHECK(noJoystick(WaitForCollections(noJoystick))))
        return {};
    // Wine installs the driver of a later device from the INF's copy in the INF directory
    // and looks for the driver file beside it (it asks for the disk without end otherwise).
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string installed = std::string(windows) + "\\system32\\drivers\\zel_hidg.sys";
    const std::string beside = std::string(windows) + "\\inf\\zel_hidg.sys";
    CHECK(CopyFileA(installed.c_str(), beside.c_str(), FALSE));
    if (!SendChildren(children))
        return {};
    const auto replaced = [](const std::vector<Collection>& all) {
        std::vector<USHORT> have;
        for (const Collection& c : all)
            if (IsJoystick(c))
                have.push_back(c.attributes.ProductID);
        std::sort(have.begin(), have.end());
        return have == wanted;
    };
    const std::vector<Collection> found = WaitForCollections(replaced);
    CHECK(replaced(found));
    std::vector<Collection> sticks;
    for (const Collection& c : found)
        if (IsJoystick(c))
            sticks.push_back(c);
    CHECK_EQ(sticks.size(), products.size());
    return sticks;
}

const Collection* WithProduct(const std::vector<Collection>& all, USHORT product) {
    for (const Collection& c : all)
        if (c.attributes.ProductID == product)
            return &c;
    return nullptr;
}

// The medians of `reads` reports' four axis fields, read as HidP_GetUsageValue gives
// them (X, Y, Z, rudder; 0 for a field the stick does not have); false when a read
// brought no report.
bool MedianAxes(const Collection& stick, int reads, LONG medians[4]) {
    HANDLE h = CreateFileA(stick.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (!CHECK(h != INVALID_HANDLE_VALUE))
        return false;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HidD_GetPreparsedData(h, &preparsed);
    const USAGE usages[4][2] = {{0x01, 0x30}, {0x01, 0x31}, {0x01, 0x32}, {0x02, 0xBA}};
    std::vector<LONG> values[4];
    bool ok = preparsed != nullptr;
    for (int r = 0; r < reads && ok; ++r) {
        std::vector<UCHAR> report = ReadInput(h, stick.caps.InputReportByteLength, 5000);
        ok = CHECK_EQ(report.size(), stick.caps.InputReportByteLength);
        for (int a = 0; a < 4 && ok; ++a) {
            ULONG value = 0;
            if (HidP_GetUsageValue(HidP_Input, usages[a][0], 0, usages[a][1], &value, preparsed,
                                   reinterpret_cast<PCHAR>(report.data()),
                                   ULONG(report.size())) != HIDP_STATUS_SUCCESS)
                value = 0;
            values[a].push_back(LONG(value));
        }
    }
    if (ok) {
        std::printf("product %04X axes (median of %d):", stick.attributes.ProductID, reads);
        for (int a = 0; a < 4; ++a) {
            std::sort(values[a].begin(), values[a].end());
            medians[a] = values[a][reads / 2];
            std::printf(" %ld", medians[a]);
        }
        std::printf("\n");
    }
    if (preparsed)
        HidD_FreePreparsedData(preparsed);
    CloseHandle(h);
    return ok;
}

int CountDials(const Collection& c) {
    int dials = 0;
    for (const HIDP_VALUE_CAPS& v : c.values) {
        const USHORT usage = v.IsRange ? v.Range.UsageMin : v.NotRange.Usage;
        dials += v.UsagePage == 0x01 && usage == 0x37;
    }
    return dials;
}

constexpr LONG kToleranceUs = 100;

// New line times reach the axes; a line that never falls fails every read until it falls
// again.
int CheckJoystickLines() {
    std::vector<Collection> sticks =
        SetChildren({Stick(0, 4, kProductId, zeltest::kDefaultFlags)}, {kProductId});
    if (sticks.empty())
        return WINE_CHECK_RESULT();
    const unsigned pulses[4] = {450, 750, 1350, 1050};
    SetLines(0, pulses, 0);
    LONG axes[4];
    if (MedianAxes(sticks[0], 9, axes)) {
        // X, Y, Z, rudder from lines 0, 1, 3, 2.
        CHECK_NEAR(axes[0], 450, kToleranceUs);
        CHECK_NEAR(axes[1], 750, kToleranceUs);
        CHECK_NEAR(axes[2], 1050, kToleranceUs);
        CHECK_NEAR(axes[3], 1350, kToleranceUs);
    }

    // Line 1 unplugged: the poll runs to its timeout and the read fails, so no report
    // reaches a handle opened after the change (reports from before it stay behind).
    SetLines(0, pulses, 1u << 1);
    Sleep(200);
    HANDLE h = CreateFileA(sticks[0].path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (CHECK(h != INVALID_HANDLE_VALUE)) {
        CHECK_EQ(ReadInput(h, sticks[0].caps.InputReportByteLength, 1500).size(), 0);
        SetLines(0, pulses, 0);
        CHECK_EQ(ReadInput(h, sticks[0].caps.InputReportByteLength, 5000).size(),
                 sticks[0].caps.InputReportByteLength);
        CloseHandle(h);
    }
    return WINE_CHECK_RESULT();
}

// Two sticks on one port: the first to start reads its ids and lines from the first OEM
// set (X and Y on lines 0 and 1, the dial ids), the second, finding it started, from the
// second set (X on line 3, Y on line 2, another product id: no dials).
int CheckTwoSticks() {
    constexpr USHORT kOtherProduct = 0x3636;
    const zeltest::TestPortChild both =
        Stick(0, 2, kProductId, 0, kOtherProduct, zeltest::XCode(4) | zeltest::YCode(2));
    std::vector<Collection> sticks = SetChildren({both, both}, {kProductId, kOtherProduct});
    const Collection* first = WithProduct(sticks, kProductId);
    const Collection* second = WithProduct(sticks, kOtherProduct);
    if (!CHECK(first != nullptr && second != nullptr))
        return WINE_CHECK_RESULT();
    const unsigned pulses[4] = {350, 650, 950, 1250};
    SetLines(0, pulses, 0);
    struct Expected {
        const Collection* stick;
        int dials;
        LONG x, y;
    };
    for (const Expected& e : {Expected{first, 2, 350, 650}, Expected{second, 0, 1250, 950}}) {
        // Two axes, four hats, and the dials only with the dial ids; the report keeps its
        // 27 bytes either way.
        CHECK_EQ(CountDials(*e.stick), e.dials);
        CHECK_EQ(e.stick->caps.NumberInputValueCaps, 2 + 4 + e.dials);
        CHECK_EQ(e.stick->caps.InputReportByteLength, 1 + 27);
        LONG axes[4];
        if (MedianAxes(*e.stick, 9, axes)) {
            CHECK_NEAR(axes[0], e.x, kToleranceUs);
            CHECK_NEAR(axes[1], e.y, kToleranceUs);
        }
    }
    return WINE_CHECK_RESULT();
}

// A calibration in the registry ("Eje1".."Eje4", 16 bytes each: minimum, centre, maximum,
// dead zone, jitter band) is read when the device is added. Lines 300, 600, 900, 1200 us.
//   X (line 0, 300): 100..300..500, dead zone 150: inside it, so exactly 0 (centred).
//   Y (line 1, 600): 200..400..1000: 200 above the centre, the longer upper half range
//     (600) scaled to the lower (200): 600 -> 66; 100 us of noise moves it by 33.
//   Z (line 3, 1200): 1000..1500..2000: 300 below the centre: -300.
//   Rudder (line 2, 900): no value, so the pulse length itself.
int CheckCalibration() {
    struct Value {
        const char* name;
        unsigned minimum, centre, maximum;
        unsigned char deadZone;
    };
    const Value values[] = {
        {"Eje1", 100, 300, 500, 150}, {"Eje2", 200, 400, 1000, 0}, {"Eje3", 1000, 1500, 2000, 0}};
    HKEY key = nullptr;
    if (!CHECK_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCalibrationKey, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS))
        return WINE_CHECK_RESULT();
    for (const Value& v : values) {
        unsigned char data[16] = {};
        const unsigned words[3] = {v.minimum, v.centre, v.maximum};
        std::memcpy(data, words, sizeof words);
        data[12] = v.deadZone;
        CHECK_EQ(RegSetValueExA(key, v.name, 0, REG_BINARY, data, sizeof data), ERROR_SUCCESS);
    }
    RegCloseKey(key);

    std::vector<Collection> sticks =
        SetChildren({Stick(0, 4, kProductId, zeltest::kDefaultFlags)}, {kProductId});
    LONG axes[4];
    if (!sticks.empty() && SetLines(0, zeltest::kDefaultPulseUs, 0) &&
        MedianAxes(sticks[0], 9, axes)) {
        CHECK_EQ(axes[0], 0);
        CHECK_NEAR(axes[1], 66, kToleranceUs / 3);
        CHECK_NEAR(axes[2], -300, kToleranceUs);
        CHECK_NEAR(axes[3], 900, kToleranceUs);
    }

    // Without the calibration the next device reads microseconds again.
    CHECK_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kCalibrationKey), ERROR_SUCCESS);
    sticks = SetChildren({Stick(0, 4, kProductId, zeltest::kDefaultFlags)}, {kProductId});
    if (!sticks.empty() && MedianAxes(sticks[0], 9, axes))
        CHECK_NEAR(axes[0], 300, kToleranceUs);
    return WINE_CHECK_RESULT();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "vmd") == 0)
        return CheckVirtualDevice();
    if (argc == 2 && std::strcmp(argv[1], "vmd-reports") == 0)
        return CheckVirtualReports();
    if (argc == 2 && std::strcmp(argv[1], "joystick-lines") == 0)
        return CheckJoystickLines();
    if (argc == 2 && std::strcmp(argv[1], "two-sticks") == 0)
        return CheckTwoSticks();
    if (argc == 2 && std::strcmp(argv[1], "calibration") == 0)
        return CheckCalibration();
    if (argc == 6 && std::strcmp(argv[1], "joystick") == 0) {
        const long long pulses[4] = {std::atoll(argv[2]), std::atoll(argv[3]), std::atoll(argv[4]),
                                     std::atoll(argv[5])};
        return CheckJoystick(pulses);
    }
    std::printf("usage: hid_device_check vmd | vmd-reports\n"
                "       hid_device_check joystick PULSE0 PULSE1 PULSE2 PULSE3\n"
                "       hid_device_check joystick-lines | two-sticks | calibration\n");
    return 2;
}
