// Simulated game-port enumerator: one physical device object per joystick
// child, each on a simulated port. It completes the start request and answers
// the port-parameters request with the port's accessors, the axis count and
// the 32 bytes of OEM data of the child.
#pragma once

#include "game_port.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace sim {

enum class EnumeratorAnswer {
    AtOnce, // complete in the dispatch routine
    Pend,   // return STATUS_PENDING and complete from another thread
    Fail,   // complete with `failStatus`
};

struct JoystickChild {
    GamePort* port = nullptr;
    USHORT numberAxis = 2;
    UCHAR oemData[GAMEENUM_OEM_DATA_BYTES] = {};
    EnumeratorAnswer parametersAnswer = EnumeratorAnswer::AtOnce;
    NTSTATUS startStatus = STATUS_SUCCESS; // what the child answers a start request
    NTSTATUS failStatus = STATUS_UNSUCCESSFUL;

    PDEVICE_OBJECT pdo = nullptr;
    int parameterRequests = 0;
    std::vector<UCHAR> pnpMinors; // every Plug and Play request it saw
    int powerRequests = 0;
    int systemControlRequests = 0;

    // OEM data set k (0 or 1) as the installation writes it.
    void SetOem(int set, USHORT vendor, USHORT product, ULONG flags, ULONG pollTimeout);
};

// The enumerator's driver object; children are created on it.
struct GamePortEnumerator {
    PDRIVER_OBJECT driver = nullptr;
    std::vector<JoystickChild*> children;
};

GamePortEnumerator* CreateEnumerator();
JoystickChild* AddChild(GamePortEnumerator* enumerator, GamePort* port);
void DestroyEnumerator(GamePortEnumerator* enumerator);

// Hardware-flag fields of the OEM data.
constexpr ULONG kFlagZ = 1u << 0;
constexpr ULONG kFlagGamePad = 1u << 5;
constexpr ULONG kFlagRudder = 1u << 19;
constexpr ULONG XCode(ULONG c) {
    return c << 7;
}
constexpr ULONG YCode(ULONG c) {
    return c << 10;
}
constexpr ULONG ZCode(ULONG c) {
    return c << 13;
}
constexpr ULONG RudderCode(ULONG c) {
    return c << 20;
}

} // namespace sim
