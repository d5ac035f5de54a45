#include "ProcessState.h"

std::string CurrentSystem;
DeliveryModeFlags DeliveryModes;

void ResetProcessState() {
    CurrentSystem.clear();
    DeliveryModes = DeliveryModeFlags{};
}
