// Cost of the axis transform per report: filter, dead zone and calibration on
// all four axis fields, a re-ordering and a dial swap, on positions that move
// across the whole range (so every branch of the calibration is taken).
#include "hidg.h"
#include "kernel_model.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

int main() {
    km::Reset();
    GameDeviceExtension ext{};
    HID_DEVICE_EXTENSION hid{};
    DEVICE_OBJECT device{};
    hid.MiniDeviceExtension = &ext;
    device.DeviceExtension = &hid;
    const UCHAR order[4] = {1, 0, 3, 2};
    memcpy(ext.AxisOrder, order, 4);
    ext.DialSource = 6;
    for (int i = 0; i < 4; ++i) {
        ext.AxisCalibration[i] = {1, 100, ULONG(600 + 100 * i), 1200, 10};
        ext.AxisFilter[i] = {1, 0, 0, 4};
    }

    // A fixed set of prepared reports, cycled, so the loop measures the
    // transform rather than the random generator.
    constexpr int kPrepared = 4096;
    std::mt19937 random(1);
    std::uniform_int_distribution<ULONG> position(0, 1400);
    std::vector<UCHAR> prepared(size_t(kPrepared) * kReportBytes);
    for (int r = 0; r < kPrepared; ++r) {
        UCHAR* report = &prepared[size_t(r) * kReportBytes];
        for (int i = 0; i < 4; ++i) {
            const ULONG v = position(random);
            memcpy(report + 4 * i, &v, 4);
        }
        for (ULONG b = 16; b < kReportBytes; ++b)
            report[b] = UCHAR(random());
    }

    constexpr long kReports = 20000000;
    UCHAR working[kReportBytes];
    ULONG checksum = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long n = 0; n < kReports; ++n) {
        memcpy(working, &prepared[size_t(n % kPrepared) * kReportBytes], kReportBytes);
        // Every fourth report lets the filter accept a move inside its band.
        ext.AxisFilter[n & 3].StableCount = UCHAR(n & 3);
        TransformReport(&device, working);
        checksum += working[0] ^ working[5] ^ working[20];
    }
    const auto end = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(end - start).count();

    std::printf("TransformReport: %.1f ns per report (%ld reports, 4 calibrated and filtered "
                "axes, checksum %08X)\n",
                ns / kReports, kReports, unsigned(checksum));
    return 0;
}
