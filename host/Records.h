#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ProcessState.h"

// The fixed-width records exchanged with the host programs "TVOCGET" and "TVOCUPD"
// and the queue "#TVOCGET". Everything here works on workstation-code-page bytes;
// conversion to and from EBCDIC is the caller's.
namespace records {

inline constexpr std::size_t kFunctionCodeLength = 10;
inline constexpr std::size_t kStampLength = 14;
inline constexpr std::size_t kKeyLength = 24;
inline constexpr std::size_t kListRequestLength = 124;

inline constexpr std::size_t kReceiveAreaLength = 600;
inline constexpr std::size_t kListEntryLength = 61;
inline constexpr std::size_t kNameLength = 10;
inline constexpr std::size_t kDescriptionLength = 50;
inline constexpr char kEndMarker = 'X';

inline constexpr std::size_t kSendRecordLength = 1512;
inline constexpr std::size_t kRecipientsOffset = 2;
inline constexpr std::size_t kRecipientsLength = 500;
inline constexpr int kMaxEntries = 50;
inline constexpr std::size_t kTextOffset = 502;
inline constexpr std::size_t kTextLength = 999;
inline constexpr std::size_t kSubjectMax = 60;
inline constexpr std::size_t kKindOffset = 1501;
inline constexpr std::size_t kModesOffset = 1505;
inline constexpr std::size_t kSendAreaUsed = 2000; // the record and 488 blanks

inline constexpr std::size_t kParmAreaLength = 32000;
inline constexpr std::size_t kCodeParmLength = 10;
inline constexpr std::size_t kLongParmLength = 30;
inline constexpr std::size_t kErrorCountOffset = 1;
inline constexpr std::size_t kErrorCountWidth = 5;
inline constexpr std::size_t kFirstErrorOffset = 6;
inline constexpr std::size_t kErrorHeaderLength = 27;
inline constexpr std::size_t kDataLengthOffset = 22;
inline constexpr std::size_t kDataLengthWidth = 5;

// Century digit, year, month, day, hour, minute, second and the first digit of the
// milliseconds, all in UTC.
std::string FormatRequestStamp(std::chrono::system_clock::time_point when);

// Fills `area` (124 bytes) with blanks, the function code and the stamp. Codes longer
// than ten characters never come from the program; only ten are copied.
void BuildListRequest(std::string_view functionCode, std::string_view stamp, char* area);

// Reads a decimal field as atol does: leading white space, a sign, digits; else 0.
long ParseNumber(const char* field, std::size_t width);

// Subject (its first 60 characters), "@@" and body; the body alone for no subject.
std::string MessageText(std::string_view subject, std::string_view body);

// Fills the 1512-byte send record, or refuses with false, writing nothing, when the
// count is not 0 to 50, the names take more than their 500 bytes or the text more than
// its 999. What does not fit is never cut.
bool BuildSendRecord(int kind, int count, std::string_view recipients, std::string_view messageText,
                     const DeliveryModeFlags& modes, char* record);
std::string RecordOverflowText();

struct ListEntryFields {
    bool endOfList = false;
    std::string name;
    std::string description;
};
// Reads a converted list entry: its first 61 bytes.
ListEntryFields ReadListEntry(const char* converted);

// Trailing white space removed; the host's words for "nothing" become empty.
std::string CleanField(const char* text);

// The conversion a reader applies to each piece of a reply, with FromHost's contract:
// a target distinct from the source has room for a terminator after targetLength.
using FromHostFn = std::function<void(char* target, unsigned long targetLength, const char* source,
                                      unsigned long sourceLength)>;

struct ReplyTexts {
    bool reportsErrors = false; // first byte "Y"
    std::vector<std::string> texts;
    bool cutShort = false; // the lengths claimed more than the area holds
    // Entries the count claimed that the reply does not hold: the area ended, or what
    // follows the last entry is blank.
    long missing = 0;
};
// Reads the send program's reply piece by piece, never past `length` bytes.
ReplyTexts ReadReplyTexts(const unsigned char* area, std::size_t length,
                          const FromHostFn& fromHost);

} // namespace records
