#include "AdminCommands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "Daemon.h"
#include "DirectoryImport.h"
#include "HostEngine.h"
#include "Json.h"
#include "Latin1Text.h"
#include "Log.h"
#include "PasswordSubstitute.h"
#include "Passwords.h"

namespace tavo::hostd {
namespace {

using text::Hex;

constexpr std::size_t kMaxCsvSize = 64u << 20;
constexpr std::size_t kErrorsShown = 10;

// `path` as one word of a shell command line.
std::string ShellWord(const std::string& path) {
    const bool plain = !path.empty() && std::all_of(path.begin(), path.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("/._-+:@%,=").find(c) != std::string_view::npos;
    });
    if (plain)
        return path;
    std::string quoted = "'";
    for (char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// What the administrator can do about a file the engine will not use.
std::string Unusable(const server::UnusableDatabase& e, const std::string& db) {
    using Why = server::UnusableDatabase::Why;
    switch (e.why) {
    case Why::Empty:
        return std::string(e.what()) + " Make it one with: tavo400-hostd init --db " +
               ShellWord(db);
    case Why::Newer:
        return std::string(e.what()) + " Use the tavo400-hostd that wrote it.";
    case Why::Damaged:
        return std::string(e.what()) +
               " Restore it from a backup, or start a new host database elsewhere with: "
               "tavo400-hostd init --db NEW-FILE";
    case Why::Foreign:
        break;
    }
    return std::string(e.what()) +
           " For a new host database, give another file: tavo400-hostd init --db NEW-FILE";
}

// A file of secrets that other users can reach is refused until its owner makes it
// private: `named` is how it is named, `holds` what it holds.
void CheckPrivate(const std::string& file, const std::string& named = {},
                  const char* holds = "the users' password equivalents") {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || (info.st_mode & (S_IRWXG | S_IRWXO)) == 0)
        return;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    throw std::runtime_error(
        (named.empty() ? file : named) + " can be read or changed by other users (mode " + mode +
        "), and it holds " + holds + ". Make it private with: chmod 600 " + ShellWord(file));
}

// SQLite would say only that it cannot open it, and the mode check would ask for a chmod.
void RefuseFolder(const std::string& db) {
    std::error_code ec;
    if (std::filesystem::is_directory(db, ec))
        throw std::runtime_error(db + " is a folder; give the database file in it, such as --db " +
                                 ShellWord((std::filesystem::path(db) / "host.db").string()));
}

// init makes the folder the database goes in, private, but only that last one: a path
// whose higher folders are missing is more likely a typo than a wish.
void MakeFolderFor(const std::string& db, std::ostream& out) {
    const auto folder = std::filesystem::path(db).parent_path();
    std::error_code ec;
    if (folder.empty() || std::filesystem::exists(folder, ec))
        return;
    const auto above = folder.parent_path();
    if (!above.empty() && !std::filesystem::exists(above, ec))
        throw std::runtime_error("the folder " + above.string() +
                                 " is missing; create it first (init makes only the folder " +
                                 folder.string() + " the database goes in)");
    if (::mkdir(folder.c_str(), 0700) != 0)
        throw std::runtime_error("cannot create the folder " + folder.string() + ": " +
                                 std::strerror(errno));
    ::chmod(folder.c_str(), 0700); // whatever the umask left
    out << "Created folder " << folder.string() << ".\n";
}

// Opens an existing database; the administration commands never create one by a typo.
std::unique_ptr<server::HostEngine> Open(const std::string& db) {
    RefuseFolder(db);
    if (!std::filesystem::exists(db))
        throw std::runtime_error("no host database at " + db +
                                 "; create it with: tavo400-hostd init --db " + ShellWord(db));
    CheckPrivate(db);
    try {
        return std::make_unique<server::HostEngine>(db, server::OpenMode::Existing);
    } catch (const server::UnusableDatabase& e) {
        throw std::runtime_error(Unusable(e, db));
    }
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

// The users' IBM i tokens are password equivalents: the database and its journal files
// are for the owner's eyes only.
void KeepPrivate(const std::string& db) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::error_code ec;
        std::filesystem::permissions(
            db + suffix, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
            ec);
        if (ec && *suffix == '\0')
            throw std::runtime_error("cannot make " + db + " private: " + ec.message());
    }
}

// The host's Latin-1 text on a terminal: a message body must not clear the screen or
// start a line that looks like another message.
std::string Shown(std::string_view latin1) {
    return text::EscapeControls(text::Latin1ToUtf8(latin1));
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

// "HOST:PORT", or with `defaultHost` also a bare "PORT".
std::pair<std::string, unsigned short> ParseEndpoint(const std::string& text,
                                                     const char* defaultHost, const char* usage) {
    const auto colon = text.rfind(':');
    const std::size_t digitsAt = colon == std::string::npos ? 0 : colon + 1;
    unsigned port = 0;
    const char* end = text.data() + text.size();
    const bool bad = (colon == std::string::npos && !defaultHost) || colon == 0 ||
                     digitsAt == text.size() ||
                     std::from_chars(text.data() + digitsAt, end, port).ptr != end || port > 65535;
    if (bad)
        throw std::runtime_error(usage);
    const std::string host = colon == std::string::npos ? defaultHost : text.substr(0, colon);
    return {host, static_cast<unsigned short>(port)};
}

} // namespace

int InitDatabase(const std::string& db, bool demo, std::ostream& out, std::ostream& err) {
    try {
        RefuseFolder(db);
        MakeFolderFor(db, out);
        const bool existed = std::filesystem::exists(db);
        std::unique_ptr<server::HostEngine> engine;
        try {
            engine = std::make_unique<server::HostEngine>(db);
        } catch (const server::UnusableDatabase& e) {
            throw std::runtime_error(Unusable(e, db));
        }
        KeepPrivate(db);
        if (demo)
            engine->SeedDemoDirectory();
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
            const auto& errors = import.errors;
            // A file of the wrong shape is wrong on every line: the first few tell why.
            const std::size_t shown = std::min(errors.size(), kErrorsShown);
            for (std::size_t i = 0; i < shown; ++i)
                err << text::EscapeControls(errors[i]) << '\n';
            if (errors.size() > shown)
                err << "\u2026 and " << errors.size() - shown << " more\n";
            const std::size_t good = (recipientsCsv ? import.recipients.size() : 0) +
                                     (groupsCsv ? import.groups.size() : 0);
            err << "Nothing was imported: " << errors.size()
                << (errors.size() == 1 ? " error." : " errors.");
            if (good > 0)
                err << " An import is all or nothing, so the " << good
                    << (good == 1 ? " good line was" : " good lines were")
                    << " not imported either.";
            err << '\n';
            return 1;
        }
        engine->ReplaceDirectory(import.recipients, import.groups);
        out << "Imported " << import.recipients.size() << " recipients and " << import.groups.size()
            << " groups.\n";
        return 0;
    } catch (const std::invalid_argument& e) {
        err << "Nothing was imported: " << Shown(e.what()) << '\n';
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
            out << "  " << Shown(name) << "  " << Shown(r.description) << '\n';
        }
        out << "Groups (" << groups.size() << "):\n";
        for (const auto& g : groups) {
            std::string name = g.name;
            name.resize(10, ' ');
            std::string members;
            for (const auto& m : g.members)
                members += (members.empty() ? "" : " ") + m;
            out << "  " << Shown(name) << "  " << Shown(g.description) << "\n"
                << "              members: " << Shown(members) << '\n';
        }
        return 0;
    } catch (const std::exception& e) {
        err << "tavo400-hostd directory list: " << e.what() << '\n';
        return 1;
    }
}

int AddUser(const std::string& db, const std::string& name, std::istream& in, std::ostream& out,
            std::ostream& err, std::optional<int> passwordLevel) {
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
        if (Characters(password) < kMinPasswordLength) {
            err << "tavo400-hostd user add: the password must be at least " << kMinPasswordLength
                << " characters long; nothing changed.\n";
            return 1;
        }
        KeepPrivate(db);
        std::string note;
        const int level = passwordLevel.value_or(LevelForNewPasswords(*engine));
        engine->SetUser(name, MakePasswords(name, password, level, note));
        if (!note.empty())
            err << "Note: " << note << '\n';
        out << "User " << name << " can sign on.\n";
        return 0;
    } catch (const std::exception& e) {
        err << "tavo400-hostd user add: " << Shown(e.what()) << '\n';
        return 1;
    }
}

int ChangeUser(const std::string& db, const std::string& name, UserChange change, std::ostream& out,
               std::ostream& err, std::optional<unsigned> inDays) {
    const char* command = change == UserChange::Disable  ? "disable"
                          : change == UserChange::Enable ? "enable"
                          : change == UserChange::Unlock ? "unlock"
                                                         : "expire";
    try {
        auto engine = Open(db);
        const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        const bool lift = change == UserChange::Enable || change == UserChange::Unlock;
        const bool known =
            change == UserChange::Unlock ? engine->RequestUnlock(name)
            : change != UserChange::Expire
                ? engine->SetUserDisabled(name, change == UserChange::Disable) &&
                      (!lift || engine->RequestUnlock(name))
            : inDays ? engine->SetPasswordExpiry(name, now + std::int64_t{*inDays} * 86400)
                     : engine->ExpirePassword(name);
        if (!known) {
            err << "tavo400-hostd user " << command << ": there is no user " << Shown(name)
                << " in " << db << ".\n";
            return 1;
        }
        out << (change == UserChange::Disable  ? "User " + name + " is disabled.\n"
                : change == UserChange::Enable ? "User " + name + " is enabled.\n"
                : change == UserChange::Unlock
                    ? "User " + name + " will be unlocked by a daemon serving " + db +
                          " within a few seconds; its log says when.\n"
                : inDays ? "The password of " + name + " expires in " + std::to_string(*inDays) +
                               " days, unless it is changed before.\n"
                         : "The password of " + name + " has expired; user add sets a new one.\n");
        return 0;
    } catch (const std::exception& e) {
        err << "tavo400-hostd user " << command << ": " << Shown(e.what()) << '\n';
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
            out << '#' << m.id << "  " << Shown(m.acceptedAt) << "  to " << Shown(names) << " ("
                << (m.groups ? "groups" : "recipients") << ")  modes [" << Shown(m.modes) << "]\n"
                << "    " << Shown(m.subject) << (m.subject.empty() ? "" : ": ") << Shown(m.body)
                << '\n';
        }
        if (messages.empty())
            out << "The outbox is empty.\n";
        return 0;
    } catch (const std::exception& e) {
        err << "tavo400-hostd outbox: " << e.what() << '\n';
        return 1;
    }
}

namespace {

// New passwords get only the token of the level served; those set under another level
// have none for it until they are set again.
void RecordPasswordLevel(server::HostEngine& engine, int level, Log& log) {
    engine.SetServedPasswordLevel(level);
    if (level == server::HostEngine::kNoIbmiSignOn)
        return;
    std::string without;
    for (const std::string& name : engine.Users())
        if (const auto user = engine.User(name);
            user && PasswordToken(user->passwords, ibmi::SchemeForLevel(level)).empty())
            without += (without.empty() ? "" : ", ") + name;
    if (!without.empty())
        log.Line("users without a password equivalent for password level " + std::to_string(level) +
                     " cannot sign on through the IBM i host servers "
                     "until their password is set again (tavo400-hostd user add): " +
                     without,
                 Priority::Warning);
}

// Past its limit on open files the daemon could not accept a connection to turn it away:
// each connection holds a descriptor, the database, listeners and timers a few dozen.
void RaiseOpenFilesLimit(std::size_t maxConnections) {
    constexpr rlim_t kBeside = 64;
    rlimit limit{};
    const rlim_t needed = maxConnections + kBeside;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur >= needed)
        return;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed)
        throw std::runtime_error(
            "--max-connections " + std::to_string(maxConnections) + " needs " +
            std::to_string(needed) + " open files, but the daemon may open at most " +
            std::to_string(limit.rlim_max) +
            " (ulimit -Hn; LimitNOFILE= of a service): raise that or lower --max-connections");
    limit.rlim_cur = needed;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        throw std::runtime_error("cannot raise the limit on open files to " +
                                 std::to_string(needed) + ": " + std::strerror(errno));
}

} // namespace

int Serve(const ServeOptions& options, std::ostream& err) {
    Log log(err);
    try {
        DaemonOptions daemon;
        std::tie(daemon.host, daemon.port) = ParseEndpoint(
            options.listen, nullptr, "--listen wants HOST:PORT, such as 127.0.0.1:7475");
        daemon.portFile = options.portFile;
        daemon.frameTimeout = std::chrono::seconds(options.frameTimeoutSeconds);
        daemon.idleTimeout = std::chrono::seconds(options.idleTimeoutSeconds);
        daemon.maxConnections = options.maxConnections;
        daemon.maxUserConnections = options.maxUserConnections;
        daemon.signOn.lockAfter = options.maxSignOnAttempts;
        daemon.signOn.freeFailures =
            std::min(daemon.signOn.freeFailures, options.maxSignOnAttempts - 1);
        daemon.signOn.addressLockAfter =
            std::max(daemon.signOn.addressLockAfter, 4 * options.maxSignOnAttempts);
        if (options.ibmi) {
            IbmiOptions ibmi;
            std::tie(ibmi.host, ibmi.portMapperPort) = ParseEndpoint(
                *options.ibmi, "127.0.0.1", "--ibmi wants [ADDRESS:]PORT, such as 449");
            ibmi.signonPort = options.ibmiSignonPort;
            ibmi.remoteCommandPort = options.ibmiRemoteCommandPort;
            ibmi.dataQueuePort = options.ibmiDataQueuePort;
            ibmi.passwordLevel = options.passwordLevel;
            ibmi.ccsid = options.ccsid;
            ibmi.hostLevel = options.hostLevel;
            ibmi.tls = options.ibmiTls;
            ibmi.signonTlsPort = options.ibmiSignonTlsPort;
            ibmi.remoteCommandTlsPort = options.ibmiRemoteCommandTlsPort;
            ibmi.dataQueueTlsPort = options.ibmiDataQueueTlsPort;
            daemon.ibmi = ibmi;
        }
        if (options.tlsCert.empty() != options.tlsKey.empty())
            throw std::runtime_error("--tls-cert and --tls-key go together");
        if (!options.tlsCert.empty())
            daemon.tls = TlsFiles{options.tlsCert, options.tlsKey};
        if (options.ibmiTls && !daemon.tls)
            throw std::runtime_error("--ibmi-tls needs --tls-cert and --tls-key");
        if (options.listenTls)
            daemon.tlsListen = ParseEndpoint(*options.listenTls, nullptr,
                                             "--listen-tls wants HOST:PORT, such as 0.0.0.0:7476");
        daemon.insecurePlaintext = options.insecurePlaintext;
        RaiseOpenFilesLimit(options.maxConnections);

        auto engine = Open(options.db);
        engine->LetOtherWritersFirst();
        engine->SetFailureReport(
            [&log](const std::string& line) { log.Line(line, Priority::Error); });
        engine->SetQueueLimits({.expiry = std::chrono::seconds(options.queueExpirySeconds),
                                .perKeyCap = options.queueCap,
                                .now = {},
                                .totalBytes = options.queueMemoryMiB << 20});
        RecordPasswordLevel(
            *engine, options.ibmi ? options.passwordLevel : server::HostEngine::kNoIbmiSignOn, log);
        {
            Daemon server(*engine, daemon, log);
            // Once the daemon has read it as a key: a certificate given instead is told so.
            if (daemon.tls)
                CheckPrivate(options.tlsKey, "the TLS key " + options.tlsKey,
                             "the key that lets anyone pose as this daemon");
            server.Listen();
            server.Run();
        }
        engine.reset(); // the database is closed before the exit status says so
        log.Line("database closed");
        return 0;
    } catch (const std::exception& e) {
        log.Line(std::string("tavo400-hostd serve: ") + e.what(), Priority::Error);
        return 1;
    }
}

} // namespace tavo::hostd
