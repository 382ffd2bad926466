// From raw readings to a proposed calibration record: the centre and its noise from the
// readings at rest, the range from the readings while the stick moves.
#pragma once

#include "calibration_record.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelcal {

// Raw readings of one axis field, in microseconds. 0 (no measurement) and 0xFFFFFFFF (the
// line did not fall) are kept here and left out by the proposal.
struct AxisSamples {
    std::vector<uint32_t> AtRest; // stick centred and let go
    std::vector<uint32_t> Moving; // stick moved to both ends
};

// The rules, also printed by --help:
//  - Centre: the median of the readings at rest.
//  - Noise: how far the readings at rest stray from the centre, leaving out the tenth
//    that stray furthest (a reading taken late now and then is no noise of the stick).
//  - DeadZone = 2 x noise + 1, Band = 2 x noise: the resting stick reads 0 and the
//    filter holds the jitter, also when the stick comes back a little off centre.
//  - Minimum and Maximum: the lowest and highest readings while moving, leaving out the
//    most extreme 2 % at each side, so that full deflection is reached just before the stop.
// Refused: fewer than kMinimumReadings usable readings in either step, a noise that would
// need a dead zone above 255 us, less than kMinimumTravel us of travel on either side of
// the dead zone, or a record that is not ordered.
constexpr size_t kMinimumReadings = 3;
constexpr uint32_t kMinimumTravel = 50;

struct Proposal {
    AxisRecord Record;
    uint32_t Noise = 0; // microseconds either side of the centre
    std::string Error;  // empty when the record can be used
};

Proposal ProposeRecord(const AxisSamples& samples);

} // namespace zelcal
