// HID descriptor and report descriptor, built anew on every request from the
// device's current axis assignment, game-pad bit and ids.
#include "hidg.h"

namespace {

constexpr USHORT kDialVendor = 0x06A3;
constexpr USHORT kDialProduct = 13877;
constexpr ULONG kGamePadFlag = 0x20;

const UCHAR kHead[20] = {0x05, 0x01,                   // Usage Page (Generic Desktop)
                         0x09, 0x04,                   // Usage (Joystick)
                         0xA1, 0x01,                   // Collection (Application)
                         0x17, 0x00, 0x00, 0x00, 0x00, // Logical Minimum (0)
                         0x27, 0x20, 0x4E, 0x00, 0x00, // Logical Maximum (20000)
                         0x95, 0x01,                   // Report Count (1)
                         0x75, 0x20};                  // Report Size (32)
constexpr int kJoystickUsageByte = 3;

const UCHAR kSlotUsage[4][2] = {{0x01, 0x30}, {0x01, 0x31}, {0x01, 0x32}, {0x02, 0xBA}};

const UCHAR kHats[26] = {0x05, 0x01, 0x75, 0x08, 0x15, 0x01, 0x25, 0x08, 0x09,
                         0x39, 0x81, 0x42, 0x09, 0x39, 0x81, 0x42, 0x25, 0x04,
                         0x09, 0x39, 0x81, 0x42, 0x09, 0x39, 0x81, 0x42};
const UCHAR kDialRange[4] = {0x15, 0x00, 0x25, 0xFF};
const UCHAR kDial[4] = {0x09, 0x37, 0x81, 0x02};
const UCHAR kConstant[2] = {0x81, 0x01};
const UCHAR kButtons[17] = {0x05, 0x09, 0x19, 0x01, 0x29, 0x28, 0x15, 0x00, 0x25,
                            0x01, 0x75, 0x01, 0x95, 0x28, 0x81, 0x02, 0xC0};

struct Writer {
    PUCHAR buffer;
    ULONG length;
    bool overflow;
    void Put(const UCHAR* bytes, ULONG n) {
        if (length + n > kReportDescriptorMax) {
            overflow = true;
            return;
        }
        RtlCopyMemory(buffer + length, bytes, n);
        length += n;
    }
};

} // namespace

ZEL_PAGEABLE NTSTATUS BuildReportDescriptor(PDEVICE_OBJECT device, PUCHAR buffer, PUSHORT length) {
    PAGED_CODE();
    GameDeviceExtension* ext = GetGameExtension(device);
    AssignAxes(ext);
    const OemSettings& set = SelectedOemSet(ext);

    Writer w{buffer, 0, false};
    w.Put(kHead, sizeof kHead);
    if (set.HardwareFlags & kGamePadFlag)
        buffer[kJoystickUsageByte] = 0x05; // Usage (Game Pad)

    // Assigned slots move to the front, so AxisSource[k] feeds report field k.
    LONG sources[4];
    RtlCopyMemory(sources, ext->AxisSource, sizeof sources);
    int n = 0;
    for (int slot = 0; slot < 4; ++slot) {
        if (sources[slot] >= kNoAxisSource)
            continue;
        ext->AxisSource[n++] = sources[slot];
        const UCHAR item[6] = {0x05, kSlotUsage[slot][0], 0x09, kSlotUsage[slot][1], 0x81, 0x02};
        w.Put(item, sizeof item);
    }
    for (int i = n; i < 4; ++i)
        w.Put(kConstant, sizeof kConstant);

    w.Put(kHats, sizeof kHats);
    w.Put(kDialRange, sizeof kDialRange);
    const bool dials = set.VendorId == kDialVendor && set.ProductId == kDialProduct;
    for (int i = 0; i < 2; ++i) {
        if (dials)
            w.Put(kDial, sizeof kDial);
        else
            w.Put(kConstant, sizeof kConstant);
    }
    w.Put(kButtons, sizeof kButtons);

    if (w.overflow) {
        RtlZeroMemory(buffer, kReportDescriptorMax);
        *length = 0;
        return STATUS_BUFFER_TOO_SMALL;
    }
    *length = USHORT(w.length);
    return STATUS_SUCCESS;
}

ZEL_PAGEABLE NTSTATUS GetHidDescriptor(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (sp->Parameters.DeviceIoControl.OutputBufferLength < sizeof(HID_DESCRIPTOR))
        return STATUS_BUFFER_TOO_SMALL;
    UCHAR report[kReportDescriptorMax];
    USHORT length = 0;
    NTSTATUS status = BuildReportDescriptor(device, report, &length);
    if (!NT_SUCCESS(status)) {
        irp->IoStatus.Information = 0;
        return status;
    }
    auto* hid = static_cast<PHID_DESCRIPTOR>(irp->UserBuffer);
    RtlZeroMemory(hid, sizeof *hid);
    hid->bLength = sizeof *hid;
    hid->bDescriptorType = HID_HID_DESCRIPTOR_TYPE;
    hid->bcdHID = 0x0001;
    hid->bCountry = 0;
    hid->bNumDescriptors = 1;
    hid->DescriptorList[0].bReportType = HID_REPORT_DESCRIPTOR_TYPE;
    hid->DescriptorList[0].wReportLength = length;
    irp->IoStatus.Information = sizeof *hid;
    return STATUS_SUCCESS;
}

ZEL_PAGEABLE NTSTATUS GetReportDescriptor(PDEVICE_OBJECT device, PIRP irp) {
    PAGED_CODE();
    UCHAR report[kReportDescriptorMax];
    USHORT length = 0;
    NTSTATUS status = BuildReportDescriptor(device, report, &length);
    if (!NT_SUCCESS(status))
        return status;
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (sp->Parameters.DeviceIoControl.OutputBufferLength < length)
        return STATUS_BUFFER_TOO_SMALL;
    RtlCopyMemory(irp->UserBuffer, report, length);
    irp->IoStatus.Information = length;
    return STATUS_SUCCESS;
}
