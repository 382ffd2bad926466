// Joystick device stacks as the platform builds them: the driver loaded
// through DriverEntry, which registers it with the simulated HID class
// driver, and for each joystick a child of the simulated game-port enumerator
// with the class driver's device object on top, added through the class
// driver's AddDevice. Requests go through the simulated stack's send helpers.
#pragma once

#include "bridge_device.h"
#include "gameport_enumerator.h"
#include "hid_class.h"
#include "hidg.h"
#include "kernel_test.h"
#include "pnp.h"

#include <deque>
#include <memory>
#include <vector>

namespace zeltest {

struct Joystick {
    sim::JoystickChild* child = nullptr;
    PDEVICE_OBJECT fdo = nullptr;
    GameDeviceExtension* ext = nullptr;
    bool kept = false;    // the class driver keeps it after the remove request
    bool deleted = false; // the device object is gone
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
        enumerator = sim::CreateEnumerator();
    }

    void TearDown() override {
        for (auto& j : sticks)
            if (j.kept && !j.deleted)
                DeleteAfterRemoval(j);
            else if (!j.deleted)
                Remove(j);
        sim::hid::Unregister(driver);
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
        EXPECT_EQ(sim::pnp::AddDevice(driver, j.child->pdo), STATUS_SUCCESS);
        j.fdo = sim::hid::FunctionalDevice(j.child->pdo);
        j.ext = j.fdo ? GetGameExtension(j.fdo) : nullptr;
        EXPECT_NE(j.ext, nullptr);
        sticks.push_back(j);
        return sticks.back();
    }

    NTSTATUS SendPnp(Joystick& j, UCHAR minor) {
        const sim::pnp::Result r = sim::pnp::Send(j.fdo, IRP_MJ_PNP, minor);
        if (minor == IRP_MN_REMOVE_DEVICE)
            j.deleted = !j.kept;
        else
            EXPECT_EQ(r.status, r.returned);
        return r.returned;
    }

    NTSTATUS Start(Joystick& j) { return SendPnp(j, IRP_MN_START_DEVICE); }

    void Remove(Joystick& j) { EXPECT_EQ(SendPnp(j, IRP_MN_REMOVE_DEVICE), STATUS_SUCCESS); }

    // For what the driver answers after its removal: the class driver keeps
    // the device object after the remove request until DeleteAfterRemoval.
    void KeepAfterRemoval(Joystick& j) {
        sim::hid::KeepAfterRemoval(j.fdo);
        j.kept = true;
    }
    void DeleteAfterRemoval(Joystick& j) {
        sim::hid::DeleteKeptDevice(j.fdo);
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
        sim::hid::InternalRequest request;
        request.code = code;
        request.buffer = a.buffer.data();
        request.outputLength = length;
        request.presetStatus = STATUS_SUCCESS;
        request.presetInformation = information;
        const sim::hid::RequestResult r = sim::hid::SendInternal(j.fdo, request);
        a.dispatch = r.returned;
        a.status = r.status;
        a.information = r.information;
        return a;
    }
};

} // namespace zeltest
