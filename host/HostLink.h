#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "DirectoryLimits.h"
#include "ListItem.h"
#include "cwbdq.h"
#include "cwbrc.h"
#include "cwbsv.h"

// One host operation: construct a link, use it once, destroy it. Construction finds or
// opens the connection to CurrentSystem and, until it has once succeeded, sets up the
// host programs, converters and reply queue. Failures are shown as they happen; the
// outcome shows in the link (no connection: no operation can succeed).
class CHostLink {
  public:
    // How the last SubmitMessage ended. The window only needs true or false; a caller
    // that reports by exit code must tell a host that said no from one never reached.
    enum class SubmitOutcome {
        NotTried,
        NoConnection,  // nothing was sent
        TooLarge,      // refused here, nothing was sent
        CallFailed,    // the program call itself failed; its text was shown
        Unknown,       // sent, but its answer was lost: the host may have accepted it
        RefusedByHost, // the host's error texts were shown
        Accepted,
    };

    CHostLink();
    virtual ~CHostLink();
    CHostLink(const CHostLink&) = delete;
    CHostLink& operator=(const CHostLink&) = delete;

    // A host that never ends its list must neither hold the caller nor fill its memory.
    // The cap is the daemon's own limit, so every directory it was given still lists.
    static constexpr std::chrono::seconds kListDeadline{60};
    static constexpr std::size_t kMaxListEntries = tavo::server::kMaxDirectoryEntries;

    // Fetches "*RCPL" or "*GRPL" into `entries` (appended) and adds to `count`. True
    // when the end of the list was reached; entries read before a failure stay. A list
    // longer than kMaxListEntries or slower than kListDeadline fails with its text shown.
    bool RetrieveList(std::string listType, std::vector<ListItem>& entries, int& count);

    // kind 1: recipients, else groups. `recipients` holds the names in ten-character
    // slots. True when the host accepted the message.
    bool SubmitMessage(int kind, int count, std::string recipients, std::string body,
                       std::string subject);
    bool ReadSendReply();
    SubmitOutcome LastSubmitOutcome() const { return lastSubmit_; }

    const std::string& SystemName() const { return systemName_; }
    cwbRC_SysHandle Connection() const { return connection_; }
    cwbDQ_QueueHandle Queue() const { return queue_; }

  private:
    void SetUpHost();

    std::string systemName_;
    cwbRC_SysHandle connection_ = 0;
    cwbDQ_QueueHandle queue_ = 0;
    cwbSV_ErrHandle errorHandle_ = 0;
    cwbDQ_Data readObject_ = 0;
    SubmitOutcome lastSubmit_ = SubmitOutcome::NotTried;
};

// Shows the text of the last failed host call held by the set-up's error handle.
void ShowHostError();
