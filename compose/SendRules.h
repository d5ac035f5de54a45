#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Operations.h"
#include "Records.h"

// How the Send command turns the typed fields into one submission. The window and the
// command-line sender both go through here, so a message is the same byte for byte
// whichever sent it. Texts are Latin-1; line breaks in field text are CR LF.

inline constexpr std::size_t kToLimit = 500; // typing limit of the To: field
inline constexpr std::size_t kSubjectLimit = 30;
inline constexpr std::size_t kBodyLimit = 967;
inline constexpr std::size_t kWorkArea = 2000; // what a field text is split in
inline constexpr std::size_t kNameWidth = 10;
inline constexpr int kMaxNames = 50;

// Within these limits a message always fits the host's record: "@@" joins the subject
// and the body there.
static_assert(kMaxNames == records::kMaxEntries &&
              kMaxNames * kNameWidth == records::kRecipientsLength);
static_assert(kSubjectLimit <= records::kSubjectMax &&
              kSubjectLimit + 2 + kBodyLimit == records::kTextLength);

// Names, in order, at runs of blank, comma, semicolon and the control characters
// BEL BS HT LF VT FF CR NEL.
std::vector<std::string> SplitAddresses(std::string_view toText);

// Each name left-justified in ten blanks ("%-10s"), joined with nothing between them.
std::string FormatAddressList(const std::vector<std::string>& names);

// Every run of line breaks (NEL among them), tabs and the other control separators
// becomes one blank; leading and trailing white space goes. Never makes a text longer.
std::string FlattenText(std::string_view text);

// The length a field counts: a line break is two characters (CR LF) however it is
// written.
std::size_t FieldLength(std::string_view text);

// A paste of `pasted` characters (as FieldLength counts) into the field `controlId`
// (IDC_TO, IDC_SUBJECT, IDC_BODY) that keeps `kept` of at most `limit`: empty when it
// fits, else the status-bar words that say why it is refused whole.
std::string PasteRefusal(int controlId, std::size_t limit, std::size_t kept, std::size_t pasted);

// What a field takes of typed or pasted text (Latin-1, as tavo::text::Utf8ToFieldText
// gives it): every line break (CR LF, CR, LF) as CR LF, or in a single-line field each
// run of them as one blank, so the field shows the lines as they will be sent.
std::string AdmitFieldText(std::string_view latin1, bool multiLine);

// The field Tab (or Shift+Tab, `backwards`) moves to from `controlId`: To: -> Subject: ->
// body -> To:. 0 for a control that is not one of the three.
int NextField(int controlId, bool backwards);

// The list the To button's picker asks the host for, by the Recipients/Groups choice.
std::string PickerListType(bool recipients);

// The To: text after the picker's OK: the old text without trailing white space, then
// the picked names one per line. An empty first name still starts a line.
std::string AppendPickedNames(std::string_view toText, const std::vector<std::string>& picked);

// What would be sent, or the one message that says why it cannot be: a name longer
// than ten characters, more than 50 names, a To: text beyond the work area, or a
// subject or body beyond its field. Nothing is ever cut to fit.
struct PreparedSend {
    std::optional<Submission> submission;
    std::string refusal;
};
PreparedSend PrepareSend(std::string_view to, std::string_view subject, std::string_view body,
                         bool recipients);
