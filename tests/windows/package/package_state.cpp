// Run under Wine: what of the package the system holds, seen without the installer's help:
// files in the system directory and its drivers folder, INFs in the driver store, services in
// the registry and the service control manager, and devices with the package's hardware ids.
//   package_state.exe installed PACKAGE_DIR   every part is there (files equal to the
//                                             package's), the drivers and the service run
//   package_state.exe absent                  nothing of the package is left
//   package_state.exe list                    one line per part found, sorted, for comparing
//                                             the state before and after a command
// Exits with 0 when every check passed, 1 otherwise.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <setupapi.h>
#include <string>
#include <vector>

#include "../wine_check.h"

namespace {

const char* const kJoystickId = "GamePort\\VID_06A3&PID_3635";
const char* const kVirtualId = "root\\zel_vmd";
const char* const kDriverServices[] = {"zel_vmd", "zel_hidg"};
const char* const kService = "zelHidUserService";

std::string WindowsDir() {
    char dir[MAX_PATH] = {};
    GetWindowsDirectoryA(dir, sizeof dir);
    return dir;
}
std::string SystemDir() {
    return WindowsDir() + "\\system32\\";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsFile(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> Names(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(entry.cFileName);
    while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

// The package's files in the system directory and its drivers folder (the test drivers'
// files, zel_test*, are not the package's).
std::vector<std::string> PackageFilesInSystem() {
    std::vector<std::string> found;
    for (const std::string& dir : {SystemDir(), SystemDir() + "drivers\\"})
        for (const std::string& name : Names(dir + "zel_*"))
            if (name.rfind("zel_test", 0) != 0)
                found.push_back(dir + name);
    return found;
}

// Driver-store INFs that name one of the package's drivers.
std::vector<std::string> StoreInfs() {
    std::vector<std::string> found;
    const std::string dir = WindowsDir() + "\\inf\\";
    for (const std::string& name : Names(dir + "*.inf")) {
        const std::string text = ReadAll(dir + name);
        if (text.find("zel_vmd.sys") != std::string::npos ||
            text.find("zel_hidg.sys") != std::string::npos)
            found.push_back(dir + name);
    }
    return found;
}

struct ServiceEntry {
    bool inRegistry = false;
    DWORD type = 0, start = 0;
    std::string image;
    DWORD scmState = 0; // 0: unknown to the service control manager
};

ServiceEntry ReadService(const char* name) {
    ServiceEntry e;
    HKEY key;
    const std::string path = std::string("System\\CurrentControlSet\\Services\\") + name;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        e.inRegistry = true;
        DWORD size = sizeof e.type;
        RegQueryValueExA(key, "Type", nullptr, nullptr, reinterpret_cast<BYTE*>(&e.type), &size);
        size = sizeof e.start;
        RegQueryValueExA(key, "Start", nullptr, nullptr, reinterpret_cast<BYTE*>(&e.start), &size);
        char image[MAX_PATH] = {};
        size = sizeof image - 1;
        RegQueryValueExA(key, "ImagePath", nullptr, nullptr, reinterpret_cast<BYTE*>(image), &size);
        e.image = image;
        RegCloseKey(key);
    }
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status = {};
    if (service && QueryServiceStatus(service, &status))
        e.scmState = status.dwCurrentState;
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return e;
}

struct DeviceEntry {
    std::string instance, hardwareIds, service;
    bool present;
};

// Devices (present or not) with one of the package's hardware ids or driven by its drivers.
std::vector<DeviceEntry> PackageDevices() {
    std::vector<DeviceEntry> found;
    for (const DWORD flags : {DWORD{DIGCF_ALLCLASSES}, DWORD{DIGCF_ALLCLASSES | DIGCF_PRESENT}}) {
        HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, flags);
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        for (DWORD i = 0; set != INVALID_HANDLE_VALUE && SetupDiEnumDeviceInfo(set, i, &device);
             ++i) {
            char ids[1024] = {}, service[256] = {}, instance[512] = {};
            SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr,
                                              reinterpret_cast<BYTE*>(ids), sizeof ids - 2,
                                              nullptr);
            SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_SERVICE, nullptr,
                                              reinterpret_cast<BYTE*>(service), sizeof service - 1,
                                              nullptr);
            SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr);
            std::string idList;
            bool ours = false;
            for (const char* id = ids; *id; id += std::strlen(id) + 1) {
                idList += (idList.empty() ? "" : ",") + std::string(id);
                ours = ours || lstrcmpiA(id, kJoystickId) == 0 || lstrcmpiA(id, kVirtualId) == 0;
            }
            for (const char* s : kDriverServices)
                ours = ours || lstrcmpiA(service, s) == 0;
            if (!ours)
                continue;
            const bool present = (flags & DIGCF_PRESENT) != 0;
            auto known = std::find_if(found.begin(), found.end(),
                                      [&](const DeviceEntry& d) { return d.instance == instance; });
            if (known == found.end())
                found.push_back({instance, idList, service, present});
            else
                known->present = known->present || present;
        }
        if (set != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(set);
    }
    return found;
}

std::vector<std::string> StateLines() {
    std::vector<std::string> lines;
    char line[1024];
    for (const std::string& path : PackageFilesInSystem()) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
        std::snprintf(line, sizeof line, "file %s %lu bytes, written %08lX%08lX", path.c_str(),
                      data.nFileSizeLow, data.ftLastWriteTime.dwHighDateTime,
                      data.ftLastWriteTime.dwLowDateTime);
        lines.push_back(line);
    }
    for (const std::string& inf : StoreInfs())
        lines.push_back("driver store " + inf + " " + std::to_string(ReadAll(inf).size()) +
                        " bytes");
    for (const char* name : {kDriverServices[0], kDriverServices[1], kService}) {
        const ServiceEntry e = ReadService(name);
        if (!e.inRegistry && !e.scmState)
            continue;
        std::snprintf(line, sizeof line,
                      "service %s: registry %s, type 0x%lX, start %lu, image %s, state %lu", name,
                      e.inRegistry ? "yes" : "no", e.type, e.start, e.image.c_str(), e.scmState);
        lines.push_back(line);
    }
    for (const DeviceEntry& d : PackageDevices())
        lines.push_back("device " + d.instance + " ids " + d.hardwareIds + " driver " + d.service +
                        (d.present ? " present" : " not present"));
    std::sort(lines.begin(), lines.end());
    return lines;
}

void CheckService(const char* name, DWORD type, DWORD start, const std::string& image) {
    std::printf("service %s\n", name);
    ServiceEntry e = ReadService(name);
    // A driver starts in the background once its device appears: give it 10 s.
    for (int i = 0; i < 100 && e.scmState != SERVICE_RUNNING; ++i) {
        Sleep(100);
        e = ReadService(name);
    }
    CHECK(e.inRegistry);
    CHECK_EQ(e.type, type);
    CHECK_EQ(e.start, start);
    CHECK_STREQ(e.image.c_str(), image.c_str());
    CHECK_EQ(e.scmState, SERVICE_RUNNING);
}

// One present device with the id, run by the driver `service`.
void CheckDevice(const char* hardwareId, const char* service) {
    std::printf("device %s\n", hardwareId);
    int matching = 0;
    for (const DeviceEntry& d : PackageDevices()) {
        std::string ids = "," + d.hardwareIds + ",";
        if (ids.find("," + std::string(hardwareId) + ",") == std::string::npos)
            continue;
        ++matching;
        CHECK(d.present);
        CHECK_STREQ(d.service.c_str(), service);
    }
    CHECK_EQ(matching, 1);
}

int CheckInstalled(const std::string& packageDir) {
    // Every file of the package but the drivers (their INFs place them), the installer, the
    // calibration program and the guide belongs in the system directory, as the package has it.
    int systemFiles = 0;
    for (const std::string& name : Names(packageDir + "\\*")) {
        const std::string from = packageDir + "\\" + name;
        const size_t dot = name.find_last_of('.');
        const std::string type = dot == std::string::npos ? "" : name.substr(dot);
        if (!IsFile(from) || type == ".sys" || type == ".inf" || name == "zelinst.exe" ||
            name == "zelcal.exe" || name == "INSTALL.md")
            continue;
        std::printf("file %s\n", name.c_str());
        ++systemFiles;
        CHECK(IsFile(SystemDir() + name));
        CHECK(ReadAll(SystemDir() + name) == ReadAll(from));
    }
    CHECK(systemFiles >= 6); // the library and its five language files at least
    for (const char* driver : kDriverServices) {
        const std::string sys = std::string(driver) + ".sys";
        const std::string target = SystemDir() + "drivers\\" + sys;
        std::printf("driver %s\n", driver);
        CHECK(ReadAll(target) == ReadAll(packageDir + "\\" + sys));
        CheckService(driver, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, target);
        int infs = 0;
        for (const std::string& inf : StoreInfs())
            if (ReadAll(inf).find(sys) != std::string::npos)
                ++infs;
        CHECK_EQ(infs, 1);
    }
    CheckDevice(kVirtualId, "zel_vmd");
    CheckDevice(kJoystickId, "zel_hidg");
    if (IsFile(packageDir + "\\zel_svc.exe"))
        CheckService(kService, SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                     SERVICE_AUTO_START, SystemDir() + "zel_svc.exe");
    return WINE_CHECK_RESULT();
}

int CheckAbsent() {
    // The joystick is hardware: its device may stay as long as it has no driver of ours.
    std::vector<std::string> left;
    for (const std::string& line : StateLines())
        if (!(line.rfind("device ", 0) == 0 && line.find(kJoystickId) != std::string::npos &&
              line.find(" driver  ") != std::string::npos))
            left.push_back(line);
    for (const std::string& line : left)
        std::printf("left behind: %s\n", line.c_str());
    CHECK_EQ(left.size(), 0);
    return WINE_CHECK_RESULT();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "installed") == 0)
        return CheckInstalled(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "absent") == 0)
        return CheckAbsent();
    if (argc == 2 && std::strcmp(argv[1], "list") == 0) {
        for (const std::string& line : StateLines())
            std::printf("%s\n", line.c_str());
        return 0;
    }
    std::printf("usage: package_state installed PACKAGE_DIR | absent | list\n");
    return 2;
}
