// A virtual device stack as the platform builds it: the test bus driver's
// physical device object, and above it the HID class driver's device object
// for zel_vmd, loaded through DriverEntry and added through the class driver.
#pragma once

#include "hid_class.h"
#include "kernel_test.h"
#include "pnp.h"
#include "vmd.h"
#include "vmd_lower_device.h"

#include <string>
#include <vector>

namespace zeltest {

class VmdTest : public KernelTest {
  protected:
    PDRIVER_OBJECT driver = nullptr;
    UNICODE_STRING registryPath{};
    sim::VmdLowerDevice* lower = nullptr;
    PDEVICE_OBJECT fdo = nullptr;

    void SetUp() override {
        KernelTest::SetUp();
        driver = km::CreateDriverObject(u"\\Driver\\zel_vmd");
        RtlInitUnicodeString(&registryPath,
                             u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zel_vmd");
        lower = sim::CreateVmdLowerDevice();
        ASSERT_EQ(DriverEntry(driver, &registryPath), STATUS_SUCCESS);
        ASSERT_EQ(sim::pnp::AddDevice(driver, lower->pdo), STATUS_SUCCESS);
        fdo = sim::hid::FunctionalDevice(lower->pdo);
        ASSERT_NE(fdo, nullptr);
    }

    void TearDown() override {
        if (sim::hid::FunctionalDevice(lower->pdo))
            sim::pnp::Remove(lower->pdo);
        sim::hid::Unregister(driver);
        sim::DestroyVmdLowerDevice(lower);
        km::DeleteDriverObject(driver);
        KernelTest::TearDown();
    }

    vmd::VirtualDeviceExtension* Ext() { return vmd::GetVirtualExtension(fdo); }

    // An internal request with a buffer of `length` bytes inside a larger one
    // filled with 0xEE, so that a write past the answer shows.
    struct Answer {
        sim::hid::RequestResult result;
        std::vector<UCHAR> buffer;
    };
    static constexpr ULONG_PTR kPresetInformation = 0x5A5A;
    Answer Ask(ULONG code, ULONG length) {
        Answer a;
        a.buffer.assign(128, 0xEE);
        sim::hid::InternalRequest request;
        request.code = code;
        request.buffer = a.buffer.data();
        request.outputLength = length;
        request.presetInformation = kPresetInformation;
        a.result = sim::hid::SendInternal(fdo, request);
        return a;
    }
};

// Bytes from a text of hexadecimal pairs.
inline std::vector<UCHAR> Hex(const std::string& text) {
    std::vector<UCHAR> out;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(UCHAR(std::stoul(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

} // namespace zeltest
