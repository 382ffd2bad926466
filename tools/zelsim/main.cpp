// zelsim: runs the real joystick driver code in the simulated system and shows
// the reports the HID class driver receives.
//
//   zelsim [--reports N] [--raw] [--no-calibration] [--two-sticks]
//          [--counter-hz N] [--port-read-us X] [--json]
//   zelsim --scenario FILE [--json]
#include "world.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace zelsim;

struct Options {
    int reports = 48;
    bool raw = false;
    bool calibration = true;
    bool twoSticks = false;
    bool json = false;
    uint64_t counterHz = 3579545;
    double portReadUs = 1.0;
    std::string scenarioFile;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "zelsim: %s\n"
                 "usage: zelsim [--reports N] [--raw] [--no-calibration] [--two-sticks]\n"
                 "              [--counter-hz N] [--port-read-us X] [--json]\n"
                 "       zelsim --scenario FILE [--json]\n",
                 problem.c_str());
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage(a + " needs a value");
            return argv[++i];
        };
        try {
            if (a == "--reports")
                o.reports = std::stoi(value());
            else if (a == "--raw")
                o.raw = true;
            else if (a == "--no-calibration")
                o.calibration = false;
            else if (a == "--two-sticks")
                o.twoSticks = true;
            else if (a == "--json")
                o.json = true;
            else if (a == "--counter-hz")
                o.counterHz = std::stoull(value());
            else if (a == "--port-read-us")
                o.portReadUs = std::stod(value());
            else if (a == "--scenario")
                o.scenarioFile = value();
            else if (a == "--help" || a == "-h")
                Usage("runs the joystick driver in the simulated system");
            else
                Usage("unknown option " + a);
        } catch (const std::logic_error&) {
            Usage("bad value for " + a);
        }
    }
    if (o.reports < 0)
        Usage("--reports must not be negative");
    return o;
}

// The demonstration: a four-axis stick with the dial ids (or two two-axis
// sticks on one port), calibrated, with a bridge feeding hats and buttons.
Scenario DefaultScenario(const Options& o) {
    Scenario s;
    s.counterHz = o.counterHz;
    s.portReadUs = o.portReadUs;
    s.reads = o.reports;
    if (o.calibration)
        for (const char* name : {"Eje1", "Eje2", "Eje3", "Eje4"})
            s.registry.emplace_back(name, CalibrationBytes(60, 600, 1140, 12, 3));
    if (o.raw)
        s.bridge->flags = {0x04};
    constexpr uint32_t kZ = 1, kRudder = 1u << 19;
    if (!o.twoSticks) {
        StickSetup stick;
        stick.axisCount = 4;
        auto set0 = OemSetBytes(0x06A3, 13877, kZ | kRudder, 10000);
        std::copy(set0.begin(), set0.end(), stick.oemData.begin());
        s.sticks.push_back(stick);
    } else {
        // One installation record for both: the second stick takes lines 3 and 2.
        auto set0 = OemSetBytes(0x06A3, 13877, 0, 10000);
        auto set1 = OemSetBytes(0x06A3, 13877, (4u << 7) | (2u << 10), 0);
        StickSetup stick;
        stick.axisCount = 2;
        std::copy(set0.begin(), set0.end(), stick.oemData.begin());
        std::copy(set1.begin(), set1.end(), stick.oemData.begin() + 16);
        s.sticks = {stick, stick};
    }
    return s;
}

// Scripted motion for read k of n: a slow circle on X and Y, a throttle ramp
// and a rudder sweep; the bridge turns a hat, rolls the dials and walks a
// pressed button along the forty.
void Move(World& world, int k, int n) {
    const double t = n > 1 ? double(k) / (n - 1) : 0.0;
    const double pi = 3.14159265358979;
    sim::GamePort& port = world.Port(0);
    port.SetPulseUs(0, 600 + 450 * std::cos(2 * pi * t));
    port.SetPulseUs(1, 600 + 450 * std::sin(2 * pi * t));
    port.SetPulseUs(3, 100 + 1000 * t);
    port.SetPulseUs(2, 600 + 450 * std::sin(4 * pi * t));
    if (sim::BridgeDevice* bridge = world.Bridge()) {
        uint8_t data[13] = {};
        data[2] = uint8_t(1 + k / 3 % 8); // hat 0 turns through its eight positions
        data[6] = uint8_t(k * 5);
        data[7] = uint8_t(255 - k * 5);
        const int button = k / 2 % 40;
        data[8 + button / 8] = uint8_t(1u << (button % 8));
        std::lock_guard<std::mutex> guard(bridge->lock);
        std::memcpy(bridge->data, data, 13);
    }
}

void PrintJsonStart(size_t stick, const StickStart& s) {
    std::printf("{\"stick\": %zu, \"start\": \"0x%08X\", \"descriptor\": \"%s\", "
                "\"attributes\": \"%s\"}\n",
                stick, unsigned(s.status), ToHex(s.descriptor.data(), s.descriptor.size()).c_str(),
                ToHex(s.attributes.data(), s.attributes.size()).c_str());
}

void PrintJsonRead(size_t stick, int n, const ReadResult& r) {
    std::printf("{\"stick\": %zu, \"read\": %d, \"status\": \"0x%08X\", \"bytes\": %zu, "
                "\"report\": \"%s\"}\n",
                stick, n, unsigned(r.status), r.bytes,
                ToHex(r.report.data(), r.report.size()).c_str());
}

void PrintTableHeader() {
    std::printf("%5s %5s %10s | %7s %7s %7s %7s | %-11s | %7s | %s\n", "stick", "read", "status",
                "axis 0", "axis 1", "axis 2", "axis 3", "hats", "dials", "buttons pressed");
}

void PrintTableRow(size_t stick, int n, const ReadResult& r) {
    std::printf("%5zu %5d 0x%08X |", stick, n, unsigned(r.status));
    if (r.report.size() < 27) {
        std::printf(" %-65s|\n", " (no report)");
        return;
    }
    for (int i = 0; i < 4; ++i) {
        int32_t v;
        std::memcpy(&v, &r.report[4 * i], 4);
        std::printf(" %7d", v);
    }
    std::printf(" | %2u %2u %2u %2u | %3u %3u |", r.report[16], r.report[17], r.report[18],
                r.report[19], r.report[20], r.report[21]);
    for (int b = 0; b < 40; ++b)
        if (r.report[22 + b / 8] & (1u << (b % 8)))
            std::printf(" %d", b + 1);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    Scenario scenario;
    const bool scripted = options.scenarioFile.empty();
    if (scripted) {
        scenario = DefaultScenario(options);
    } else {
        std::ifstream file(options.scenarioFile);
        if (!file) {
            std::fprintf(stderr, "zelsim: cannot read %s\n", options.scenarioFile.c_str());
            return 2;
        }
        std::stringstream text;
        text << file.rdbuf();
        try {
            scenario = ParseScenario(text.str());
        } catch (const ScenarioError& e) {
            std::fprintf(stderr, "zelsim: %s: %s\n", options.scenarioFile.c_str(), e.what());
            return 2;
        }
    }

    World world(scenario);
    const int32_t load = world.LoadDriver();
    if (load < 0) {
        std::fprintf(stderr, "zelsim: the driver did not load: 0x%08X\n", unsigned(load));
        return 1;
    }
    const auto starts = world.StartSticks();
    if (options.json) {
        for (size_t i = 0; i < starts.size(); ++i)
            PrintJsonStart(i, starts[i]);
    } else {
        for (size_t i = 0; i < starts.size(); ++i)
            std::printf(
                "stick %zu started: 0x%08X, report descriptor %zu bytes, ids %02X%02X:%02X%02X\n",
                i, unsigned(starts[i].status), starts[i].descriptor.size(), starts[i].attributes[5],
                starts[i].attributes[4], starts[i].attributes[7], starts[i].attributes[6]);
        PrintTableHeader();
    }
    const bool live = !options.json && isatty(STDOUT_FILENO);
    for (int n = 0; n < scenario.reads; ++n) {
        if (scripted)
            Move(world, n, scenario.reads);
        for (size_t stick = 0; stick < world.StickCount(); ++stick) {
            const ReadResult r = world.Read(stick);
            if (options.json)
                PrintJsonRead(stick, n, r);
            else
                PrintTableRow(stick, n, r);
        }
        std::fflush(stdout);
        if (live)
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return 0;
}
