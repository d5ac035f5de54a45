#include "SendRules.h"

#include <cstdio>

#include "Resource.h"

namespace {

// NEL (0x85) is a line break too: left in, it would reach the host as its new-line code.
constexpr std::string_view kLineSeparators = "\a\b\f\v\t\n\r\x85";
constexpr std::string_view kAddressSeparators = " ,;\a\b\f\v\t\n\r\x85";
constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
constexpr std::string_view kSubjectEnd = "@@";

// As strtok splits a copy in the work area: runs of separators end a piece, empty
// pieces are skipped, and a NUL ends the text.
std::vector<std::string_view> Split(std::string_view text, std::string_view separators) {
    text = text.substr(0, text.find('\0'));
    std::vector<std::string_view> pieces;
    std::size_t pos = 0;
    while (pos < text.size()) {
        pos = text.find_first_not_of(separators, pos);
        if (pos == std::string_view::npos)
            break;
        auto end = text.find_first_of(separators, pos);
        if (end == std::string_view::npos)
            end = text.size();
        pieces.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return pieces;
}

std::string_view TrimRight(std::string_view text) {
    const auto last = text.find_last_not_of(kWhiteSpace);
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

} // namespace

std::vector<std::string> SplitAddresses(std::string_view toText) {
    std::vector<std::string> names;
    for (auto piece : Split(toText, kAddressSeparators))
        names.emplace_back(piece);
    return names;
}

std::string FormatAddressList(const std::vector<std::string>& names) {
    std::string list;
    for (const auto& name : names) {
        list += name;
        if (name.size() < kNameWidth)
            list.append(kNameWidth - name.size(), ' ');
    }
    return list;
}

std::string FlattenText(std::string_view text) {
    std::string flat;
    for (auto piece : Split(text, kLineSeparators)) {
        flat += piece;
        flat += ' ';
    }
    const auto first = flat.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos)
        return {};
    const auto last = flat.find_last_not_of(kWhiteSpace);
    return flat.substr(first, last - first + 1);
}

std::size_t FieldLength(std::string_view text) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            length += 2;
            ++i;
        } else {
            length += text[i] == '\n' || text[i] == '\r' || text[i] == '\x85' ? 2 : 1;
        }
    }
    return length;
}

std::string PasteRefusal(int controlId, std::size_t limit, std::size_t kept, std::size_t pasted) {
    const std::size_t room = kept < limit ? limit - kept : 0;
    if (pasted <= room)
        return {};
    // named as the window labels them, the body by what it is
    const char* field = controlId == IDC_TO        ? "To"
                        : controlId == IDC_SUBJECT ? "Subject"
                        : controlId == IDC_BODY    ? "the body"
                                                   : "the field";
    return "Not pasted: " + std::string(field) + " holds at most " + std::to_string(limit) +
           (limit == 1 ? " character." : " characters.");
}

std::string AdmitFieldText(std::string_view latin1, bool multiLine) {
    std::string admitted;
    bool inBreaks = false; // a single-line field's run of breaks is one blank
    for (std::size_t i = 0; i < latin1.size(); ++i) {
        const char c = latin1[i];
        if (c != '\r' && c != '\n') {
            admitted += c;
            inBreaks = false;
            continue;
        }
        if (c == '\r' && i + 1 < latin1.size() && latin1[i + 1] == '\n')
            ++i;
        if (multiLine)
            admitted += "\r\n";
        else if (!inBreaks)
            admitted += ' ';
        inBreaks = true;
    }
    return admitted;
}

int NextField(int controlId, bool backwards) {
    switch (controlId) {
    case IDC_TO:
        return backwards ? IDC_BODY : IDC_SUBJECT;
    case IDC_SUBJECT:
        return backwards ? IDC_TO : IDC_BODY;
    case IDC_BODY:
        return backwards ? IDC_SUBJECT : IDC_TO;
    default:
        return 0;
    }
}

std::string PickerListType(bool recipients) {
    return recipients ? "*RCPL     " : "*GRPL     ";
}

std::string AppendPickedNames(std::string_view toText, const std::vector<std::string>& picked) {
    std::string addition;
    for (std::size_t i = 0; i < picked.size(); ++i) {
        const auto name = TrimRight(picked[i]);
        if (name.empty())
            continue;
        if (i > 0)
            addition += "\r\n";
        addition += name;
    }
    const auto old = TrimRight(toText);
    if (old.empty())
        return addition;
    return std::string(old) + "\r\n" + addition;
}

PreparedSend PrepareSend(std::string_view to, std::string_view subject, std::string_view body,
                         bool recipients) {
    char text[256];
    if (to.size() >= kWorkArea) {
        std::snprintf(
            text, sizeof text,
            "The To: field holds %zu characters; at most %zu can be sent. Nothing was sent.",
            to.size(), kWorkArea - 1);
        return {std::nullopt, text};
    }
    const auto names = SplitAddresses(to);
    if (names.size() > static_cast<std::size_t>(kMaxNames)) {
        std::snprintf(text, sizeof text,
                      "The To: field names %zu recipients or groups; one message can go to at "
                      "most %d. Nothing was sent.",
                      names.size(), kMaxNames);
        return {std::nullopt, text};
    }
    for (const auto& name : names) {
        if (name.size() > kNameWidth) {
            std::snprintf(text, sizeof text,
                          "The name \"%.100s\" is longer than %zu characters, the most a recipient "
                          "or group name can have. Nothing was sent.",
                          name.c_str(), kNameWidth);
            return {std::nullopt, text};
        }
    }
    if (FieldLength(subject) > kSubjectLimit) {
        std::snprintf(text, sizeof text,
                      "The subject is %zu characters long; at most %zu fit. Nothing was sent.",
                      FieldLength(subject), kSubjectLimit);
        return {std::nullopt, text};
    }
    if (FieldLength(body) > kBodyLimit) {
        std::snprintf(text, sizeof text,
                      "The message text is %zu characters long (a line break counts as two); at "
                      "most %zu fit. Nothing was sent.",
                      FieldLength(body), kBodyLimit);
        return {std::nullopt, text};
    }
    Submission submission;
    submission.kind = recipients ? 1 : 0;
    submission.count = static_cast<int>(names.size());
    submission.addressList = FormatAddressList(names);
    submission.body = FlattenText(body);
    submission.subject = FlattenText(subject);
    // The host ends the subject at the first "@@" of the text it gets, so one in the
    // subject, or in a text sent without a subject, would give it another subject.
    if (submission.subject.find(kSubjectEnd) != std::string::npos)
        return {std::nullopt, "The subject contains \"@@\", which the host reads as the end "
                              "of the subject. Nothing was sent."};
    if (submission.subject.empty() && submission.body.find(kSubjectEnd) != std::string::npos)
        return {std::nullopt, "The message text contains \"@@\" and there is no subject: the "
                              "host would take the words before it as the subject. Give a "
                              "subject, or write the text without \"@@\". Nothing was sent."};
    return {submission, {}};
}
