// The CSV files of `directory import`: any bytes give rows or errors with line numbers,
// and whatever is accepted fits the host's fields.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "DirectoryImport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\0');
    tavo::hostd::DirectoryImport import;
    import.ReadRecipients("r.csv", input.substr(0, split));
    if (split != std::string_view::npos)
        import.ReadGroups("g.csv", input.substr(split + 1));
    for (const auto& r : import.recipients)
        if (r.name.empty() || r.name.size() > 10 || r.description.size() > 50)
            __builtin_trap();
    for (const auto& g : import.groups)
        if (g.name.empty() || g.name.size() > 10 || g.members.size() > import.recipients.size())
            __builtin_trap();
    for (const auto& e : import.errors)
        if (e.find(", line ") == std::string::npos)
            __builtin_trap();
    return 0;
}
