// Scenario files of the simulator: what a file may say, and the errors that
// end the program with status 2.
#include "scenario.h"

#include <gtest/gtest.h>

namespace {

using zelsim::ParseScenario;
using zelsim::ScenarioError;

TEST(Scenario, DefaultsAndEveryKey) {
    auto s = ParseScenario(R"({"sticks": [{}]})");
    EXPECT_EQ(s.counterHz, 3579545u);
    EXPECT_EQ(s.ports.size(), 1u);
    EXPECT_TRUE(s.bridge.has_value());
    EXPECT_EQ(s.reads, 1);
    EXPECT_EQ(s.sticks[0].port, 0);

    s = ParseScenario(R"({
        "counter_hz": 10000000, "port_read_us": 0.5,
        "registry": {"Eje3": "0102", "Eje9": ""},
        "bridge": null,
        "ports": [{"lines_us": [1, 2.5, null, 4]}, {"lines_us": [5, 6, 7, 8]}],
        "sticks": [{"port": 1, "axis_count": 4, "oem_data": "FF00000000000000000000000000000000000000000000000000000000000001"}],
        "reads": 7, "irql": "dispatch"})");
    EXPECT_EQ(s.counterHz, 10000000u);
    EXPECT_EQ(s.portReadUs, 0.5);
    ASSERT_EQ(s.registry.size(), 2u);
    EXPECT_EQ(s.registry[0].first, "Eje3");
    EXPECT_EQ(s.registry[0].second, (std::vector<uint8_t>{1, 2}));
    EXPECT_TRUE(s.registry[1].second.empty());
    EXPECT_FALSE(s.bridge.has_value());
    EXPECT_EQ(*s.ports[0].linesUs[1], 2.5);
    EXPECT_FALSE(s.ports[0].linesUs[2].has_value());
    EXPECT_EQ(s.sticks[0].port, 1);
    EXPECT_EQ(s.sticks[0].oemData[0], 0xFF);
    EXPECT_EQ(s.sticks[0].oemData[31], 0x01);
    EXPECT_EQ(s.reads, 7);
    EXPECT_TRUE(s.dispatchLevel);
}

TEST(Scenario, ErrorsNameWhatIsWrong) {
    struct Case {
        const char* json;
        const char* message;
    };
    const Case cases[] = {
        {"{", "not valid JSON"},
        {"{}", "\"sticks\" is missing"},
        {R"({"sticks": []})", "sticks: expected a non-empty list"},
        {R"({"sticks": [{}], "speed": 1})", "unknown key \"speed\""},
        {R"({"sticks": [{"port": 1}]})", "sticks[0].port: 1 is out of range"},
        {R"({"sticks": [{"oem_data": "00"}]})", "expected 32 bytes, got 1"},
        {R"({"sticks": [{}], "bridge": {"data": "0G"}})", "bridge.data: 'G' is not a hex digit"},
        {R"({"sticks": [{}], "bridge": {"flags": [256]}})", "bridge.flags[0]: 256 is out of range"},
        {R"({"sticks": [{}], "ports": [{"lines_us": [1, 2, 3]}]})", "expected four pulse times"},
        {R"({"sticks": [{}], "irql": "apc"})", "irql: expected"},
        {R"({"sticks": [{}], "registry": {"Eje1": "123"}})", "odd number of hex digits"},
        {R"({"sticks": [{}], "counter_hz": 1.5})", "counter_hz: expected an integer"},
    };
    for (const auto& c : cases) {
        try {
            ParseScenario(c.json);
            ADD_FAILURE() << "accepted: " << c.json;
        } catch (const ScenarioError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.json << " -> " << e.what();
        }
    }
}

} // namespace
