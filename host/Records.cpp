#include "Records.h"
#include "Latin1Text.h"
#include "CalendarTime.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace records {

std::string FormatRequestStamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(when);
    const auto millis = duration_cast<milliseconds>(when - seconds).count();
    const std::time_t t = system_clock::to_time_t(seconds);
    const std::tm utc = tavo::platform::UtcTime(t);
    const int year = utc.tm_year + 1900;
    const char century = year < 2000 ? '0' : '1';
    const int yearInCentury = year < 2000 ? year - 1900 : year - 2000;
    // Only the first digit of the milliseconds survives: 57 ms and 570 ms both give 5.
    const int firstMilliDigit = static_cast<int>(std::to_string(millis).front() - '0');
    char text[64];
    std::snprintf(text, sizeof text, "%c%02d%02d%02d%02d%02d%02d%d", century, yearInCentury,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  firstMilliDigit);
    return std::string(text, kStampLength);
}

void BuildListRequest(std::string_view functionCode, std::string_view stamp, char* area) {
    std::memset(area, ' ', kListRequestLength);
    std::memcpy(area, functionCode.data(), std::min(functionCode.size(), kFunctionCodeLength));
    std::memcpy(area + kFunctionCodeLength, stamp.data(), std::min(stamp.size(), kStampLength));
}

long ParseNumber(const char* field, std::size_t width) {
    std::string copy(field, width);
    return std::strtol(copy.c_str(), nullptr, 10);
}

std::string MessageText(std::string_view subject, std::string_view body) {
    if (subject.empty())
        return std::string(body);
    std::string text(subject.substr(0, kSubjectMax));
    text += "@@";
    text += body;
    return text;
}

std::string RecordOverflowText() {
    return "The message does not fit the host's send record (at most " +
           std::to_string(kMaxEntries) + " names in " + std::to_string(kRecipientsLength) +
           " characters, and " + std::to_string(kTextLength) +
           " characters of subject and text). Nothing was sent.";
}

bool BuildSendRecord(int kind, int count, std::string_view recipients, std::string_view messageText,
                     const DeliveryModeFlags& modes, char* record) {
    if (count < 0 || count > kMaxEntries || recipients.size() > kRecipientsLength ||
        messageText.size() > kTextLength)
        return false;
    std::memset(record, ' ', kSendRecordLength);
    std::memcpy(record + kKindOffset, kind == 1 ? "*RCP" : "*GRP", 4);
    const int flags[] = {modes.Pager,          modes.Email,        modes.Fax,
                         modes.NetworkMessage, modes.MessageQueue, modes.Telephone,
                         modes.SpooledFile};
    for (std::size_t i = 0; i < std::size(flags); ++i)
        if (flags[i] == 1)
            record[kModesOffset + i] = 'Y';
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", count);
    std::memcpy(record, digits, 2);
    std::memcpy(record + kRecipientsOffset, recipients.data(), recipients.size());
    tavo::text::FoldName(record + kRecipientsOffset, kRecipientsLength);
    std::memcpy(record + kTextOffset, messageText.data(), messageText.size());
    return true;
}

ListEntryFields ReadListEntry(const char* converted) {
    ListEntryFields fields;
    fields.endOfList = converted[0] == kEndMarker;
    if (fields.endOfList)
        return fields;
    const std::string name(converted + 1, kNameLength);
    const std::string description(converted + 1 + kNameLength, kDescriptionLength);
    // The fields are read as C strings: a zero byte ends them early.
    fields.name = CleanField(name.c_str());
    fields.description = CleanField(description.c_str());
    return fields;
}

std::string CleanField(const char* text) {
    std::string field(text);
    const auto last = field.find_last_not_of(" \t\r\n\v\f");
    field.erase(last == std::string::npos ? 0 : last + 1);
    if (field.find('*') == std::string::npos)
        return field;
    if (field == "*NONE" || field == "*BLANK" || field == "*BLANKS" || field == "*")
        return {};
    return field;
}

ReplyTexts ReadReplyTexts(const unsigned char* area, std::size_t length,
                          const FromHostFn& fromHost) {
    ReplyTexts reply;
    if (length == 0)
        return reply;
    char first[11];
    fromHost(first, 10, reinterpret_cast<const char*>(area), 1);
    if (first[0] != 'Y')
        return reply;
    reply.reportsErrors = true;
    if (length < kFirstErrorOffset) {
        reply.cutShort = true;
        return reply;
    }
    char count[kErrorCountWidth + 1];
    fromHost(count, kErrorCountWidth, reinterpret_cast<const char*>(area + kErrorCountOffset),
             kErrorCountWidth);
    const long errors = ParseNumber(count, kErrorCountWidth);
    std::size_t position = kFirstErrorOffset;
    std::string header(kErrorHeaderLength + 1, '\0');
    for (long i = 0; i < errors; ++i) {
        if (position + kErrorHeaderLength > length) {
            reply.missing = errors - i;
            break;
        }
        fromHost(header.data(), kErrorHeaderLength, reinterpret_cast<const char*>(area + position),
                 kErrorHeaderLength);
        // A header with neither a message id nor a length is the unused rest of the area.
        if (std::all_of(header.begin(), header.begin() + kErrorHeaderLength,
                        [](char c) { return c == ' ' || c == '\0'; })) {
            reply.missing = errors - i;
            break;
        }
        const long claimed = ParseNumber(header.data() + kDataLengthOffset, kDataLengthWidth);
        position += kErrorHeaderLength;
        std::size_t textLength = claimed > 0 ? static_cast<std::size_t>(claimed) : 0;
        if (textLength > length - position) {
            textLength = length - position;
            reply.cutShort = true;
        }
        std::string text(textLength + 1, '\0');
        fromHost(text.data(), static_cast<unsigned long>(textLength),
                 reinterpret_cast<const char*>(area + position),
                 static_cast<unsigned long>(textLength));
        text.resize(std::strlen(text.c_str())); // shown as a C string, as the box shows it
        reply.texts.push_back(std::move(text));
        position += textLength;
        if (reply.cutShort)
            break;
    }
    return reply;
}

} // namespace records
