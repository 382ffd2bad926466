// A started joystick as the read path sees it: the record inside a device
// object of the HID class driver's shape, a simulated port and a bridge.
#pragma once

#include "bridge_device.h"
#include "poll_fixture.h"

#include <cstring>
#include <vector>

namespace zeltest {

class ReadFixture : public PollFixture {
  protected:
    PDRIVER_OBJECT driver = nullptr;
    PDEVICE_OBJECT device = nullptr;
    sim::BridgeDevice* bridge = nullptr;

    void SetUp() override {
        PollFixture::SetUp();
        driver = km::CreateDriverObject(u"\\Driver\\zel_hidg");
        ASSERT_EQ(IoCreateDevice(driver, sizeof(HID_DEVICE_EXTENSION), nullptr, FILE_DEVICE_UNKNOWN,
                                 0, FALSE, &device),
                  STATUS_SUCCESS);
        static_cast<PHID_DEVICE_EXTENSION>(device->DeviceExtension)->MiniDeviceExtension = &ext;
        // What AddDevice and a start leave behind.
        for (UCHAR i = 0; i < 4; ++i) {
            ext.SavedAxisOrder[i] = ext.AxisOrder[i] = i;
            ext.AxisSource[i] = i;
        }
        ext.DialSource = 9;
        KeInitializeEvent(&ext.BridgeIdle, SynchronizationEvent, FALSE);
        ext.AxisCount = 4;
        ext.Started = 1;
        for (int line = 0; line < 4; ++line)
            port.SetPulseUs(line, 100.5 + 100 * line); // values 99, 199, 299, 399
        bridge = sim::CreateBridge();
        OpenBridge(&ext);
        ASSERT_NE(ext.BridgeFileObject, nullptr);
    }

    void TearDown() override {
        ReleaseBridge(&ext);
        sim::DestroyBridge(bridge);
        IoDeleteDevice(device);
        km::DeleteDriverObject(driver);
        PollFixture::TearDown();
    }

    struct Read {
        NTSTATUS status;
        ULONG_PTR information;
        std::vector<UCHAR> buffer; // the caller's buffer, 0xEE where not written
        ULONG Axis(int i) const {
            ULONG v;
            std::memcpy(&v, &buffer[4 * i], 4);
            return v;
        }
    };

    Read DoRead(KIRQL irql = PASSIVE_LEVEL, ULONG length = kReportBytes) {
        Read r;
        r.buffer.assign(length + 8, 0xEE);
        PIRP irp = IoAllocateIrp(1, FALSE);
        IoSetNextIrpStackLocation(irp);
        PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
        sp->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        sp->Parameters.DeviceIoControl.IoControlCode = IOCTL_HID_READ_REPORT;
        sp->Parameters.DeviceIoControl.OutputBufferLength = length;
        sp->DeviceObject = device;
        irp->UserBuffer = r.buffer.data();
        km::AtIrql(irql, [&] { r.status = ReadReport(device, irp); });
        EXPECT_EQ(irp->IoStatus.Status, r.status);
        r.information = irp->IoStatus.Information;
        IoFreeIrp(irp);
        km::AdvanceUs(10000); // the class driver's poll interval
        return r;
    }
};

} // namespace zeltest
