#include "CommandLine.h"

#include <set>
#include <sstream>

#include "CliText.h"
#include "SendReport.h"
#include "SendRules.h"

#ifndef TAVO_VERSION
#define TAVO_VERSION "unknown"
#endif

namespace tavo::cli {

void RefuseOptionsAsValues(const CLI::App& app, const std::vector<std::string>& args) {
    std::set<std::string, std::less<>> names, takingValues;
    for (const CLI::Option* option : app.get_options()) {
        for (const auto& name : option->get_lnames())
            (option->get_items_expected_min() > 0 ? takingValues : names).insert("--" + name);
        for (const auto& name : option->get_snames())
            (option->get_items_expected_min() > 0 ? takingValues : names).insert("-" + name);
    }
    names.insert(takingValues.begin(), takingValues.end());
    for (std::size_t i = 0; i + 1 < args.size() && args[i] != "--"; ++i)
        if (takingValues.contains(args[i]) && names.contains(args[i + 1]))
            throw CLI::ValidationError(args[i], "takes a value, and the next word is the option " +
                                                    args[i + 1] + "; write " + args[i] + "=" +
                                                    args[i + 1] + " if that is the value meant");
}

std::optional<ParsedSendCommand> ParseSendCommand(const std::vector<std::string>& args,
                                                  const CommandIo& io, int& exitCode) {
    CLI::App app{kHelpDescription, kProgram};
    app.footer(kHelpFooter);
    app.set_version_flag("--version", std::string(kProgram) + " " + TAVO_VERSION);
    app.get_formatter()->column_width(26);

    SendOptions options;
    app.add_option("--system", options.system, "the configured system to use")->type_name("NAME");
    auto* to = app.add_option("--to", options.to,
                              "recipient or group names; blanks, commas or semicolons "
                              "between them")
                   ->type_name("NAMES");
    auto* groups = app.add_flag("--groups", options.groups, "the names are group names");
    auto* subject = app.add_option("--subject", options.subject,
                                   "at most " + std::to_string(kSubjectLimit) + " characters")
                        ->type_name("TEXT");
    auto* body =
        app.add_option("--body", options.body,
                       "the message, at most " + std::to_string(kBodyLimit) + " characters")
            ->type_name("TEXT");
    auto* bodyFile = app.add_option("--body-file", options.bodyFile,
                                    "read the message from FILE; - is standard input")
                         ->type_name("FILE");
    auto* modes =
        app.add_option("--modes", options.modes, "pager,email,fax,netmsg,msgq,phone,spool")
            ->delimiter(',')
            ->type_name("LIST");
    auto* dryRun = app.add_flag("--dry-run", options.dryRun,
                                "show all up to the host call, the record in hex; send nothing");
    auto* list =
        app.add_option("--list", options.list, "print the host's list: name, tab, description")
            ->check(CLI::IsMember({"recipients", "groups"}).description(""))
            ->type_name("recipients|groups");
    app.add_option("--config", options.config, "use FILE as the systems file")
        ->check(CLI::Validator(CLI::ExistingFile).description(""))
        ->type_name("FILE");
    app.add_flag("--json", options.json, "the result as one JSON object on stdout");
    auto* quiet = app.add_flag("-q,--quiet", options.quiet, "print nothing on success");
    auto* verbose = app.add_flag("-v,--verbose", options.verbose,
                                 "say on stderr which system and modes are used");
    app.add_flag("--no-prompt", options.noPrompt,
                 "never ask for a password the systems file does not give; fail (exit 3)");
    app.add_flag("--accept-password-level", options.acceptPasswordLevel,
                 "take the password level the host announces now, even below the one it used "
                 "before, and remember it (for a host lowered on purpose)");
    auto* changePassword =
        app.add_flag("--change-password", options.changePassword,
                     "change the password on the system; asks at the terminal for the current "
                     "one and the new one twice");

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        RefuseOptionsAsValues(app, args);
        app.parse(reversed);
        if (quiet->count() > 0 && verbose->count() > 0)
            throw CLI::ValidationError("--quiet and --verbose", "give one of them, not both");
        if (changePassword->count() > 0) {
            for (const auto* option : {to, groups, subject, body, bodyFile, modes, dryRun, list})
                if (option->count() > 0)
                    throw CLI::ValidationError("--change-password",
                                               "changes a password only; it takes no " +
                                                   option->get_name());
        } else if (list->count() > 0) {
            for (const auto* option : {to, groups, subject, body, bodyFile, modes, dryRun})
                if (option->count() > 0)
                    throw CLI::ValidationError("--list", "lists only; it takes no " +
                                                             option->get_name() +
                                                             ", which is for sending");
        } else if (to->count() == 0) {
            throw CLI::RequiredError("--to NAMES (to send) or --list recipients|groups");
        }
    } catch (const CLI::Error& e) {
        std::ostringstream said; // it quotes the arguments, which may come from anywhere
        const int code = app.exit(e, io.out, said);
        std::istringstream lines(said.str());
        for (std::string line; std::getline(lines, line);)
            io.err << EscapeControls(line) << '\n';
        io.out.flush();
        exitCode = code == 0 ? kExitAccepted : kExitBadInput;
        return std::nullopt;
    }
    return ParsedSendCommand{std::move(options), body->count() > 0, bodyFile->count() > 0,
                             modes->count() > 0};
}

} // namespace tavo::cli
