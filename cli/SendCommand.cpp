#include "SendCommand.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <optional>
#include <ostream>
#include <sstream>

#include "CliText.h"
#include "CommandLine.h"
#include "Interrupt.h"
#include "MessagePresenter.h"
#include "Operations.h"
#include "PasswordChange.h"
#include "ProcessState.h"
#include "Records.h"
#include "Secrets.h"
#include "SendReport.h"
#include "SendRules.h"
#include "SettingsFile.h"
#include "Strings.h"
#include "SystemSelection.h"
#include "TerminalSignOn.h"
#include "UserFiles.h"
#include "cwbsignon.h"

namespace tavo::cli {
namespace {

// Far more than a message can hold, and little enough that a runaway pipe costs nothing.
constexpr std::size_t kMaxBodyInput = 64 * 1024;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

class Command {
  public:
    Command(const CommandIo& io, SendOptions options)
        : io_(io), options_(std::move(options)), reporter_(io.err, options_.verbose),
          signOn_(io.in, io.err, !options_.noPrompt && io.inIsTerminal && io.errIsTerminal) {}

    int Run(bool bodyGiven, bool bodyFileGiven, bool modesGiven) {
        if (!options_.config.empty())
            platform::SetEnvironment("TAVO400_SYSTEMS", options_.config);
        if (options_.changePassword)
            return ChangePasswordCommand();
        if (!options_.list.empty())
            return List();
        return Send(bodyGiven, bodyFileGiven, modesGiven);
    }

  private:
    int Finish(int code, const char* result) {
        if (options_.json) {
            json_.AddString("result", result);
            json_.Add("exitCode", std::to_string(code));
            json_.Add("messages", JsonArray(reporter_.Lines()));
            io_.out << json_.Text() << '\n';
        }
        io_.out.flush();
        return code;
    }
    int Unreachable() { return Finish(kExitUnreachable, "unreachable"); }

    // After Ctrl+C or SIGTERM, an operation that had not sent anything ends the run so.
    std::optional<int> Interrupted(const Outcome& outcome) {
        const int signal = InterruptingSignal();
        if (signal == 0 || outcome.result != Outcome::Result::NotDone)
            return std::nullopt;
        reporter_.Error("interrupted: nothing was sent");
        return Finish(kExitSignalBase + signal, "interrupted");
    }

    // What a failed operation shows: a prompt that was never allowed to ask cancelled
    // nothing, and is explained instead.
    void Show(Outcome outcome) {
        if (signOn_.Declined() && outcome.cause == Outcome::Cause::Cancelled)
            outcome.status.clear();
        ShowOutcome(outcome);
    }

    // Text the user gave, as the Latin-1 a field would hold: what Latin-1 cannot carry is
    // sent as "?", as the window shows it, and said unless -q.
    std::optional<std::string> FieldText(const std::string& utf8, const std::string& what) {
        std::string why;
        auto field = Utf8ToFieldText(utf8, why);
        if (!field) {
            reporter_.Error(what + " " + why + "; nothing was sent");
            return std::nullopt;
        }
        // The window's split stops at a NUL, which would cut the text silently.
        if (const auto nul = utf8.find('\0'); nul != std::string::npos) {
            const auto characters = std::count_if(
                utf8.begin(), utf8.begin() + static_cast<std::ptrdiff_t>(nul),
                [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
            reporter_.Error(what + " holds a NUL byte at character " +
                            std::to_string(characters + 1) + "; nothing was sent");
            return std::nullopt;
        }
        if (field->replaced > 0 && !options_.quiet) {
            const auto first =
                CodePointName(field->firstCode) + " at character " + std::to_string(field->firstAt);
            reporter_.Error(what + (field->replaced == 1
                                        ? " holds a character that Latin-1 cannot carry (" + first +
                                              "); it is sent as \"?\""
                                        : " holds " + std::to_string(field->replaced) +
                                              " characters that Latin-1 cannot carry (the first: " +
                                              first + "); each is sent as \"?\""));
        }
        return std::move(field->latin1);
    }

    // At most kMaxBodyInput bytes, or nullopt with the reason shown.
    std::optional<std::string> ReadBody(std::istream& in, const std::string& what) {
        std::string text(kMaxBodyInput + 1, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(in.gcount()));
        if (in.bad()) {
            reporter_.Error("cannot read " + what + "; nothing was sent");
            return std::nullopt;
        }
        return BodyText(std::move(text), what);
    }

    std::optional<std::string> ReadBodyFile(const std::string& path) {
        const std::string what = "--body-file " + path;
        std::string why;
        auto text = ReadRegularFile(path, kMaxBodyInput + 1, why);
        if (!text) {
            reporter_.Error((why.starts_with(":") ? "cannot read " : "") + what + why +
                            "; nothing was sent");
            return std::nullopt;
        }
        return BodyText(std::move(*text), what);
    }

    // Read bytes as the body: refused over the limit, the final line break dropped.
    std::optional<std::string> BodyText(std::string text, const std::string& what) {
        if (text.size() > kMaxBodyInput) {
            reporter_.Error(what + " holds more than " + std::to_string(kMaxBodyInput) +
                            " bytes; a message body takes at most " + std::to_string(kBodyLimit) +
                            " characters. Nothing was sent");
            return std::nullopt;
        }
        // A file or pipe ends with a line break that nobody typed as part of the text.
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
            if (!text.empty() && text.back() == '\r')
                text.pop_back();
        }
        return text;
    }

    // The body as given, in UTF-8; nullopt when it cannot be had.
    std::optional<std::string> BodyInput(bool bodyGiven, bool bodyFileGiven) {
        if (bodyGiven && bodyFileGiven) {
            reporter_.Error("the body is given twice (--body and --body-file); give it once. "
                            "Nothing was sent");
            return std::nullopt;
        }
        if (bodyGiven)
            return options_.body;
        if (bodyFileGiven) {
            if (options_.bodyFile == "-")
                return ReadBody(io_.in, "standard input");
            return ReadBodyFile(options_.bodyFile);
        }
        if (!io_.inIsTerminal)
            return ReadBody(io_.in, "standard input");
        return std::string();
    }

    // The seven flags --modes asks for, or nullopt with the reason shown.
    std::optional<DeliveryModeFlags> ParseModes() {
        DeliveryModeFlags flags;
        for (const auto& mode : kModeNames)
            flags.*mode.flag = 0;
        bool any = false;
        for (const auto& given : options_.modes) {
            const auto name = Lower(given);
            if (name.empty())
                continue;
            const auto* known =
                std::find_if(std::begin(kModeNames), std::end(kModeNames),
                             [&](const ModeName& mode) { return name == mode.name; });
            if (known == std::end(kModeNames)) {
                reporter_.Error("unknown delivery mode \"" + given +
                                "\"; the modes are pager, email, fax, netmsg, msgq, phone and "
                                "spool. Nothing was sent");
                return std::nullopt;
            }
            flags.*known->flag = 1;
            any = true;
        }
        if (!any) {
            // The Delivery modes dialog refuses an empty choice with these words.
            ShowMessageBox(LoadString(IDS_SELECT_DELIVERY_MODE));
            return std::nullopt;
        }
        return flags;
    }

    // CurrentSystem as the window would start with it, or the one named by --system.
    // False when the named one is not configured, or when the systems file cannot be used:
    // the layer's own text, shown then, says what is wrong with the file and where.
    bool ChooseSystem() {
        const std::string stored = LoadStartupSettings(); // restores saved delivery modes
        if (options_.system.empty()) {
            if (ChooseStartupSystem() == CWB_CONFIG_ERROR)
                return false;
            if (!CurrentSystem.empty())
                reporter_.Note("system " + Latin1ToUtf8(CurrentSystem) +
                               (CurrentSystem == stored ? " (stored in ./dftsys.ini)"
                                                        : " (the default configured system)"));
            return true;
        }
        const auto systems = ConfiguredSystems();
        if (!systems)
            return false;
        const auto wanted = Lower(options_.system);
        for (const auto& name : *systems) {
            if (Lower(Latin1ToUtf8(name)) == wanted) {
                CurrentSystem = name;
                reporter_.Note("system " + Latin1ToUtf8(name) + " (--system)");
                return true;
            }
        }
        std::string known;
        for (const auto& name : *systems)
            known += (known.empty() ? "" : ", ") + Latin1ToUtf8(name);
        reporter_.Error("no system named \"" + options_.system + "\" is configured" +
                        (known.empty() ? std::string() : " (configured: " + known + ")") +
                        "; nothing was sent");
        return false;
    }

    // --accept-password-level: the level the chosen system's host announces in this run is
    // taken, and kept in place of the one it used before.
    bool AcceptPasswordLevel() {
        if (!options_.acceptPasswordLevel || CurrentSystem.empty())
            return true;
        const unsigned rc = cwbCO_AcceptPasswordLevel(CurrentSystem.c_str());
        if (rc == CWB_OK)
            return true;
        reporter_.Error("the password level of " + Latin1ToUtf8(CurrentSystem) +
                        " cannot be accepted (return code " + std::to_string(rc) +
                        "); nothing was sent");
        return false;
    }

    // A password about to expire is one line after the run's work, unless -q.
    void WarnOfExpiry() {
        long days = -1;
        if (options_.quiet || CurrentSystem.empty() ||
            cwbCO_GetPasswordExpiry(CurrentSystem.c_str(), &days) != CWB_OK || days < 0)
            return;
        const auto system = Latin1ToUtf8(CurrentSystem);
        reporter_.Error("the password on " + system + " expires in " + std::to_string(days) +
                        (days == 1 ? " day" : " days") +
                        "; change it with: tavo400-send --change-password --system " + system);
    }

    int ChangePasswordCommand() {
        json_.AddString("command", "change-password");
        if (!io_.inIsTerminal || !io_.errIsTerminal) {
            reporter_.Error("--change-password asks for the passwords at a terminal, and "
                            "standard input or standard error is none; nothing was changed");
            return Finish(kExitBadInput, "invalid");
        }
        if (!ChooseSystem() || !AcceptPasswordLevel())
            return Unreachable();
        if (CurrentSystem.empty()) {
            ShowMessageBox(LoadString(IDS_SELECT_HOST));
            return Unreachable();
        }
        json_.AddString("system", Latin1ToUtf8(CurrentSystem));
        PasswordChangeForm form;
        form.system = CurrentSystem;
        form.user = SignOnUser(CurrentSystem);
        const bool asked = signOn_.AskPasswordChange(CurrentSystem, form);
        const auto result = asked ? ChangePassword(form) : PasswordChangeResult{};
        for (auto* secret : {&form.oldPassword, &form.newPassword, &form.confirmation})
            tavo::platform::WipeSecret(*secret);
        if (!asked) {
            reporter_.Error("no answer at the terminal; nothing was changed");
            return Finish(kExitBadInput, "invalid");
        }
        using Kind = PasswordChangeResult::Kind;
        if (result.kind == Kind::Changed) {
            if (!options_.quiet && !options_.json)
                io_.out << Latin1ToUtf8(result.text) << '\n';
            return Finish(kExitAccepted, "changed");
        }
        reporter_.Error(EscapeControls(Latin1ToUtf8(result.text)));
        if (result.kind == Kind::Invalid)
            return Finish(kExitBadInput, "invalid");
        if (result.kind == Kind::Refused)
            return Finish(kExitRefused, "refused");
        return Unreachable();
    }

    // The window's message for a failed connect carries only its return code; say what
    // the code means.
    void ExplainConnectFailure(const Outcome& outcome) {
        if (signOn_.Declined()) {
            reporter_.Error("no password for " + Latin1ToUtf8(CurrentSystem) +
                            ": give its section in the systems file a password or a "
                            "password_command, or run at a terminal without --no-prompt to "
                            "be asked for it");
            return;
        }
        if (outcome.cause != Outcome::Cause::Connection)
            return;
        if (const char* meaning = ReturnCodeMeaning(outcome.returnCode))
            reporter_.Error("return code " + std::to_string(outcome.returnCode) + ": " + meaning);
        if (CallsForPasswordChange(static_cast<unsigned>(outcome.returnCode)))
            reporter_.Error("to change it now, run: tavo400-send --change-password --system " +
                            Latin1ToUtf8(CurrentSystem));
    }

    // What goes to the host, for the JSON result: the names as the host receives them.
    void DescribeSubmission(const Submission& message) {
        std::vector<std::string> sentNames;
        std::string upper = message.addressList;
        tavo::text::FoldName(upper.data(), upper.size());
        for (std::size_t i = 0; i + kNameWidth <= upper.size(); i += kNameWidth) {
            auto name = upper.substr(i, kNameWidth);
            name.erase(name.find_last_not_of(' ') + 1);
            sentNames.push_back(Latin1ToUtf8(name));
        }
        json_.AddString("system", Latin1ToUtf8(CurrentSystem));
        json_.AddString("kind", message.kind == 1 ? "recipients" : "groups");
        json_.Add("names", JsonArray(sentNames));
        json_.AddString("subject", Latin1ToUtf8(message.subject));
        json_.AddString("body", Latin1ToUtf8(message.body));
        json_.Add("modes", JsonArray(ModesOn(DeliveryModes)));
    }

    int DryRun(const Submission& message) {
        const auto record = RecordOf(message);
        if (!record) {
            reporter_.Error("cannot convert the record to EBCDIC (code page 37)");
            return Unreachable();
        }
        std::vector<std::string> slots;
        for (std::size_t i = 0; i < message.addressList.size(); i += kNameWidth)
            slots.push_back(Latin1ToUtf8(message.addressList.substr(i, kNameWidth)));
        if (options_.json) {
            json_.Add("slots", JsonArray(slots));
            json_.AddString("messageText",
                            Latin1ToUtf8(records::MessageText(message.subject, message.body)));
            json_.AddString("record", Latin1ToUtf8(record->text));
            json_.AddString("rawRecord", Hex(record->wire));
        } else {
            auto& out = io_.out;
            const auto modes = ModesOn(DeliveryModes);
            out << "system    " << (CurrentSystem.empty() ? "(none)" : Latin1ToUtf8(CurrentSystem))
                << '\n'
                << "kind      " << (message.kind == 1 ? "recipients (*RCP)" : "groups (*GRP)")
                << '\n'
                << "names     " << message.count << ':';
            for (const auto& slot : slots)
                out << " [" << EscapeControls(slot) << ']';
            out << '\n'
                << "subject   " << EscapeControls(Latin1ToUtf8(message.subject)) << '\n'
                << "body      " << EscapeControls(Latin1ToUtf8(message.body)) << '\n'
                << "modes     " << (modes.empty() ? "(none)" : Joined(modes, " ")) << '\n'
                << "record    " << record->text.size()
                << " bytes in EBCDIC as sent (offsets in decimal), beside the text before "
                   "conversion:\n"
                << HexDump(record->wire, record->text);
        }
        if (CurrentSystem.empty()) {
            ShowMessageBox(LoadString(IDS_SELECT_HOST)); // what the link would say
            return Unreachable();
        }
        reporter_.Note("dry run: nothing was sent");
        return Finish(kExitAccepted, "dry-run");
    }

    int Send(bool bodyGiven, bool bodyFileGiven, bool modesGiven) {
        json_.AddString("command", "send");
        const auto bodyUtf8 = BodyInput(bodyGiven, bodyFileGiven);
        if (!bodyUtf8)
            return Finish(kExitBadInput, "invalid");
        std::string toUtf8;
        for (const auto& names : options_.to)
            toUtf8 += (toUtf8.empty() ? "" : " ") + names;
        const auto to = FieldText(toUtf8, "--to");
        const auto subject = to ? FieldText(options_.subject, "--subject") : std::nullopt;
        const auto body = subject ? FieldText(*bodyUtf8, "the body") : std::nullopt;
        if (!body)
            return Finish(kExitBadInput, "invalid");

        // The window's own checks, before anything is asked of the host.
        const auto prepared = PrepareSend(*to, *subject, *body, !options_.groups);
        if (!prepared.submission) {
            ShowMessageBox(prepared.refusal);
            return Finish(kExitBadInput, "invalid");
        }
        std::optional<DeliveryModeFlags> asked;
        if (modesGiven && !(asked = ParseModes()))
            return Finish(kExitBadInput, "invalid");

        if (!ChooseSystem() || !AcceptPasswordLevel())
            return Unreachable();
        if (asked) {
            for (const auto& mode : kModeNames)
                DeliveryModes.*mode.flag = (*asked).*mode.flag;
            reporter_.Note("delivery modes " + Joined(ModesOn(DeliveryModes), " ") + " (--modes)");
        } else {
            reporter_.Note("delivery modes " + Joined(ModesOn(DeliveryModes), " ") +
                           (DeliveryModes.SaveSettings == 1 ? " (saved in ./dftsys.ini)"
                                                            : " (all seven: none saved)"));
        }

        const auto& message = *prepared.submission;
        DescribeSubmission(message);
        if (options_.dryRun)
            return DryRun(message);

        reporter_.Note("sending to " + Latin1ToUtf8(CurrentSystem));
        const auto outcome = Submit(message);
        if (auto interrupted = Interrupted(outcome))
            return *interrupted;
        Show(outcome);
        WarnOfExpiry();
        switch (outcome.result) {
        case Outcome::Result::Done:
            if (!options_.quiet && !options_.json)
                io_.out << "Accepted by " << Latin1ToUtf8(CurrentSystem) << " for " << message.count
                        << (message.kind == 1 ? " recipient" : " group")
                        << (message.count == 1 ? "" : "s") << " by "
                        << Joined(ModesOn(DeliveryModes), ", ")
                        << ". Accepted is not yet delivered: the host delivers it.\n";
            return Finish(kExitAccepted, "accepted");
        case Outcome::Result::Refused:
            if (outcome.texts.empty() || outcome.texts.front().empty())
                reporter_.Error("the host refused the message without giving a reason");
            return Finish(kExitRefused, "refused");
        case Outcome::Result::Unknown:
            reporter_.Error("the message was sent, but the host's answer was lost: it may have "
                            "been accepted. Check the host before sending it again.");
            return Finish(kExitUnknown, "unknown");
        case Outcome::Result::NotDone:
            break;
        }
        if (outcome.cause == Outcome::Cause::Input)
            return Finish(kExitBadInput, "invalid");
        ExplainConnectFailure(outcome);
        if (outcome.texts.empty() && outcome.status.empty())
            reporter_.Error("the call of the host program failed");
        return Unreachable();
    }

    int List() {
        json_.AddString("command", "list");
        json_.AddString("list", options_.list);
        if (!ChooseSystem() || !AcceptPasswordLevel())
            return Unreachable();
        json_.AddString("system", Latin1ToUtf8(CurrentSystem));
        reporter_.Note("fetching the " + options_.list + " of " + Latin1ToUtf8(CurrentSystem));
        const auto list =
            FetchList(options_.list == "groups" ? ListKind::Groups : ListKind::Recipients);
        Outcome outcome = list.outcome;
        if (InterruptingSignal() != 0)
            outcome.result = Outcome::Result::NotDone; // a list cut short is no list
        if (auto interrupted = Interrupted(outcome))
            return *interrupted;
        Show(outcome);
        WarnOfExpiry();
        // As in the picker, a list that broke off shows nothing.
        if (!outcome.Done()) {
            ExplainConnectFailure(outcome);
            if (outcome.texts.empty() && outcome.status.empty())
                reporter_.Error("the " + options_.list + " list could not be fetched");
            return Unreachable();
        }
        std::string array = "[";
        // One write for the whole list: Windows does not buffer writes to a console or NUL.
        std::string lines;
        for (const auto& entry : list.entries) {
            const auto name = Latin1ToUtf8(entry.name);
            const auto description = Latin1ToUtf8(entry.description);
            if (options_.json) {
                JsonObject item;
                item.AddString("name", name);
                item.AddString("description", description);
                array += (array.size() > 1 ? ", " : "") + item.Text();
            } else {
                lines += EscapeControls(name) + '\t' + EscapeControls(description) + '\n';
            }
        }
        io_.out << lines;
        json_.Add("entries", array + "]");
        return Finish(kExitAccepted, "listed");
    }

    const CommandIo& io_;
    SendOptions options_;
    Reporter reporter_;
    TerminalSignOn signOn_;
    JsonObject json_;
};

} // namespace

int RunSendCommand(const std::vector<std::string>& args, const CommandIo& io) {
    int exitCode = kExitAccepted;
    auto parsed = ParseSendCommand(args, io, exitCode);
    if (!parsed)
        return exitCode;
    Command command(io, std::move(parsed->options));
    return command.Run(parsed->bodyGiven, parsed->bodyFileGiven, parsed->modesGiven);
}

} // namespace tavo::cli
