#include "ProcessState.h"

#include <vector>

#include "Clock.h"
#include "MessagePresenter.h"

std::string CurrentSystem;
DeliveryModeFlags DeliveryModes;

namespace {
std::vector<void (*)(KeepHosts)>& LayerResets() {
    static std::vector<void (*)(KeepHosts)> resets;
    return resets;
}
} // namespace

bool RegisterProcessReset(void (*reset)(KeepHosts)) {
    LayerResets().push_back(reset);
    return true;
}

void ResetProcessState(KeepHosts keepHosts) {
    // In any order: no layer's reset calls into another layer.
    for (auto reset : LayerResets())
        reset(keepHosts);
    CurrentSystem.clear();
    DeliveryModes = DeliveryModeFlags{};
    SetMessagePresenter(nullptr);
    SetClockSource(nullptr);
    SetClockWait(nullptr);
}
