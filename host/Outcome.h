#pragma once

#include <string>
#include <vector>

#include "ListItem.h"

// What one host operation came to. The window shows its texts through the message
// presenter; the command line turns it into an exit code. Nothing in it has been shown.
struct Outcome {
    enum class Result {
        Done,    // accepted by the host, or the whole list fetched
        Refused, // the host said no; the texts are its reasons
        NotDone, // the host never acted: see the cause
        Unknown, // sent, but the answer was lost: the host may have acted on it
    };
    enum class Cause {
        None,
        Input,      // what was typed cannot be sent; nothing was asked of the host
        NoSystem,   // no system is chosen
        Connection, // connecting or signing on failed, with its return code
        Host,       // the set-up, the call or the list failed
        Cancelled,  // the user cancelled a sign-on or the wait before the request left
    };

    Result result = Result::NotDone;
    Cause cause = Cause::None;
    unsigned returnCode = 0;        // of the failed connect
    std::vector<std::string> texts; // the message boxes' texts, in order (Latin-1)
    std::string status;             // a line for the status bar rather than a box (Latin-1)

    bool Done() const { return result == Result::Done; }
    void NotDoneBecause(Cause why, std::string text) {
        result = Result::NotDone;
        cause = why;
        texts.push_back(std::move(text));
    }
};

// A fetched list: how the fetch went, and its entries only when the host ended it.
struct ListOutcome {
    Outcome outcome;
    std::vector<ListItem> entries;

    bool Done() const { return outcome.Done(); }
};
