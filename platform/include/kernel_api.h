// The kernel programming interface that the drivers are written against.
//
// For Windows this is the platform's own DDK header; on the host it is our model
// of the same names (platform/host), so the driver sources build unchanged for both.
#pragma once

#if defined(_WIN32)
#include <ntddk.h>
#define ZEL_WIDE(s) L##s
#else
#include "host_kernel.h"
#define ZEL_WIDE(s) u##s
#endif

// Code placement. Pageable routines go to the PAGE section, the entry routine
// to INIT, which the loader discards once the driver has initialised.
#if defined(_WIN32)
#define ZEL_PAGEABLE __attribute__((section("PAGE")))
#define ZEL_INIT_CODE __attribute__((section("INIT")))
#else
#define ZEL_PAGEABLE
#define ZEL_INIT_CODE
#endif

#include "hid_minidriver.h"
#include "gameport.h"
