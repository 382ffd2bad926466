// The control devices of the two test bus drivers under Wine, shared by the drivers and the
// test programs that drive them: names, control codes, records and the values both sides
// start from. Include the platform's header first (ntddk.h, or windows.h and winioctl.h).
#pragma once

// ---- zel_testport.sys: the game port below zel_hidg.sys ---------------------------------
// The bus reports the children of the last set-children request (at its start: one child,
// kDefaultChild); each child answers the port-parameters request with its port, which
// children with the same port number share. A port's four one-shot lines fall after
// their pulse times, measured on the performance counter from the port's last write; a
// line of the never-falls mask stays high.
#define ZELTEST_PORT_DEVICE_NAME L"\\Device\\ZelTestPort"
#define ZELTEST_PORT_LINK_NAME L"\\DosDevices\\ZelTestPort"
#define ZELTEST_PORT_USER_PATH "\\\\.\\ZelTestPort"
// Input: TestPortChildren. The bus drops its children and reports these in their place.
#define IOCTL_ZELTEST_SET_CHILDREN                                                                 \
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Input: TestPortLines. Sets the lines of the port of one child (by its index).
#define IOCTL_ZELTEST_SET_LINES                                                                    \
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS)

namespace zeltest {

constexpr unsigned kTestPorts = 2;
constexpr unsigned kMaxTestChildren = 4;

struct TestPortChild {
    unsigned Port; // 0 .. kTestPorts - 1
    unsigned short AxisCount;
    unsigned short ButtonCount;
    unsigned char OemData[32]; // two 16-byte sets as the enumerator hands them over
};

struct TestPortChildren {
    unsigned Count;
    TestPortChild Children[kMaxTestChildren];
};

struct TestPortLines {
    unsigned Child;
    unsigned PulseUs[4];
    unsigned NeverFalls; // bit n: line n never falls (an unplugged axis)
};

// One OEM data set: vendor and product ids, hardware flags, poll timeout in microseconds.
inline void PutOemSet(unsigned char* oemData, int set, unsigned short vendor,
                      unsigned short product, unsigned flags, unsigned pollTimeoutUs) {
    unsigned char* p = oemData + 16 * set;
    const unsigned words[2] = {flags, pollTimeoutUs};
    p[0] = static_cast<unsigned char>(vendor);
    p[1] = static_cast<unsigned char>(vendor >> 8);
    p[2] = static_cast<unsigned char>(product);
    p[3] = static_cast<unsigned char>(product >> 8);
    for (int w = 0; w < 2; ++w)
        for (int b = 0; b < 4; ++b)
            p[4 + 4 * w + b] = static_cast<unsigned char>(words[w] >> (8 * b));
    for (int b = 12; b < 16; ++b)
        p[b] = 0;
}

// Hardware flags: Z present (source code 0: line 3), rudder present (code 0: line 2), and
// the source codes of X (bits 7..9) and Y (bits 10..12).
constexpr unsigned kFlagZ = 1u << 0;
constexpr unsigned kFlagRudder = 1u << 19;
constexpr unsigned XCode(unsigned code) {
    return code << 7;
}
constexpr unsigned YCode(unsigned code) {
    return code << 10;
}

// The ids that bring the two dials, and the joystick the bus reports at its start.
constexpr unsigned short kDialVendor = 0x06A3;
constexpr unsigned short kDialProduct = 13877;
constexpr unsigned kDefaultPulseUs[4] = {300, 600, 900, 1200};
constexpr unsigned kDefaultFlags = kFlagZ | kFlagRudder;
constexpr unsigned kDefaultPollTimeoutUs = 10000;

// ---- zel_testhid.sys: the bus below zel_vmd.sys --------------------------------------------
// Its one child holds the read requests zel_vmd.sys passes down until the test queues a
// report, which completes the oldest one.
#define ZELTEST_HID_DEVICE_NAME L"\\Device\\ZelTestHid"
#define ZELTEST_HID_LINK_NAME L"\\DosDevices\\ZelTestHid"
#define ZELTEST_HID_USER_PATH "\\\\.\\ZelTestHid"
// Input: the report bytes, report id first (at most kMaxTestReport).
#define IOCTL_ZELTEST_QUEUE_REPORT                                                                 \
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x810, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Output: the report descriptor that the device on the child answers the HID class
// driver's request with (the bus asks the top of its child's stack in the same way).
#define IOCTL_ZELTEST_GET_REPORT_DESCRIPTOR                                                        \
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x811, METHOD_BUFFERED, FILE_ANY_ACCESS)

constexpr unsigned kMaxTestReport = 64;
constexpr unsigned kMaxTestQueuedReports = 16;

} // namespace zeltest
