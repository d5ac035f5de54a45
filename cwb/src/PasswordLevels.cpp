#include "PasswordLevels.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "UserFiles.h"
#include "cwb.h"

namespace cwb {
namespace {

using tavo::platform::Access;
using tavo::platform::PrivateDirectory;

constexpr const char* kFileName = "password-levels";
constexpr std::size_t kMaxFileSize = 64 * 1024;
constexpr const char* kHeader =
    "# The highest password level each IBM i has used, by system and user.\n"
    "# Remove a line to take whatever level that host announces next.\n";

// By "SYSTEM USER", each a word of Word().
using Levels = std::map<std::string, int, std::less<>>;

std::mutex acceptedMutex;
std::set<std::string, std::less<>>& Accepted() {
    static std::set<std::string, std::less<>> accepted;
    return accepted;
}

// A system name or user as one word: in upper case, as both are matched without regard
// to case, with any byte a name does not hold (a blank, '%') as %XX.
std::string Word(std::string_view text) {
    std::string word;
    for (const char c : text) {
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        if ((upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9') ||
            (upper != '\0' && std::strchr("._-#$@", upper) != nullptr)) {
            word += upper;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            word += escaped;
        }
    }
    return word.empty() ? "%" : word; // no name escapes to a lone '%'
}

std::string Key(std::string_view system, std::string_view user) {
    return Word(system) + ' ' + Word(user);
}

std::string Refused(const std::string& path, const std::string& why) {
    return "The password level file " + path + " " + why +
           ", so the levels hosts have used cannot be kept. Remove it and try again.";
}

std::string RefusedDirectory(const std::string& path, const std::string& why) {
    return "The directory " + path + ", which keeps the password levels, " + why +
           ", so the levels hosts have used cannot be kept.";
}

std::string SystemError(const std::string& path, const char* doing, const std::string& why) {
    return "The password level file " + path + " cannot be " + doing + ": " + why + ".";
}

// Lines of "SYSTEM USER LEVEL"; a line starting with '#' is a comment.
bool Parse(std::string_view text, Levels& levels, std::string& error) {
    int lineNo = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        auto eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = text.size();
        const auto line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        if (line.empty() || line.front() == '#')
            continue;
        const auto first = line.find(' ');
        const auto second = first == std::string_view::npos ? first : line.find(' ', first + 1);
        const auto level =
            second == std::string_view::npos ? std::string_view{} : line.substr(second + 1);
        if (first == 0 || second == first + 1 || level.size() != 1 || level[0] < '0' ||
            level[0] > '4') {
            error = "line " + std::to_string(lineNo) + " is not \"SYSTEM USER LEVEL\"";
            return false;
        }
        levels[std::string(line.substr(0, second))] = level[0] - '0';
    }
    return true;
}

// The directory, opened without following a link: false when it does not exist, or when
// it is not this user's own (then `status` says so).
bool OpenDirectory(PrivateDirectory& dir, const std::string& directory, Status& status) {
    std::string why;
    switch (dir.Open(directory, why)) {
    case Access::Ok:
        return true;
    case Access::Missing:
        return false;
    case Access::Link:
        status = Status::Fail(CWB_CONFIG_ERROR,
                              RefusedDirectory(directory, "is a symbolic link or no directory"));
        return false;
    case Access::OpenFailed:
        status = Status::Fail(CWB_CONFIG_ERROR,
                              RefusedDirectory(directory, "cannot be opened (" + why + ")"));
        return false;
    default:
        status =
            Status::Fail(CWB_CONFIG_ERROR, RefusedDirectory(directory, "is not this user's own"));
        return false;
    }
}

Status Read(PrivateDirectory& dir, const std::string& path, Levels& levels) {
    std::string text, why;
    // one byte more than it may hold tells a file too large
    switch (dir.Read(kFileName, kMaxFileSize + 1, text, why)) {
    case Access::Ok:
        break;
    case Access::Missing:
        return Status::Ok();
    case Access::Link:
        return Status::Fail(CWB_CONFIG_ERROR, Refused(path, "is a symbolic link"));
    case Access::OpenFailed:
        return Status::Fail(CWB_CONFIG_ERROR, SystemError(path, "opened", why));
    case Access::ReadFailed:
        return Status::Fail(CWB_CONFIG_ERROR, SystemError(path, "read", why));
    default:
        return Status::Fail(
            CWB_CONFIG_ERROR,
            Refused(path, "is not a file of this user's that only they may change"));
    }
    if (text.size() > kMaxFileSize)
        return Status::Fail(CWB_CONFIG_ERROR, Refused(path, "is larger than 64 KiB"));
    std::string error;
    if (!Parse(text, levels, error))
        return Status::Fail(CWB_CONFIG_ERROR, Refused(path, "cannot be read: its " + error));
    return Status::Ok();
}

// Writes the whole file anew beside the old one and renames it over, so that a reader
// never sees half of it.
Status Write(PrivateDirectory& dir, const std::string& path, const Levels& levels) {
    std::string text = kHeader;
    for (const auto& [key, level] : levels)
        text += key + ' ' + std::to_string(level) + '\n';
    if (const auto why = dir.Write(kFileName, text); !why.empty())
        return Status::Fail(CWB_CONFIG_ERROR, SystemError(path, "written", why));
    return Status::Ok();
}

#ifdef _WIN32
constexpr const char* kNoDirectory = "LOCALAPPDATA is not set and Windows names no local "
                                     "application data folder";
#else
constexpr const char* kNoDirectory = "neither XDG_STATE_HOME nor HOME is set";
#endif

} // namespace

PasswordLevels::PasswordLevels(std::string directory)
    : directory_(std::move(directory)),
      path_(directory_.empty() ? "" : directory_ + tavo::platform::kPathSeparator + kFileName) {}

PasswordLevels PasswordLevels::OfUser() {
    return PasswordLevels(tavo::platform::StateDirectory("tavo400"));
}

Status PasswordLevels::Check(const SystemConfig& system, std::string_view user,
                             int announced) const {
    const std::string announcedText = system.name + " announced password level " +
                                      std::to_string(announced) + ", lower than the level ";
    const std::string risk =
        ": someone on the network may be trying to learn your password. Nothing was sent.";
    if (announced < system.minPasswordLevel)
        return Status::Fail(CWB_PASSWORD_LEVEL_LOWERED,
                            announcedText + std::to_string(system.minPasswordLevel) +
                                " its min_password_level asks for" + risk);
    if (directory_.empty())
        return Status::Fail(CWB_CONFIG_ERROR,
                            std::string("There is no directory to remember password levels in (") +
                                kNoDirectory + "), so nothing was sent.");
    {
        std::lock_guard lock(acceptedMutex);
        if (Accepted().contains(Word(system.name)))
            return Status::Ok();
    }
    Status status;
    Levels levels;
    if (PrivateDirectory dir; OpenDirectory(dir, directory_, status))
        status = Read(dir, path_, levels);
    if (!status.ok()) {
        status.text += " Nothing was sent.";
        return status;
    }
    const auto known = levels.find(Key(system.name, user));
    if (known != levels.end() && announced < known->second)
        return Status::Fail(CWB_PASSWORD_LEVEL_LOWERED,
                            announcedText + std::to_string(known->second) + " it used before" +
                                risk + " (The level it used is kept in " + path_ + ".)");
    return Status::Ok();
}

Status PasswordLevels::Remember(const SystemConfig& system, std::string_view user, int level) {
    if (level < 0 || level > 4)
        return Status::Ok(); // no sign-on succeeds at a level that does not exist
    if (directory_.empty())
        return Status::Fail(CWB_CONFIG_ERROR,
                            std::string("There is no directory to remember password levels in (") +
                                kNoDirectory + ").");
    std::string ignored; // what fails shows when it is opened
    tavo::platform::MakeDirectories(directory_, ignored);
    Status status;
    PrivateDirectory dir;
    if (!OpenDirectory(dir, directory_, status))
        return status.ok() ? Status::Fail(CWB_CONFIG_ERROR,
                                          "The directory " + directory_ +
                                              ", which keeps the password levels, cannot be made.")
                           : status;
    // Other runs of the program may be remembering levels at the same moment.
    dir.Lock();
    Levels levels;
    status = Read(dir, path_, levels);
    if (status.ok()) {
        bool accepted = false;
        {
            std::lock_guard lock(acceptedMutex);
            accepted = Accepted().erase(Word(system.name)) > 0;
        }
        auto [kept, added] = levels.try_emplace(Key(system.name, user), level);
        if (added || kept->second < level || (accepted && kept->second != level)) {
            kept->second = level;
            status = Write(dir, path_, levels);
        }
    }
    return status; // the directory closes, and with it the lock
}

void PasswordLevels::Accept(std::string_view system) {
    std::lock_guard lock(acceptedMutex);
    Accepted().insert(Word(system));
}

void PasswordLevels::ForgetAccepted() {
    std::lock_guard lock(acceptedMutex);
    Accepted().clear();
}

} // namespace cwb
