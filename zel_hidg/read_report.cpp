// Read path: poll the port, merge the bridge's bytes, transform, and carry out
// one follow-up step of the bridge's commands per read.
#include "bridge_exchange.h"

// A start that failed before the enumerator answered still marks the device
// started; without its port functions a poll would call through null pointers.
static bool HasPortFunctions(const GameDeviceExtension* ext) {
    return ext->ReadAccessor && ext->WriteAccessor && ext->AcquirePort && ext->ReleasePort;
}

NTSTATUS ReadReport(PDEVICE_OBJECT device, PIRP irp) {
    GameDeviceExtension* ext = GetGameExtension(device);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;
    if (!LoadShared(ext->Started) || !HasPortFunctions(ext)) {
        status = STATUS_DEVICE_NOT_READY;
    } else if (sp->Parameters.DeviceIoControl.OutputBufferLength < kReportBytes) {
        status = STATUS_BUFFER_TOO_SMALL;
    } else {
        status = PollDevice(ext);
        if (NT_SUCCESS(status))
            BuildReport(device, static_cast<PUCHAR>(irp->UserBuffer));
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? kReportBytes : 0;
    return status;
}

static void FetchBridgeData(GameDeviceExtension* ext) {
    if (!EnterBridge(ext))
        return;
    UCHAR reply[kBridgeDataBytes] = {};
    if (SendBridgeRequest(ext, IOCTL_BRIDGE_GET_DATA, reply, sizeof reply) == BridgeReply::Usable)
        RtlCopyMemory(&ext->ReportImage[16], &reply[2], kBridgeDataBytes - 2);
    LeaveBridge(ext);
}

// A request that cannot be sent leaves the order pending for a later read.
static void FetchAxisOrder(GameDeviceExtension* ext) {
    if (!EnterBridge(ext))
        return;
    UCHAR reply[kBridgeAxisOrderBytes] = {};
    const BridgeReply result =
        SendBridgeRequest(ext, IOCTL_BRIDGE_GET_AXIS_ORDER, reply, sizeof reply);
    LeaveBridge(ext);
    if (result == BridgeReply::NotSent)
        return;
    ext->AxisOrderUpdatePending = 0;
    // An order or dial selector pointing outside the report is refused whole;
    // the next read asks the bridge for news again.
    bool valid = result == BridgeReply::Usable && reply[4] <= kMaxDialSource;
    for (int i = 0; i < 4; ++i)
        valid = valid && reply[i] <= 3;
    if (valid) {
        RtlCopyMemory(ext->AxisOrder, reply, 4);
        ext->DialSource = reply[4];
    }
}

void QueryBridgeFlags(PDEVICE_OBJECT device) {
    GameDeviceExtension* ext = GetGameExtension(device);
    if (!EnterBridge(ext))
        return;
    UCHAR flags = 0; // a request that returns nothing sets no flag
    const BridgeReply result = SendBridgeRequest(ext, IOCTL_BRIDGE_GET_FLAGS, &flags, 1);
    LeaveBridge(ext);
    if (result != BridgeReply::Usable)
        return;
    if (flags & BRIDGE_FLAG_AXIS_ORDER)
        ext->AxisOrderUpdatePending = 1;
    if (flags & BRIDGE_FLAG_RELOAD_CALIBRATION)
        ext->CalibrationReloadPending = 1;
    if (flags & BRIDGE_FLAG_RAW_MODE) {
        for (int i = 0; i < 4; ++i) {
            ext->SavedAxisOrder[i] = ext->AxisOrder[i];
            ext->AxisOrder[i] = UCHAR(i);
            ext->AxisCalibration[i].Enabled = 0;
            ext->AxisFilter[i].Enabled = 0;
        }
    }
}

void BuildReport(PDEVICE_OBJECT device, PUCHAR report) {
    GameDeviceExtension* ext = GetGameExtension(device);

    const ULONG axes = ext->AxisCount < 4 ? ext->AxisCount : 4;
    for (ULONG i = 0; i < axes; ++i) {
        // An entry that is no port line (a read before any descriptor request
        // compacted the table) must not index LastAxis: that field reads 0.
        const ULONG line = ULONG(ext->AxisSource[i]);
        const ULONG value = line <= 3 ? ext->LastAxis[line] : 0;
        RtlCopyMemory(&ext->ReportImage[4 * i], &value, sizeof value);
    }

    FetchBridgeData(ext);

    UCHAR working[kReportBytes];
    RtlCopyMemory(working, ext->ReportImage, kReportBytes);
    TransformReport(device, working);
    RtlCopyMemory(report, working, kReportBytes);

    // One follow-up step per read, so a command takes effect with later reads.
    if (ext->AxisOrderUpdatePending) {
        FetchAxisOrder(ext);
    } else if (ext->CalibrationReloadPending) {
        if (KeGetCurrentIrql() == PASSIVE_LEVEL)
            LoadCalibration(device);
    } else {
        QueryBridgeFlags(device);
    }
}
