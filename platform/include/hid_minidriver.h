// HID minidriver interface: the records and request codes that the HID class
// driver and its minidrivers exchange, declared from the public x64 layouts.
#pragma once

#include <stddef.h>

#define HID_REVISION 0x00000001

#define HID_HID_DESCRIPTOR_TYPE 0x21
#define HID_REPORT_DESCRIPTOR_TYPE 0x22

typedef struct _HID_MINIDRIVER_REGISTRATION {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} HID_MINIDRIVER_REGISTRATION, *PHID_MINIDRIVER_REGISTRATION;

typedef struct _HID_DEVICE_EXTENSION {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} HID_DEVICE_EXTENSION, *PHID_DEVICE_EXTENSION;

#pragma pack(push, 1)
typedef struct _HID_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    struct _HID_DESCRIPTOR_DESC_LIST {
        UCHAR bReportType;
        USHORT wReportLength;
    } DescriptorList[1];
} HID_DESCRIPTOR, *PHID_DESCRIPTOR;
#pragma pack(pop)

typedef struct _HID_DEVICE_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} HID_DEVICE_ATTRIBUTES, *PHID_DEVICE_ATTRIBUTES;

// Exported by the HID class driver (HIDCLASS.SYS).
#if defined(_WIN32)
#define ZEL_HIDCLASS_API __declspec(dllimport)
#else
#define ZEL_HIDCLASS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif
ZEL_HIDCLASS_API NTSTATUS NTAPI
HidRegisterMinidriver(PHID_MINIDRIVER_REGISTRATION MinidriverRegistration);
#ifdef __cplusplus
}
#endif

// Internal device-control requests from the HID class driver:
// CTL_CODE(FILE_DEVICE_KEYBOARD, id, METHOD_NEITHER, FILE_ANY_ACCESS).
#define HID_CTL_CODE(id) ((ULONG)((0x0B << 16) | ((id) << 2) | 3))
#define IOCTL_HID_GET_DEVICE_DESCRIPTOR HID_CTL_CODE(0)
#define IOCTL_HID_GET_REPORT_DESCRIPTOR HID_CTL_CODE(1)
#define IOCTL_HID_READ_REPORT HID_CTL_CODE(2)
#define IOCTL_HID_WRITE_REPORT HID_CTL_CODE(3)
#define IOCTL_HID_GET_STRING HID_CTL_CODE(4)
#define IOCTL_HID_ACTIVATE_DEVICE HID_CTL_CODE(7)
#define IOCTL_HID_DEACTIVATE_DEVICE HID_CTL_CODE(8)
#define IOCTL_HID_GET_DEVICE_ATTRIBUTES HID_CTL_CODE(9)
#define IOCTL_HID_SEND_IDLE_NOTIFICATION_REQUEST HID_CTL_CODE(10)

#ifdef __cplusplus
static_assert(sizeof(HID_MINIDRIVER_REGISTRATION) == 32, "x64 layout");
static_assert(offsetof(HID_MINIDRIVER_REGISTRATION, DeviceExtensionSize) == 24, "x64 layout");
static_assert(offsetof(HID_MINIDRIVER_REGISTRATION, DevicesArePolled) == 28, "x64 layout");
static_assert(sizeof(HID_DEVICE_EXTENSION) == 24, "x64 layout");
static_assert(offsetof(HID_DEVICE_EXTENSION, MiniDeviceExtension) == 16, "x64 layout");
static_assert(sizeof(HID_DESCRIPTOR) == 9, "byte-packed");
static_assert(offsetof(HID_DESCRIPTOR, DescriptorList) == 6, "byte-packed");
static_assert(sizeof(HID_DEVICE_ATTRIBUTES) == 32, "x64 layout");
static_assert(offsetof(HID_DEVICE_ATTRIBUTES, VersionNumber) == 8, "x64 layout");
static_assert(IOCTL_HID_GET_DEVICE_DESCRIPTOR == 0xB0003 && IOCTL_HID_READ_REPORT == 0xB000B &&
                  IOCTL_HID_GET_DEVICE_ATTRIBUTES == 0xB0027 &&
                  IOCTL_HID_SEND_IDLE_NOTIFICATION_REQUEST == 0xB002B,
              "control codes");
#endif
