// Joystick device stacks as the platform builds them: a child of the
// simulated game-port enumerator with the driver's device object on top, its
// extension shaped as the HID class driver makes it. Requests go through the
// driver's own dispatch table, as DriverEntry fills it.
#pragma once

#include "bridge_device.h"
#include "gameport_enumerator.h"
#include "hid_class.h"
#include "hidg.h"
#include "kernel_test.h"

#include <memory>
#include <deque>
#include <vector>

namespace zeltest {

struct Joystick {
    sim::JoystickChild* child = nullptr;
    PDEVICE_OBJECT fdo = nullptr;
    GameDeviceExtension* ext = nullptr;
    bool deleted = false;
};

class StackFixture : public KernelTest {
  protected:
    PDRIVER_OBJECT driver = nullptr;
    sim::GamePortEnumerator* enumerator = nullptr;
    sim::BridgeDevice* bridge = nullptr;
    std::vector<std::unique_ptr<sim::GamePort>> ports;
    std::deque<Joystick> sticks; // references stay valid as sticks are added

    void SetUp() override {
        KernelTest::SetUp();
        km::SetCounterFrequency(1000000);
        g_Driver = DriverState{};
        driver = km::CreateDriverObject(u"\\Driver\\zel_hidg");
        UNICODE_STRING path;
        RtlInitUnicodeString(&path,
                             u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zel_hidg");
        ASSERT_EQ(DriverEntry(driver, &path), STATUS_SUCCESS);
        // These stacks are built without the HID class driver: the driver's
        // own entries go back where DriverEntry put them.
        for (UCHAR major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major)
            driver->MajorFunction[major] = sim::hid::MinidriverDispatch(driver, major);
        driver->DriverExtension->AddDevice = sim::hid::MinidriverAddDevice(driver);
        driver->DriverUnload = sim::hid::MinidriverUnload(driver);
        sim::hid::Unregister(driver);
        enumerator = sim::CreateEnumerator();
    }

    void TearDown() override {
        for (auto& j : sticks)
            if (!j.deleted)
                Remove(j);
        sim::DestroyEnumerator(enumerator);
        sim::DestroyBridge(bridge);
        km::DeleteDriverObject(driver);
        KernelTest::TearDown();
    }

    sim::GamePort* NewPort() {
        ports.push_back(std::make_unique<sim::GamePort>());
        return ports.back().get();
    }

    // A joystick child on `port`, with the driver's device added on top.
    Joystick& AddJoystick(sim::GamePort* port, USHORT axes, ULONG flags, ULONG pollTimeout = 10000,
                          USHORT vendor = 0x1234, USHORT product = 0x5678) {
        Joystick j;
        j.child = sim::AddChild(enumerator, port);
        j.child->numberAxis = axes;
        j.child->SetOem(0, vendor, product, flags, pollTimeout);
        const ULONG size = sizeof(HID_DEVICE_EXTENSION) + sizeof(GameDeviceExtension);
        EXPECT_EQ(IoCreateDevice(driver, size, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &j.fdo),
                  STATUS_SUCCESS);
        auto* hid = static_cast<PHID_DEVICE_EXTENSION>(j.fdo->DeviceExtension);
        hid->PhysicalDeviceObject = j.child->pdo;
        hid->NextDeviceObject = IoAttachDeviceToDeviceStack(j.fdo, j.child->pdo);
        hid->MiniDeviceExtension = hid + 1;
        j.ext = static_cast<GameDeviceExtension*>(hid->MiniDeviceExtension);
        EXPECT_EQ(AddDevice(driver, j.fdo), STATUS_SUCCESS);
        sticks.push_back(j);
        return sticks.back();
    }

    NTSTATUS SendPnp(Joystick& j, UCHAR minor) {
        PIRP irp = IoAllocateIrp(j.fdo->StackSize, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_PNP;
        next->MinorFunction = minor;
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        NTSTATUS status = IoCallDriver(j.fdo, irp);
        if (minor != IRP_MN_REMOVE_DEVICE) {
            EXPECT_EQ(irp->IoStatus.Status, status);
        }
        IoFreeIrp(irp);
        return status;
    }

    NTSTATUS Start(Joystick& j) { return SendPnp(j, IRP_MN_START_DEVICE); }

    void Remove(Joystick& j) {
        EXPECT_EQ(SendPnp(j, IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS);
        IoDetachDevice(j.child->pdo);
        IoDeleteDevice(j.fdo);
        j.deleted = true;
    }

    struct Answer {
        NTSTATUS dispatch;
        NTSTATUS status;
        ULONG_PTR information;
        std::vector<UCHAR> buffer; // 0xEE where nothing was written
    };

    // An internal request as the HID class driver sends it.
    Answer Internal(Joystick& j, ULONG code, ULONG length, ULONG_PTR information = 0xABCD) {
        Answer a;
        a.buffer.assign(length + 8, 0xEE);
        PIRP irp = IoAllocateIrp(j.fdo->StackSize, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = code;
        next->Parameters.DeviceIoControl.OutputBufferLength = length;
        irp->UserBuffer = a.buffer.data();
        irp->IoStatus.Information = information;
        a.dispatch = IoCallDriver(j.fdo, irp);
        a.status = irp->IoStatus.Status;
        a.information = irp->IoStatus.Information;
        IoFreeIrp(irp);
        a.buffer.resize(length + 8);
        return a;
    }
};

} // namespace zeltest
