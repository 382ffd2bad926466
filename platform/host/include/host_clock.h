// The performance counter of the host kernel model, read from its virtual clock.
#pragma once

#include "host_types.h"

extern "C" LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER PerformanceFrequency);
