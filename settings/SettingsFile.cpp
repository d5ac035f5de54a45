#include "SettingsFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "MessagePresenter.h"
#include "ProcessState.h"

namespace {

constexpr std::size_t kRecord = kSettingsRecordLength;
// name, CR LF and eight flag bytes must fit the record
constexpr std::size_t kMaxName = kRecord - 10;

using Record = std::array<char, kRecord>;

SettingsWriteFn& WriteHook() {
    static SettingsWriteFn hook;
    return hook;
}
[[maybe_unused]] const bool registered = RegisterProcessReset([](KeepHosts) { WriteHook() = {}; });

long WriteAll(int fd, const void* data, std::size_t size) {
    if (WriteHook())
        return WriteHook()(fd, data, size);
    return static_cast<long>(::write(fd, data, size));
}

// A FIFO or a device under the record's name would hold the program up or be clobbered:
// it is said, and left alone. True when `mode` is a regular file's.
bool IsRegularOrSaid(mode_t mode) {
    if (S_ISREG(mode))
        return true;
    const char* kind = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISDIR(mode)  ? "a directory"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "a special file";
    ShowMessageBox(std::string("The settings file ") + kSettingsFileName + " is " + kind +
                   ", not a regular file, so it is neither read nor written: the chosen "
                   "system and delivery modes are not kept. Remove it to keep them.");
    return false;
}

// Reads up to 300 bytes; false when the file cannot be opened or is no regular file.
bool ReadFileStart(std::string& bytes) {
    bytes.assign(kRecord, '\0');
    struct stat info {};
    if (::stat(kSettingsFileName, &info) == 0 && !IsRegularOrSaid(info.st_mode))
        return false;
    // Not blocking, in case a FIFO took the file's place since the check.
    const int fd = ::open(kSettingsFileName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (::fstat(fd, &info) != 0 || !IsRegularOrSaid(info.st_mode)) {
        ::close(fd);
        return false;
    }
    std::size_t got = 0;
    while (got < kRecord) {
        const auto n = ::read(fd, bytes.data() + got, kRecord - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // a read error ends the read where it stands
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return true;
}

// The file's first bytes in a record pre-filled with `fill`, as a short file reads.
Record ToRecord(std::string_view bytes, char fill) {
    Record record;
    record.fill(fill);
    std::memcpy(record.data(), bytes.data(), std::min(bytes.size(), kRecord));
    return record;
}

// The lowest offset of CR directly followed by LF within the record, or npos.
std::size_t FindLineEnd(const Record& record) {
    for (std::size_t p = 0; p + 1 < kRecord; ++p)
        if (record[p] == '\r' && record[p + 1] == '\n')
            return p;
    return std::string::npos;
}

std::size_t LastNonSpaceEnd(const Record& record) {
    for (std::size_t i = kRecord; i > 0; --i)
        if (record[i - 1] != ' ')
            return i;
    return 0;
}

std::string NameOf(const Record& record, std::size_t length) {
    const auto end = std::find(record.begin(), record.begin() + length, '\0');
    return std::string(record.begin(), end);
}

Record NewRecord(const std::string& name) {
    Record record;
    record.fill(' ');
    const auto n = std::min(name.size(), kMaxName);
    std::memcpy(record.data(), name.data(), n);
    record[n] = '\r';
    record[n + 1] = '\n';
    return record;
}

// Where the record lives: the end of a chain of symbolic links, resolved against each
// link's own directory, so that a rename replaces the target and the link stays.
std::string RecordPath() {
    std::string path = kSettingsFileName;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::string target(PATH_MAX, '\0');
        const auto n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
            return path;
        target.resize(static_cast<std::size_t>(n));
        const auto slash = path.rfind('/');
        path = target.front() == '/' || slash == std::string::npos
                   ? target
                   : path.substr(0, slash + 1) + target;
    }
    return path;
}

// A file with other hard links is rewritten where it is, or the other names would keep
// the old record; a failure part-way may then leave a partial record.
void RewriteInPlace(const std::string& path, const Record& record) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !IsRegularOrSaid(info.st_mode)) {
        ::close(fd);
        return;
    }
    if (WriteAll(fd, record.data(), record.size()) == static_cast<long>(record.size()) &&
        ::ftruncate(fd, static_cast<off_t>(record.size())) == 0)
        ::fsync(fd);
    ::close(fd);
}

// Replaces the file by a temporary sibling holding `record`, so the old record survives
// any failure before the rename.
void ReplaceFile(const Record& record, mode_t mode) {
    const auto path = RecordPath();
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && info.st_nlink > 1) {
        RewriteInPlace(path, record);
        return;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return;
    bool ok = ::fchmod(fd, mode) == 0 &&
              WriteAll(fd, record.data(), record.size()) == static_cast<long>(record.size()) &&
              ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0)
        ::unlink(temp.c_str());
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

void SetSettingsWriteForTesting(SettingsWriteFn write) {
    WriteHook() = std::move(write);
}

std::string LoadStartupSettings() {
    std::string bytes;
    if (!ReadFileStart(bytes))
        return {};
    return StartupNameFromRecord(bytes, DeliveryModes);
}

std::string StartupNameFromRecord(std::string_view bytes, DeliveryModeFlags& modes) {
    const Record record = ToRecord(bytes, ' ');
    const auto p = FindLineEnd(record);
    const auto length = p != std::string::npos ? p : LastNonSpaceEnd(record);
    if (p != std::string::npos && p <= kMaxName && record[p + 2] == 'Y') {
        auto on = [&](std::size_t offset) { return record[p + offset] == 'Y' ? 1 : 0; };
        modes.SaveSettings = 1;
        modes.Pager = on(3);
        modes.Email = on(4);
        modes.Fax = on(5);
        modes.NetworkMessage = on(6);
        modes.MessageQueue = on(7);
        modes.Telephone = on(8);
        modes.SpooledFile = on(9);
    }
    return NameOf(record, length);
}

StoredSystemName ReadStoredSystemName() {
    std::string bytes;
    if (!ReadFileStart(bytes))
        return {};
    return {true, StoredNameFromRecord(bytes)};
}

std::string StoredNameFromRecord(std::string_view bytes) {
    const Record record = ToRecord(bytes, '\0');
    const auto p = FindLineEnd(record);
    // Zero bytes behind a short file count as non-space, so such a name runs to the end
    // of the file's content.
    const auto length = p != std::string::npos && p < 293 ? p : LastNonSpaceEnd(record);
    return NameOf(record, length);
}

void SaveDeliveryModes() {
    auto record = NewRecord(CurrentSystem);
    const auto n = std::min(CurrentSystem.size(), kMaxName);
    const auto& modes = DeliveryModes;
    if (modes.SaveSettings) {
        record[n + 2] = 'Y';
        const int flags[] = {modes.Pager,          modes.Email,        modes.Fax,
                             modes.NetworkMessage, modes.MessageQueue, modes.Telephone,
                             modes.SpooledFile};
        for (std::size_t i = 0; i < std::size(flags); ++i)
            if (flags[i])
                record[n + 3 + i] = 'Y';
    } else {
        record[n + 2] = 'N';
    }
    struct stat info {};
    const bool exists = ::stat(kSettingsFileName, &info) == 0;
    if (exists && !IsRegularOrSaid(info.st_mode))
        return;
    if (exists && ::access(kSettingsFileName, W_OK) != 0)
        return; // a file we may not write keeps its record
    ReplaceFile(record, exists ? (info.st_mode & 07777) : NewFileMode());
}

void SaveSystemChoice() {
    // Only an existing file that could be opened for update is rewritten.
    struct stat info {};
    if (::stat(kSettingsFileName, &info) != 0 || ::access(kSettingsFileName, R_OK | W_OK) != 0)
        return;
    std::string bytes;
    if (!ReadFileStart(bytes))
        return;
    const Record old = ToRecord(bytes, ' ');
    const auto p = FindLineEnd(old);
    auto record = NewRecord(CurrentSystem);
    const auto n = std::min(CurrentSystem.size(), kMaxName);
    // Without a line end, or with fewer than eight bytes after it, the flags are blank
    // and the next start keeps the default modes.
    if (p != std::string::npos && p + 10 <= kRecord)
        std::memcpy(record.data() + n + 2, old.data() + p + 2, 8);
    ReplaceFile(record, info.st_mode & 07777);
}
