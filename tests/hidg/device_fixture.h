// A joystick device object as the HID class driver hands it to the minidriver:
// the device's extension is the class driver's HID_DEVICE_EXTENSION, whose
// MiniDeviceExtension points to the record. The record is as AddDevice leaves
// it before it loads the calibration.
#pragma once

#include "hidg.h"
#include "kernel_test.h"

namespace zeltest {

struct TestDevice {
    GameDeviceExtension ext{};
    HID_DEVICE_EXTENSION hid{};
    DEVICE_OBJECT object{};

    TestDevice() {
        hid.MiniDeviceExtension = &ext;
        object.DeviceExtension = &hid;
        KeInitializeEvent(&ext.RemoveEvent, SynchronizationEvent, FALSE);
        ext.RequestCount = 1;
        for (UCHAR i = 0; i < 4; ++i)
            ext.SavedAxisOrder[i] = ext.AxisOrder[i] = i;
        ext.DialSource = 9;
    }
    TestDevice(const TestDevice&) = delete;
    TestDevice& operator=(const TestDevice&) = delete;

    PDEVICE_OBJECT Object() { return &object; }
};

class DeviceFixture : public KernelTest {
  protected:
    TestDevice dev;
    GameDeviceExtension& ext = dev.ext;
    PDEVICE_OBJECT device = dev.Object();
};

} // namespace zeltest
