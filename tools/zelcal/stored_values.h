// The four registry values as they are stored, and changing them all or none.
#pragma once

#include "calibration_record.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelcal {

// Per value: absent, or its bytes as found (which may be of a wrong size).
using StoredValues = std::array<std::optional<std::vector<uint8_t>>, kAxes>;

// Writing and removing one value; each gives false and a one-line reason on failure.
// Removing a value that is absent succeeds.
struct ValueStore {
    std::function<bool(int axis, const std::vector<uint8_t>& bytes, std::string* error)> Write;
    std::function<bool(int axis, std::string* error)> Remove;
};

StoredValues ToStored(const Calibration& calibration);

// The records of `stored`; a value of the wrong size reads as no record, and its axis is
// named in `wrongSize` (a message for a person) when given.
Calibration FromStored(const StoredValues& stored, std::string* wrongSize = nullptr);

// Changes the store from `current` to `target`, one value at a time, leaving equal values
// alone. When a change fails, the values already changed are put back to `current` and the
// result is false with the reason (and, if putting back failed too, that as well).
bool ApplyValues(const ValueStore& store, const StoredValues& current, const StoredValues& target,
                 std::string* error);

} // namespace zelcal
