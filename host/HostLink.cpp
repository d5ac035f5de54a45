#include "HostLink.h"

#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "Clock.h"
#include "EbcdicCcsids.h"
#include "HostState.h"
#include "ListLock.h"
#include "ProcessState.h"
#include "Strings.h"
#include "cwbco.h"
#include "cwbsignon.h"

namespace {

constexpr const char* kLibrary = "TAVO400";
constexpr const char* kListProgramName = "TVOCGET";
constexpr const char* kSendProgramName = "TVOCUPD";
constexpr const char* kReplyQueueName = "#TVOCGET";
constexpr unsigned long kHostCodePage = 37;
constexpr std::size_t kShownTextArea = 260;

std::string NewStamp() {
    return records::FormatRequestStamp(ClockNow());
}

// A list request's stamp is its key on the shared queue, so it must differ from the last
// one of this process and from `lockedLast`, the last one any process of this workstation
// left in the list lock. The last digit is only the first digit of the milliseconds (57 ms
// and 570 ms both give 5), so the text can come round again after the clock has moved:
// wait for the next tenth of a second until it differs. A new second always does.
std::string NewListStamp(std::string_view lockedLast) {
    using namespace std::chrono;
    // Enough to pass the next second; a clock that stands still is not waited on for ever.
    constexpr int kMostWaits = 12;
    auto& last = Host().LastListStamp;
    auto now = ClockNow();
    auto stamp = records::FormatRequestStamp(now);
    for (int waits = 0; (stamp == last || stamp == lockedLast) && waits < kMostWaits; ++waits) {
        const auto intoTenth = duration_cast<milliseconds>(now - floor<seconds>(now)) % 100;
        WaitClock(milliseconds(100) - intoTenth);
        now = ClockNow();
        stamp = records::FormatRequestStamp(now);
    }
    last = stamp;
    return stamp;
}

std::string MixedListText(const std::string& system, const std::string& what) {
    return "The list " + system + " sent held " + what +
           ": another list was asked for elsewhere under the same key at the same "
           "moment, and the two were mixed. The list was not used; try again.";
}

void BuildConvertedListRequest(std::string_view functionCode) {
    auto& areas = Host().Areas;
    records::BuildListRequest(functionCode, NewStamp(), areas.listRequest);
    ToHost(areas.listParm1, records::kListRequestLength, areas.listRequest,
           records::kListRequestLength);
}

// "#TVOCGET" as a host whose CCSID puts '#' on another byte than CCSID 37 names a queue
// created there; empty when the two agree or the CCSID is unknown. The name we pass is
// Latin-1 and reaches the host as CCSID 37 bytes, so that byte is named by the Latin-1
// character CCSID 37 has there (the cent sign, on a 277 host).
std::string NationalReplyQueueName(const std::string& system) {
    using tavo::text::EbcdicCodePage;
    unsigned long ccsid = 37;
    if (cwbNL_GetHostCCSID(system.c_str(), &ccsid) != 0)
        return {};
    const EbcdicCodePage* national = EbcdicCodePage::Find(ccsid);
    const EbcdicCodePage& us = *EbcdicCodePage::Find(37);
    const auto hash = national ? national->ByteOf('#') : std::nullopt;
    if (!hash || hash == us.ByteOf('#'))
        return {};
    return static_cast<char>(us.CodePoint(*hash)) + std::string(kReplyQueueName + 1);
}

// Our spelling of the queue, then the host's own when ours is not found there. A failure
// leaves ours in ErrorHandle: the name the user knows.
cwbDQ_QueueHandle OpenEitherSpelling(const std::string& system) {
    auto& host = Host();
    cwbDQ_QueueHandle queue = 0;
    const unsigned rc =
        cwbDQ_Open(kReplyQueueName, kLibrary, system.c_str(), &queue, host.ErrorHandle);
    if (rc != CWBDQ_QUEUE_NOT_FOUND)
        return rc == 0 ? queue : 0;
    const std::string national = NationalReplyQueueName(system);
    if (national.empty())
        return 0;
    cwbSV_ErrHandle errors = 0;
    cwbSV_CreateErrHandle(&errors);
    if (cwbDQ_Open(national.c_str(), kLibrary, system.c_str(), &queue, errors) != 0)
        queue = 0;
    cwbSV_DeleteErrHandle(errors);
    return queue;
}

// Opens "#TVOCGET" on `system`, asking "TVOCGET" to create it once when it is missing.
// Returns 0 on failure, with the reason in ErrorHandle.
cwbDQ_QueueHandle OpenReplyQueue(const std::string& system, cwbRC_SysHandle connection) {
    auto& host = Host();
    if (const cwbDQ_QueueHandle queue = OpenEitherSpelling(system))
        return queue;
    BuildConvertedListRequest("*CRTDTAQ");
    if (!connection)
        return 0;
    if (cwbRC_CallPgm(connection, host.ListProgram, host.ErrorHandle) != 0)
        return 0;
    return OpenEitherSpelling(system);
}

// What a failed set-up created is released before the set-up runs again.
void ReleaseFailedSetUp() {
    auto& host = Host();
    if (host.ListProgram)
        cwbRC_DeletePgm(host.ListProgram);
    if (host.SendProgram)
        cwbRC_DeletePgm(host.SendProgram);
    if (host.ToHostConverter)
        cwbNL_DeleteConverter(host.ToHostConverter, 0);
    if (host.FromHostConverter)
        cwbNL_DeleteConverter(host.FromHostConverter, 0);
    if (host.ErrorHandle)
        cwbSV_DeleteErrHandle(host.ErrorHandle);
    host.ListProgram = host.SendProgram = 0;
    host.ToHostConverter = host.FromHostConverter = 0;
    host.ErrorHandle = 0;
}

std::string Blanks(std::string_view text, std::size_t width) {
    std::string area(width, ' ');
    area.replace(0, std::min(text.size(), width), text.substr(0, width));
    return area;
}

} // namespace

[[maybe_unused]] const bool registered = RegisterProcessReset([](KeepHosts) { ResetHostState(); });

HostGlobals& Host() {
    static HostGlobals globals;
    return globals;
}

void ResetHostState() {
    auto& host = Host();
    host.SystemHandleMap.clear();
    host.HostSetupDone = false;
    host.ErrorHandle = 0;
    host.ListProgram = host.SendProgram = 0;
    host.ToHostConverter = host.FromHostConverter = 0;
    host.ReplyQueue = 0;
    host.ReplyQueues.clear();
    host.ReplyData = 0;
    host.LastListStamp.clear();
    host.Areas = HostAreas{};
}

void StartInstanceState() {
    Host().HostSetupDone = false;
    CurrentSystem.clear();
    DeliveryModes = DeliveryModeFlags{};
}

void ToHost(void* target, unsigned long targetLength, const void* source,
            unsigned long sourceLength) {
    std::memset(target, 0x40, targetLength); // the EBCDIC blank
    unsigned long errors = 0, firstError = 0, required = 0;
    cwbNL_Convert(Host().ToHostConverter, sourceLength, targetLength,
                  const_cast<char*>(static_cast<const char*>(source)), static_cast<char*>(target),
                  &errors, &firstError, &required, Host().ErrorHandle);
}

void FromHost(void* target, unsigned long targetLength, const void* source,
              unsigned long sourceLength) {
    const bool separate = target != source;
    if (separate)
        std::memset(target, 0, targetLength);
    unsigned long errors = 0, firstError = 0, required = 0;
    cwbNL_Convert(Host().FromHostConverter, sourceLength, targetLength,
                  const_cast<char*>(static_cast<const char*>(source)), static_cast<char*>(target),
                  &errors, &firstError, &required, Host().ErrorHandle);
    if (separate)
        static_cast<char*>(target)[targetLength] = '\0';
}

CHostLink::CHostLink() {
    auto& host = Host();
    std::lock_guard lock(host.HostMutex);
    if (CurrentSystem.empty()) {
        outcome_.NotDoneBecause(Outcome::Cause::NoSystem, LoadString(IDS_SELECT_HOST));
        return;
    }
    if (auto cached = host.SystemHandleMap.find(CurrentSystem);
        cached != host.SystemHandleMap.end()) {
        connection_ = cached->second;
    } else {
        cwbRC_SysHandle connection = 0;
        const unsigned rc = cwbRC_StartSys(CurrentSystem.c_str(), 0, &connection);
        if (rc == CWB_SIGNON_CANCELLED) {
            // The user said no: nothing to explain in a box, and the host never heard of it.
            outcome_.cause = Outcome::Cause::Cancelled;
            outcome_.returnCode = rc;
            outcome_.status = "Sign-on to " + CurrentSystem + " cancelled; nothing was sent.";
        } else if (rc != 0) {
            outcome_.NotDoneBecause(
                Outcome::Cause::Connection,
                FormatString(LoadString(IDS_NO_CONNECTION), {CurrentSystem, std::to_string(rc)}));
            outcome_.returnCode = rc;
        } else {
            connection_ = connection;
            host.SystemHandleMap.emplace(CurrentSystem, connection);
        }
    }
    systemName_ = CurrentSystem;
    // A refused connect ends here: the set-up would sign on again with the same password,
    // and each refusal counts against the user profile's sign-on attempts.
    if (!connection_)
        return;
    if (!host.HostSetupDone)
        SetUpHost();
    if (!host.HostSetupDone)
        return;
    errorHandle_ = host.ErrorHandle;
    readObject_ = host.ReplyData;
    // A system the set-up did not run for gets its queue when a list is first asked of
    // it; a send never needs one.
    if (auto known = host.ReplyQueues.find(systemName_); known != host.ReplyQueues.end())
        queue_ = known->second;
}

CHostLink::~CHostLink() = default;

void CHostLink::SetUpHost() {
    auto& host = Host();
    auto& areas = host.Areas;
    ReleaseFailedSetUp();
    cwbSV_CreateErrHandle(&host.ErrorHandle);

    cwbRC_CreatePgm(kListProgramName, kLibrary, &host.ListProgram);
    cwbRC_AddParm(host.ListProgram, CWBRC_INPUT, sizeof areas.listParm1, areas.listParm1);
    cwbRC_AddParm(host.ListProgram, CWBRC_INOUT, sizeof areas.listParm2, areas.listParm2);
    cwbRC_CreatePgm(kSendProgramName, kLibrary, &host.SendProgram);
    cwbRC_AddParm(host.SendProgram, CWBRC_INPUT, sizeof areas.sendParm1, areas.sendParm1);
    cwbRC_AddParm(host.SendProgram, CWBRC_INPUT, sizeof areas.sendParm2, areas.sendParm2);
    cwbRC_AddParm(host.SendProgram, CWBRC_INPUT, sizeof areas.sendParm3, areas.sendParm3);
    cwbRC_AddParm(host.SendProgram, CWBRC_INPUT, sizeof areas.sendParm4, areas.sendParm4);
    cwbRC_AddParm(host.SendProgram, CWBRC_INPUT, sizeof areas.sendParm5, areas.sendParm5);
    cwbRC_AddParm(host.SendProgram, CWBRC_OUTPUT, sizeof areas.sendParm6, areas.sendParm6);

    unsigned long codePage = 0;
    cwbNL_GetCodePage(&codePage, host.ErrorHandle);
    cwbNL_CreateConverterEx(codePage, kHostCodePage, &host.ToHostConverter, host.ErrorHandle, 0, 0,
                            nullptr);
    cwbNL_CreateConverterEx(kHostCodePage, codePage, &host.FromHostConverter, host.ErrorHandle, 0,
                            0, nullptr);

    bool done = false;
    host.ReplyQueue = OpenReplyQueue(CurrentSystem, connection_);
    if (host.ReplyQueue) {
        host.ReplyQueues[CurrentSystem] = host.ReplyQueue;
        host.ReplyData = cwbDQ_CreateData();
        done = host.ReplyData != 0;
    }
    host.HostSetupDone = done;
    if (!done && connection_)
        HostFailed();
}

void CHostLink::HostFailed() {
    outcome_.result = Outcome::Result::NotDone;
    outcome_.cause = Outcome::Cause::Host;
    const auto errorHandle = Host().ErrorHandle;
    unsigned long count = 0;
    cwbSV_GetErrCount(errorHandle, &count);
    const unsigned long index = count > 1 ? count - 1 : count;
    char text[kShownTextArea] = {};
    unsigned long length = 0;
    const unsigned rc = cwbSV_GetErrTextIndexed(errorHandle, index, text, sizeof text, &length);
    if (rc == CWB_OK || rc == CWB_BUFFER_OVERFLOW)
        outcome_.texts.emplace_back(text);
}

bool CHostLink::RetrieveList(std::string listType, std::vector<ListItem>& entries, int& count) {
    auto& host = Host();
    auto& areas = host.Areas;
    if (!connection_)
        return false;
    if (!queue_ && host.HostSetupDone) {
        queue_ = OpenReplyQueue(systemName_, connection_);
        if (!queue_) {
            HostFailed();
            return false;
        }
        host.ReplyQueues.emplace(systemName_, queue_);
    }
    // Lists of this workstation to this system take turns, each under a stamp of its own.
    // The turn is waited for up to the list deadline, not the system's timeout: that bounds
    // one network step, while the list ahead may rightly take up to the deadline.
    ListLock turn;
    if (auto refused = turn.Take(systemName_, kListDeadline, [] { return cwbCO_Cancelled() != 0; });
        !refused.empty()) {
        outcome_.NotDoneBecause(Outcome::Cause::Host, std::move(refused));
        return false;
    }
    const auto stamp = NewListStamp(turn.LastStamp());
    if (auto unrecorded = turn.Record(stamp); !unrecorded.empty()) {
        outcome_.NotDoneBecause(Outcome::Cause::Host, std::move(unrecorded));
        return false;
    }
    records::BuildListRequest(listType, stamp, areas.listRequest);
    ToHost(areas.listParm1, records::kListRequestLength, areas.listRequest,
           records::kListRequestLength);
    std::memcpy(areas.key, areas.listParm1, records::kKeyLength);

    const auto started = ClockNow();
    bool ok = cwbRC_CallPgm(connection_, host.ListProgram, host.ErrorHandle) == 0 &&
              cwbDQ_SetData(readObject_, areas.receive, sizeof areas.receive) == 0 &&
              cwbDQ_SetSearchKey(readObject_, areas.key, records::kKeyLength) == 0 &&
              cwbDQ_SetSearchOrder(readObject_, CWBDQ_EQUAL) == 0;
    std::unordered_set<std::string> names; // a directory holds each name once
    for (std::size_t read = 0; ok; ++read) {
        if (ClockNow() - started >= kListDeadline) {
            outcome_.NotDoneBecause(Outcome::Cause::Host,
                                    "The host did not finish the list within " +
                                        std::to_string(kListDeadline.count()) +
                                        " seconds; the list was abandoned.");
            return false;
        }
        if (cwbDQ_Read(queue_, readObject_, 0, errorHandle_) != 0) {
            ok = false;
            break;
        }
        FromHost(areas.entry, records::kListEntryLength, areas.receive, records::kListEntryLength);
        auto fields = records::ReadListEntry(areas.entry);
        if (fields.endOfList) {
            // A list's end marker is the last entry it leaves, so whatever follows under
            // its key is another list's. One read that waits for nothing finds it: a round
            // trip per list rather than a check of every entry. A list that another
            // consumed from too shows as a name twice, below.
            const unsigned rc = cwbDQ_Read(queue_, readObject_, 0, errorHandle_);
            if (rc == CWBDQ_TIMED_OUT) {
                outcome_.result = Outcome::Result::Done;
                return true;
            }
            if (rc != CWB_OK && rc != CWBDQ_DATA_TRUNCATED)
                break;
            FromHost(areas.entry, records::kListEntryLength, areas.receive,
                     records::kListEntryLength);
            outcome_.NotDoneBecause(
                Outcome::Cause::Host,
                MixedListText(systemName_, records::ReadListEntry(areas.entry).endOfList
                                               ? "a second end marker"
                                               : "an entry after its end marker"));
            return false;
        }
        if (!names.insert(fields.name).second) {
            outcome_.NotDoneBecause(Outcome::Cause::Host,
                                    MixedListText(systemName_, fields.name + " twice"));
            return false;
        }
        if (read == kMaxListEntries) {
            outcome_.NotDoneBecause(Outcome::Cause::Host,
                                    "The host sent more than " + std::to_string(kMaxListEntries) +
                                        " entries without ending the list, more than a "
                                        "directory holds; the list was abandoned.");
            return false;
        }
        entries.push_back({std::move(fields.name), std::move(fields.description)});
        ++count;
    }
    HostFailed();
    return false;
}

bool CHostLink::SubmitMessage(int kind, int count, std::string recipients, std::string body,
                              std::string subject) {
    if (!connection_)
        return false;
    auto& host = Host();
    auto& areas = host.Areas;
    std::string record(records::kSendRecordLength, ' ');
    if (!records::BuildSendRecord(kind, count, recipients, records::MessageText(subject, body),
                                  DeliveryModes, record.data())) {
        outcome_.NotDoneBecause(Outcome::Cause::Input, records::RecordOverflowText());
        return false;
    }

    const auto parm1 = Blanks("*CA", records::kCodeParmLength);
    const auto parm2 = Blanks("*SNDTVO", records::kCodeParmLength);
    const auto parm3 = Blanks("", records::kCodeParmLength);
    const auto parm4 = Blanks("", records::kLongParmLength);
    const auto parm5 = Blanks(record, records::kSendAreaUsed);
    ToHost(areas.sendParm1, sizeof areas.sendParm1, parm1.data(), records::kCodeParmLength);
    ToHost(areas.sendParm2, sizeof areas.sendParm2, parm2.data(), records::kCodeParmLength);
    ToHost(areas.sendParm3, sizeof areas.sendParm3, parm3.data(), records::kCodeParmLength);
    ToHost(areas.sendParm4, sizeof areas.sendParm4, parm4.data(), records::kLongParmLength);
    ToHost(areas.sendParm5, records::kSendAreaUsed, parm5.data(), records::kSendAreaUsed);

    if (const unsigned rc = cwbRC_CallPgm(connection_, host.SendProgram, host.ErrorHandle);
        rc != 0) {
        HostFailed(); // a failed send is never silent
        if (rc == CWB_REPLY_LOST)
            outcome_.result = Outcome::Result::Unknown;
        return false;
    }
    return ReadSendReply();
}

bool CHostLink::ReadSendReply() {
    const auto reply = records::ReadReplyTexts(
        Host().Areas.sendParm6, records::kParmAreaLength,
        [](char* target, unsigned long targetLength, const char* source,
           unsigned long sourceLength) { FromHost(target, targetLength, source, sourceLength); });
    if (!reply.reportsErrors) {
        outcome_.result = Outcome::Result::Done;
        return true;
    }
    std::string shown;
    for (const auto& text : reply.texts)
        shown += text + "\n";
    if (reply.cutShort)
        shown +=
            "(The host's reply claims more than its 32000-byte area holds; the rest is lost.)\n";
    if (reply.missing > 0)
        shown += "(The host's reply claims " + std::to_string(reply.missing) + " more error " +
                 (reply.missing == 1 ? "message" : "messages") + " than it holds.)\n";
    outcome_.result = Outcome::Result::Refused;
    outcome_.texts.push_back(std::move(shown));
    return false;
}
