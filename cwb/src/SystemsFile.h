#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cwb {

struct SystemConfig {
    std::string name;    // as written in the file
    std::string address; // "embedded", "tcp://HOST:PORT" or "ibmi://HOST[:PORT]"
    std::string user;
    std::string password;
    bool hasPassword = false;
    unsigned timeoutSeconds = 10;
    std::string database; // embedded only; empty: the per-user data directory
    // ibmi only: host servers reached directly, without asking the port mapper (0: ask it)
    unsigned short signonPort = 0;
    unsigned short rmtcmdPort = 0;
    unsigned short dtaqPort = 0;
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

// The configuration used when there is no systems file: one embedded DEMO, the default.
SystemsConfig BuiltInSystems();

SystemsLoad ParseSystemsFile(std::string_view text);

// $TAVO400_SYSTEMS, else $XDG_CONFIG_HOME/tavo400/systems.ini, else ~/.config/tavo400/systems.ini.
std::string SystemsFilePath();

// Reads the systems file (or the built-in configuration when there is none). A file that
// holds a password must not be readable by group or others, as with ~/.pgpass.
SystemsLoad LoadSystems();

// The database of an embedded system: its `database` key, else
// $XDG_DATA_HOME/tavo400/<name in lower case>.db (default ~/.local/share/tavo400).
std::string EmbeddedDatabasePath(const SystemConfig& system);

} // namespace cwb
