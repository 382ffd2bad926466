// The user-mode programming interface that the user-mode deliverables are written against.
//
// For Windows this is the platform's own <windows.h>; on the host it is our small model of
// the same names (platform/host), so the sources build unchanged for both targets.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include "host_user.h"
#endif
