// Axis transform of the read path: jitter filter, dead zone and calibration of
// each axis field, then axis order and dial selection. Resident: reads arrive
// at up to DISPATCH_LEVEL.
#include "hidg.h"

namespace {

// Holds a value that stays within Band of the last accepted one, unless the
// poll has seen the line settle (StableCount), which lets the small move through.
ULONG Filter(FilterRecord& f, ULONG v) {
    const ULONG held = f.Held;
    const ULONG band = f.Band;
    const bool left = v > held ? v > held + band : v < held - band;
    if (left) {
        f.Held = v;
        return v;
    }
    if (f.StableCount >= 3) {
        f.StableCount = 0;
        f.Held = v;
        return v;
    }
    return held;
}

// Microseconds to a position centred on 0. The longer half range is scaled
// down to the shorter one, so both directions reach the same magnitude. The
// record is ordered (the store refuses others), so no difference wraps.
ULONG Calibrate(const CalibrationRecord& c, ULONG v) {
    if (v == 0)
        return 0; // no measurement reads as centred
    const ULONG centre = c.Centre;
    const ULONG dead = c.DeadZone;
    if (v >= centre - dead && v <= centre + dead)
        return 0;
    if (v < c.Minimum)
        v = c.Minimum;
    else if (v > c.Maximum)
        v = c.Maximum;
    const ULONG below = centre - dead - c.Minimum;
    const ULONG above = c.Maximum - dead - centre;
    // The quotient never exceeds the shorter range, but the product may pass
    // 32 bits for wide ranges, so it is formed in 64.
    if (v < centre) {
        ULONG x = centre - dead - v;
        if (below > above)
            x = ULONG(ULONGLONG(x) * above / below);
        return 0u - x;
    }
    ULONG y = v - dead - centre;
    if (above > below)
        y = ULONG(ULONGLONG(y) * below / above);
    return y;
}

constexpr ULONG kHatOffset = 16;
constexpr ULONG kDialOffset = 20;
constexpr ULONG kButtonOffset = 22;

} // namespace

void TransformReport(PDEVICE_OBJECT device, PUCHAR report) {
    GameDeviceExtension* ext = GetGameExtension(device);

    ULONG axis[4];
    RtlCopyMemory(axis, report, sizeof axis);
    for (ULONG i = 0; i < 4; ++i) {
        ULONG v = axis[i];
        if (ext->AxisFilter[i].Enabled)
            v = Filter(ext->AxisFilter[i], v);
        if (ext->AxisCalibration[i].Enabled)
            v = Calibrate(ext->AxisCalibration[i], v);
        axis[i] = v;
    }

    UCHAR out[kReportBytes] = {};
    // Any order is applied as given, also one that repeats a field; an entry
    // that names no axis field leaves its output field 0.
    for (ULONG i = 0; i < 4; ++i) {
        const UCHAR from = ext->AxisOrder[i];
        if (from < 4)
            RtlCopyMemory(&out[4 * i], &axis[from], sizeof(ULONG));
    }

    // Each dial byte takes input byte 19 + selector; 0 leaves it 0, and a
    // selector that would reach past the report does too.
    const ULONG first = ext->DialSource & 3;
    const ULONG second = ext->DialSource >> 2;
    if (first != 0)
        out[kDialOffset] = report[kDialOffset - 1 + first];
    if (second != 0 && kDialOffset - 1 + second < kReportBytes)
        out[kDialOffset + 1] = report[kDialOffset - 1 + second];

    RtlCopyMemory(&out[kHatOffset], &report[kHatOffset], kDialOffset - kHatOffset);
    RtlCopyMemory(&out[kButtonOffset], &report[kButtonOffset], kReportBytes - kButtonOffset);
    RtlCopyMemory(report, out, kReportBytes);
}
