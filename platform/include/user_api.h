// The user-mode programming interface that the user-mode deliverables are written against.
//
// For Windows this is the platform's own <windows.h>; on the host it is our small model of
// the same names (platform/host), so the sources build unchanged for both targets.
#pragma once

#if defined(_WIN32)
#include <windows.h>
// Paths the product builds are Windows paths; the C++ library opens them as they are.
#define ZEL_FILE_PATH(path) (path)
#else
#include "host_user.h"
// On the host a Windows path ("dir\name", or a bare name relative to the model's current
// directory) names a real Linux file; the C++ library must be handed that file's path.
#define ZEL_FILE_PATH(path) HostFilePath(path).c_str()
#endif
