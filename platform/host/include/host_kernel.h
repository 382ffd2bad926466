// Host model of the Windows kernel interface used by the drivers.
//
// It declares the platform's names with the platform's meaning, so the driver
// sources compile unchanged on Linux, and it checks the rules the real kernel
// enforces (IRQL, lock use, request completion, pool use). A broken rule is
// recorded as a fault (see kernel_model.h); the test that caused it fails.
#pragma once

#include "host_types.h"
#include "host_sync.h"
#include "host_clock.h"
#include "host_pool.h"
#include "host_io.h"
#include "host_registry.h"
