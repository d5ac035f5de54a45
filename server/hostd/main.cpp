// tavo400-hostd: the host stand-in as a network daemon, and its administration.
#include <CLI/CLI.hpp>

#include <iostream>

#include "AdminCommands.h"

int main(int argc, char** argv) {
    using namespace tavo::hostd;
    CLI::App app{"TAVO/400 host daemon: serves the host programs, the reply queue, the directory "
                 "and the outbox to TAVO/400 Express clients over TCP."};
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
                             "write the port there once listening (useful with port 0)");
    serveCommand
        ->add_option("--frame-timeout", serve.frameTimeoutSeconds,
                     "seconds a client has to complete its sign-on or a frame")
        ->capture_default_str()
        ->check(CLI::Range(1, 3600));
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

    bool json = false;
    auto* outbox = app.add_subcommand("outbox", "the accepted messages, newest first");
    dbOption(outbox);
    outbox->add_flag("--json", json, "JSON for scripts, with each raw record in hex");

    CLI11_PARSE(app, argc, argv);

    if (serveCommand->parsed()) {
        serve.db = db;
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
        return AddUser(db, userName, std::cin, std::cout, std::cerr);
    if (outbox->parsed())
        return ShowOutbox(db, json, std::cout, std::cerr);
    return 2;
}
