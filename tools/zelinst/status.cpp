// `zelinst status`: one row per file, driver, device and the service: its state, its version
// and where it is; exits 0 when every part is installed and running.
#include "device_setup.h"
#include "zelinst.h"

#include <cstdio>

namespace zelinst {

namespace {

struct Row {
    std::string part, state, version, where;
    bool ok;
};

void Print(const std::vector<Row>& rows) {
    size_t widths[3] = {4, 5, 7};
    for (const Row& r : rows) {
        widths[0] = r.part.size() > widths[0] ? r.part.size() : widths[0];
        widths[1] = r.state.size() > widths[1] ? r.state.size() : widths[1];
        widths[2] = r.version.size() > widths[2] ? r.version.size() : widths[2];
    }
    const int w0 = static_cast<int>(widths[0]), w1 = static_cast<int>(widths[1]),
              w2 = static_cast<int>(widths[2]);
    std::printf("%-*s  %-*s  %-*s  %s\n", w0, "part", w1, "state", w2, "version", "where");
    for (const Row& r : rows)
        std::printf("%-*s  %-*s  %-*s  %s\n", w0, r.part.c_str(), w1, r.state.c_str(), w2,
                    r.version.empty() ? "-" : r.version.c_str(), r.where.c_str());
}

void AddDriver(std::vector<Row>& rows, const DriverPart& part) {
    const std::string sys = DriversDir() + part.service + ".sys";
    const std::vector<std::string> staged =
        FindStagedInfs((std::string(part.service) + ".sys").c_str());
    const ServiceState state = QueryService(part.service);
    Row driver = {std::string("driver ") + part.service, "", "", "", !staged.empty()};
    if (staged.empty())
        driver.state = "absent";
    else if (state == ServiceState::Absent)
        driver.state = "staged"; // waits for its first device
    else
        driver.state = StateName(state);
    for (const std::string& inf : staged)
        driver.where += (driver.where.empty() ? "" : ", ") + inf;
    if (FileExists(sys)) {
        driver.version = FileVersion(sys);
        driver.where += (driver.where.empty() ? "" : ", ") + sys;
    } else if (!staged.empty()) {
        driver.version = InfDriverVersion(staged.front().c_str());
    }
    rows.push_back(driver);

    const std::vector<Device> devices = FindDevices(part.hardwareId);
    for (const Device& d : devices) {
        const bool ours = lstrcmpiA(d.service.c_str(), part.service) == 0;
        std::string state = !d.present ? "not present" : ours ? "present" : "no driver";
        rows.push_back({std::string("device ") + part.hardwareId, state, "",
                        d.instanceId + (d.service.empty() ? "" : " (driver " + d.service + ")"),
                        d.present && ours});
    }
    // The virtual device is the package's own; a bus's joystick may simply not be attached.
    if (devices.empty() && part.rootDevice)
        rows.push_back({std::string("device ") + part.hardwareId, "absent", "", "", false});
}

} // namespace

int Status() {
    std::vector<Row> rows;
    for (const char* name : kSystemFiles) {
        const std::string path = SystemDir() + name;
        const bool present = FileExists(path);
        rows.push_back({name, present ? "present" : "absent", present ? FileVersion(path) : "",
                        path, present});
    }
    for (const DriverPart& part : kDrivers)
        AddDriver(rows, part);
    if (kService) {
        const ServiceState state = QueryService(kService->name);
        const std::string program = SystemDir() + kService->program;
        rows.push_back({std::string("service ") + kService->name, StateName(state),
                        FileExists(program) ? FileVersion(program) : "", program,
                        state == ServiceState::Running});
    }
    Print(rows);
    bool all = true;
    for (const Row& r : rows)
        all = all && r.ok;
    std::printf(all ? "zelinst: every part is installed\n"
                    : "zelinst: the package is not completely installed\n");
    return all ? 0 : 1;
}

} // namespace zelinst
