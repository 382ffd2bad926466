// Stored calibration values: conversion to records and the all-or-nothing change.
#include "stored_values.h"

namespace zelcal {

StoredValues ToStored(const Calibration& calibration) {
    StoredValues out;
    for (int i = 0; i < kAxes; ++i)
        if (calibration[i]) {
            const auto bytes = EncodeRecord(*calibration[i]);
            out[i] = std::vector<uint8_t>(bytes.begin(), bytes.end());
        }
    return out;
}

Calibration FromStored(const StoredValues& stored, std::string* wrongSize) {
    Calibration out;
    for (int i = 0; i < kAxes; ++i) {
        if (!stored[i])
            continue;
        AxisRecord r;
        if (DecodeRecord(*stored[i], &r)) {
            out[i] = r;
        } else if (wrongSize) {
            *wrongSize += std::string(wrongSize->empty() ? "" : "; ") + ValueName(i) + " holds " +
                          std::to_string(stored[i]->size()) + " bytes instead of " +
                          std::to_string(kRecordBytes);
        }
    }
    return out;
}

namespace {

bool Change(const ValueStore& store, int axis, const std::optional<std::vector<uint8_t>>& to,
            std::string* error) {
    return to ? store.Write(axis, *to, error) : store.Remove(axis, error);
}

} // namespace

bool ApplyValues(const ValueStore& store, const StoredValues& current, const StoredValues& target,
                 std::string* error) {
    for (int i = 0; i < kAxes; ++i) {
        if (current[i] == target[i])
            continue;
        if (Change(store, i, target[i], error))
            continue;
        // Put back what this call changed, last first; the failed value may be half
        // written too, so it is put back as well.
        std::string undoError;
        for (int j = i; j >= 0; --j)
            if (current[j] != target[j] && !Change(store, j, current[j], &undoError)) {
                *error += "; putting back the old " + std::string(ValueName(j)) +
                          " failed too: " + undoError;
            }
        return false;
    }
    return true;
}

} // namespace zelcal
