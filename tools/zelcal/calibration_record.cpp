// The 16-byte calibration record: encoding, decoding and the ordering check.
#include "calibration_record.h"

#include <algorithm>

namespace zelcal {

const char* ValueName(int axis) {
    static const char* const kNames[kAxes] = {"Eje1", "Eje2", "Eje3", "Eje4"};
    return axis >= 0 && axis < kAxes ? kNames[axis] : "?";
}

namespace {

void Put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(v >> (8 * i));
}

uint32_t Get32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

} // namespace

std::array<uint8_t, kRecordBytes> EncodeRecord(const AxisRecord& record) {
    std::array<uint8_t, kRecordBytes> out{};
    Put32(&out[0], record.Minimum);
    Put32(&out[4], record.Centre);
    Put32(&out[8], record.Maximum);
    out[12] = record.DeadZone;
    out[13] = record.Band;
    return out;
}

bool DecodeRecord(const std::vector<uint8_t>& data, AxisRecord* record) {
    if (data.size() != kRecordBytes)
        return false;
    record->Minimum = Get32(&data[0]);
    record->Centre = Get32(&data[4]);
    record->Maximum = Get32(&data[8]);
    record->DeadZone = data[12];
    record->Band = data[13];
    return true;
}

std::string CheckRecord(const AxisRecord& r) {
    // Widened, so that a dead zone reaching past either end shows as such instead of wrapping.
    const uint64_t below = uint64_t(r.Minimum) + r.DeadZone;
    const uint64_t above = uint64_t(r.Centre) + r.DeadZone;
    if (below > r.Centre)
        return "minimum " + std::to_string(r.Minimum) + " + dead zone " +
               std::to_string(r.DeadZone) + " lies above the centre " + std::to_string(r.Centre);
    if (above > r.Maximum)
        return "centre " + std::to_string(r.Centre) + " + dead zone " + std::to_string(r.DeadZone) +
               " lies above the maximum " + std::to_string(r.Maximum);
    return "";
}

HalfRanges HalfRangesOf(const AxisRecord& r) {
    HalfRanges h;
    h.Below = r.Centre - r.DeadZone - r.Minimum;
    h.Above = r.Maximum - r.DeadZone - r.Centre;
    h.Reach = std::min(h.Below, h.Above);
    return h;
}

} // namespace zelcal
