// tavo400-hostd: the host stand-in as a network daemon, and its administration.
#include <CLI/CLI.hpp>

#include <charconv>
#include <iostream>
#include <tuple>
#include <utility>
#include <vector>

#include "AdminCommands.h"
#include "EbcdicCcsids.h"

int main(int argc, char** argv) {
    using namespace tavo::hostd;
    CLI::App app{"TAVO/400 host daemon: serves the host programs, the reply queue, the directory "
                 "and the outbox to TAVO/400 Express clients over TCP."};
    app.set_version_flag("--version", "tavo400-hostd " TAVO_VERSION);
    app.require_subcommand(1);
    std::string db;
    const auto dbOption = [&db](CLI::App* command) {
        command->add_option("--db", db, "the host database file")->required();
    };

    ServeOptions serve;
    auto* serveCommand = app.add_subcommand("serve", "serve the database until SIGTERM or SIGINT");
    dbOption(serveCommand);
    serveCommand->add_option("--listen", serve.listen, "address and port to listen on")
        ->capture_default_str();
    serveCommand->add_option("--port-file", serve.portFile,
                             "write the port there once listening (useful with port 0); with "
                             "--ibmi, the port mapper's port on a second line (0 without it); with "
                             "--listen-tls, the TLS port on a third");
    auto* ibmi = serveCommand->add_option(
        "--ibmi", serve.ibmi,
        "also serve the IBM i host servers, with the port mapper on [ADDRESS:]PORT (address "
        "127.0.0.1 unless given; port 0: the system picks one)");
    const auto ibmiPort = [&](const char* name, unsigned short& port, const char* service) {
        serveCommand
            ->add_option(name, port,
                         std::string("port of ") + service + " (0: the system picks one)")
            ->capture_default_str()
            ->needs(ibmi);
    };
    ibmiPort("--ibmi-signon-port", serve.ibmiSignonPort, "the sign-on server, as-signon");
    ibmiPort("--ibmi-rmtcmd-port", serve.ibmiRemoteCommandPort,
             "the remote command server, as-rmtcmd");
    ibmiPort("--ibmi-dtaq-port", serve.ibmiDataQueuePort, "the data queue server, as-dtaq");
    auto* tlsCert = serveCommand->add_option(
        "--tls-cert", serve.tlsCert,
        "PEM certificate (then its chain, if any) of every TLS listener of the daemon");
    auto* tlsKey = serveCommand->add_option("--tls-key", serve.tlsKey,
                                            "PEM private key of --tls-cert, without a pass phrase");
    tlsCert->needs(tlsKey);
    tlsKey->needs(tlsCert);
    serveCommand
        ->add_option("--listen-tls", serve.listenTls,
                     "also serve clients (tcps://) under TLS on this address and port")
        ->needs(tlsCert);
    serveCommand->add_flag("--insecure-plaintext", serve.insecurePlaintext,
                           "serve in plain text on an address other hosts can reach, passwords "
                           "readable by anyone on the network");
    auto* ibmiTls = serveCommand
                        ->add_flag("--ibmi-tls", serve.ibmiTls,
                                   "also serve the three host servers under TLS, which the "
                                   "port mapper gives out as as-signon-s, as-rmtcmd-s, as-dtaq-s")
                        ->needs(ibmi)
                        ->needs(tlsCert);
    const auto ibmiTlsPort = [&](const char* name, unsigned short& port, const char* service) {
        serveCommand
            ->add_option(name, port,
                         std::string("port of ") + service + " (0: the system picks one)")
            ->capture_default_str()
            ->needs(ibmiTls);
    };
    ibmiTlsPort("--ibmi-signon-tls-port", serve.ibmiSignonTlsPort,
                "the sign-on server under TLS, as-signon-s");
    ibmiTlsPort("--ibmi-rmtcmd-tls-port", serve.ibmiRemoteCommandTlsPort,
                "the remote command server under TLS, as-rmtcmd-s");
    ibmiTlsPort("--ibmi-dtaq-tls-port", serve.ibmiDataQueueTlsPort,
                "the data queue server under TLS, as-dtaq-s");
    serveCommand
        ->add_option("--password-level", serve.passwordLevel,
                     "the IBM i password level the sign-on server reports, as QPWDLVL does: "
                     "0-1 DES, 2-3 SHA-1, 4 PBKDF2")
        ->capture_default_str()
        ->check(CLI::Range(0, 4))
        ->needs(ibmi);
    const auto ccsids = tavo::text::EbcdicCodePage::Supported();
    serveCommand
        ->add_option("--ccsid", serve.ccsid,
                     "the host's CCSID, which the IBM i servers report and speak in their "
                     "messages and object names")
        ->capture_default_str()
        ->check(CLI::IsMember(std::vector<std::uint32_t>(ccsids.begin(), ccsids.end())))
        ->needs(ibmi);
    // Checked by hand, so that any other value is bad usage with its own message.
    std::string hostLevel = std::to_string(kNewestHostLevel);
    serveCommand
        ->add_option("--host-level", hostLevel,
                     "the datastream level the sign-on server reports, as an IBM i of that "
                     "generation does (2, 10 or 18); the remote command server's level and the "
                     "form of the host's messages go with it")
        ->capture_default_str()
        ->needs(ibmi);
    serveCommand
        ->add_option("--frame-timeout", serve.frameTimeoutSeconds,
                     "seconds a client has to complete its sign-on or a frame")
        ->capture_default_str()
        ->check(CLI::Range(1, 3600));
    serveCommand
        ->add_option("--max-sign-on-attempts", serve.maxSignOnAttempts,
                     "failed sign-ons in a row that lock a user out for 15 minutes")
        ->capture_default_str()
        ->check(CLI::Range(1, 100));
    serveCommand
        ->add_option("--max-user-connections", serve.maxUserConnections,
                     "connections signed on as one user from one address")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000));
    serveCommand
        ->add_option("--idle-timeout", serve.idleTimeoutSeconds,
                     "seconds a signed-on connection may wait between requests")
        ->capture_default_str()
        ->check(CLI::Range(1, 604800));
    serveCommand
        ->add_option("--max-connections", serve.maxConnections,
                     "connections served at once; more are closed at once")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000));
    serveCommand
        ->add_option("--queue-expiry", serve.queueExpirySeconds,
                     "seconds an unread list entry is kept")
        ->capture_default_str()
        ->check(CLI::Range(1, 86400));
    serveCommand
        ->add_option("--queue-memory", serve.queueMemoryMiB,
                     "MiB of unread entries kept in all, for every client together")
        ->capture_default_str()
        ->check(CLI::Range(1, 65536));
    serveCommand->add_option("--queue-cap", serve.queueCap, "unread entries kept under one key")
        ->capture_default_str()
        ->check(CLI::Range(1, 10000000));

    bool demo = false;
    auto* initCommand = app.add_subcommand("init", "create the host database");
    dbOption(initCommand);
    initCommand->add_flag("--demo", demo, "fill an empty directory with the demo recipients");

    auto* directory = app.add_subcommand("directory", "the recipients and groups");
    directory->require_subcommand(1);
    std::optional<std::string> recipientsCsv, groupsCsv;
    auto* import = directory->add_subcommand(
        "import", "replace recipients (NAME,DESCRIPTION) and/or groups "
                  "(NAME,DESCRIPTION,MEMBER MEMBER ...) from CSV files; all or nothing");
    dbOption(import);
    import->add_option("--recipients", recipientsCsv, "recipients CSV file");
    import->add_option("--groups", groupsCsv, "groups CSV file");
    auto* list = directory->add_subcommand("list", "show the recipients and groups");
    dbOption(list);

    auto* user = app.add_subcommand("user", "sign-on users");
    user->require_subcommand(1);
    std::string userName;
    auto* userAdd = user->add_subcommand("add", "add a user or change a password; the password "
                                                "is read from standard input");
    dbOption(userAdd);
    userAdd->add_option("NAME", userName, "user name")->required();
    std::optional<int> userLevel;
    userAdd
        ->add_option("--password-level", userLevel,
                     "the IBM i password level whose token to keep; default: the one the "
                     "daemon last served the database at, else 3")
        ->check(CLI::Range(0, 4));
    std::vector<std::pair<CLI::App*, UserChange>> userChanges;
    std::optional<unsigned> expireInDays;
    for (const auto& [name, change, help] :
         {std::tuple{"disable", UserChange::Disable, "refuse every sign-on of a user"},
          std::tuple{"enable", UserChange::Enable,
                     "let a disabled user sign on again, and lift its sign-on lock"},
          std::tuple{"unlock", UserChange::Unlock,
                     "lift the sign-on lock of a user on the daemon serving the database"},
          std::tuple{"expire", UserChange::Expire,
                     "mark a user's password expired until user add sets a new one"}}) {
        auto* command = user->add_subcommand(name, help);
        dbOption(command);
        command->add_option("NAME", userName, "user name")->required();
        if (change == UserChange::Expire)
            command->add_option("--in", expireInDays,
                                "the password expires this many days from now instead");
        userChanges.emplace_back(command, change);
    }

    bool json = false;
    auto* outbox = app.add_subcommand("outbox", "the accepted messages, newest first");
    dbOption(outbox);
    outbox->add_flag("--json", json, "JSON for scripts, with each raw record in hex");

    CLI11_PARSE(app, argc, argv);

    if (serveCommand->parsed()) {
        serve.db = db;
        const auto [end, error] =
            std::from_chars(hostLevel.data(), hostLevel.data() + hostLevel.size(), serve.hostLevel);
        if (error != std::errc() || end != hostLevel.data() + hostLevel.size() ||
            !IsHostLevel(serve.hostLevel)) {
            std::cerr << "tavo400-hostd serve: --host-level must be 2, 10 or 18, not \""
                      << hostLevel << "\"\n";
            return 2;
        }
        return Serve(serve, std::cerr);
    }
    if (initCommand->parsed())
        return InitDatabase(db, demo, std::cout, std::cerr);
    if (import->parsed()) {
        if (!recipientsCsv && !groupsCsv) {
            std::cerr << "tavo400-hostd directory import: give --recipients, --groups or both\n";
            return 2;
        }
        return ImportDirectory(db, recipientsCsv, groupsCsv, std::cout, std::cerr);
    }
    if (list->parsed())
        return ListDirectory(db, std::cout, std::cerr);
    if (userAdd->parsed())
        return AddUser(db, userName, std::cin, std::cout, std::cerr, userLevel);
    for (const auto& [command, change] : userChanges)
        if (command->parsed())
            return ChangeUser(db, userName, change, std::cout, std::cerr, expireInDays);
    if (outbox->parsed())
        return ShowOutbox(db, json, std::cout, std::cerr);
    return 2;
}
