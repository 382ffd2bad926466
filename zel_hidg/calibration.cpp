// Calibration store: per-axis range, centre, dead zone and jitter band, read
// from the registry into the device record.
#include "hidg.h"

namespace {

// "Preg", in memory order.
constexpr ULONG kRegistryPoolTag =
    ULONG('P') | ULONG('r') << 8 | ULONG('e') << 16 | ULONG('g') << 24;

// Room for the fixed part of the reply, the name and a 16-byte value, with a
// little to spare; longer data does not fit and leaves the axis field off.
constexpr ULONG kQuerySlack = 40;

// The fields up to the jitter band; shorter data would leave them undefined.
constexpr ULONG kMinimumValueBytes = offsetof(CalibrationValue, Band) + 1;

const WCHAR kCalibrationKey[] = ZEL_WIDE("\\Registry\\Machine\\System\\CurrentControlSet\\Control\\"
                                         "MediaProperties\\PrivateProperties\\Joystick\\Calibrado");
const WCHAR* const kValueNames[4] = {ZEL_WIDE("Eje1"), ZEL_WIDE("Eje2"), ZEL_WIDE("Eje3"),
                                     ZEL_WIDE("Eje4")};

// A record whose dead zone reaches past either end would make the transform's
// unsigned half ranges wrap into wild positions.
ZEL_PAGEABLE bool IsOrdered(const CalibrationValue& v) {
    PAGED_CODE();
    return ULONGLONG(v.Minimum) + v.DeadZone <= v.Centre &&
           ULONGLONG(v.Centre) + v.DeadZone <= v.Maximum;
}

// Reads one value into `value`; false when it is missing, does not fit the
// query buffer, or is too short or out of order to use.
ZEL_PAGEABLE bool ReadValue(HANDLE key, const WCHAR* name, CalibrationValue* value) {
    PAGED_CODE();
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    const ULONG size = valueName.MaximumLength + kQuerySlack;
    auto* info = static_cast<PKEY_VALUE_FULL_INFORMATION>(
        ExAllocatePoolWithTag(NonPagedPoolNx, size, kRegistryPoolTag));
    if (!info)
        return false;

    bool usable = false;
    ULONG resultLength = 0;
    const NTSTATUS status =
        ZwQueryValueKey(key, &valueName, KeyValueFullInformation, info, size, &resultLength);
    if (NT_SUCCESS(status)) {
        const ULONG offset = info->DataOffset;
        const ULONG length = info->DataLength;
        // Trust no offset or length that would reach outside the buffer.
        if (length >= kMinimumValueBytes && offset <= size && length <= size - offset) {
            RtlZeroMemory(value, sizeof *value);
            RtlCopyMemory(value, reinterpret_cast<PUCHAR>(info) + offset,
                          length < sizeof *value ? length : sizeof *value);
            usable = IsOrdered(*value);
        }
    }
    ExFreePoolWithTag(info, kRegistryPoolTag);
    return usable;
}

ZEL_PAGEABLE __attribute__((noinline)) void ReadCalibrationStore(GameDeviceExtension* ext) {
    PAGED_CODE();
    RtlZeroMemory(ext->AxisCalibration, sizeof ext->AxisCalibration);
    RtlZeroMemory(ext->AxisFilter, sizeof ext->AxisFilter);

    UNICODE_STRING path;
    RtlInitUnicodeString(&path, kCalibrationKey);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    HANDLE key = NULL;
    if (NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
        for (ULONG i = 0; i < 4; ++i) {
            CalibrationValue value;
            if (!ReadValue(key, kValueNames[i], &value))
                continue;
            CalibrationRecord& calibration = ext->AxisCalibration[i];
            calibration.Enabled = 1;
            calibration.Minimum = value.Minimum;
            calibration.Centre = value.Centre;
            calibration.Maximum = value.Maximum;
            calibration.DeadZone = value.DeadZone;
            ext->AxisFilter[i].Enabled = 1;
            ext->AxisFilter[i].Band = value.Band;
        }
        ZwClose(key);
    }

    // A load also ends raw mode.
    RtlCopyMemory(ext->AxisOrder, ext->SavedAxisOrder, sizeof ext->AxisOrder);
    ext->CalibrationReloadPending = 0;
}

} // namespace

// Resident, so that the level test is safe at any level: the store itself is
// pageable and must not even be entered above PASSIVE_LEVEL. The pending flag
// stays set, and a later read at PASSIVE_LEVEL does the reload.
void LoadCalibration(PDEVICE_OBJECT device) {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        return;
    ReadCalibrationStore(GetGameExtension(device));
}
