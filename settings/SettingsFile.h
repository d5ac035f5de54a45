#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "ProcessState.h"

// "dftsys.ini" in the working directory: one 300-byte record holding the chosen system
// and, when asked for, the delivery modes. Nothing here reports a failure, but for a name
// that is no regular file (a FIFO or a device would block the program or be replaced):
// that is shown as a message box, and the file is neither read nor written.
//
//   name (n bytes) CR LF, Save byte "Y"/"N", seven mode bytes "Y"/blank, spaces to 300
//
// A new record is written to a temporary file beside the old one and renamed over it,
// so a write that fails part-way leaves the previous record intact. A symbolic link
// stays: the file it leads to is replaced, beside itself. A file with more than one hard
// link is rewritten in place, so every name of it sees the new record.

inline constexpr const char* kSettingsFileName = "dftsys.ini";
inline constexpr std::size_t kSettingsRecordLength = 300;

// The stored system name; restores DeliveryModes when the record's Save byte is "Y".
std::string LoadStartupSettings();

struct StoredSystemName {
    bool opened = false;
    std::string name;
};
StoredSystemName ReadStoredSystemName();

// Writes CurrentSystem and DeliveryModes, creating the file when it is missing.
void SaveDeliveryModes();

// Writes CurrentSystem into an existing file, keeping its Save and mode bytes.
void SaveSystemChoice();

// The two readers over the bytes of a file (at most the first 300 count), for tests
// and fuzzing: what the start-up and the dialog would make of them.
std::string StartupNameFromRecord(std::string_view bytes, DeliveryModeFlags& modes);
std::string StoredNameFromRecord(std::string_view bytes);

// Test seam: replaces the write of a record's bytes to an open descriptor (the C
// runtime's, on Windows).
using SettingsWriteFn = std::function<long(int fd, const void* data, std::size_t size)>;
void SetSettingsWriteForTesting(SettingsWriteFn write);
