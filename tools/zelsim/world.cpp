#include "world.h"

#include "gameport_enumerator.h"
#include "hid_class.h"
#include "hidg.h"
#include "kernel_model.h"
#include "pnp.h"

#include <cstring>

namespace zelsim {

namespace {
const char16_t kCalibrationKey[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\"
                                   u"MediaProperties\\PrivateProperties\\Joystick\\Calibrado";
const char16_t kServiceKey[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zel_hidg";
} // namespace

struct World::State {
    Scenario scenario;
    std::vector<std::unique_ptr<sim::GamePort>> ports;
    sim::BridgeDevice* bridge = nullptr;
    sim::GamePortEnumerator* enumerator = nullptr;
    PDRIVER_OBJECT driver = nullptr;
    bool registered = false;
    std::vector<PDEVICE_OBJECT> pdos;
    std::vector<PDEVICE_OBJECT> fdos;
};

World::World(const Scenario& scenario) : state_(new State) {
    State& s = *state_;
    s.scenario = scenario;
    km::Reset();
    km::SetCounterFrequency(scenario.counterHz);
    for (const auto& [name, data] : scenario.registry)
        km::SetRegistryValue(kCalibrationKey, std::u16string(name.begin(), name.end()), REG_BINARY,
                             data);
    for (const PortSetup& setup : scenario.ports) {
        auto port = std::make_unique<sim::GamePort>();
        port->accessCostPs = uint64_t(scenario.portReadUs * km::kPsPerUs + 0.5);
        for (int n = 0; n < 4; ++n) {
            if (setup.linesUs[n])
                port->SetPulseUs(n, *setup.linesUs[n]);
            else
                port->SetLine(n, sim::LineKind::NeverFalls);
        }
        s.ports.push_back(std::move(port));
    }
    if (scenario.bridge) {
        s.bridge = sim::CreateBridge();
        std::memcpy(s.bridge->data, scenario.bridge->data.data(), 13);
        s.bridge->flags.assign(scenario.bridge->flags.begin(), scenario.bridge->flags.end());
        std::memcpy(s.bridge->axisOrder, scenario.bridge->axisOrder.data(), 5);
    }
    s.enumerator = sim::CreateEnumerator();
}

World::~World() {
    State& s = *state_;
    for (PDEVICE_OBJECT pdo : s.pdos)
        if (sim::hid::FunctionalDevice(pdo))
            sim::pnp::Send(pdo, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE);
    if (s.driver) {
        if (s.registered)
            sim::hid::Unregister(s.driver);
        km::DeleteDriverObject(s.driver);
    }
    sim::DestroyEnumerator(s.enumerator);
    sim::DestroyBridge(s.bridge);
    km::Reset();
}

int32_t World::LoadDriver() {
    State& s = *state_;
    s.driver = km::CreateDriverObject(u"\\Driver\\zel_hidg");
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, kServiceKey);
    const NTSTATUS status = DriverEntry(s.driver, &path);
    s.registered = NT_SUCCESS(status);
    return status;
}

std::vector<StickStart> World::StartSticks() {
    State& s = *state_;
    std::vector<StickStart> out;
    for (const StickSetup& setup : s.scenario.sticks) {
        sim::JoystickChild* child = sim::AddChild(s.enumerator, s.ports[setup.port].get());
        child->numberAxis = setup.axisCount;
        std::memcpy(child->oemData, setup.oemData.data(), 32);
        s.pdos.push_back(child->pdo);
        StickStart start;
        start.attributes.assign(32, 0);
        if (!NT_SUCCESS(sim::pnp::AddDevice(s.driver, child->pdo))) {
            start.status = STATUS_UNSUCCESSFUL;
            s.fdos.push_back(nullptr);
            out.push_back(start);
            continue;
        }
        PDEVICE_OBJECT fdo = sim::hid::FunctionalDevice(child->pdo);
        s.fdos.push_back(fdo);
        start.status = sim::pnp::Start(child->pdo).status;
        const sim::hid::DeviceInfo info = sim::hid::Device(fdo);
        start.descriptor = info.reportDescriptor;
        std::memcpy(start.attributes.data(), &info.attributes, 32);
        out.push_back(start);
    }
    return out;
}

ReadResult World::Read(size_t stick) {
    State& s = *state_;
    ReadResult r;
    PDEVICE_OBJECT fdo = s.fdos[stick];
    if (!fdo) {
        r.status = STATUS_DEVICE_NOT_CONNECTED;
        return r;
    }
    const sim::hid::PolledRead read =
        sim::hid::PollReads(fdo, 1, s.scenario.dispatchLevel ? DISPATCH_LEVEL : PASSIVE_LEVEL)
            .front();
    r.status = read.status;
    r.bytes = read.information;
    if (NT_SUCCESS(read.status))
        r.report.assign(read.report.begin(), read.report.begin() + read.information);
    return r;
}

sim::GamePort& World::Port(size_t index) {
    return *state_->ports[index];
}
sim::BridgeDevice* World::Bridge() {
    return state_->bridge;
}
size_t World::StickCount() const {
    return state_->fdos.size();
}
PDRIVER_OBJECT World::Driver() const {
    return state_->driver;
}
PDEVICE_OBJECT World::Pdo(size_t stick) const {
    return state_->pdos[stick];
}
PDEVICE_OBJECT World::Fdo(size_t stick) const {
    return state_->fdos[stick];
}

} // namespace zelsim
