// Simulated bridge device "\Device\Zel_VmdF": the outside kernel device that
// feeds the joystick's hats, dials and buttons and sends it commands.
#pragma once

#include "kernel_api.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace sim {

enum class BridgeAnswer {
    AtOnce, // complete in the dispatch routine
    Pend,   // return STATUS_PENDING; CompletePending() answers later
    Fail,   // complete with STATUS_UNSUCCESSFUL and no bytes
    Short,  // complete with success and one byte less than asked for
};

struct BridgeDevice {
    // What the bridge answers.
    UCHAR data[13] = {};
    std::deque<UCHAR> flags;              // one per flag query; 0 once used up
    UCHAR axisOrder[5] = {0, 1, 2, 3, 9}; // AxisOrder[0..3], DialSource
    BridgeAnswer answer = BridgeAnswer::AtOnce;

    // What it saw.
    std::map<ULONG, int> requests; // by control code
    long referencesAtLastCompletion = -1;

    PDRIVER_OBJECT driver = nullptr;
    PDEVICE_OBJECT device = nullptr;

    std::mutex lock;
    std::condition_variable changed;
    std::vector<PIRP> pending;

    int Count(ULONG code) {
        std::lock_guard<std::mutex> guard(lock);
        return requests[code];
    }
};

// Creates the named device; null name lookups fail again after DestroyBridge.
BridgeDevice* CreateBridge();
void DestroyBridge(BridgeDevice* bridge);
// Waits (real time) until a request is pending; false after the time-out.
bool WaitForPendingRequest(BridgeDevice* bridge, int milliseconds = 5000);
// Answers every pending request as the bridge's data stand now.
void CompletePending(BridgeDevice* bridge);

} // namespace sim
