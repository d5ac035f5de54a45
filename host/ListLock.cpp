#include "ListLock.h"

#include <cstdio>

#include "Clock.h"
#include "UserFiles.h"

namespace {

namespace platform = tavo::platform;

constexpr std::chrono::milliseconds kPoll{20};

std::string Refused(const std::string& path, const char* why) {
    return "The list lock " + path + " " + why + ", so it was not used and the list was not " +
           "asked for. Remove it and try again.";
}

std::string SystemError(const std::string& path, const char* doing, const std::string& why) {
    return "The list lock " + path + " cannot be " + doing + ": " + why + ".";
}

// The directory with whatever parents it lacks, each made private; never one that is a
// symbolic link or someone else's.
std::string MakeDirectory(const std::string& path) {
    std::string why;
    if (const auto part = platform::MakeDirectories(path, why); !part.empty())
        return "The directory " + part + " cannot be made: " + why + ".";
    if (!platform::IsOwnDirectory(path))
        return "The directory " + path + " is a symbolic link or not this user's, so no " +
               "list lock is kept there and the list was not asked for.";
    return {};
}

// Cron sets no XDG_RUNTIME_DIR, but while the user has a session the runtime directory
// logind keeps for them is there all the same: taking it lets a cron job and the window
// meet at one lock. Without a session no window runs, and cron jobs meet in the state
// directory.
std::string LockDirectory(std::string& error) {
    auto directory = platform::RuntimeDirectory("tavo400");
    if (directory.empty())
#ifdef _WIN32
        error = "There is no directory for the list lock (LOCALAPPDATA is not set and Windows "
                "names no local application data folder), so the list was not asked for.";
#else
        error = "There is no directory for the list lock (neither XDG_RUNTIME_DIR, "
                "XDG_STATE_HOME nor HOME is set), so the list was not asked for.";
#endif
    return directory;
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
    return directory + platform::kPathSeparator + name + ".lock";
}

} // namespace

std::string ListLock::Take(std::string_view system, std::chrono::milliseconds patience,
                           const std::function<bool()>& stop) {
    std::string error;
    path_ = PathOf(system, error);
    if (path_.empty())
        return error;
    if (auto refused = MakeDirectory(path_.substr(0, path_.rfind(platform::kPathSeparator)));
        !refused.empty())
        return refused;
    platform::Access access;
    std::string why;
    const auto file = platform::OpenLockFile(path_, access, why);
    if (access == platform::Access::Link)
        return Refused(path_, "is a symbolic link");
    if (access == platform::Access::NotOwn)
        return Refused(path_, "is not a file of this user's");
    if (access != platform::Access::Ok)
        return SystemError(path_, "opened", why);
    const auto failed = [file](std::string text) {
        platform::CloseLockFile(file);
        return text;
    };
    const auto started = ClockNow();
    while (!platform::TryLock(file, why)) {
        if (!why.empty())
            return failed(SystemError(path_, "locked", why));
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
    if (!platform::ReadLockFile(file, 64, lastStamp_, why))
        return failed(SystemError(path_, "read", why));
    handle_ = file;
    return {};
}

std::string ListLock::Record(std::string_view stamp) {
    if (std::string why; !platform::WriteLockFile(handle_, stamp, why))
        return SystemError(path_, "written", why);
    lastStamp_ = stamp;
    return {};
}

ListLock::~ListLock() {
    platform::CloseLockFile(handle_);
}
