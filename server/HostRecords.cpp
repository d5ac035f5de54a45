#include "HostRecords.h"
#include "Latin1Text.h"

#include <algorithm>
#include <ctime>
#include <set>
#include <stdexcept>

#include "Ccsid37.h"

namespace tavo::server::records {

namespace cp = tavo::codepage;

// ---------------------------------------------------------------------------------------------
// Text helpers. Strings on this side are Latin-1, one byte per character.

std::string_view TrimTrailing(std::string_view text) {
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

std::string_view Trim(std::string_view text) {
    text = TrimTrailing(text);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return text;
}

bool IsControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

std::string Padded(std::string_view text, std::size_t width) {
    std::string out(text.substr(0, width));
    out.resize(width, ' ');
    return out;
}

std::string Digits(std::size_t value) {
    std::string out = std::to_string(std::min(value, kMaxDigitValue));
    return std::string(kDigits - out.size(), '0') + out;
}

// The host reads numeric fields the way atol does: blanks, a sign, then digits.
long ParseNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 100000000; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

std::string Decode(std::span<const std::uint8_t> area, std::size_t offset, std::size_t length) {
    const auto part = area.subspan(offset, length);
    return cp::ToLatin1(std::string_view(reinterpret_cast<const char*>(part.data()), part.size()));
}

std::string Raw(std::span<const std::uint8_t> area, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(area.data()), length);
}

// ---------------------------------------------------------------------------------------------
// Directory checks

void CheckName(std::string_view what, std::string_view name) {
    const std::string label(what);
    if (name.empty())
        throw std::invalid_argument(label + " name is empty.");
    if (name.size() > kNameLength)
        throw std::invalid_argument(label + " name " + std::string(name) +
                                    " is longer than 10 characters.");
    // Names travel in blank-padded fields and are stored blank-separated in the outbox.
    if (std::any_of(name.begin(), name.end(), [](char c) { return c == ' ' || IsControl(c); }))
        throw std::invalid_argument(label + " name '" + std::string(name) +
                                    "' contains a blank or control character.");
    if (tavo::text::FoldName(name) != name)
        throw std::invalid_argument(label + " name " + std::string(name) + " is not upper case.");
}

void CheckDescription(std::string_view what, std::string_view name, std::string_view text) {
    const std::string label = std::string(what) + " " + std::string(name);
    if (text.size() > kDescriptionLength)
        throw std::invalid_argument("The description of " + label +
                                    " is longer than 50 characters.");
    if (std::any_of(text.begin(), text.end(), IsControl))
        throw std::invalid_argument("The description of " + label +
                                    " contains a control character.");
}

void CheckDirectory(const std::vector<Recipient>& recipients, const std::vector<Group>& groups) {
    std::set<std::string, std::less<>> known;
    for (const Recipient& r : recipients) {
        CheckName("Recipient", r.name);
        CheckDescription("recipient", r.name, r.description);
        if (!known.insert(r.name).second)
            throw std::invalid_argument("Recipient " + r.name + " is listed twice.");
    }
    std::set<std::string, std::less<>> groupNames;
    for (const Group& g : groups) {
        CheckName("Group", g.name);
        CheckDescription("group", g.name, g.description);
        if (!groupNames.insert(g.name).second)
            throw std::invalid_argument("Group " + g.name + " is listed twice.");
        std::set<std::string, std::less<>> members;
        for (const std::string& m : g.members) {
            if (!known.contains(m))
                throw std::invalid_argument("Group " + g.name + " names unknown recipient '" + m +
                                            "'.");
            if (!members.insert(m).second)
                throw std::invalid_argument("Group " + g.name + " lists " + m + " twice.");
        }
    }
}

std::vector<Recipient> DemoRecipients() {
    return {
        {"ADAMSK", "Karen Adams, help desk"},
        {"BROWNT", "Tom Brown, network administrator"},
        {"CHENL", "Li Chen, database administrator"},
        {"DAVISR", "Rachel Davis, operations manager"},
        {"GARCIAM", "Maria Garcia, payroll"},
        {"JONES", "Peter Jones, IT manager"},
        {"JSMITH", "John Smith, operations"},
        {"MJONES", "Mary Jones, network support"},
        {"OPS", "Operations on-call pager"},
        {"PRTROOM", "*NONE"},
        {"SMITH", "Anne Smith, systems programmer"},
        {"WILSONJ", "James Wilson, security officer"},
    };
}

std::vector<Group> DemoGroups() {
    return {
        {"MANAGERS", "Department managers", {"DAVISR", "JONES"}},
        {"NETWORK", "Network and communications team", {"BROWNT", "MJONES", "OPS"}},
        {"OPERATORS", "Computer operators, all shifts", {"ADAMSK", "JSMITH", "OPS", "SMITH"}},
    };
}

// ---------------------------------------------------------------------------------------------
// Program parameter lists

std::optional<std::string> CheckParms(std::string_view program, std::span<ProgramParameter> parms,
                                      std::span<const ParmSpec> specs) {
    const std::string name(program);
    if (parms.size() != specs.size())
        return "Program " + name + " expects " + std::to_string(specs.size()) +
               " parameters, not " + std::to_string(parms.size()) + ".";
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const std::string which = "Parameter " + std::to_string(i + 1) + " of program " + name;
        const ParmDirection d = parms[i].direction;
        if (d != ParmDirection::Input && d != ParmDirection::Output && d != ParmDirection::InOut)
            return which + " has an invalid direction.";
        if (parms[i].data.size() != specs[i].length)
            return which + " must be " + std::to_string(specs[i].length) + " bytes, not " +
                   std::to_string(parms[i].data.size()) + ".";
        if (specs[i].read && d == ParmDirection::Output)
            return which + " must be an input parameter.";
        if (specs[i].written && d == ParmDirection::Input)
            return which + " must be an output parameter.";
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Send record

SendRequest ParseSendRecord(std::span<const std::uint8_t> area) {
    SendRequest request;
    request.raw = Raw(area, kRecordLength);
    const std::string record = Decode(area, 0, kRecordLength);
    const std::string_view view(record);

    request.countText = std::string(Trim(view.substr(0, kCountLength)));
    request.count = ParseNumber(view.substr(0, kCountLength));
    for (std::size_t slot = 0; slot < kNameSlots; ++slot) {
        const auto name = Trim(view.substr(kNamesOffset + slot * kNameLength, kNameLength));
        if (!name.empty())
            request.names.emplace_back(name);
    }
    const auto text = TrimTrailing(view.substr(kTextOffset, kTextLength));
    if (const auto at = text.find("@@"); at != std::string_view::npos) {
        request.subject = std::string(text.substr(0, at));
        request.body = std::string(text.substr(at + 2));
    } else {
        request.body = std::string(text);
    }
    request.type = std::string(view.substr(kTypeOffset, kTypeLength));
    request.modes = std::string(view.substr(kModesOffset, kModeCount));
    return request;
}

std::vector<Status> CheckSendRequest(const SendRequest& request,
                                     const std::function<bool(const std::string&, bool)>& known) {
    std::vector<Status> errors;
    const auto refuse = [&errors](std::string id, std::string text) {
        errors.push_back(Status::Fail(Status::kFailed, std::move(text), {}, std::move(id)));
    };
    const bool groups = request.type == "*GRP";
    const bool typeKnown = groups || request.type == "*RCP";
    const char* noun = groups ? "group" : "recipient";

    if (request.names.empty())
        refuse("TVO0101", groups ? "No groups given." : "No recipients given.");
    if (request.count != static_cast<long>(request.names.size())) {
        const std::size_t n = request.names.size();
        const std::string count = request.countText.empty() ? "(blank)" : request.countText;
        refuse("TVO0102", "The count " + count + " does not agree with the " + std::to_string(n) +
                              (n == 1 ? " name" : " names") + " given.");
    }
    if (!typeKnown) {
        const auto type = Trim(request.type);
        refuse("TVO0103", type.empty()
                              ? "No entry type given; expected *RCP or *GRP."
                              : "Entry type " + std::string(type) + " is neither *RCP nor *GRP.");
    } else {
        for (const std::string& name : request.names) {
            if (!known(tavo::text::FoldName(name), groups))
                refuse("TVO0104", "Unknown " + std::string(noun) + " " + name + ".");
        }
    }
    if (std::any_of(request.modes.begin(), request.modes.end(),
                    [](char c) { return c != 'Y' && c != ' '; }))
        refuse("TVO0105", "Delivery mode flags must be Y or blank.");
    else if (request.modes.find('Y') == std::string::npos)
        refuse("TVO0106", "No delivery mode selected.");
    return errors;
}

void WriteSendReply(std::span<std::uint8_t> area, const std::vector<Status>& errors) {
    std::string entries;
    std::size_t written = 0;
    for (const Status& e : errors) {
        const std::string text = e.text.substr(0, kMaxDigitValue);
        std::string entry = Padded(e.id, kMessageIdLength) + Digits(text.size()) + text;
        if (1 + kDigits + entries.size() + entry.size() > area.size())
            break;
        entries += entry;
        ++written;
    }
    const std::string reply = errors.empty() ? "N" + Digits(0) : "Y" + Digits(written) + entries;
    std::fill(area.begin(), area.end(), cp::kEbcdicBlank);
    const std::string ebcdic = cp::ToEbcdic(reply);
    std::copy(ebcdic.begin(), ebcdic.end(), area.begin());
}

std::string ListEntry(char flag, std::string_view name, std::string_view description) {
    return cp::ToEbcdic(std::string(1, flag) + Padded(name, kNameLength) +
                        Padded(description, kDescriptionLength));
}

// Where a request's entries are filed: the owner and the key, one map key that no other
// pair of them can spell.
std::string FiledKey(std::string_view owner, std::string_view key) {
    return std::to_string(owner.size()) + ":" + std::string(owner) + std::string(key);
}

std::vector<std::string> SplitNames(std::string_view joined) {
    std::vector<std::string> names;
    while (!joined.empty()) {
        const auto blank = joined.find(' ');
        if (blank != 0)
            names.emplace_back(joined.substr(0, blank));
        if (blank == std::string_view::npos)
            break;
        joined.remove_prefix(blank + 1);
    }
    return names;
}

} // namespace tavo::server::records
