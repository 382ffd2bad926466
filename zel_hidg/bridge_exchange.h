// Bridge use on the read path (internal to the driver's read code).
#pragma once

#include "hidg.h"

enum class BridgeReply { NotSent, Unusable, Usable };

// Counts a read in as a bridge user; false (and nothing to leave) when the
// bridge is absent, being released, or the IRQL is above PASSIVE_LEVEL.
bool EnterBridge(GameDeviceExtension* ext);
void LeaveBridge(GameDeviceExtension* ext);
// Sends one internal request with an output buffer and waits for it.
BridgeReply SendBridgeRequest(GameDeviceExtension* ext, ULONG code, PUCHAR reply, ULONG length);
