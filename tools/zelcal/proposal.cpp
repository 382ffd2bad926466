// Calibration proposal from the readings of the guided steps.
#include "proposal.h"

#include <algorithm>

namespace zelcal {

namespace {

std::vector<uint32_t> Usable(const std::vector<uint32_t>& readings) {
    std::vector<uint32_t> out;
    for (uint32_t v : readings)
        if (v != 0 && v != 0xFFFFFFFFu)
            out.push_back(v);
    std::sort(out.begin(), out.end());
    return out;
}

uint32_t Distance(uint32_t a, uint32_t b) {
    return a > b ? a - b : b - a;
}

} // namespace

Proposal ProposeRecord(const AxisSamples& samples) {
    Proposal p;
    const std::vector<uint32_t> rest = Usable(samples.AtRest);
    const std::vector<uint32_t> moving = Usable(samples.Moving);
    if (rest.size() < kMinimumReadings) {
        p.Error = "no readings at rest (" + std::to_string(rest.size()) +
                  " usable): is this axis connected?";
        return p;
    }
    if (moving.size() < kMinimumReadings) {
        p.Error = "no readings while moving (" + std::to_string(moving.size()) +
                  " usable): is this axis connected?";
        return p;
    }

    const uint32_t centre = rest[(rest.size() - 1) / 2];
    std::vector<uint32_t> strays;
    for (uint32_t v : rest)
        strays.push_back(Distance(v, centre));
    std::sort(strays.begin(), strays.end());
    // Keep nine tenths, rounded up: with ten readings the furthest one is left out.
    const size_t kept = (strays.size() * 9 + 9) / 10;
    p.Noise = strays[kept - 1];
    if (p.Noise > 127) {
        p.Error = "the stick is too noisy at rest (+/-" + std::to_string(p.Noise) +
                  " us; at most +/-127 us fit the dead zone)";
        return p;
    }

    const size_t trimmed = moving.size() * 2 / 100;
    p.Record.Minimum = moving[trimmed];
    p.Record.Centre = centre;
    p.Record.Maximum = moving[moving.size() - 1 - trimmed];
    p.Record.DeadZone = uint8_t(2 * p.Noise + 1);
    p.Record.Band = uint8_t(2 * p.Noise);
    p.Error = CheckRecord(p.Record);
    if (!p.Error.empty())
        return p;
    const HalfRanges h = HalfRangesOf(p.Record);
    if (h.Below < kMinimumTravel || h.Above < kMinimumTravel)
        p.Error = "the stick moved only " + std::to_string(h.Below) + " us below and " +
                  std::to_string(h.Above) + " us above the centre (at least " +
                  std::to_string(kMinimumTravel) + " us each): move it to both ends";
    return p;
}

} // namespace zelcal
