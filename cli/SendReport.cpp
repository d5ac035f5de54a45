#include "SendReport.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CliText.h"

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

// What the public return codes of the Client Access layer mean, for the one message
// that carries nothing but a code.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t most,
                                           std::string& why) {
    const auto refuse = [&](mode_t mode) {
        why = S_ISDIR(mode)    ? " is a directory"
              : S_ISFIFO(mode) ? " is a FIFO, not a regular file; give a pipe on standard "
                                 "input instead"
                               : " is a device or socket, not a regular file";
        return std::nullopt;
    };
    const auto unreadable = [&](int error) {
        why = std::string(": ") + std::strerror(error);
        return std::nullopt;
    };
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return unreadable(errno);
    if (!S_ISREG(info.st_mode))
        return refuse(info.st_mode);
    // Not blocking, in case a FIFO took the file's place since the check.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return unreadable(errno);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno;
        ::close(fd);
        return S_ISREG(info.st_mode) ? unreadable(error) : refuse(info.st_mode);
    }
    std::string text(most, '\0');
    std::size_t got = 0;
    int error = 0;
    while (got < text.size()) {
        const auto n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (error)
        return unreadable(error);
    text.resize(got);
    return text;
}

} // namespace tavo::cli
