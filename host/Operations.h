#pragma once

#include <functional>
#include <optional>
#include <string>

#include "Outcome.h"

// The two things a user asks of the host, done the same way for the window and the
// command line; each shows only what its outcome holds.

// One message as the send program takes it (see PrepareSend).
struct Submission {
    int kind = 1; // 1 recipients, 0 groups
    int count = 0;
    std::string addressList; // the names in ten-character slots
    std::string body;
    std::string subject;
};

// Sends through a link to CurrentSystem with the current delivery modes.
Outcome Submit(const Submission& message);

enum class ListKind { Recipients, Groups };
// The whole list of CurrentSystem, each name as a list shows it; no entries unless the
// host ended the list.
ListOutcome FetchList(ListKind kind);

// The outcome's texts, each in a message box, in order.
void ShowOutcome(const Outcome& outcome);

// Runs `operation` on CurrentSystem and shows its outcome. When the host announced a lower
// password level than it used before, asks whether to accept it; on Yes it is accepted and
// the operation, which had sent nothing, runs once more and its outcome is shown in turn.
// Returns the last outcome.
Outcome RunAndShow(const std::function<Outcome()>& operation);

// What a return code of a failed connect means, in words, for the codes the layer
// gives; null for others.
const char* ReturnCodeMeaning(unsigned long rc);

// The send record of `message` with the current delivery modes, and the bytes the host
// receives for it, converted as a send converts them; nullopt when it does not fit or
// the converter cannot be had.
struct SendRecord {
    std::string text;
    std::string wire;
};
std::optional<SendRecord> RecordOf(const Submission& message);
