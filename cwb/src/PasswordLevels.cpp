#include "PasswordLevels.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cwb.h"

namespace cwb {
namespace {

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

std::string Absolute(const char* name) {
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? value : ""; // a relative path is to be ignored
}

std::string Refused(const std::string& path, const std::string& why) {
    return "The password level file " + path + " " + why +
           ", so the levels hosts have used cannot be kept. Remove it and try again.";
}

std::string RefusedDirectory(const std::string& path, const std::string& why) {
    return "The directory " + path + ", which keeps the password levels, " + why +
           ", so the levels hosts have used cannot be kept.";
}

std::string SystemError(const std::string& path, const char* doing) {
    return "The password level file " + path + " cannot be " + doing + ": " + std::strerror(errno) +
           ".";
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

// The directory, opened without following a link: -1 when it does not exist, or when it
// is not this user's own (then `status` says so).
int OpenDirectory(const std::string& directory, Status& status) {
    const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        if (errno != ENOENT)
            status =
                Status::Fail(CWB_CONFIG_ERROR,
                             errno == ELOOP || errno == ENOTDIR
                                 ? RefusedDirectory(directory, "is a symbolic link or "
                                                               "no directory")
                                 : RefusedDirectory(directory, std::string("cannot be opened (") +
                                                                   std::strerror(errno) + ")"));
        return -1;
    }
    struct stat st {};
    if (::fstat(dir, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        ::close(dir);
        status =
            Status::Fail(CWB_CONFIG_ERROR, RefusedDirectory(directory, "is not this user's own"));
        return -1;
    }
    return dir;
}

Status Read(int dir, const std::string& path, Levels& levels) {
    const int fd = ::openat(dir, kFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return Status::Ok();
        return Status::Fail(CWB_CONFIG_ERROR, errno == ELOOP ? Refused(path, "is a symbolic link")
                                                             : SystemError(path, "opened"));
    }
    struct stat st {};
    std::string text;
    const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                      !(st.st_mode & (S_IWGRP | S_IWOTH));
    if (ours) { // one byte more than it may hold tells a file too large
        text.resize(kMaxFileSize + 1);
        std::size_t length = 0;
        for (ssize_t n; length < text.size() &&
                        (n = ::read(fd, text.data() + length, text.size() - length)) != 0;) {
            if (n < 0 && errno != EINTR) {
                const Status failed = Status::Fail(CWB_CONFIG_ERROR, SystemError(path, "read"));
                ::close(fd);
                return failed;
            }
            length += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        text.resize(length);
    }
    ::close(fd);
    if (!ours)
        return Status::Fail(
            CWB_CONFIG_ERROR,
            Refused(path, "is not a file of this user's that only they may change"));
    if (text.size() > kMaxFileSize)
        return Status::Fail(CWB_CONFIG_ERROR, Refused(path, "is larger than 64 KiB"));
    std::string error;
    if (!Parse(text, levels, error))
        return Status::Fail(CWB_CONFIG_ERROR, Refused(path, "cannot be read: its " + error));
    return Status::Ok();
}

// Writes the whole file anew beside the old one and renames it over, so that a reader
// never sees half of it.
Status Write(int dir, const std::string& path, const Levels& levels) {
    std::string text = kHeader;
    for (const auto& [key, level] : levels)
        text += key + ' ' + std::to_string(level) + '\n';
    const std::string temporary = std::string(kFileName) + ".new-" + std::to_string(::getpid());
    ::unlinkat(dir, temporary.c_str(), 0); // left by a run that died
    const int fd = ::openat(dir, temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return Status::Fail(CWB_CONFIG_ERROR, SystemError(path, "written"));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == text.size() && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!written || ::renameat(dir, temporary.c_str(), dir, kFileName) != 0) {
        const Status failed = Status::Fail(
            CWB_CONFIG_ERROR, "The password level file " + path + " cannot be written: " +
                                  std::strerror(written ? errno : savedErrno) + ".");
        ::unlinkat(dir, temporary.c_str(), 0);
        return failed;
    }
    ::fsync(dir);
    return Status::Ok();
}

// The directory with whatever parents it lacks, each made private.
void MakeDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700); // what fails shows when it is opened
        if (slash == std::string::npos)
            break;
    }
}

} // namespace

PasswordLevels::PasswordLevels(std::string directory)
    : directory_(std::move(directory)),
      path_(directory_.empty() ? "" : directory_ + "/" + kFileName) {}

PasswordLevels PasswordLevels::OfUser() {
    if (auto state = Absolute("XDG_STATE_HOME"); !state.empty())
        return PasswordLevels(state + "/tavo400");
    auto home = Absolute("HOME");
    if (home.empty())
        if (const passwd* user = ::getpwuid(::geteuid());
            user && user->pw_dir && user->pw_dir[0] == '/')
            home = user->pw_dir;
    return PasswordLevels(home.empty() ? "" : home + "/.local/state/tavo400");
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
                            "There is no directory to remember password levels in (neither "
                            "XDG_STATE_HOME nor HOME is set), so nothing was sent.");
    {
        std::lock_guard lock(acceptedMutex);
        if (Accepted().contains(Word(system.name)))
            return Status::Ok();
    }
    Status status;
    Levels levels;
    if (const int dir = OpenDirectory(directory_, status); dir >= 0) {
        status = Read(dir, path_, levels);
        ::close(dir);
    }
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
        return Status::Fail(CWB_CONFIG_ERROR, "There is no directory to remember password "
                                              "levels in (neither XDG_STATE_HOME nor HOME is "
                                              "set).");
    MakeDirectories(directory_);
    Status status;
    const int dir = OpenDirectory(directory_, status);
    if (dir < 0)
        return status.ok() ? Status::Fail(CWB_CONFIG_ERROR,
                                          "The directory " + directory_ +
                                              ", which keeps the password levels, cannot be made.")
                           : status;
    // Other runs of the program may be remembering levels at the same moment.
    while (::flock(dir, LOCK_EX) != 0 && errno == EINTR) {
    }
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
    ::close(dir); // and with it the lock
    return status;
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
