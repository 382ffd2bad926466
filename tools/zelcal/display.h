// What zelcal shows of a calibration and of the live axis values.
#pragma once

#include "stored_values.h"

#include <array>
#include <string>

namespace zelcal {

// "1200 us".
std::string Micro(unsigned long microseconds);

// One line per value: its axis, the record with units and the output range, "not
// calibrated", or the size of a value the driver cannot use.
std::string FormatStoredTable(const StoredValues& stored, const std::string axisNames[kAxes]);

// "X    -12 [----#|-----]  Y ..." for the first `axisCount` fields: a calibrated field as a
// signed position on a bar from -reach to +reach, a raw one in microseconds on a bar up to
// `rawScale` microseconds.
std::string FormatLiveLine(const std::array<uint32_t, kAxes>& axes, const Calibration& calibration,
                           const std::string axisNames[kAxes], int axisCount, uint32_t rawScale);

} // namespace zelcal
