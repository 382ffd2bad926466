#include "scenario.h"

#include <nlohmann/json.hpp>

namespace zelsim {

using nlohmann::json;

std::vector<uint8_t> ParseHex(const std::string& text, const std::string& what) {
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text)
        if (c != ' ')
            digits += c;
    if (digits.size() % 2)
        throw ScenarioError(what + ": odd number of hex digits");
    for (size_t i = 0; i < digits.size(); i += 2) {
        auto digit = [&](char c) -> int {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            throw ScenarioError(what + ": '" + std::string(1, c) + "' is not a hex digit");
        };
        out.push_back(uint8_t(digit(digits[i]) * 16 + digit(digits[i + 1])));
    }
    return out;
}

std::string ToHex(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

namespace {
void PutLittleEndian(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + i] = uint8_t(value >> (8 * i));
}
} // namespace

std::vector<uint8_t> OemSetBytes(uint16_t vendor, uint16_t product, uint32_t hardwareFlags,
                                 uint32_t pollTimeout) {
    std::vector<uint8_t> set(16, 0);
    PutLittleEndian(set, 0, vendor, 2);
    PutLittleEndian(set, 2, product, 2);
    PutLittleEndian(set, 4, hardwareFlags, 4);
    PutLittleEndian(set, 8, pollTimeout, 4);
    return set;
}

std::vector<uint8_t> CalibrationBytes(uint32_t minimum, uint32_t centre, uint32_t maximum,
                                      uint8_t deadZone, uint8_t band) {
    std::vector<uint8_t> value(16, 0);
    PutLittleEndian(value, 0, minimum, 4);
    PutLittleEndian(value, 4, centre, 4);
    PutLittleEndian(value, 8, maximum, 4);
    value[12] = deadZone;
    value[13] = band;
    return value;
}

namespace {

const json& Need(const json& object, const char* key, const std::string& where) {
    if (!object.contains(key))
        throw ScenarioError(where + ": \"" + key + "\" is missing");
    return object.at(key);
}

std::vector<uint8_t> HexOfLength(const json& value, size_t length, const std::string& what) {
    if (!value.is_string())
        throw ScenarioError(what + ": expected a hex string");
    auto bytes = ParseHex(value.get<std::string>(), what);
    if (bytes.size() != length)
        throw ScenarioError(what + ": expected " + std::to_string(length) + " bytes, got " +
                            std::to_string(bytes.size()));
    return bytes;
}

int64_t Integer(const json& value, const std::string& what, int64_t low, int64_t high) {
    if (!value.is_number_integer())
        throw ScenarioError(what + ": expected an integer");
    const int64_t v = value.get<int64_t>();
    if (v < low || v > high)
        throw ScenarioError(what + ": " + std::to_string(v) + " is out of range " +
                            std::to_string(low) + ".." + std::to_string(high));
    return v;
}

double Number(const json& value, const std::string& what, double low, double high) {
    if (!value.is_number())
        throw ScenarioError(what + ": expected a number");
    const double v = value.get<double>();
    if (!(v >= low && v <= high))
        throw ScenarioError(what + ": " + value.dump() + " is out of range");
    return v;
}

void CheckKeys(const json& object, std::initializer_list<const char*> known,
               const std::string& where) {
    if (!object.is_object())
        throw ScenarioError(where + ": expected an object");
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool ok = false;
        for (const char* k : known)
            ok = ok || it.key() == k;
        if (!ok)
            throw ScenarioError(where + ": unknown key \"" + it.key() + "\"");
    }
}

} // namespace

Scenario ParseScenario(const std::string& text) {
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& e) {
        throw ScenarioError(std::string("not valid JSON: ") + e.what());
    }
    CheckKeys(
        root,
        {"counter_hz", "port_read_us", "registry", "bridge", "ports", "sticks", "reads", "irql"},
        "scenario");
    Scenario s;
    if (root.contains("counter_hz"))
        s.counterHz = uint64_t(Integer(root["counter_hz"], "counter_hz", 1, int64_t(1) << 40));
    if (root.contains("port_read_us"))
        s.portReadUs = Number(root["port_read_us"], "port_read_us", 0.0, 1000.0);
    if (root.contains("registry")) {
        const json& reg = root["registry"];
        if (!reg.is_object())
            throw ScenarioError("registry: expected an object");
        for (auto it = reg.begin(); it != reg.end(); ++it) {
            if (!it.value().is_string())
                throw ScenarioError("registry." + it.key() + ": expected a hex string");
            s.registry.emplace_back(
                it.key(), ParseHex(it.value().get<std::string>(), "registry." + it.key()));
        }
    }
    if (root.contains("bridge")) {
        const json& b = root["bridge"];
        if (b.is_null()) {
            s.bridge.reset();
        } else {
            CheckKeys(b, {"data", "flags", "axis_order"}, "bridge");
            if (b.contains("data"))
                s.bridge->data = HexOfLength(b["data"], 13, "bridge.data");
            if (b.contains("axis_order"))
                s.bridge->axisOrder = HexOfLength(b["axis_order"], 5, "bridge.axis_order");
            if (b.contains("flags")) {
                if (!b["flags"].is_array())
                    throw ScenarioError("bridge.flags: expected a list of flag bytes");
                for (size_t i = 0; i < b["flags"].size(); ++i)
                    s.bridge->flags.push_back(uint8_t(
                        Integer(b["flags"][i], "bridge.flags[" + std::to_string(i) + "]", 0, 255)));
            }
        }
    }
    if (root.contains("ports")) {
        const json& ports = root["ports"];
        if (!ports.is_array() || ports.empty())
            throw ScenarioError("ports: expected a non-empty list");
        s.ports.clear();
        for (size_t p = 0; p < ports.size(); ++p) {
            const std::string where = "ports[" + std::to_string(p) + "]";
            CheckKeys(ports[p], {"lines_us"}, where);
            const json& lines = Need(ports[p], "lines_us", where);
            if (!lines.is_array() || lines.size() != 4)
                throw ScenarioError(where + ".lines_us: expected four pulse times");
            PortSetup port;
            for (int n = 0; n < 4; ++n) {
                if (lines[n].is_null())
                    port.linesUs[n].reset();
                else
                    port.linesUs[n] =
                        Number(lines[n], where + ".lines_us[" + std::to_string(n) + "]", 0.0, 1e6);
            }
            s.ports.push_back(port);
        }
    }
    const json& sticks = Need(root, "sticks", "scenario");
    if (!sticks.is_array() || sticks.empty())
        throw ScenarioError("sticks: expected a non-empty list");
    for (size_t i = 0; i < sticks.size(); ++i) {
        const std::string where = "sticks[" + std::to_string(i) + "]";
        CheckKeys(sticks[i], {"port", "axis_count", "oem_data"}, where);
        StickSetup stick;
        if (sticks[i].contains("port"))
            stick.port =
                int(Integer(sticks[i]["port"], where + ".port", 0, int64_t(s.ports.size()) - 1));
        if (sticks[i].contains("axis_count"))
            stick.axisCount =
                uint16_t(Integer(sticks[i]["axis_count"], where + ".axis_count", 0, 65535));
        if (sticks[i].contains("oem_data"))
            stick.oemData = HexOfLength(sticks[i]["oem_data"], 32, where + ".oem_data");
        s.sticks.push_back(stick);
    }
    if (root.contains("reads"))
        s.reads = int(Integer(root["reads"], "reads", 0, 1000000));
    if (root.contains("irql")) {
        const json& irql = root["irql"];
        if (irql == "passive")
            s.dispatchLevel = false;
        else if (irql == "dispatch")
            s.dispatchLevel = true;
        else
            throw ScenarioError("irql: expected \"passive\" or \"dispatch\"");
    }
    return s;
}

} // namespace zelsim
