#include "SystemsFile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>

#include "UserFiles.h"
#include "Utf16.h"

namespace cwb {
namespace {

constexpr std::size_t kMaxFileSize = 1 << 20;
constexpr std::size_t kMaxNameLength = 255;
constexpr unsigned short kPortMapperPort = 449;

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view s) {
    const char* ws = " \t\r\n";
    auto first = s.find_first_not_of(ws);
    if (first == std::string_view::npos)
        return {};
    auto last = s.find_last_not_of(ws);
    return s.substr(first, last - first + 1);
}

// A comment starts a line, or follows white space, so a ';' inside a value survives,
// and so does one inside a quoted word ("a ;b" of a password_command). A quote opens
// only where a word starts, so an unquoted value that holds one reads as it always has.
std::string_view StripComment(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char before = i == 0 ? ' ' : line[i - 1];
        const bool afterBlank = before == ' ' || before == '\t';
        if (quoted) {
            if (line[i] == '\\' && i + 1 < line.size())
                ++i;
            else if (line[i] == '"')
                quoted = false;
        } else if (line[i] == '"' && (afterBlank || before == '=')) {
            quoted = true;
        } else if ((line[i] == ';' || line[i] == '#') && afterBlank) {
            return line.substr(0, i);
        }
    }
    return line;
}

bool ValidSystemName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
    });
}

bool ValidPort(std::string_view port) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    return ec == std::errc() && end == port.data() + port.size() && value >= 1 && value <= 65535;
}

} // namespace

std::optional<Endpoint> ParseAddress(std::string_view address) {
    if (address == "embedded")
        return Endpoint{Endpoint::Kind::Embedded, false, {}, 0};
    for (std::string_view scheme : {"tcp://", "tcps://", "ibmi://", "ibmis://"}) {
        if (!address.starts_with(scheme))
            continue;
        Endpoint endpoint;
        endpoint.kind = scheme.starts_with("ibmi") ? Endpoint::Kind::Ibmi : Endpoint::Kind::Tcp;
        endpoint.tls = scheme.ends_with("s://");
        const auto rest = address.substr(scheme.size());
        const auto colon = rest.rfind(':');
        const bool bracketed = !rest.empty() && rest.front() == '[';
        const bool portless =
            endpoint.kind == Endpoint::Kind::Ibmi && !rest.empty() &&
            (colon == std::string_view::npos || (bracketed && rest.back() == ']'));
        if (!portless &&
            (colon == std::string_view::npos || colon == 0 || !ValidPort(rest.substr(colon + 1))))
            return std::nullopt;
        // Several colons without brackets are an IPv6 address: ibmi:// asks the port mapper.
        const auto bracket = rest.rfind(']');
        const bool hasPort =
            !portless && (endpoint.kind == Endpoint::Kind::Tcp ||
                          ((bracket == std::string_view::npos || colon > bracket) &&
                           (bracketed || rest.find(':') == colon)));
        endpoint.host = std::string(hasPort ? rest.substr(0, colon) : rest);
        endpoint.port =
            hasPort ? static_cast<unsigned short>(std::stoul(std::string(rest.substr(colon + 1))))
                    : kPortMapperPort;
        if (endpoint.host.size() > 2 && endpoint.host.front() == '[' && endpoint.host.back() == ']')
            endpoint.host = endpoint.host.substr(1, endpoint.host.size() - 2);
        return endpoint;
    }
    return std::nullopt;
}

namespace {

std::string LineError(int line, const std::string& what) {
    return "systems file, line " + std::to_string(line) + ": " + what;
}

// A value wholly in double quotes, from its opening quote to the end of the line: what
// is between the quotes is taken literally but for \" and \\. Nullopt with `error` set
// when it is not closed, holds another escape, or has more than a comment after it.
std::optional<std::string> QuotedValue(std::string_view text, std::string& error) {
    std::string value;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            if (text[i + 1] != '"' && text[i + 1] != '\\') {
                error = std::string("a quoted value knows only the escapes \\\" and \\\\, not \\") +
                        text[i + 1];
                return std::nullopt;
            }
            value += text[++i];
        } else if (text[i] == '"') {
            if (!Trim(StripComment(text.substr(i + 1))).empty())
                break;
            return value;
        } else if (text[i] == '\\') {
            break; // the line ends in the escape
        } else {
            value += text[i];
        }
    }
    error = "a quoted value must end with '\"', with at most a comment after it";
    return std::nullopt;
}

} // namespace

std::optional<std::vector<std::string>> SplitCommandWords(std::string_view text,
                                                          std::string& error) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true; // "" is an empty word
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) {
        error = "has a '\"' that is not closed";
        return std::nullopt;
    }
    if (inWord)
        words.push_back(std::move(word));
    if (words.empty()) {
        error = "names no program";
        return std::nullopt;
    }
    return words;
}

const SystemConfig* SystemsConfig::Find(std::string_view name) const {
    for (const auto& system : systems)
        if (EqualsIgnoreCase(system.name, name))
            return &system;
    return nullptr;
}

SystemsConfig BuiltInSystems() {
    SystemsConfig config;
    if (!TAVO_EMBEDDED_HOST)
        return config; // no host to offer: the user names one in the systems file
    SystemConfig demo;
    demo.name = "DEMO";
    demo.address = "embedded";
    demo.endpoint.kind = Endpoint::Kind::Embedded;
    config.systems.push_back(std::move(demo));
    config.defaultSystem = "DEMO";
    return config;
}

SystemsLoad ParseSystemsFile(std::string_view text) {
    if (text.size() > kMaxFileSize)
        return {std::nullopt, "systems file is larger than 1 MiB"};
    SystemsConfig config;
    enum class In { Nothing, Systems, System } in = In::Nothing;
    int lineNo = 0;
    // The checks after the last line still point the user at a line.
    std::vector<int> sectionLines;
    int defaultLine = 0;
    // Where each key was given, by section and key: a second one would silently win.
    std::map<std::pair<std::string, std::string>, int, std::less<>> keyLines;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        auto eol = text.find('\n', pos);
        auto raw = text.substr(pos, eol == std::string_view::npos ? text.size() - pos : eol - pos);
        pos = eol == std::string_view::npos ? text.size() + 1 : eol + 1;
        ++lineNo;
        auto line = Trim(StripComment(raw));
        if (line.empty())
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return {std::nullopt, LineError(lineNo, "a section header must end with ']'")};
            auto name = Trim(line.substr(1, line.size() - 2));
            if (name == "systems") {
                in = In::Systems;
                continue;
            }
            if (!ValidSystemName(name))
                return {std::nullopt,
                        LineError(lineNo,
                                  "'" + std::string(name) +
                                      "' is not a system name (letters, digits, '.', '-', '_')")};
            if (config.Find(name))
                return {std::nullopt,
                        LineError(lineNo, "system " + std::string(name) + " is configured twice")};
            config.systems.emplace_back().name = std::string(name);
            sectionLines.push_back(lineNo);
            in = In::System;
            continue;
        }
        auto eq = line.find('=');
        if (eq == std::string_view::npos)
            return {std::nullopt, LineError(lineNo, "expected 'key = value'")};
        auto key = Trim(line.substr(0, eq));
        auto value = Trim(line.substr(eq + 1));
        if (in == In::Nothing)
            return {std::nullopt,
                    LineError(lineNo, "'" + std::string(key) + "' is outside any section")};
        const std::string section = in == In::Systems ? "systems" : config.systems.back().name;
        if (auto [first, added] = keyLines.try_emplace({section, std::string(key)}, lineNo); !added)
            return {std::nullopt,
                    LineError(lineNo, "'" + std::string(key) + "' is given twice in [" + section +
                                          "], on lines " + std::to_string(first->second) + " and " +
                                          std::to_string(lineNo))};
        // The quoted value is read from the raw line, comment marks and all;
        // password_command quotes its own words.
        std::string unquoted;
        const auto afterEq =
            Trim(raw.substr(static_cast<std::size_t>(line.data() - raw.data()) + eq + 1));
        if (key != "password_command" && afterEq.starts_with('"')) {
            std::string why;
            auto quoted = QuotedValue(afterEq, why);
            if (!quoted)
                return {std::nullopt, LineError(lineNo, why)};
            unquoted = std::move(*quoted);
            value = unquoted;
        }
        if (in == In::Systems) {
            if (key != "default")
                return {std::nullopt,
                        LineError(lineNo, "unknown key '" + std::string(key) + "' in [systems]")};
            config.defaultSystem = std::string(value);
            defaultLine = lineNo;
            continue;
        }
        auto& system = config.systems.back();
        if (key == "address") {
            constexpr std::string_view kNetworkAddresses =
                "'tcp://HOST:PORT', 'tcps://HOST:PORT', 'ibmi://HOST[:PORT]' or "
                "'ibmis://HOST[:PORT]'";
            if (!TAVO_EMBEDDED_HOST && value == "embedded")
                return {std::nullopt,
                        LineError(lineNo, "address 'embedded' needs the demonstration host "
                                          "of the Linux build, which this build has not; "
                                          "give the host's address: " +
                                              std::string(kNetworkAddresses))};
            auto endpoint = ParseAddress(value);
            if (!endpoint)
                return {std::nullopt,
                        LineError(lineNo, std::string("address must be ") +
                                              (TAVO_EMBEDDED_HOST ? "'embedded', " : "") +
                                              std::string(kNetworkAddresses) + ", not '" +
                                              std::string(value) + "'")};
            system.address = std::string(value);
            system.endpoint = std::move(*endpoint);
        } else if (key == "user") {
            system.user = std::string(value);
        } else if (key == "password" || key == "password_command") {
            // One source of the password, so that nobody wonders which one wins.
            if (system.hasPassword || !system.passwordCommand.empty())
                return {std::nullopt,
                        LineError(lineNo, "system " + system.name +
                                              " gives its password twice; keep either "
                                              "'password' or 'password_command'")};
            if (key == "password") {
                system.password = std::string(value);
                system.hasPassword = true;
            } else {
                std::string why;
                auto words = SplitCommandWords(value, why);
                if (!words)
                    return {std::nullopt, LineError(lineNo, "password_command " + why)};
                system.passwordCommand = std::move(*words);
            }
        } else if (key == "timeout") {
            unsigned seconds = 0;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (ec != std::errc() || end != value.data() + value.size() || seconds < 1 ||
                seconds > 3600)
                return {std::nullopt,
                        LineError(lineNo, "timeout must be a number of seconds from 1 to 3600")};
            system.timeoutSeconds = seconds;
        } else if (key == "database") {
            system.database = std::string(value);
        } else if (key == "ca_file") {
            system.caFile = std::string(value);
        } else if (key == "pipeline") {
            unsigned reads = 0;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), reads);
            if (ec != std::errc() || end != value.data() + value.size() || reads < 1 ||
                reads > 65535)
                return {std::nullopt, LineError(lineNo, "pipeline must be a number of reads "
                                                        "from 1 to 65535")};
            system.pipeline = reads;
        } else if (key == "insecure_plaintext") {
            if (value != "yes" && value != "no")
                return {std::nullopt, LineError(lineNo, "insecure_plaintext must be yes or no")};
            system.insecurePlaintext = value == "yes";
        } else if (key == "min_password_level") {
            if (value.size() != 1 || value[0] < '0' || value[0] > '4')
                return {std::nullopt,
                        LineError(lineNo, "min_password_level must be a level from 0 to 4")};
            system.minPasswordLevel = value[0] - '0';
        } else if (key == "signon_port" || key == "rmtcmd_port" || key == "dtaq_port") {
            if (!ValidPort(value))
                return {std::nullopt,
                        LineError(lineNo, std::string(key) + " must be a port from 1 to 65535")};
            const auto port = static_cast<unsigned short>(std::stoul(std::string(value)));
            (key == "signon_port"   ? system.signonPort
             : key == "rmtcmd_port" ? system.rmtcmdPort
                                    : system.dtaqPort) = port;
        } else {
            return {std::nullopt, LineError(lineNo, "unknown key '" + std::string(key) + "'")};
        }
    }
    for (std::size_t i = 0; i < config.systems.size(); ++i)
        if (config.systems[i].address.empty())
            return {std::nullopt, LineError(sectionLines[i], "system " + config.systems[i].name +
                                                                 " has no address")};
    if (!config.defaultSystem.empty() && !config.Find(config.defaultSystem))
        return {std::nullopt, LineError(defaultLine, "the default system " + config.defaultSystem +
                                                         " has no section of its own")};
    // As the platform makes the first configured system its default.
    if (config.defaultSystem.empty() && !config.systems.empty())
        config.defaultSystem = config.systems.front().name;
    return {std::move(config), {}};
}

namespace {
// The command that fixes a file others can reach, on a line of its own: a message box
// wraps before it, never inside it.
std::string MakePrivate(const std::string& path) {
    return " Make it private with:\n" + tavo::platform::MakePrivateCommand(path);
}
std::string InProgramDirectory(const std::string& home, const std::string& name) {
    constexpr char kSeparator = tavo::platform::kPathSeparator;
    return home + kSeparator + "tavo400" + kSeparator + name;
}
} // namespace

std::string SystemsFilePath() {
    if (auto explicitPath = tavo::platform::Environment("TAVO400_SYSTEMS"); !explicitPath.empty())
        return explicitPath;
    return InProgramDirectory(tavo::platform::ConfigHome(), "systems.ini");
}

SystemsLoad LoadSystems() {
    const auto path = SystemsFilePath();
    const auto info = tavo::platform::PrivacyOf(path);
    if (!info.found) {
        // An empty TAVO400_SYSTEMS names no file, as SystemsFilePath treats it.
        if (info.absent && tavo::platform::Environment("TAVO400_SYSTEMS").empty())
            return {BuiltInSystems(), {}};
        return {std::nullopt, "Cannot read the systems file " + path + ": " + info.why};
    }
    if (!info.regular)
        return {std::nullopt, "The systems file " + path + " is not a regular file."};
    if (info.size > kMaxFileSize)
        return {std::nullopt, "The systems file " + path + " is larger than 1 MiB."};
    // Whoever can write the file chooses where passwords go and which commands run.
    if (info.othersOwn)
        return {std::nullopt, "The systems file " + path +
                                  " belongs to another user, who could choose where your "
                                  "passwords go. Copy it to a file of your own."};
    if (info.othersMayWrite)
        return {std::nullopt, "The systems file " + path +
                                  " may be changed by group or others, who could choose where "
                                  "your passwords go." +
                                  MakePrivate(path)};
    std::ifstream in(tavo::platform::PathOf(path), std::ios::binary);
    if (!in)
        return {std::nullopt, "Cannot read the systems file " + path + "."};
    std::ostringstream text;
    text << in.rdbuf();
    auto load = ParseSystemsFile(text.str());
    if (!load.config)
        return {std::nullopt, path + ": " + load.error};
    const bool holdsPassword = std::any_of(load.config->systems.begin(), load.config->systems.end(),
                                           [](const SystemConfig& s) { return s.hasPassword; });
    if (holdsPassword && info.othersMayRead)
        return {std::nullopt, "The systems file " + path +
                                  " holds a password, but group or others may read it." +
                                  MakePrivate(path)};
    return load;
}

std::string EmbeddedDatabasePath(const SystemConfig& system) {
    if (!system.database.empty())
        return system.database;
    std::string lower = system.name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return InProgramDirectory(tavo::platform::DataHome(), lower + ".db");
}

} // namespace cwb
