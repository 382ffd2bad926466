// Tables and live lines of zelcal show and calibrate.
#include "display.h"

#include <cstdio>

namespace zelcal {

// Both tables put each number under its heading: the columns are formatted as text.
const char kStoredColumns[] = "%-5s  %-6s %8s %8s %8s  %9s %6s  %s\n";

std::string Micro(unsigned long v) {
    return std::to_string(v) + " us";
}

std::string FormatStoredTable(const StoredValues& stored, const std::string axisNames[kAxes]) {
    char line[160];
    std::snprintf(line, sizeof line, kStoredColumns, "value", "axis", "minimum", "centre",
                  "maximum", "dead zone", "band", "output range");
    std::string out = line;
    for (int i = 0; i < kAxes; ++i) {
        const char* axis = axisNames[i].empty() ? "-" : axisNames[i].c_str();
        AxisRecord r;
        if (!stored[i]) {
            std::snprintf(line, sizeof line, "%-5s  %-6s  not calibrated\n", ValueName(i), axis);
        } else if (!DecodeRecord(*stored[i], &r)) {
            std::snprintf(line, sizeof line,
                          "%-5s  %-6s  wrong size: %zu bytes instead of %zu (the driver ignores "
                          "it; calibrate or import to replace it)\n",
                          ValueName(i), axis, stored[i]->size(), kRecordBytes);
        } else if (!CheckRecord(r).empty()) {
            std::snprintf(line, sizeof line, "%-5s  %-6s  unusable (the driver ignores it): %s\n",
                          ValueName(i), axis, CheckRecord(r).c_str());
        } else {
            const unsigned long reach = HalfRangesOf(r).Reach;
            std::snprintf(line, sizeof line, kStoredColumns, ValueName(i), axis,
                          Micro(r.Minimum).c_str(), Micro(r.Centre).c_str(),
                          Micro(r.Maximum).c_str(), Micro(r.DeadZone).c_str(),
                          Micro(r.Band).c_str(),
                          ("-" + std::to_string(reach) + "..+" + std::to_string(reach)).c_str());
        }
        out += line;
    }
    return out;
}

namespace {

constexpr int kBarCells = 11;

// A bar of kBarCells cells with '#' at `v` within low..high and, when centred, '|' in the
// middle.
std::string Bar(long long v, long long low, long long high, bool centred) {
    std::string bar(kBarCells, '-');
    if (centred)
        bar[kBarCells / 2] = '|';
    long long cell = high > low ? (v - low) * (kBarCells - 1) / (high - low) : 0;
    cell = cell < 0 ? 0 : cell > kBarCells - 1 ? kBarCells - 1 : cell;
    bar[size_t(cell)] = '#';
    return "[" + bar + "]";
}

} // namespace

std::string FormatLiveLine(const std::array<uint32_t, kAxes>& axes, const Calibration& calibration,
                           const std::string axisNames[kAxes], int axisCount, uint32_t rawScale) {
    std::string out;
    char part[96];
    for (int i = 0; i < axisCount && i < kAxes; ++i) {
        const char* name = axisNames[i].empty() ? ValueName(i) : axisNames[i].c_str();
        AxisRecord r;
        if (calibration[i] && CheckRecord(*calibration[i]).empty()) {
            r = *calibration[i];
            const long long reach = HalfRangesOf(r).Reach;
            const long long v = int32_t(axes[i]);
            std::snprintf(part, sizeof part, "%s %6lld %s", name, v,
                          Bar(v, -reach, reach, true).c_str());
        } else {
            std::snprintf(part, sizeof part, "%s %5lu us %s", name, (unsigned long)axes[i],
                          Bar(axes[i], 0, rawScale, false).c_str());
        }
        out += (out.empty() ? "" : "  ") + std::string(part);
    }
    return out;
}

} // namespace zelcal
