// The kernel contract cases: the kernel behaviour the drivers rely on, written
// once against the kernel interface and run both on the host model (a host
// test) and in a real kernel (the test driver under Wine).
#pragma once

#include "contract_protocol.h"
#include "kernel_api.h"

namespace contract {

// Installs the dispatch routine of the cases' own device objects.
void PrepareDriver(PDRIVER_OBJECT driver);
// Runs one case at PASSIVE_LEVEL: 0 when every check held, else the line of
// the first failed check, with the value it saw in `detail`.
int RunCase(unsigned int id, PDRIVER_OBJECT driver, unsigned int* detail);

} // namespace contract
