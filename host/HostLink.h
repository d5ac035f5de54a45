#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "DirectoryLimits.h"
#include "ListItem.h"
#include "Outcome.h"
#include "cwbdq.h"
#include "cwbrc.h"
#include "cwbsv.h"

// One host operation: construct a link, use it once, destroy it. Construction finds or
// opens the connection to CurrentSystem and, until it has once succeeded, sets up the
// host programs, converters and reply queue. What goes wrong is kept in the link's
// outcome, with the texts to show, for the operation that used it (no connection: no
// operation can succeed).
class CHostLink {
  public:
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
    // longer than kMaxListEntries or slower than kListDeadline fails with a text, as does
    // one that shows another list's entries mixed in: the lists of this workstation take
    // turns (ListLock), but another workstation may ask under the same key.
    bool RetrieveList(std::string listType, std::vector<ListItem>& entries, int& count);

    // kind 1: recipients, else groups. `recipients` holds the names in ten-character
    // slots. True when the host accepted the message. What does not fit the record is
    // refused, never cut; the user's own limits were checked before, by PrepareSend.
    bool SubmitMessage(int kind, int count, std::string recipients, std::string body,
                       std::string subject);
    bool ReadSendReply();

    // How the link's connection and its last operation went, with what to show.
    const Outcome& LastOutcome() const { return outcome_; }
    Outcome TakeOutcome() { return std::move(outcome_); }

    const std::string& SystemName() const { return systemName_; }
    cwbRC_SysHandle Connection() const { return connection_; }
    cwbDQ_QueueHandle Queue() const { return queue_; }

  private:
    void SetUpHost();
    void HostFailed(); // the layer's text for the last failed call, as a Host failure

    std::string systemName_;
    cwbRC_SysHandle connection_ = 0;
    cwbDQ_QueueHandle queue_ = 0;
    cwbSV_ErrHandle errorHandle_ = 0;
    cwbDQ_Data readObject_ = 0;
    Outcome outcome_;
};
