// The calibration as a small text file that a person can read, keep and restore:
//
//   # zelcal calibration: raw positions in microseconds
//   # value     minimum     centre    maximum  dead-zone  band
//   Eje1          100        600       1200         10     4
//   Eje2            -
//
// One line per registry value, "-" for an axis without calibration; blank lines and lines
// starting with "#" are comments. The file describes the whole calibration: a value that
// it does not name is not calibrated.
#pragma once

#include "calibration_record.h"

#include <string>

namespace zelcal {

std::string FormatCalibration(const Calibration& calibration);

// False with a one-line reason ("line 3: ...") when the text is not a calibration: an
// unknown value name, a value named twice, a field missing, out of range or not a number,
// or a record that is not ordered. `calibration` is only changed on success.
bool ParseCalibration(const std::string& text, Calibration* calibration, std::string* error);

} // namespace zelcal
