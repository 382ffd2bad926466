// Which port axis line feeds which report axis, from the hardware flags of
// the selected OEM data set.
#include "hidg.h"

namespace {

constexpr UCHAR kInvalid = 0xFF;

// Source code (0..7) to port line, one table per report axis.
constexpr UCHAR kXLines[8] = {0, 1, 2, kInvalid, 3, kInvalid, kInvalid, kInvalid};
constexpr UCHAR kYLines[8] = {1, 0, 2, kInvalid, 3, kInvalid, kInvalid, kInvalid};
constexpr UCHAR kZLines[8] = {3, 1, 0, kInvalid, 2, kInvalid, kInvalid, kInvalid};
constexpr UCHAR kRudderLines[8] = {2, 1, 0, kInvalid, 3, kInvalid, kInvalid, kInvalid};

constexpr ULONG kZPresent = 1u << 0;
constexpr ULONG kRudderPresent = 1u << 19;

inline UCHAR Code(ULONG flags, int shift) {
    return UCHAR((flags >> shift) & 7);
}

} // namespace

const OemSettings& SelectedOemSet(const GameDeviceExtension* ext) {
    return ext->OemData[ext->UseSecondOemSet ? 1 : 0];
}

ZEL_PAGEABLE NTSTATUS AssignAxes(GameDeviceExtension* ext) {
    PAGED_CODE();
    ext->AxisMask = 0;
    for (auto& source : ext->AxisSource)
        source = kNoAxisSource;
    int count = 0;
    NTSTATUS status = STATUS_SUCCESS;
    const ULONG flags = SelectedOemSet(ext).HardwareFlags;

    // Z and rudder are placed first; X and Y silently lose a line they took.
    if (flags & kZPresent) {
        const UCHAR line = kZLines[Code(flags, 13)];
        if (line == kInvalid) {
            status = STATUS_DEVICE_CONFIGURATION_ERROR;
        } else {
            ext->AxisMask |= UCHAR(1u << line);
            ext->AxisSource[2] = line;
            ++count;
        }
    }
    if (flags & kRudderPresent) {
        const UCHAR line = kRudderLines[Code(flags, 20)];
        if (line == kInvalid || (ext->AxisMask & (1u << line))) {
            status = STATUS_DEVICE_CONFIGURATION_ERROR;
        } else {
            ext->AxisMask |= UCHAR(1u << line);
            ext->AxisSource[3] = line;
            ++count;
        }
    }
    const struct {
        const UCHAR* lines;
        int shift;
        int slot;
    } planar[2] = {{kXLines, 7, 0}, {kYLines, 10, 1}};
    for (const auto& axis : planar) {
        const UCHAR line = axis.lines[Code(flags, axis.shift)];
        if (line == kInvalid) {
            status = STATUS_DEVICE_CONFIGURATION_ERROR;
        } else if (!(ext->AxisMask & (1u << line))) {
            ext->AxisMask |= UCHAR(1u << line);
            ext->AxisSource[axis.slot] = line;
            ++count;
        }
    }
    if (count != ext->AxisCount)
        status = STATUS_DEVICE_CONFIGURATION_ERROR;
    return status;
}
