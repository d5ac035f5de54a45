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

// The outcome's texts, each in a message box, in order, and its status line.
void ShowOutcome(const Outcome& outcome);

// What the progress of each operation on `system` says (Latin-1, without an ellipsis).
std::string SendProgress(const std::string& system);
std::string ListProgress(ListKind kind, const std::string& system);
std::string PasswordChangeProgress(const std::string& system);

// What the picker shows for a list the host ended without a single entry.
std::string EmptyListText(ListKind kind, const std::string& system);

// The window's boxes for an outcome: a failed connect's box (its fixed words and code)
// gets a line that says what the code means.
std::vector<std::string> WindowTexts(const Outcome& outcome);

// Runs `operation` on CurrentSystem through the operation runner, saying `progress` while
// it waits, and shows its outcome with the window's texts. When the host announced a lower
// password level than it used before, asks whether to accept it; on Yes it is accepted and
// the operation, which had sent nothing, runs once more and its outcome is shown in turn.
// Returns the last outcome.
Outcome RunAndShow(const std::string& progress, const std::function<Outcome()>& operation);

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
