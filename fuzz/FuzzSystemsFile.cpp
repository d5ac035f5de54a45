// The systems file is the user's text: any bytes must give a configuration or a clear
// error, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "SystemsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto load = cwb::ParseSystemsFile(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!load.config && load.error.empty())
        __builtin_trap();
    if (load.config) {
        for (const auto& system : load.config->systems)
            if (load.config->Find(system.name) == nullptr || system.address.empty())
                __builtin_trap();
        if (!load.config->defaultSystem.empty() && !load.config->Find(load.config->defaultSystem))
            __builtin_trap();
    }
    return 0;
}
