#pragma once

#include <string_view>

#include "Outcome.h"

// The Send command from the fields as typed: what cannot be sent is refused before the
// host is asked anything (a NotDone outcome for the Input cause), the rest is submitted.
Outcome SendFields(std::string_view to, std::string_view subject, std::string_view body,
                   bool recipients);

// The window's Send command: the fields sent to CurrentSystem through the operation
// runner, every outcome's text shown, and a delivery confirmed in a box of its own.
// Returns the outcome, whose return code may call for a password change.
Outcome SendCommand(std::string_view to, std::string_view subject, std::string_view body,
                    bool recipients);
