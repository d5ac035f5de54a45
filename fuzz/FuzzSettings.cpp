// "dftsys.ini" may be edited by hand: any bytes must give a name that fits the record
// and flags that are each 0 or 1.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "SettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 400)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    DeliveryModeFlags modes;
    const auto name = StartupNameFromRecord(bytes, modes);
    if (name.size() > kSettingsRecordLength)
        __builtin_trap();
    for (int flag : {modes.SaveSettings, modes.Pager, modes.Email, modes.Fax, modes.NetworkMessage,
                     modes.MessageQueue, modes.Telephone, modes.SpooledFile})
        if (flag != 0 && flag != 1)
            __builtin_trap();
    if (StoredNameFromRecord(bytes).size() > kSettingsRecordLength)
        __builtin_trap();
    return 0;
}
