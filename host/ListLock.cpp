#include "ListLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Clock.h"

namespace {

constexpr std::chrono::milliseconds kPoll{20};

std::string Refused(const std::string& path, const char* why) {
    return "The list lock " + path + " " + why + ", so it was not used and the list was not " +
           "asked for. Remove it and try again.";
}

std::string SystemError(const std::string& path, const char* doing) {
    return "The list lock " + path + " cannot be " + doing + ": " + std::strerror(errno) + ".";
}

bool OwnDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// The directory with whatever parents it lacks, each made private; never one that is a
// symbolic link or someone else's.
std::string MakeDirectory(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return "The directory " + part + " cannot be made: " + std::strerror(errno) + ".";
        if (slash == std::string::npos)
            break;
    }
    if (!OwnDirectory(path))
        return "The directory " + path + " is a symbolic link or not this user's, so no " +
               "list lock is kept there and the list was not asked for.";
    return {};
}

std::string AbsoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? value : ""; // a relative path is to be ignored
}

// Cron sets no XDG_RUNTIME_DIR, but while the user has a session the runtime directory
// logind keeps for them is there all the same: taking it lets a cron job and the window
// meet at one lock. Without a session no window runs, and cron jobs meet in the state
// directory.
std::string LockDirectory(std::string& error) {
    if (auto runtime = AbsoluteFromEnvironment("XDG_RUNTIME_DIR"); !runtime.empty())
        return runtime + "/tavo400";
    if (const auto session = "/run/user/" + std::to_string(::geteuid()); OwnDirectory(session))
        return session + "/tavo400";
    if (auto state = AbsoluteFromEnvironment("XDG_STATE_HOME"); !state.empty())
        return state + "/tavo400";
    auto home = AbsoluteFromEnvironment("HOME");
    if (home.empty())
        if (const passwd* user = ::getpwuid(::geteuid());
            user && user->pw_dir && user->pw_dir[0] == '/')
            home = user->pw_dir;
    if (home.empty()) {
        error = "There is no directory for the list lock (neither XDG_RUNTIME_DIR, "
                "XDG_STATE_HOME nor HOME is set), so the list was not asked for.";
        return {};
    }
    return home + "/.local/state/tavo400";
}

// One lock per system, named as systems are matched: without regard to case. It does not
// name the host user: a list's key names none, and an IBM i files entries under the key
// alone, so lists of two users of one workstation would share keys all the same.
std::string PathOf(std::string_view system, std::string& error) {
    auto directory = LockDirectory(error);
    if (directory.empty())
        return {};
    std::string name = "list-";
    for (const char c : system) {
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        if ((upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9') || upper == '.' ||
            upper == '_' || upper == '-') {
            name += upper;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            name += escaped;
        }
    }
    return directory + "/" + name + ".lock";
}

} // namespace

std::string ListLock::Take(std::string_view system, std::chrono::milliseconds patience,
                           const std::function<bool()>& stop) {
    std::string error;
    path_ = PathOf(system, error);
    if (path_.empty())
        return error;
    if (auto refused = MakeDirectory(path_.substr(0, path_.rfind('/'))); !refused.empty())
        return refused;
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == ELOOP ? Refused(path_, "is a symbolic link") : SystemError(path_, "opened");
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return Refused(path_, "is not a file of this user's");
    }
    const auto failed = [fd](std::string text) {
        ::close(fd);
        return text;
    };
    const auto started = ClockNow();
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return failed(SystemError(path_, "locked"));
        if (stop && stop())
            return failed("The list was cancelled while it waited for another list.");
        if (ClockNow() - started >= patience)
            return failed(
                "Another list from this workstation to " + std::string(system) +
                " did not end within " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(patience).count()) +
                " seconds, so this one was not asked for. Try again later.");
        WaitClock(kPoll);
    }
    char last[64];
    const ssize_t length = ::pread(fd, last, sizeof last, 0);
    if (length < 0)
        return failed(SystemError(path_, "read"));
    lastStamp_.assign(last, static_cast<std::size_t>(length));
    handle_ = fd;
    return {};
}

std::string ListLock::Record(std::string_view stamp) {
    const int fd = static_cast<int>(handle_);
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, stamp.data(), stamp.size(), 0) != static_cast<ssize_t>(stamp.size()))
        return SystemError(path_, "written");
    lastStamp_ = stamp;
    return {};
}

ListLock::~ListLock() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}
