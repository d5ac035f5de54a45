#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cwb {

// What a system's address names, read once when the file is.
struct Endpoint {
    enum class Kind { None, Embedded, Tcp, Ibmi };
    Kind kind = Kind::None;
    bool tls = false;        // tcps://, ibmis://
    std::string host;        // an IPv6 address without its brackets
    unsigned short port = 0; // tcp: the daemon's; ibmi: the port mapper's
};

// Nullopt for an address no backend can use. tcp:// and tcps:// need a port; ibmi://
// may leave it to the port mapper's well-known one, and takes an IPv6 address without
// brackets as the host alone.
std::optional<Endpoint> ParseAddress(std::string_view address);

struct SystemConfig {
    std::string name;    // as written in the file
    std::string address; // "embedded", "tcp://HOST:PORT", "ibmi://HOST[:PORT]" or "ibmis://…"
    Endpoint endpoint;   // the address, parsed
    std::string user;
    std::string password;
    bool hasPassword = false;
    // Run to get the password when the file holds none: the program and its arguments.
    std::vector<std::string> passwordCommand;
    unsigned timeoutSeconds = 10;
    std::string database; // embedded only; empty: the per-user data directory
    // ibmi only: host servers reached directly, without asking the port mapper (0: ask it)
    unsigned short signonPort = 0;
    unsigned short rmtcmdPort = 0;
    unsigned short dtaqPort = 0;
    std::string caFile;             // TLS: a private CA to trust besides the system's store
    unsigned pipeline = 1024;       // ibmi: the most queue reads kept in flight (1: one at a time)
    bool insecurePlaintext = false; // tcp:// to another machine, the password in the clear
    int minPasswordLevel = 0;       // ibmi: a lower level announced by the host is refused
};

struct SystemsConfig {
    std::vector<SystemConfig> systems; // file order, which is the order the list returns
    std::string defaultSystem;         // the first system unless named; empty: none

    // Host names are not case-sensitive, so neither is this.
    const SystemConfig* Find(std::string_view name) const;
};

struct SystemsLoad {
    std::optional<SystemsConfig> config;
    std::string error; // set when config is empty
};

// A password_command's words: split at blanks, a double-quoted part kept whole (quotes
// removed), nothing else special. Nullopt, with `error` set, for an unbalanced quote or
// no word at all.
std::optional<std::vector<std::string>> SplitCommandWords(std::string_view text,
                                                          std::string& error);

// The configuration used when there is no systems file: one embedded DEMO, the default;
// none in a build without the embedded host.
SystemsConfig BuiltInSystems();

// A value wholly in double quotes is taken literally (";", "#", outer blanks), with \"
// and \\ its only escapes; password_command keeps its own quoting of words. A key given
// twice in one section is an error naming both lines.
SystemsLoad ParseSystemsFile(std::string_view text);

// $TAVO400_SYSTEMS, else $XDG_CONFIG_HOME/tavo400/systems.ini, else ~/.config/tavo400/systems.ini.
std::string SystemsFilePath();

// Reads the systems file (or the built-in configuration when there is none). A file that
// holds a password must not be readable by group or others, as with ~/.pgpass; one that
// names a password_command holds no secret and may be.
SystemsLoad LoadSystems();

// The database of an embedded system: its `database` key, else
// $XDG_DATA_HOME/tavo400/<name in lower case>.db (default ~/.local/share/tavo400).
std::string EmbeddedDatabasePath(const SystemConfig& system);

} // namespace cwb
