// The calibration values in the Windows registry: reading them, checking that they may be
// written, and the store that writes and removes them.
#pragma once

#include "stored_values.h"

#include <string>

namespace zelcal {

extern const char kCalibrationKeyText[]; // HKLM\...\Calibrado, for messages

// All four values as stored; a missing key reads as no values.
bool ReadStoredValues(StoredValues* values, std::string* error);

// False with a message when the key cannot be opened for writing (no administrator rights).
bool CheckWriteAccess(std::string* error);

ValueStore RegistryStore();

// "text of the system message (error N)".
std::string SystemErrorText(unsigned long code);

} // namespace zelcal
