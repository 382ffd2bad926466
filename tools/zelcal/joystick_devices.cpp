// SetupAPI and hid.dll parts of zelcal: finding, reading and restarting the joysticks.
#include "joystick_devices.h"

#include "registry_store.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <cstring>
#include <setupapi.h>
// mingw-w64's HID headers declare C functions without extern "C".
extern "C" {
#include <hidsdi.h>
}

namespace zelcal {

namespace {

constexpr char kService[] = "zel_hidg";
constexpr DWORD kReportBytes = 1 + 27; // report id 0, then the 27-byte report
constexpr DWORD kReadTimeoutMs = 2000;
constexpr DWORD kReappearMs = 10000;

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

// The middle part of an instance id ("GAMEPORT\ZEL_TESTJOY\0" -> "ZEL_TESTJOY").
std::string DeviceIdPart(const std::string& instance) {
    const size_t first = instance.find('\\');
    if (first == instance.npos)
        return "";
    const size_t second = instance.find('\\', first + 1);
    return Upper(
        instance.substr(first + 1, second == instance.npos ? instance.npos : second - first - 1));
}

// The devices zel_hidg drives: their instance ids.
std::vector<std::string> DriverDevices() {
    std::vector<std::string> ids;
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return ids;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        char service[64] = {}, id[MAX_DEVICE_ID_LEN] = {};
        if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr,
                                              reinterpret_cast<BYTE*>(service), sizeof service,
                                              nullptr) &&
            _stricmp(service, kService) == 0 &&
            SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr))
            ids.push_back(id);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ids;
}

// Whether the HID collection `instance` belongs to one of `drivers`: its parent device is
// one of them, or, where the system does not tell parents, its device id part matches.
bool ServedBy(DEVINST devInst, const std::string& instance,
              const std::vector<std::string>& drivers) {
    DEVINST parent = 0;
    char parentId[MAX_DEVICE_ID_LEN] = {};
    if (CM_Get_Parent(&parent, devInst, 0) == CR_SUCCESS &&
        CM_Get_Device_IDA(parent, parentId, sizeof parentId, 0) == CR_SUCCESS) {
        for (const std::string& d : drivers)
            if (_stricmp(d.c_str(), parentId) == 0)
                return true;
        return false;
    }
    for (const std::string& d : drivers)
        if (!DeviceIdPart(d).empty() && DeviceIdPart(d) == DeviceIdPart(instance))
            return true;
    return false;
}

const char* UsageName(USHORT page, USHORT usage) {
    if (page == 0x01 && usage == 0x30)
        return "X";
    if (page == 0x01 && usage == 0x31)
        return "Y";
    if (page == 0x01 && usage == 0x32)
        return "Z";
    if (page == 0x02 && usage == 0xBA)
        return "Rudder";
    return nullptr;
}

// Fills the axis names and count from the collection's 32-bit value fields.
bool Describe(HANDLE h, Joystick* j) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(h, &preparsed))
        return false;
    HIDP_CAPS caps;
    bool ours = false;
    if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS &&
        caps.InputReportByteLength == kReportBytes) {
        ours = true;
        std::vector<HIDP_VALUE_CAPS> values(caps.NumberInputValueCaps);
        USHORT count = caps.NumberInputValueCaps;
        if (count && HidP_GetValueCaps(HidP_Input, values.data(), &count, preparsed) ==
                         HIDP_STATUS_SUCCESS) {
            for (USHORT v = 0; v < count && j->AxisCount < kAxes; ++v) {
                const USHORT usage =
                    values[v].IsRange ? values[v].Range.UsageMin : values[v].NotRange.Usage;
                const char* name = UsageName(values[v].UsagePage, usage);
                if (values[v].BitSize == 32 && name)
                    j->AxisNames[j->AxisCount++] = name;
            }
        }
    }
    HidD_FreePreparsedData(preparsed);
    return ours;
}

} // namespace

std::vector<Joystick> FindJoysticks() {
    std::vector<Joystick> found;
    const std::vector<std::string> drivers = DriverDevices();
    if (drivers.empty())
        return found;
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
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        char instance[MAX_DEVICE_ID_LEN] = {};
        if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, &buffer.detail, sizeof buffer, nullptr,
                                              &device) ||
            !SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr) ||
            !ServedBy(device.DevInst, instance, drivers))
            continue;
        HANDLE h = CreateFileA(buffer.detail.DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        Joystick j;
        j.Path = buffer.detail.DevicePath;
        j.Instance = instance;
        HIDD_ATTRIBUTES attributes = {};
        attributes.Size = sizeof attributes;
        if (HidD_GetAttributes(h, &attributes)) {
            j.VendorId = attributes.VendorID;
            j.ProductId = attributes.ProductID;
        }
        wchar_t product[128] = {};
        if (HidD_GetProductString(h, product, sizeof product)) {
            char narrow[128] = {};
            WideCharToMultiByte(CP_ACP, 0, product, -1, narrow, sizeof narrow, nullptr, nullptr);
            j.Product = narrow;
        }
        if (Describe(h, &j))
            found.push_back(j);
        CloseHandle(h);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

bool OpenJoystick(const Joystick& joystick, JoystickReader* reader, std::string* error) {
    HANDLE h = CreateFileA(joystick.Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = "cannot open the joystick: " + SystemErrorText(GetLastError());
        return false;
    }
    reader->Handle = h;
    reader->Event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return true;
}

void CloseJoystick(JoystickReader* reader) {
    if (reader->Handle)
        CloseHandle(reader->Handle);
    if (reader->Event)
        CloseHandle(reader->Event);
    reader->Handle = reader->Event = nullptr;
}

bool ReadAxes(JoystickReader* reader, std::array<uint32_t, kAxes>* axes, std::string* error) {
    UCHAR report[kReportBytes] = {};
    OVERLAPPED overlapped = {};
    overlapped.hEvent = reader->Event;
    ResetEvent(reader->Event);
    DWORD got = 0;
    bool ok = ReadFile(reader->Handle, report, kReportBytes, &got, &overlapped) != FALSE;
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(reader->Event, kReadTimeoutMs) == WAIT_OBJECT_0) {
            ok = GetOverlappedResult(reader->Handle, &overlapped, &got, FALSE) != FALSE;
        } else {
            CancelIo(reader->Handle);
            GetOverlappedResult(reader->Handle, &overlapped, &got, TRUE);
            *error = "the joystick sent no report within 2 s";
            return false;
        }
    }
    if (!ok || got != kReportBytes) {
        *error = ok ? "the joystick sent a report of " + std::to_string(got) + " bytes"
                    : "reading the joystick failed: " + SystemErrorText(GetLastError());
        return false;
    }
    for (int i = 0; i < kAxes; ++i)
        std::memcpy(&(*axes)[i], &report[1 + 4 * i], 4);
    return true;
}

bool RestartJoysticks(Joystick* joystick, std::string* error) {
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        *error = "the device list is not available: " + SystemErrorText(GetLastError());
        return false;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    int restarted = 0;
    bool ok = true;
    for (DWORD i = 0; ok && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        char service[64] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr,
                                               reinterpret_cast<BYTE*>(service), sizeof service,
                                               nullptr) ||
            _stricmp(service, kService) != 0)
            continue;
        SP_PROPCHANGE_PARAMS change = {};
        change.ClassInstallHeader.cbSize = sizeof change.ClassInstallHeader;
        change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
        change.StateChange = DICS_PROPCHANGE;
        change.Scope = DICS_FLAG_CONFIGSPECIFIC;
        if (!SetupDiSetClassInstallParamsA(set, &device, &change.ClassInstallHeader,
                                           sizeof change) ||
            !SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &device)) {
            const DWORD code = GetLastError();
            *error = "the system refused the restart" +
                     (code ? ": " + SystemErrorText(code) : std::string());
            ok = false;
            break;
        }
        SP_DEVINSTALL_PARAMS_A params = {};
        params.cbSize = sizeof params;
        if (SetupDiGetDeviceInstallParamsA(set, &device, &params) &&
            (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT))) {
            *error = "the system wants a reboot to restart it";
            ok = false;
            break;
        }
        ++restarted;
    }
    SetupDiDestroyDeviceInfoList(set);
    if (!ok)
        return false;
    if (restarted == 0) {
        *error = "no device of zel_hidg is present";
        return false;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        const std::vector<Joystick> found = FindJoysticks();
        if (!found.empty()) {
            *joystick = found.front();
            return true;
        }
        if (GetTickCount() - start > kReappearMs) {
            *error = "the joystick did not come back within 10 s of its restart";
            return false;
        }
        Sleep(200);
    }
}

} // namespace zelcal
