#pragma once

// The datastreams of the IBM i host servers that sign on, call a program and read a
// keyed data queue: one struct per request or reply, each with Encode() and a Decode()
// that refuses anything malformed (DatastreamError) without reading past its input.
// Text fields hold Latin-1; the codec converts them to and from CCSID 37, but for a
// host's messages and the names it reads, which are in the CCSID it says it uses.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Datastream.h"

namespace tavo::ibmi {

using Seed = std::array<std::uint8_t, 8>;

enum RequestId : std::uint16_t {
    kXchgSeeds = 0x7001,
    kXchgSeedsReply = 0xF001,
    kStartServer = 0x7002,
    kStartServerReply = 0xF002,
    kSignonXchgAttributes = 0x7003,
    kSignonXchgAttributesReply = 0xF003,
    kSignonInfo = 0x7004,
    kSignonInfoReply = 0xF004,
    kChangePassword = 0x7005,
    kChangePasswordReply = 0xF005,
    kSignonEnd = 0x7006,
    kRcXchgAttributes = 0x1001,
    kRcXchgAttributesReply = 0x8001,
    kRcCallProgram = 0x1003,
    kRcCallProgramReply = 0x8003,
    kRcCallProgramFailedReply = 0x9003,
    kRcEndJob = 0x1004,
    kDqXchgAttributes = 0x0000,
    kDqXchgAttributesReply = 0x8000,
    kDqQueryAttributes = 0x0001,
    kDqQueryAttributesReply = 0x8001,
    kDqRead = 0x0002,
    kDqCommonReply = 0x8002,
    kDqReadReply = 0x8003,
};

// Sign-on return codes a host reports (sign-on info and start-server replies).
enum SignonReturnCode : std::uint32_t {
    kSignonUserUnknown = 0x00020001,
    kSignonUserDisabled = 0x00020002,
    kSignonPasswordIncorrect = 0x0003000B,
    kSignonPasswordIncorrectLast = 0x0003000C,
    kSignonPasswordExpired = 0x0003000D,
    // Refusals of a change of password.
    kSignonChangeRequestNotValid = 0x0001000C,
    kSignonProtectedOldNotValid = 0x0001000D,
    kSignonProtectedNewNotValid = 0x0001000E,
    kSignonNewPasswordTooShort = 0x00030002,
    kSignonNewPasswordPreviouslyUsed = 0x00030006,
    kSignonNewPasswordCharacterNotValid = 0x00030008,
    kSignonGeneralError = 0x00040000,
    kSignonUserIdLengthNotValid = 0x00010007, // longer than a profile name can be
    // tavo400-hostd's own, past IBM's classes: IBM i disables a profile after too many
    // failures rather than lock it for a while, and neither delays nor refuses for load.
    // IBM's Toolbox reports these as an unknown security error.
    kSignonLockedOut = 0x00080001,
    kSignonDelay = 0x00080002,
    kSignonHostBusy = 0x00080003,
};

// ---- port mapper ------------------------------------------------------------------------
// The code points of the items the sign-on server's datastreams carry.
enum SignonCodePoint : std::uint16_t {
    kCpVersion = 0x1101, // the version, release and modification
    kCpDatastreamLevel = 0x1102,
    kCpSeed = 0x1103,
    kCpUserId = 0x1104,
    kCpPassword = 0x1105, // the password substitute
    kCpSignonDate = 0x1106,
    kCpLastSignonDate = 0x1107,
    kCpPasswordExpirationDate = 0x1108,
    kCpProtectedOldPassword = 0x110C,
    kCpProtectedNewPassword = 0x110D,
    kCpClientCcsid = 0x1113,
    kCpServerCcsid = 0x1114,
    kCpPasswordLevel = 0x1119,
    kCpOldPasswordLength = 0x111C,
    kCpNewPasswordLength = 0x111D,
    kCpPasswordCcsid = 0x111E,
    kCpJobName = 0x111F,
    kCpReturnMessages = 0x1128, // the client asks for messages with a refusal
    kCpMessageCount = 0x112A,
    kCpMessage = 0x112B,
    kCpPasswordExpiryWarning = 0x112C, // days
};

// Those of the data queue server's.
enum DataQueueCodePoint : std::uint16_t {
    kCpDqEntry = 0x5001,
    kCpDqKey = 0x5002,
    kCpDqMessage = 0x5003,
};

inline constexpr std::string_view kSignonService = "as-signon";
inline constexpr std::string_view kRemoteCommandService = "as-rmtcmd";
inline constexpr std::string_view kDataQueueService = "as-dtaq";
Bytes EncodePortMapperReply(std::uint16_t port);
// The port, or nullopt for a refusal; throws on anything but 5 bytes.
std::optional<std::uint16_t> DecodePortMapperReply(ByteView reply);

// ---- messages of a failed call or sign-on ----------------------------------------------
struct HostMessage {
    std::string id; // e.g. "CPF9811"
    int type = 15;  // 15 escape, 2 diagnostic, ...
    std::uint16_t severity = 40;
    std::string file = "QCPFMSG";
    std::string library = "QSYS";
    std::string text; // first-level text
    Bytes substitution;
    std::string help;

    // "CPF9811 Program TVOCUPD in library TAVO400 not found."
    std::string Display() const;
};
// 0x1102 fixed layout, 0x1106 length-prefixed fields, 0x1107 the full message description.
enum class MessageFormat : std::uint16_t { Fixed = 0x1102, Described = 0x1106, Full = 0x1107 };
// Texts in `ccsid`, unless the message names a CCSID of its own.
void EncodeMessage(Writer& out, const HostMessage& message, MessageFormat format,
                   std::uint32_t ccsid = 37);
HostMessage DecodeMessage(const Item& item, std::uint32_t ccsid = 37);
// The same, but a message that cannot be read whole is kept as far as it goes: the
// host's texts never fail the reply they came with.
HostMessage ReadMessage(const Item& item, std::uint32_t ccsid = 37);

// ---- sign-on server --------------------------------------------------------------------
struct SignonXchgAttributesRequest {
    std::uint16_t clientLevel = 10;
    Seed clientSeed{};
    Bytes Encode() const;
    static SignonXchgAttributesRequest Decode(ByteView data);
};

struct SignonXchgAttributesReply {
    std::uint32_t returnCode = 0;
    std::uint32_t vrm = 0x00070500;
    std::uint16_t serverLevel = 2;
    Seed serverSeed{};
    std::uint8_t passwordLevel = 0;
    std::string jobName;
    Bytes Encode() const;
    static SignonXchgAttributesReply Decode(ByteView data);
};

struct SignonInfoRequest {
    std::uint32_t correlation = 1;
    std::uint8_t authenticationType = 3;
    Bytes substitute;
    std::string user;
    bool returnMessages = false; // sent to servers of level 5 and up
    Bytes Encode() const;
    static SignonInfoRequest Decode(ByteView data);
};

// A date and time as the sign-on server gives it, in the host's local time.
struct HostDate {
    std::uint16_t year = 0;
    std::uint8_t month = 1; // 1-12
    std::uint8_t day = 1;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t second = 0;

    // The date of the host's clock, local (as an IBM i keeps it) or UTC.
    static HostDate At(std::int64_t secondsSince1970, bool local);
};

struct SignonInfoReply {
    std::uint32_t correlation = 1;
    std::uint32_t returnCode = 0;
    std::uint32_t serverCcsid = 37; // also the messages' CCSID where they name none
    std::vector<HostMessage> messages;
    // Read leniently: a date or count that is missing or cannot be a date is left empty.
    std::optional<HostDate> now = std::nullopt;                    // 0x1106, the current sign-on
    std::optional<HostDate> lastSignOn = std::nullopt;             // 0x1107
    std::optional<HostDate> passwordExpires = std::nullopt;        // 0x1108; none: never expires
    std::optional<std::uint32_t> expiryWarningDays = std::nullopt; // 0x112C, QPWDEXPWRN
    Bytes Encode() const;
    static SignonInfoReply Decode(ByteView data);
};

Bytes EncodeSignonEnd(std::uint32_t correlation);
// The sign-on server's message count (0x112A) and messages (0x112B), when there are any.
void EncodeSignonMessages(Writer& w, const std::vector<HostMessage>& messages,
                          std::uint32_t ccsid = 37);

// ---- starting a service connection ------------------------------------------------------
struct SeedsRequest {
    std::uint16_t serverId = kRemoteCommandServer;
    std::uint8_t clientAttributes = 3;
    Seed clientSeed{};
    Bytes Encode() const;
    static SeedsRequest Decode(ByteView data);
};

struct SeedsReply {
    std::uint16_t serverId = kRemoteCommandServer;
    std::uint32_t returnCode = 0;
    Seed serverSeed{};
    Bytes Encode() const;
    static SeedsReply Decode(ByteView data);
};

struct StartServerRequest {
    std::uint16_t serverId = kRemoteCommandServer;
    std::uint8_t authenticationType = 3;
    Bytes substitute;
    std::string user;
    Bytes Encode() const;
    static StartServerRequest Decode(ByteView data);
};

struct StartServerReply {
    std::uint16_t serverId = kRemoteCommandServer;
    std::uint32_t returnCode = 0;
    std::string user;
    std::string jobName; // "number/user/name"
    Bytes Encode() const;
    static StartServerReply Decode(ByteView data);
};

// ---- remote command server --------------------------------------------------------------
struct RcXchgAttributesRequest {
    std::uint32_t correlation = 1;
    std::uint32_t clientCcsid = 37;
    std::string nlv = "2924";
    Bytes Encode() const;
    static RcXchgAttributesRequest Decode(ByteView data);
};

// The 2-byte return code at offset 20 of a reply with ID `replyId`: read before anything
// else, since a refusal need not carry the rest.
std::uint16_t ReadReturnCode16(ByteView data, std::uint16_t replyId);

struct RcXchgAttributesReply {
    std::uint32_t correlation = 1;
    std::uint16_t returnCode = 0;
    std::uint32_t ccsid = 37;
    std::string nlv = "2924";
    std::uint16_t serverLevel = 2;
    Bytes Encode() const;
    static RcXchgAttributesReply Decode(ByteView data);
};

enum ParmUsage : std::uint16_t {
    kUsageInput = 11,
    kUsageOutput = 12,
    kUsageInOut = 13,
    kUsageInputRle = 21,
    kUsageOutputRleOk = 22,
    kUsageInOutRle = 23,
    kUsageInOutLevel5 = 33,
};

struct ProgramParm {
    std::uint32_t maxLength = 0;
    std::uint16_t usage = kUsageInput;
    Bytes data; // as on the wire: trailing zeros cut, or compressed (usage 21/22/23)
};

// A parameter as a client sends it for `direction` (1 input, 2 output, 3 in/out):
// trailing zeros cut, compressed when the area is over 1024 bytes and that pays.
ProgramParm MakeCallParm(int direction, ByteView area, std::uint16_t serverLevel);
// An output as a server returns it: compressed when the client allowed it and it pays.
ProgramParm MakeOutputParm(ByteView area, bool mayCompress);
// The whole area a parameter stands for: decompressed or zero-filled to `maxLength`.
Bytes ExpandParm(const ProgramParm& parm);
// The same into a caller's area whose length may differ from the host's: what fits is
// copied and the rest zero-filled, as IBM's clients do. Throws only for data that cannot
// be expanded at all.
void ExpandParmInto(const ProgramParm& parm, std::span<std::uint8_t> area);
// 1, 2 or 3 from a usage value; 0 for one this codec does not know.
int ParmDirection(std::uint16_t usage);

struct CallProgramRequest {
    std::uint32_t correlation = 2;
    std::string program;
    std::string library;
    std::uint8_t messageOption = 0;
    std::vector<ProgramParm> parms;
    Bytes Encode() const;
    // The names read in the job's CCSID.
    static CallProgramRequest Decode(ByteView data, std::uint32_t ccsid = 37);
};

struct CallProgramReply {
    std::uint32_t correlation = 2;
    std::uint16_t replyId = kRcCallProgramReply;
    std::uint16_t returnCode = 0;
    std::vector<ProgramParm> outputs;  // return code 0: one per output and in/out parameter
    std::vector<HostMessage> messages; // otherwise
    MessageFormat messageFormat = MessageFormat::Fixed;
    // The messages in the job's CCSID.
    Bytes Encode(std::uint32_t ccsid = 37) const;
    static CallProgramReply Decode(ByteView data, std::uint32_t ccsid = 37);
};

Bytes EncodeEndJob();

// ---- data queue server ------------------------------------------------------------------
struct DqXchgAttributesRequest {
    std::uint32_t correlation = 1;
    Bytes Encode() const;
    static DqXchgAttributesRequest Decode(ByteView data);
};

struct DqXchgAttributesReply {
    std::uint32_t correlation = 1;
    Bytes Encode() const;
    static DqXchgAttributesReply Decode(ByteView data);
};

struct DqQueryAttributesRequest {
    std::uint32_t correlation = 2;
    std::string queue;
    std::string library;
    Bytes Encode() const;
    static DqQueryAttributesRequest Decode(ByteView data, std::uint32_t ccsid = 37);
};

struct DqQueryAttributesReply {
    std::uint32_t correlation = 2;
    std::uint32_t maxEntryLength = 600;
    bool saveSender = false;
    std::uint8_t queueType = 2; // 0 FIFO, 1 LIFO, 2 keyed
    std::uint16_t keyLength = 0;
    bool forceToStorage = false;
    std::string description;
    Bytes Encode() const;
    static DqQueryAttributesReply Decode(ByteView data);
};

struct DqReadRequest {
    std::uint32_t correlation = 3;
    std::string queue;
    std::string library;
    bool keyed = true;
    std::string search = "EQ";
    std::int32_t wait = 0; // seconds; -1 for ever
    bool peek = false;
    Bytes key;
    Bytes Encode() const;
    static DqReadRequest Decode(ByteView data, std::uint32_t ccsid = 37);
};

struct DqReadReply {
    std::uint32_t correlation = 3;
    Bytes entry;
    Bytes key;
    Bytes Encode() const;
    static DqReadReply Decode(ByteView data);
};

enum DqReturnCode : std::uint16_t {
    kDqOk = 0xF000,
    kDqCommandCheck = 0xF001,
    kDqProtocolError = 0xF002,
    kDqNoEntry = 0xF006,
};

struct DqCommonReply {
    std::uint32_t correlation = 3;
    std::uint16_t returnCode = kDqNoEntry;
    std::string messageId; // with kDqCommandCheck: "CPF9801", ...
    std::string text;
    // The message in the host's CCSID.
    Bytes Encode(std::uint32_t ccsid = 37) const;
    static DqCommonReply Decode(ByteView data, std::uint32_t ccsid = 37);
};

} // namespace tavo::ibmi
