// zel_hidg: the game-port joystick HID minidriver. The per-device record, the
// driver-wide state and the operations the driver's parts call on each other.
#pragma once

#include "kernel_api.h"

// ---- Records ------------------------------------------------------------------------

// One 16-byte device description from the game-port enumerator's OEM data.
#pragma pack(push, 1)
struct OemSettings {
    USHORT VendorId;
    USHORT ProductId;
    ULONG HardwareFlags;
    ULONG PollTimeout; // microseconds; read from the first set only
    ULONG Reserved;
};

// The 27-byte input report: no report id, little-endian fields.
struct HidInputReport {
    ULONG Axis[4];
    UCHAR Hat[4];
    UCHAR Dial[2];
    UCHAR Buttons[5];
};
#pragma pack(pop)

constexpr ULONG kReportBytes = sizeof(HidInputReport);
constexpr ULONG kAxisFallen = 0xFFFFFFFF;     // the line did not fall in time
constexpr LONG kNoAxisSource = 0x80;          // AxisSource entry for an absent axis

struct CalibrationRecord {
    UCHAR Enabled;
    ULONG Minimum;
    ULONG Centre;
    ULONG Maximum;
    UCHAR DeadZone;
};

struct FilterRecord {
    UCHAR Enabled;
    ULONG Held;
    UCHAR StableCount;
    UCHAR Band;
};

struct GameDeviceExtension {
    PGAMEENUM_READPORT ReadAccessor;
    PGAMEENUM_WRITEPORT WriteAccessor;
    PGAMEENUM_ACQUIRE_PORT AcquirePort;
    PGAMEENUM_RELEASE_PORT ReleasePort;
    PVOID PortContext;
    PVOID PortHandle;
    LIST_ENTRY Link;
    KEVENT RemoveEvent;
    LONG volatile RequestCount;
    USHORT AxisCount;
    OemSettings OemData[2];
    UCHAR UseSecondOemSet;
    UCHAR AxisMask;
    ULONG ScaledTimeout;
    ULONG SpreadLimit;
    LONG AxisSource[4];
    ULONG LastAxis[4];
    ULONG PreviousAxis[4];
    UCHAR Removed;
    UCHAR Started;
    UCHAR Unlinked;
    UCHAR CalibrationReloadPending;
    UCHAR SavedAxisOrder[4];
    CalibrationRecord AxisCalibration[4];
    FilterRecord AxisFilter[4];
    PDEVICE_OBJECT BridgeDeviceObject;
    PFILE_OBJECT BridgeFileObject;
    UCHAR AxisOrderUpdatePending;
    UCHAR AxisOrder[4];
    UCHAR DialSource;
    UCHAR ReportImage[kReportBytes];
};

static_assert(sizeof(OemSettings) == 16, "one OEM data set is 16 bytes");
static_assert(sizeof(OemSettings[2]) == GAMEENUM_OEM_DATA_BYTES, "two sets fill the OEM data");
static_assert(sizeof(HidInputReport) == 27, "the input report is 27 bytes");
static_assert(offsetof(HidInputReport, Hat) == 16 && offsetof(HidInputReport, Dial) == 20 &&
                  offsetof(HidInputReport, Buttons) == 22,
              "report field offsets");
static_assert(offsetof(OemSettings, HardwareFlags) == 4 && offsetof(OemSettings, PollTimeout) == 8,
              "OEM data field offsets");

// ---- Driver-wide state ------------------------------------------------------------------

typedef LARGE_INTEGER (*CounterReadRoutine)(PLARGE_INTEGER PerformanceFrequency);

struct DriverState {
    LIST_ENTRY DeviceList;
    FAST_MUTEX DeviceListMutex;
    KSPIN_LOCK PortLock;
    ULONG CounterScale; // microseconds per counter tick, 16.16 fixed point
    CounterReadRoutine CounterRead;
};

extern DriverState g_Driver;

inline GameDeviceExtension* GetGameExtension(PDEVICE_OBJECT device) {
    return static_cast<GameDeviceExtension*>(
        static_cast<PHID_DEVICE_EXTENSION>(device->DeviceExtension)->MiniDeviceExtension);
}
inline PDEVICE_OBJECT GetNextDevice(PDEVICE_OBJECT device) {
    return static_cast<PHID_DEVICE_EXTENSION>(device->DeviceExtension)->NextDeviceObject;
}

// ---- Remove lock ----------------------------------------------------------------------
NTSTATUS AcquireRemoveLock(GameDeviceExtension* ext);
void ReleaseRemoveLock(GameDeviceExtension* ext);
extern "C" NTSTATUS SignalEventCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context);

// ---- Analog port poll -------------------------------------------------------------------
// Counter scale for a frequency in hertz; 0 when the counter is too slow (10 kHz or less).
ULONG ComputeCounterScale(LARGE_INTEGER frequency);
NTSTATUS AnalogPoll(GameDeviceExtension* ext, UCHAR lineMask, ULONG values[4]);
NTSTATUS PollDevice(GameDeviceExtension* ext);

// ---- Calibration store and axis transform ---------------------------------------------
// One registry value "Eje1".."Eje4" under the calibration key: 16 bytes, little-endian.
struct CalibrationValue {
    ULONG Minimum;
    ULONG Centre;
    ULONG Maximum;
    UCHAR DeadZone;
    UCHAR Band;
    USHORT Unused;
};
static_assert(sizeof(CalibrationValue) == 16 && offsetof(CalibrationValue, DeadZone) == 12 &&
                  offsetof(CalibrationValue, Band) == 13,
              "calibration value layout");

// Reloads calibration and filter of all four axis fields from the registry and
// puts SavedAxisOrder back into AxisOrder. Does nothing above PASSIVE_LEVEL, so
// a pending reload waits for a read at PASSIVE_LEVEL.
void LoadCalibration(PDEVICE_OBJECT device);
// Filter, dead zone, calibration, axis order and dial selection, in place on a
// 27-byte working report.
void TransformReport(PDEVICE_OBJECT device, PUCHAR report);
