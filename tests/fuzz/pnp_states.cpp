// Plug and Play state transitions, from the manager's documented state
// diagram: a start from not started or stopped; stop and removal each after
// a query that may be cancelled; surprise removal from any started, stopping,
// stopped or remove-pending state; the removal after a query, a surprise
// removal, or a device that never started (or failed its start).
#include "pnp_states.h"

namespace zelfuzz {

std::vector<PnpStep> LegalSteps(PnpState state) {
    using S = PnpState;
    const PnpStep surprise{IRP_MN_SURPRISE_REMOVAL, S::SurpriseRemoved, S::SurpriseRemoved};
    switch (state) {
    case S::NotStarted:
        return {{IRP_MN_START_DEVICE, S::Started, S::NotStarted},
                {IRP_MN_REMOVE_DEVICE, S::Removed, S::Removed}};
    case S::Started:
        return {{IRP_MN_QUERY_STOP_DEVICE, S::StopPending, S::Started},
                {IRP_MN_QUERY_REMOVE_DEVICE, S::RemovePending, S::Started},
                surprise};
    case S::StopPending:
        return {{IRP_MN_STOP_DEVICE, S::Stopped, S::Stopped},
                {IRP_MN_CANCEL_STOP_DEVICE, S::Started, S::Started},
                surprise};
    case S::Stopped:
        return {{IRP_MN_START_DEVICE, S::Started, S::Stopped}, surprise};
    case S::RemovePending:
        return {{IRP_MN_REMOVE_DEVICE, S::Removed, S::Removed},
                {IRP_MN_CANCEL_REMOVE_DEVICE, S::Started, S::Started},
                surprise};
    case S::SurpriseRemoved:
        return {{IRP_MN_REMOVE_DEVICE, S::Removed, S::Removed}};
    case S::Removed:
        return {};
    }
    return {};
}

PnpStep PickStep(PnpState state, FuzzedDataProvider& input) {
    const std::vector<PnpStep> steps = LegalSteps(state);
    return steps[input.ConsumeIntegralInRange<size_t>(0, steps.size() - 1)];
}

bool ChangesState(UCHAR minor) {
    switch (minor) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        return true;
    default:
        return false;
    }
}

} // namespace zelfuzz
