// SetupAPI work on devices and the driver store, for the installer and the Wine tests.
#include "device_setup.h"

#include <cfgmgr32.h>
#include <cstring>
#include <newdev.h>
#include <setupapi.h>

namespace zelinst {

const GUID kHidClassGuid = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
const GUID kSystemClassGuid = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

namespace {

// The error of the failed call; never 0, so a failure is never read as success.
DWORD LastError() {
    const DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

bool ListHasId(const char* multi, DWORD bytes, const char* id) {
    for (DWORD at = 0; at < bytes && multi[at];) {
        const char* one = multi + at;
        const size_t length = strnlen(one, bytes - at);
        if (lstrcmpiA(one, id) == 0)
            return true;
        at += static_cast<DWORD>(length) + 1;
    }
    return false;
}

std::string TextProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
    char text[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr,
                                           reinterpret_cast<BYTE*>(text), sizeof text - 1, nullptr))
        return {};
    return text;
}

// Collects the devices of `set` with the hardware id; `present` marks them as such.
void Collect(HDEVINFO set, const char* hardwareId, bool present, std::vector<Device>& found) {
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        char ids[1024] = {};
        DWORD bytes = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<BYTE*>(ids), sizeof ids - 2,
                                               &bytes) ||
            !ListHasId(ids, bytes, hardwareId))
            continue;
        char instance[MAX_DEVICE_ID_LEN] = {};
        if (!SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr))
            continue;
        bool known = false;
        for (Device& d : found)
            if (lstrcmpiA(d.instanceId.c_str(), instance) == 0) {
                d.present = d.present || present;
                known = true;
            }
        if (!known)
            found.push_back({instance, TextProperty(set, &device, SPDRP_SERVICE), present});
    }
}

} // namespace

std::vector<Device> FindDevices(const char* hardwareId) {
    std::vector<Device> found;
    for (const DWORD flags : {DWORD{DIGCF_ALLCLASSES | DIGCF_PRESENT}, DWORD{DIGCF_ALLCLASSES}}) {
        HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, flags);
        if (set == INVALID_HANDLE_VALUE)
            continue;
        Collect(set, hardwareId, (flags & DIGCF_PRESENT) != 0, found);
        SetupDiDestroyDeviceInfoList(set);
    }
    return found;
}

DWORD CreateRootDevice(const GUID& classGuid, const char* name, const char* hardwareId,
                       std::string& instanceId) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return LastError();
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    // The property is a multi-string: the id, its NUL and the list's NUL.
    char ids[MAX_DEVICE_ID_LEN + 2] = {};
    const size_t length = std::strlen(hardwareId);
    DWORD error = 0;
    if (length > MAX_DEVICE_ID_LEN)
        error = ERROR_INVALID_PARAMETER;
    else if (!SetupDiCreateDeviceInfoA(set, name, &classGuid, nullptr, nullptr, DICD_GENERATE_ID,
                                       &device))
        error = LastError();
    if (!error) {
        std::memcpy(ids, hardwareId, length);
        char instance[MAX_DEVICE_ID_LEN] = {};
        if (!SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                               reinterpret_cast<BYTE*>(ids),
                                               static_cast<DWORD>(length + 2)) ||
            !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device))
            error = LastError();
        else if (SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr))
            instanceId = instance;
        if (error) // not registered: nothing of it may stay behind
            SetupDiDeleteDeviceInfo(set, &device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return error;
}

DWORD InstallDriver(const char* hardwareId, const char* infPath) {
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, hardwareId, infPath, INSTALLFLAG_FORCE,
                                            &reboot))
        return LastError();
    return 0;
}

DWORD RemoveDevice(const char* instanceId) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return LastError();
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    DWORD error = 0;
    if (!SetupDiOpenDeviceInfoA(set, instanceId, nullptr, 0, &device) ||
        !SetupDiCallClassInstaller(DIF_REMOVE, set, &device))
        error = LastError();
    SetupDiDestroyDeviceInfoList(set);
    return error;
}

DWORD StageInf(const char* infPath, std::string& stored) {
    char path[MAX_PATH] = {};
    char* name = nullptr;
    if (!SetupCopyOEMInfA(infPath, nullptr, SPOST_PATH, 0, path, sizeof path, nullptr, &name))
        return LastError();
    stored = path;
    return 0;
}

std::vector<std::string> FindStagedInfs(const char* sysName) {
    std::vector<std::string> found;
    char dir[MAX_PATH] = {};
    if (!GetWindowsDirectoryA(dir, sizeof dir - 16))
        return found;
    const std::string infDir = std::string(dir) + "\\inf\\";
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((infDir + "*.inf").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do {
        const std::string path = infDir + entry.cFileName;
        HINF inf = SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
        if (inf == INVALID_HANDLE_VALUE)
            continue;
        INFCONTEXT line;
        if (SetupFindFirstLineA(inf, "SourceDisksFiles", sysName, &line))
            found.push_back(path);
        SetupCloseInfFile(inf);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

DWORD UnstageInf(const std::string& storedPath) {
    const size_t slash = storedPath.find_last_of('\\');
    const std::string name = slash == std::string::npos ? storedPath : storedPath.substr(slash + 1);
    if (!SetupUninstallOEMInfA(name.c_str(), SUOI_FORCEDELETE, nullptr))
        return LastError();
    // The store's precompiled form of the INF, where the system leaves it behind.
    const std::string pnf = storedPath.substr(0, storedPath.size() - 4) + ".pnf";
    if (storedPath.size() > 4 && !DeleteFileA(pnf.c_str()) &&
        GetLastError() != ERROR_FILE_NOT_FOUND)
        return LastError();
    return 0;
}

std::string InfDriverVersion(const char* infPath) {
    HINF inf = SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, nullptr);
    if (inf == INVALID_HANDLE_VALUE)
        return {};
    std::string version;
    INFCONTEXT line;
    char field[64] = {};
    if (SetupFindFirstLineA(inf, "Version", "DriverVer", &line) &&
        SetupGetStringFieldA(&line, 2, field, sizeof field, nullptr))
        version = field;
    SetupCloseInfFile(inf);
    return version;
}

} // namespace zelinst
