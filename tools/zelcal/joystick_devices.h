// The joysticks served by zel_hidg, found through SetupAPI and read through hid.dll, and
// the restart that makes the driver read its calibration again.
#pragma once

#include "calibration_record.h"

#include <array>
#include <string>
#include <vector>

namespace zelcal {

struct Joystick {
    std::string Path;     // HID interface path, for CreateFile
    std::string Instance; // device instance of the HID collection
    std::string Product;  // the product string, or empty
    unsigned short VendorId = 0, ProductId = 0;
    int AxisCount = 0;            // axis fields the driver fills (the first ones)
    std::string AxisNames[kAxes]; // X, Y, Z, Rudder as the descriptor declares them
};

std::vector<Joystick> FindJoysticks();

// An open joystick whose reports can be read.
struct JoystickReader {
    void* Handle = nullptr;
    void* Event = nullptr;
};
bool OpenJoystick(const Joystick& joystick, JoystickReader* reader, std::string* error);
void CloseJoystick(JoystickReader* reader);
// The four axis fields of the next report (raw microseconds or calibrated positions,
// two's complement), within two seconds.
bool ReadAxes(JoystickReader* reader, std::array<uint32_t, kAxes>* axes, std::string* error);

// Restarts every device that zel_hidg drives, so that each runs its start-up again and
// reads the calibration; false with the reason when the system refuses. Then waits (at most
// ten seconds) until a joystick is back and returns it in `joystick`.
bool RestartJoysticks(Joystick* joystick, std::string* error);

} // namespace zelcal
