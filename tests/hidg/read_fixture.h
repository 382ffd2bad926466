// A started joystick as the read path sees it: a device built through
// AddDevice (stack_fixture.h), wired to a simulated port as a start wires it,
// with all four lines as its axes and a bridge device.
#pragma once

#include "poll_fixture.h"
#include "stack_fixture.h"

#include <cstring>
#include <vector>

namespace zeltest {

class ReadFixture : public StackFixture {
  protected:
    sim::GamePort port;
    PDEVICE_OBJECT device = nullptr;
    GameDeviceExtension* ext = nullptr;

    void SetUp() override {
        StackFixture::SetUp();
        Joystick& j = AddJoystick(&port, 4, 0);
        device = j.fdo;
        ext = j.ext;
        ASSERT_NE(ext, nullptr);
        // What a start leaves behind, on four lines in port order.
        WireToPort(*ext, port);
        for (UCHAR i = 0; i < 4; ++i)
            ext->AxisSource[i] = i;
        ext->AxisCount = 4;
        ext->Started = 1;
        for (int line = 0; line < 4; ++line)
            port.SetPulseUs(line, 100.5 + 100 * line); // values 99, 199, 299, 399
        bridge = sim::CreateBridge();
        OpenBridge(ext);
        ASSERT_NE(ext->BridgeFileObject, nullptr);
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

    // A read request as the class driver's poll sends it, at `irql`.
    Read DoRead(KIRQL irql = PASSIVE_LEVEL, ULONG length = kReportBytes) {
        Read r;
        r.buffer.assign(length + 8, 0xEE);
        sim::hid::InternalRequest request;
        request.code = IOCTL_HID_READ_REPORT;
        request.buffer = r.buffer.data();
        request.outputLength = length;
        request.presetStatus = STATUS_SUCCESS;
        sim::hid::InternalCall* call = nullptr;
        km::AtIrql(irql, [&] { call = sim::hid::StartInternal(device, request); });
        const sim::hid::RequestResult result = sim::hid::FinishInternal(call);
        // The driver's dispatch routine completes the request with the read's
        // status and returns success, as HID minidrivers do.
        r.status = result.status;
        EXPECT_EQ(result.returned, STATUS_SUCCESS);
        r.information = result.information;
        km::AdvanceUs(10000); // the class driver's poll interval
        return r;
    }
};

} // namespace zeltest
