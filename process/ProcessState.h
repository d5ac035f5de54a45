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

// Back to the state of a new process, for tests: these values, the presenter and the
// clock here, and whatever each layer above registered (its connections, handles and
// caches). The embedded hosts in this process stand for hosts elsewhere: they go too,
// unless a test starts the program again over them.
enum class KeepHosts { No, Yes };
void ResetProcessState(KeepHosts keepHosts = KeepHosts::No);

// A layer that keeps process-wide state registers how to forget it; the result only
// lets a registration stand at namespace scope.
bool RegisterProcessReset(void (*reset)(KeepHosts));
