#include "AdminCommands.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

#include "Daemon.h"
#include "DirectoryImport.h"
#include "HostEngine.h"
#include "Latin1Text.h"
#include "Log.h"
#include "Passwords.h"

namespace tavo::hostd {
namespace {

using text::Hex;
using text::Latin1ToUtf8;

constexpr std::size_t kMaxCsvSize = 64u << 20;

// Opens an existing database; the administration commands never create one by a typo.
std::unique_ptr<server::HostEngine> Open(const std::string& db) {
    if (!std::filesystem::exists(db))
        throw std::runtime_error("no host database at " + db +
                                 "; create it with: tavo400-hostd init --db " + db);
    return std::make_unique<server::HostEngine>(db);
}

std::string ReadFile(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        throw std::runtime_error("cannot read " + path + ": " + ec.message());
    if (size > kMaxCsvSize)
        throw std::runtime_error(path + " is larger than 64 MiB");
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return text.str();
}

// JSON of the host's Latin-1 text.
std::string JsonString(std::string_view latin1) {
    return text::JsonString(text::Latin1ToUtf8(latin1));
}

// Reads one line without echoing it when the input is a terminal.
std::string ReadPassword(std::istream& in, bool fromTerminal) {
    termios saved{};
    const bool quiet = fromTerminal && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    std::string line;
    std::getline(in, line);
    if (quiet) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << '\n';
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

int InitDatabase(const std::string& db, bool demo, std::ostream& out, std::ostream& err) {
    try {
        const bool existed = std::filesystem::exists(db);
        server::HostEngine engine(db);
        if (demo)
            engine.SeedDemoDirectory();
        out << (existed ? "Host database " : "Created host database ") << db
            << (existed ? " is ready" : "") << (demo ? " (demo directory)" : "") << ".\n";
        return 0;
    } catch (const std::exception& e) {
        err << "tavo400-hostd init: " << e.what() << '\n';
        return 1;
    }
}

int ImportDirectory(const std::string& db, const std::optional<std::string>& recipientsCsv,
                    const std::optional<std::string>& groupsCsv, std::ostream& out,
                    std::ostream& err) {
    try {
        auto engine = Open(db);
        DirectoryImport import;
        if (recipientsCsv)
            import.ReadRecipients(*recipientsCsv, ReadFile(*recipientsCsv));
        else
            import.recipients = engine->Recipients();
        if (groupsCsv)
            import.ReadGroups(*groupsCsv, ReadFile(*groupsCsv));
        else
            import.groups = engine->Groups();
        if (!import.errors.empty()) {
            for (const auto& e : import.errors)
                err << e << '\n';
            err << "Nothing was imported (" << import.errors.size()
                << (import.errors.size() == 1 ? " error" : " errors") << ").\n";
            return 1;
        }
        engine->ReplaceDirectory(import.recipients, import.groups);
        out << "Imported " << import.recipients.size() << " recipients and " << import.groups.size()
            << " groups.\n";
        return 0;
    } catch (const std::invalid_argument& e) {
        err << "Nothing was imported: " << Latin1ToUtf8(e.what()) << '\n';
        return 1;
    } catch (const std::exception& e) {
        err << "tavo400-hostd directory import: " << e.what() << '\n';
        return 1;
    }
}

int ListDirectory(const std::string& db, std::ostream& out, std::ostream& err) {
    try {
        auto engine = Open(db);
        const auto recipients = engine->Recipients();
        const auto groups = engine->Groups();
        out << "Recipients (" << recipients.size() << "):\n";
        for (const auto& r : recipients) {
            std::string name = r.name;
            name.resize(10, ' ');
            out << "  " << Latin1ToUtf8(name) << "  " << Latin1ToUtf8(r.description) << '\n';
        }
        out << "Groups (" << groups.size() << "):\n";
        for (const auto& g : groups) {
            std::string name = g.name;
            name.resize(10, ' ');
            std::string members;
            for (const auto& m : g.members)
                members += (members.empty() ? "" : " ") + m;
            out << "  " << Latin1ToUtf8(name) << "  " << Latin1ToUtf8(g.description) << "\n"
                << "              members: " << Latin1ToUtf8(members) << '\n';
        }
        return 0;
    } catch (const std::exception& e) {
        err << "tavo400-hostd directory list: " << e.what() << '\n';
        return 1;
    }
}

int AddUser(const std::string& db, const std::string& name, std::istream& in, std::ostream& out,
            std::ostream& err) {
    try {
        auto engine = Open(db);
        const bool terminal = &in == &std::cin && isatty(STDIN_FILENO);
        if (terminal)
            std::cerr << "Password for " << name << ": " << std::flush;
        const std::string password = ReadPassword(in, terminal);
        if (password.empty()) {
            err << "tavo400-hostd user add: no password on standard input; nothing changed.\n";
            return 1;
        }
        engine->SetUser(name, HashPassword(password));
        out << "User " << name << " can sign on.\n";
        return 0;
    } catch (const std::exception& e) {
        err << "tavo400-hostd user add: " << Latin1ToUtf8(e.what()) << '\n';
        return 1;
    }
}

int ShowOutbox(const std::string& db, bool json, std::ostream& out, std::ostream& err) {
    try {
        auto engine = Open(db);
        const auto messages = engine->Outbox();
        if (json) {
            out << "[";
            for (std::size_t i = 0; i < messages.size(); ++i) {
                const auto& m = messages[i];
                out << (i ? ",\n " : "\n ") << "{\"id\": " << m.id
                    << ", \"acceptedAt\": " << JsonString(m.acceptedAt)
                    << ", \"kind\": " << (m.groups ? "\"groups\"" : "\"recipients\"")
                    << ", \"names\": [";
                for (std::size_t n = 0; n < m.names.size(); ++n)
                    out << (n ? ", " : "") << JsonString(m.names[n]);
                out << "], \"subject\": " << JsonString(m.subject)
                    << ", \"body\": " << JsonString(m.body)
                    << ", \"modes\": " << JsonString(m.modes) << ", \"rawRecord\": \""
                    << Hex(m.rawRecord) << "\"}";
            }
            out << (messages.empty() ? "]\n" : "\n]\n");
            return 0;
        }
        for (const auto& m : messages) {
            std::string names;
            for (const auto& n : m.names)
                names += (names.empty() ? "" : ", ") + n;
            out << '#' << m.id << "  " << m.acceptedAt << "  to " << Latin1ToUtf8(names) << " ("
                << (m.groups ? "groups" : "recipients") << ")  modes [" << m.modes << "]\n"
                << "    " << Latin1ToUtf8(m.subject) << (m.subject.empty() ? "" : ": ")
                << Latin1ToUtf8(m.body) << '\n';
        }
        if (messages.empty())
            out << "The outbox is empty.\n";
        return 0;
    } catch (const std::exception& e) {
        err << "tavo400-hostd outbox: " << e.what() << '\n';
        return 1;
    }
}

int Serve(const ServeOptions& options, std::ostream& err) {
    Log log(err);
    try {
        DaemonOptions daemon;
        const auto colon = options.listen.rfind(':');
        unsigned port = 0;
        const char* digits = options.listen.data() + colon + 1;
        const char* end = options.listen.data() + options.listen.size();
        if (colon == std::string::npos || colon == 0 ||
            std::from_chars(digits, end, port).ptr != end || port > 65535)
            throw std::runtime_error("--listen wants HOST:PORT, such as 127.0.0.1:8475");
        daemon.host = options.listen.substr(0, colon);
        daemon.port = static_cast<unsigned short>(port);
        daemon.portFile = options.portFile;
        daemon.frameTimeout = std::chrono::seconds(options.frameTimeoutSeconds);
        daemon.maxConnections = options.maxConnections;

        auto engine = Open(options.db);
        engine->SetQueueLimits(
            {std::chrono::seconds(options.queueExpirySeconds), options.queueCap, {}});
        {
            Daemon server(*engine, daemon, log);
            server.Listen();
            server.Run();
        }
        engine.reset(); // the database is closed before the exit status says so
        log.Line("database closed");
        return 0;
    } catch (const std::exception& e) {
        log.Line(std::string("tavo400-hostd serve: ") + e.what());
        return 1;
    }
}

} // namespace tavo::hostd
