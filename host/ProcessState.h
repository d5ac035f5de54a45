#pragma once

#include <string>

// The values the whole program shares: the target system and the delivery modes.
// Start-up defaults: no system, the seven modes on, saving off.

struct DeliveryModeFlags {
    int SaveSettings = 0;
    int Pager = 1;
    int Email = 1;
    int Fax = 1;
    int NetworkMessage = 1;
    int MessageQueue = 1;
    int Telephone = 1;
    int SpooledFile = 1;
};

extern std::string CurrentSystem;
extern DeliveryModeFlags DeliveryModes;

// Back to the start-up defaults (tests).
void ResetProcessState();
