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
constexpr ULONG kAxisFallen = 0xFFFFFFFF; // the line did not fall in time
constexpr LONG kNoAxisSource = 0x80;      // AxisSource entry for an absent axis

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

    // Guard on the bridge reference: reads count themselves in BridgeUsers
    // around each bridge request; the release sets BridgeClosing and waits on
    // BridgeIdle until no request is in flight, so the reference never goes
    // while a request uses it.
    LONG volatile BridgeUsers;
    LONG volatile BridgeClosing;
    KEVENT BridgeIdle;

    // Set while Link is in DeviceList. A failed start unlinks the record
    // before the removal clean-up, which must not unlink it again.
    UCHAR InDeviceList;
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

// ---- Fields shared without a lock ----------------------------------------------------------
// Flags and pointers that Plug and Play changes while reads may look at them
// are single loads and stores; they are spelled out (acquire and release, plain
// moves on x86-64) so that neither the compiler nor a race checker takes them
// apart or reorders them.
template <class T> inline T LoadShared(const volatile T& field) {
    return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
}
template <class T> inline void StoreShared(volatile T& field, T value) {
    __atomic_store_n(&field, value, __ATOMIC_RELEASE);
}

// ---- Remove lock ----------------------------------------------------------------------
NTSTATUS AcquireRemoveLock(GameDeviceExtension* ext);
// Completes a request the driver answers itself: the status, no bytes, no boost.
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status);
void ReleaseRemoveLock(GameDeviceExtension* ext);
extern "C" NTSTATUS SignalEventCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context);

// ---- Analog port poll -------------------------------------------------------------------
// Counter scale for a frequency in hertz; 0 when the counter is too slow (10 kHz or less).
ULONG ComputeCounterScale(LARGE_INTEGER frequency);
NTSTATUS AnalogPoll(GameDeviceExtension* ext, UCHAR lineMask, ULONG values[4]);
NTSTATUS PollDevice(GameDeviceExtension* ext);

// ---- Bridge device -----------------------------------------------------------------------
// Requests to "\Device\Zel_VmdF": CTL_CODE(0x22, function, METHOD_BUFFERED, FILE_READ_ACCESS).
#define IOCTL_BRIDGE_GET_FLAGS ((ULONG)0x00224400)
#define IOCTL_BRIDGE_GET_AXIS_ORDER ((ULONG)0x00224404)
#define IOCTL_BRIDGE_GET_DATA ((ULONG)0x00224420)
static_assert(IOCTL_BRIDGE_GET_DATA == CTL_CODE(0x22, 0x108, METHOD_BUFFERED, FILE_READ_ACCESS) &&
                  IOCTL_BRIDGE_GET_FLAGS ==
                      CTL_CODE(0x22, 0x100, METHOD_BUFFERED, FILE_READ_ACCESS) &&
                  IOCTL_BRIDGE_GET_AXIS_ORDER ==
                      CTL_CODE(0x22, 0x101, METHOD_BUFFERED, FILE_READ_ACCESS),
              "bridge control codes");

constexpr UCHAR BRIDGE_FLAG_AXIS_ORDER = 0x01;
constexpr UCHAR BRIDGE_FLAG_RELOAD_CALIBRATION = 0x02;
constexpr UCHAR BRIDGE_FLAG_RAW_MODE = 0x04;

constexpr ULONG kBridgeDataBytes = 13;     // bytes 2..12 become report bytes 16..26
constexpr ULONG kBridgeAxisOrderBytes = 5; // AxisOrder[0..3], DialSource
constexpr ULONG kBridgeFlagBytes = 1;
constexpr UCHAR kMaxDialSource = 31; // selectors beyond reach past the report

// Opens the bridge at start (releasing a reference an earlier start left);
// a missing bridge leaves BridgeFileObject null and is no failure.
void OpenBridge(GameDeviceExtension* ext);
// Waits until no read has a bridge request in flight, then drops the reference.
void ReleaseBridge(GameDeviceExtension* ext);

// ---- Start and axis assignment ------------------------------------------------------------
// The OEM data set this device reads its ids and hardware flags from.
const OemSettings& SelectedOemSet(const GameDeviceExtension* ext);
NTSTATUS AssignAxes(GameDeviceExtension* ext);
NTSTATUS QueryPortParameters(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS InitializeDevice(PDEVICE_OBJECT device);
NTSTATUS StartDevice(PDEVICE_OBJECT device, PIRP irp);

// ---- Descriptors and internal requests ----------------------------------------------------
constexpr ULONG kReportDescriptorMax = 256;
NTSTATUS BuildReportDescriptor(PDEVICE_OBJECT device, PUCHAR buffer, PUSHORT length);
NTSTATUS GetHidDescriptor(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS GetReportDescriptor(PDEVICE_OBJECT device, PIRP irp);

// ---- Driver frame -------------------------------------------------------------------------
extern "C" {
DRIVER_INITIALIZE DriverEntry;
NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device);
NTSTATUS DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DispatchInternalDeviceControl(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DispatchSystemControl(PDEVICE_OBJECT device, PIRP irp);
VOID DriverUnload(PDRIVER_OBJECT driver);
}
// Releases the bridge and leaves DeviceList, once per record.
void RemovalCleanup(GameDeviceExtension* ext);
// Takes the record out of DeviceList if it is still there.
void UnlinkDevice(GameDeviceExtension* ext);

// ---- Read path -----------------------------------------------------------------------------
NTSTATUS ReadReport(PDEVICE_OBJECT device, PIRP irp);
void BuildReport(PDEVICE_OBJECT device, PUCHAR report);
void QueryBridgeFlags(PDEVICE_OBJECT device);

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
