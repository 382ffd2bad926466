// The joystick driver's world for the fuzz targets: the driver loaded through
// DriverEntry, the game-port enumerator with its children on simulated ports,
// a bridge device whose replies come from the input, and the calibration
// values in the registry.
#pragma once

#include "gameport_enumerator.h"
#include "hidg.h"
#include "request_sender.h"

#include <cstdint>
#include <deque>
#include <fuzzer/FuzzedDataProvider.h>
#include <memory>
#include <vector>

namespace zelfuzz {

// One reply of the bridge: any status (but STATUS_PENDING, which is no final
// status), any byte count, the bytes, and whether the dispatch routine returns
// STATUS_PENDING (it still completes the request first).
struct BridgeReply {
    NTSTATUS status = STATUS_SUCCESS;
    ULONG information = 0;
    bool returnPending = false;
    uint8_t bytes[16] = {};
};

struct Stick {
    sim::JoystickChild* child = nullptr;
    PDEVICE_OBJECT fdo = nullptr;
    GameDeviceExtension* ext = nullptr;
    bool removed = false; // the remove request has been sent
    bool deleted = false;
};

struct HidgWorld {
    PDRIVER_OBJECT driver = nullptr;
    sim::GamePortEnumerator* enumerator = nullptr;
    std::vector<std::unique_ptr<sim::GamePort>> ports;
    std::deque<Stick> sticks;
    // The bridge device, when there is one: its replies come from `input`.
    PDRIVER_OBJECT bridgeDriver = nullptr;
    PDEVICE_OBJECT bridge = nullptr;
    FuzzedDataProvider* input = nullptr;
    int bridgeRequests = 0;
};

// Resets the model and loads the driver (counter at 1 MHz).
void Load(HidgWorld& world);
// Creates "\Device\Zel_VmdF", answering from `input`.
void AddBridge(HidgWorld& world, FuzzedDataProvider* input);
sim::GamePort* AddPort(HidgWorld& world);
// A joystick child with these OEM bytes and axis count, and the driver's device on it.
Stick& AddStick(HidgWorld& world, sim::GamePort* port, USHORT axes, const uint8_t oem[32]);
// Sends the remove request and deletes the device as the HID class driver does.
void Remove(Stick& stick);
void DeleteDevice(Stick& stick);
// Removes what is left, deletes every object and checks the model.
void Unload(HidgWorld& world);

// The calibration key the driver reads, and the registry path of the driver.
extern const char16_t kCalibrationKey[];

// A simulated port whose line kinds and pulse lengths come from the input.
void ShapePort(sim::GamePort& port, FuzzedDataProvider& input);

} // namespace zelfuzz
