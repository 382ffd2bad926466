// The state shared by all joysticks of the driver. Zero-initialised by the
// loader; DriverEntry fills it.
#include "hidg.h"

DriverState g_Driver;
