// A simulator run: the machine, the registry, the bridge, the game ports and
// the sticks on them, read from a JSON scenario or built from the options.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zelsim {

struct ScenarioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct BridgeSetup {
    std::vector<uint8_t> data = std::vector<uint8_t>(13, 0);
    std::vector<uint8_t> flags; // answered to successive flag queries
    std::vector<uint8_t> axisOrder = {0, 1, 2, 3, 9};
};

struct PortSetup {
    // Pulse time per line in microseconds; none for a line that never falls.
    std::optional<double> linesUs[4] = {500.0, 500.0, 500.0, 500.0};
};

struct StickSetup {
    int port = 0;
    uint16_t axisCount = 2;
    std::vector<uint8_t> oemData = std::vector<uint8_t>(32, 0);
};

struct Scenario {
    uint64_t counterHz = 3579545;
    double portReadUs = 1.0;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> registry; // "Eje1" -> data
    std::optional<BridgeSetup> bridge = BridgeSetup{};
    std::vector<PortSetup> ports = {PortSetup{}};
    std::vector<StickSetup> sticks;
    int reads = 1;
    bool dispatchLevel = false;
};

// One 16-byte OEM data set, and one calibration value ("Eje1".."Eje4"), laid
// out as the installation and the calibration software write them.
std::vector<uint8_t> OemSetBytes(uint16_t vendor, uint16_t product, uint32_t hardwareFlags,
                                 uint32_t pollTimeout);
std::vector<uint8_t> CalibrationBytes(uint32_t minimum, uint32_t centre, uint32_t maximum,
                                      uint8_t deadZone, uint8_t band);

// Parses a scenario; every error names what is wrong.
Scenario ParseScenario(const std::string& json);
std::vector<uint8_t> ParseHex(const std::string& text, const std::string& what);
std::string ToHex(const uint8_t* bytes, size_t count);

} // namespace zelsim
