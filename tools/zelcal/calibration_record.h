// The joystick driver's per-axis calibration record: its 16-byte registry form, the
// ordering rules the driver relies on, and the positions the driver makes of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelcal {

constexpr int kAxes = 4;
constexpr size_t kRecordBytes = 16;

// One axis field's calibration, all positions in raw microseconds.
struct AxisRecord {
    uint32_t Minimum = 0;
    uint32_t Centre = 0;
    uint32_t Maximum = 0;
    uint8_t DeadZone = 0;
    uint8_t Band = 0; // jitter band of the driver's filter
};

inline bool operator==(const AxisRecord& a, const AxisRecord& b) {
    return a.Minimum == b.Minimum && a.Centre == b.Centre && a.Maximum == b.Maximum &&
           a.DeadZone == b.DeadZone && a.Band == b.Band;
}

// The whole calibration: per axis field a record, or none (raw microseconds).
using Calibration = std::array<std::optional<AxisRecord>, kAxes>;

// "Eje1" to "Eje4": the registry value of axis field `axis` (0 to 3).
const char* ValueName(int axis);

// Little-endian: Minimum, Centre, Maximum (4 bytes each), DeadZone, Band, two zero bytes.
std::array<uint8_t, kRecordBytes> EncodeRecord(const AxisRecord& record);

// Reads a stored value; false unless it holds exactly 16 bytes.
bool DecodeRecord(const std::vector<uint8_t>& data, AxisRecord* record);

// Empty when the record is ordered (Minimum <= Centre - DeadZone and Centre + DeadZone <=
// Maximum, without wrapping); otherwise why it is not, for a person to read.
std::string CheckRecord(const AxisRecord& record);

// The half ranges below and above the dead zone, and the driver's output range: the longer
// half is scaled down to the shorter, so positions run from -Reach to +Reach.
struct HalfRanges {
    uint32_t Below;
    uint32_t Above;
    uint32_t Reach;
};
HalfRanges HalfRangesOf(const AxisRecord& record); // the record must be ordered

} // namespace zelcal
