// The Plug and Play states of a device as the Plug and Play manager drives
// them, for fuzz targets that send request sequences: the state requests
// legal in each state and the state each leads to. Other minor codes may come
// in any state before the removal.
#pragma once

#include "kernel_api.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace zelfuzz {

enum class PnpState {
    NotStarted,
    Started,
    StopPending,
    Stopped,
    RemovePending,
    SurpriseRemoved,
    Removed
};

struct PnpStep {
    UCHAR minor;
    PnpState next;     // after success
    PnpState ifFailed; // after a failure
};

// The state requests the manager may send in `state`.
std::vector<PnpStep> LegalSteps(PnpState state);
// One of them, chosen by the input; `state` must not be Removed.
PnpStep PickStep(PnpState state, FuzzedDataProvider& input);
// Whether `minor` is one of the state requests (start, stop, removal and their queries).
bool ChangesState(UCHAR minor);

} // namespace zelfuzz
