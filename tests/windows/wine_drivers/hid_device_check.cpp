// Run under Wine: finds the HID devices that the HID class driver made for one of our
// minidrivers and checks what the system sees of them.
//   hid_device_check.exe vmd
//       zel_vmd's keyboard and mouse: attributes and the capabilities of each top-level
//       collection as the fixed report descriptor declares them
//   hid_device_check.exe joystick PULSE0 PULSE1 PULSE2 PULSE3
//       zel_hidg's joystick: attributes, capabilities, and input reports whose four axes
//       hold the port's pulse lengths in microseconds (X, Y, Z, rudder from lines 0, 1, 3, 2)
// Devices appear some time after the driver is installed: each check waits for them.
// Exits with 0 when every check passed, 1 otherwise.
#include "../wine_check.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <setupapi.h>
// mingw-w64's HID headers declare C functions without extern "C".
extern "C" {
#include <hidsdi.h>
}

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

// Every present HID interface with our vendor and product ids (Wine's own devices
// carry other ids), with its attributes and the capabilities of its collection.
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
            c.attributes.ProductID == kProductId && HidD_GetPreparsedData(h, &preparsed)) {
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

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "vmd") == 0)
        return CheckVirtualDevice();
    if (argc == 6 && std::strcmp(argv[1], "joystick") == 0) {
        const long long pulses[4] = {std::atoll(argv[2]), std::atoll(argv[3]), std::atoll(argv[4]),
                                     std::atoll(argv[5])};
        return CheckJoystick(pulses);
    }
    std::printf("usage: hid_device_check vmd\n"
                "       hid_device_check joystick PULSE0 PULSE1 PULSE2 PULSE3\n");
    return 2;
}
