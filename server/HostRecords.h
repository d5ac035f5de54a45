#pragma once

// What the host engine reads and writes in the programs' parameter areas: the list
// request and entries, the send record and its reply, and the checks on the directory.
// Strings on this side are Latin-1, one byte per character; areas are EBCDIC.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "HostEngine.h"

namespace tavo::server::records {

// List request and entry.
inline constexpr std::size_t kRequestLength = 124;
inline constexpr std::size_t kFunctionLength = 10;
inline constexpr std::size_t kKeyLength = HostEngine::kReplyQueueKeyLength;
inline constexpr std::size_t kNameLength = 10;
inline constexpr std::size_t kDescriptionLength = 50;
inline constexpr char kEndMarker = 'X';

// Send record and reply.
inline constexpr std::size_t kAreaLength = 32000;
inline constexpr std::size_t kRecordLength = 1512;
inline constexpr std::size_t kCountLength = 2;
inline constexpr std::size_t kNamesOffset = 2;
inline constexpr std::size_t kNameSlots = 50;
inline constexpr std::size_t kTextOffset = 502;
inline constexpr std::size_t kTextLength = 999;
inline constexpr std::size_t kTypeOffset = 1501;
inline constexpr std::size_t kTypeLength = 4;
inline constexpr std::size_t kModesOffset = 1505;
inline constexpr std::size_t kModeCount = 7;
inline constexpr std::size_t kMessageIdLength = 22;
inline constexpr std::size_t kDigits = 5;
inline constexpr std::size_t kMaxDigitValue = 99999;

struct ParmSpec {
    std::size_t length;
    bool read;
    bool written;
};

constexpr ParmSpec kListParms[] = {{kRequestLength, true, false}, {kAreaLength, false, false}};

struct SendRequest {
    std::string countText;
    long count = 0;
    std::vector<std::string> names;
    std::string subject;
    std::string body;
    std::string type;
    std::string modes;
    std::string raw;
};

constexpr ParmSpec kSendParms[] = {{10, true, false},          {10, true, false},
                                   {10, false, false},         {30, false, false},
                                   {kAreaLength, true, false}, {kAreaLength, false, true}};

std::string_view TrimTrailing(std::string_view text);

std::string_view Trim(std::string_view text);

bool IsControl(char c);

std::string Padded(std::string_view text, std::size_t width);

std::string Digits(std::size_t value);

// The host reads numeric fields the way atol does: blanks, a sign, then digits.
long ParseNumber(std::string_view text);

std::string Decode(std::span<const std::uint8_t> area, std::size_t offset, std::size_t length);

std::string Raw(std::span<const std::uint8_t> area, std::size_t length);

void CheckName(std::string_view what, std::string_view name);

void CheckDescription(std::string_view what, std::string_view name, std::string_view text);

void CheckDirectory(const std::vector<Recipient>& recipients, const std::vector<Group>& groups);

std::vector<Recipient> DemoRecipients();

std::vector<Group> DemoGroups();

// Why the parameter list does not match `specs`, or nothing when it does.
std::optional<std::string> CheckParms(std::string_view program, std::span<ProgramParameter> parms,
                                      std::span<const ParmSpec> specs);

SendRequest ParseSendRecord(std::span<const std::uint8_t> area);

// Why the send is refused, each with a host message id: the texts and ids are our own;
// the client shows the texts as they are. `known` answers whether a recipient (or, with
// true, a group) of that name exists.
std::vector<Status> CheckSendRequest(const SendRequest& request,
                                     const std::function<bool(const std::string&, bool)>& known);

void WriteSendReply(std::span<std::uint8_t> area, const std::vector<Status>& errors);

std::string ListEntry(char flag, std::string_view name, std::string_view description);

// Where a request's entries are filed: the owner and the key, one map key that no other
// pair of them can spell.
std::string FiledKey(std::string_view owner, std::string_view key);

std::vector<std::string> SplitNames(std::string_view joined);

} // namespace tavo::server::records
