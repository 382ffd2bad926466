// zel_vmd: HID minidriver of a virtual keyboard and three-button mouse.
//
// The device has no hardware: the descriptors and attributes come from fixed
// tables, read requests go to the driver below, which produces the reports,
// and the only state kept is the device's Plug and Play state.
#pragma once

#include "kernel_api.h"

namespace vmd {

enum PnpStateValue : ULONG {
    PnpNotStarted = 0,
    PnpStarted = 1,
    PnpStopPending = 2,
    PnpStopped = 3,
    PnpRemovePending = 4,
    PnpSurpriseRemoved = 5,
    PnpRemoved = 6,
};

// The minidriver's area inside the HID class driver's device extension.
struct VirtualDeviceExtension {
    ULONG PnpState;
    ULONG PreviousPnpState; // restored by the two cancel requests
};
static_assert(sizeof(VirtualDeviceExtension) == 8, "registered extension size");

// Pool tag of the id reply: the characters V, H, i, d in memory order.
constexpr ULONG kIdReplyTag = 0x64694856;
constexpr ULONG kIdReplyBytes = 54;
constexpr ULONG kHidDescriptorBytes = 9;
constexpr ULONG kReportDescriptorBytes = 77;
constexpr USHORT kVendorId = 0x06A3;
constexpr USHORT kProductId = 13877;
constexpr USHORT kVersionNumber = 0x0101;

extern const UCHAR HidDescriptor[kHidDescriptorBytes];
extern const UCHAR ReportDescriptor[kReportDescriptorBytes];
extern const WCHAR IdReply[kIdReplyBytes / sizeof(WCHAR)];

VirtualDeviceExtension* GetVirtualExtension(PDEVICE_OBJECT device);
PDEVICE_OBJECT LowerDevice(PDEVICE_OBJECT device);

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device);
VOID NTAPI DriverUnload(PDRIVER_OBJECT driver);
NTSTATUS NTAPI DispatchInternalDeviceControl(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI StartCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context);

} // namespace vmd

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
