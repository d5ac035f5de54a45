#include "ChangePassword.h"

#include <algorithm>
#include <ctime>

#include "Codec.h"
#include "CalendarTime.h"

namespace tavo::ibmi {

using namespace codec;

namespace {

constexpr std::uint8_t kDesAuthentication = 0x01;
// The masked passwords of the SHA-1 and PBKDF2 schemes are UTF-16.
constexpr std::uint32_t kProtectedCcsid = 13488;

const Item& Required(const std::vector<Item>& items, std::uint16_t cp, const char* what) {
    const Item* item = FindItem(items, cp);
    if (!item)
        throw DatastreamError(std::string("the change-password request carries no ") + what);
    return *item;
}

std::uint32_t LengthItem(const std::vector<Item>& items, std::uint16_t cp, const char* what) {
    const Item& item = Required(items, cp, what);
    if (item.data.size() != 4)
        throw DatastreamError(std::string("the change-password request's ") + what +
                              " is not 4 bytes");
    return Reader(item.data).U32();
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DayNumber(int year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

std::int64_t Seconds(const HostDate& d) {
    return DayNumber(d.year, d.month, d.day) * 86400 + d.hour * 3600 + d.minute * 60 + d.second;
}

} // namespace

Bytes ChangePasswordRequest::Encode() const {
    Writer w(Make(kSignonServer, kChangePassword, correlation, 1));
    w.U8(authenticationType);
    w.Item(kCpUserId, ObjectName(user));
    w.Item(kCpPassword, change.substitute);
    w.Item(kCpProtectedOldPassword, change.protectedOld);
    w.Item(kCpProtectedNewPassword, change.protectedNew);
    if (authenticationType != kDesAuthentication) {
        w.ItemU32(kCpOldPasswordLength, change.oldLength);
        w.ItemU32(kCpNewPasswordLength, change.newLength);
        w.ItemU32(kCpPasswordCcsid, kProtectedCcsid);
    }
    if (returnMessages)
        w.U32(7).U16(kCpReturnMessages).U8(1);
    return std::move(w).Finish();
}

ChangePasswordRequest ChangePasswordRequest::Decode(ByteView data) {
    const Header h = Expect(data, kChangePassword, 21);
    ChangePasswordRequest r;
    r.correlation = h.correlation;
    r.authenticationType = data[20];
    const auto items = ReadItems(data, 21);
    r.user = FromObjectName(Required(items, kCpUserId, "user").data);
    r.change.substitute = Copy(Required(items, kCpPassword, "password substitute").data);
    r.change.protectedOld = Copy(Required(items, kCpProtectedOldPassword, "old password").data);
    r.change.protectedNew = Copy(Required(items, kCpProtectedNewPassword, "new password").data);
    if (r.authenticationType != kDesAuthentication) {
        r.change.oldLength = LengthItem(items, kCpOldPasswordLength, "old password length");
        r.change.newLength = LengthItem(items, kCpNewPasswordLength, "new password length");
    }
    r.returnMessages = FindItem(items, kCpReturnMessages) != nullptr;
    return r;
}

Bytes ChangePasswordReply::Encode() const {
    Writer w(Make(kSignonServer, kChangePasswordReply, correlation, 0));
    w.U32(returnCode);
    EncodeSignonMessages(w, messages);
    return std::move(w).Finish();
}

ChangePasswordReply ChangePasswordReply::Decode(ByteView data) {
    const Header h = Expect(data, kChangePasswordReply, 24);
    ChangePasswordReply r;
    r.correlation = h.correlation;
    r.returnCode = Reader(data, 20).U32();
    for (const Item& item : ReadItems(data, 24))
        if (item.cp == kCpMessage)
            r.messages.push_back(ReadMessage(item));
    return r;
}

HostDate HostDate::At(std::int64_t secondsSince1970, bool local) {
    const auto t = static_cast<std::time_t>(secondsSince1970);
    const std::tm parts = local ? tavo::platform::LocalTime(t) : tavo::platform::UtcTime(t);
    return {static_cast<std::uint16_t>(parts.tm_year + 1900),
            static_cast<std::uint8_t>(parts.tm_mon + 1),
            static_cast<std::uint8_t>(parts.tm_mday),
            static_cast<std::uint8_t>(parts.tm_hour),
            static_cast<std::uint8_t>(parts.tm_min),
            static_cast<std::uint8_t>(parts.tm_sec)};
}

int DaysUntil(const HostDate& now, const HostDate& expires) {
    const std::int64_t seconds = Seconds(expires) - Seconds(now);
    // A day begun counts whole: "expires in 3 days" until the last 48 hours.
    const std::int64_t days = seconds > 0 ? (seconds + 86399) / 86400 : -1 - (-seconds / 86400);
    return static_cast<int>(std::clamp<std::int64_t>(days, -100000, 100000));
}

} // namespace tavo::ibmi
