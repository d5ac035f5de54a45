#include "SettingsFile.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "Files.h"
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

using tavo::platform::FileKind;

// A FIFO or a device under the record's name would hold the program up or be clobbered:
// it is said, and left alone. True when `kind` is a regular file's.
bool IsRegularOrSaid(FileKind kind) {
    if (kind == FileKind::Regular)
        return true;
    const char* what = kind == FileKind::Fifo              ? "a FIFO"
                       : kind == FileKind::CharacterDevice ? "a character device"
                       : kind == FileKind::BlockDevice     ? "a block device"
                       : kind == FileKind::Directory       ? "a directory"
                       : kind == FileKind::Socket          ? "a socket"
                                                           : "a special file";
    ShowMessageBox(std::string("The settings file ") + kSettingsFileName + " is " + what +
                   ", not a regular file, so it is neither read nor written: the chosen "
                   "system and delivery modes are not kept. Remove it to keep them.");
    return false;
}

// Reads up to 300 bytes; false when the file cannot be opened or is no regular file.
bool ReadFileStart(std::string& bytes) {
    auto start = tavo::platform::ReadFileStart(kSettingsFileName, kRecord);
    if (!start.opened) {
        if (start.kind != FileKind::Missing)
            IsRegularOrSaid(start.kind);
        return false;
    }
    bytes = std::move(start.bytes); // a read error ends the read where it stands
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

void ReplaceFile(const Record& record) {
    IsRegularOrSaid(tavo::platform::ReplaceFileContents(
        kSettingsFileName, std::string_view(record.data(), record.size()), WriteHook()));
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
    const auto kind = tavo::platform::KindOf(kSettingsFileName);
    const bool exists = kind != FileKind::Missing;
    if (exists && !IsRegularOrSaid(kind))
        return;
    if (exists && !tavo::platform::MayWrite(kSettingsFileName))
        return; // a file we may not write keeps its record
    ReplaceFile(record);
}

void SaveSystemChoice() {
    // Only an existing file that could be opened for update is rewritten.
    if (tavo::platform::KindOf(kSettingsFileName) == FileKind::Missing ||
        !tavo::platform::MayWrite(kSettingsFileName, true))
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
    ReplaceFile(record);
}
