// The simulated system that runs the real zel_hidg code: the model kernel,
// the HID class driver, the game-port enumerator with its ports, the bridge
// device and the registry, set up from a scenario.
#pragma once

#include "scenario.h"

#include "bridge_device.h"
#include "game_port.h"
#include "kernel_api.h"

#include <memory>

namespace zelsim {

struct StickStart {
    int32_t status = 0;
    std::vector<uint8_t> descriptor;
    std::vector<uint8_t> attributes; // 32 bytes
};

struct ReadResult {
    int32_t status = 0;
    size_t bytes = 0;
    std::vector<uint8_t> report; // empty when the read failed
};

class World {
  public:
    explicit World(const Scenario& scenario);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Loads the driver (DriverEntry); its status.
    int32_t LoadDriver();
    // Adds and starts every stick in order.
    std::vector<StickStart> StartSticks();
    // One read request of the HID class driver's poll for the stick.
    ReadResult Read(size_t stick);

    sim::GamePort& Port(size_t index);
    sim::BridgeDevice* Bridge();
    size_t StickCount() const;
    // The platform objects, for tests that drive the system further.
    PDRIVER_OBJECT Driver() const;
    PDEVICE_OBJECT Pdo(size_t stick) const;
    PDEVICE_OBJECT Fdo(size_t stick) const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace zelsim
