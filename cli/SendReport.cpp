#include "SendReport.h"

#include "CliText.h"
#include "Files.h"

namespace tavo::cli {

const char* const kHelpDescription =
    "Sends a notification to the TAVO/400 server on an AS/400 host as the TAVO/400 Express\n"
    "window's Send command does: the same host link, the same checks, byte for byte the\n"
    "same record. Or lists the host's recipients or groups.";

const char* const kHelpFooter =
    R"(The system is the one stored in ./dftsys.ini, else the default configured system,
as when the window starts. The delivery modes are those saved in ./dftsys.ini, else
all seven. Text is UTF-8; the host takes Latin-1 only, so each other character is sent
as "?" (said on standard error unless -q), as the window shows it.
The body comes from --body, --body-file, or standard input when that is not a terminal
(a final line break is not counted). Passwords are never given on the command line:
they come from the systems file (password, in a file readable by its owner only, or
password_command), else they are asked for when standard input and standard error are
a terminal, typed without echo (not with --no-prompt). --change-password asks at the
terminal for the current password and the new one twice, and changes it on the host;
the systems file is not rewritten.

Exit status:
  0  accepted by the host. Accepted is not delivered: the host delivers it later.
  1  refused by the host (the message, or a change of password); its error texts are on
     standard error, one per line.
  2  bad usage or input (a limit, a name, a file); nothing was sent.
  3  the host cannot be reached: no system, connect, sign-on or set-up failed, or the
     call itself failed; the texts are on standard error.
  4  sent, but the host's answer was lost: it may have accepted the message. Check
     the host before sending it again.
  130, 143  interrupted by Ctrl+C or SIGTERM before anything was sent (or in a list).

Examples:
  tavo400-send --to jsmith,mjones --subject "Disk full" --body "ASP 1 is at 95%"
  df -h / | tavo400-send --to ops --subject "Disk report" --modes pager,email
  tavo400-send --groups --to operators --body-file /var/log/backup.summary
  tavo400-send --to jsmith --body "test" --dry-run
  tavo400-send --list recipients --json
  tavo400-send --change-password --system prod)";

namespace {

// A box's text as lines: whichever of CR LF, LF CR, LF or CR ends a line.
std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
            if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') &&
                text[i + 1] != c)
                ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

} // namespace

std::vector<std::string> ModesOn(const DeliveryModeFlags& modes) {
    std::vector<std::string> on;
    for (const auto& mode : kModeNames)
        if (modes.*mode.flag == 1)
            on.emplace_back(mode.name);
    return on;
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : separator) + item;
    return text;
}

Reporter::Reporter(std::ostream& err, bool verbose)
    : err_(err), verbose_(verbose), previous_(&MessagePresenter()) {
    SetMessagePresenter(this);
}

Reporter::~Reporter() {
    SetMessagePresenter(previous_);
}

// What the window would show in a box may hold the host's words, so it is indented:
// only this program's own lines start at the margin, and a host cannot forge one.
void Reporter::ShowMessage(std::string_view latin1) {
    ++boxes_;
    for (auto& line : SplitLines(Latin1ToUtf8(latin1)))
        Emit(std::move(line), "  ");
}

void Reporter::ShowStatus(std::string_view latin1) {
    Error(Latin1ToUtf8(latin1));
}

void Reporter::Error(const std::string& utf8) {
    Emit(std::string(kProgram) + ": " + utf8, "");
}

void Reporter::Note(const std::string& utf8) {
    if (verbose_)
        err_ << kProgram << ": " << EscapeControls(utf8) << '\n';
}

// A terminal gets no control character a host or a file put there; the JSON result
// keeps the text as it came, its own escaping being enough.
void Reporter::Emit(std::string line, std::string_view indent) {
    err_ << indent << EscapeControls(line) << '\n';
    lines_.push_back(std::move(line));
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t most,
                                           std::string& why) {
    using tavo::platform::FileKind;
    auto start = tavo::platform::ReadFileStart(path, most);
    if (!start.error.empty()) {
        why = ": " + start.error;
        return std::nullopt;
    }
    if (!start.opened) {
        why = start.kind == FileKind::Directory ? " is a directory"
              : start.kind == FileKind::Fifo
                  ? " is a FIFO, not a regular file; give a pipe on standard input instead"
                  : " is a device or socket, not a regular file";
        return std::nullopt;
    }
    return std::move(start.bytes);
}

} // namespace tavo::cli
