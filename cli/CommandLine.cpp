#include "CommandLine.h"

#include <set>

namespace tavo::cli {

void RefuseOptionsAsValues(const CLI::App& app, const std::vector<std::string>& args) {
    std::set<std::string, std::less<>> names, takingValues;
    for (const CLI::Option* option : app.get_options()) {
        for (const auto& name : option->get_lnames())
            (option->get_items_expected_min() > 0 ? takingValues : names).insert("--" + name);
        for (const auto& name : option->get_snames())
            (option->get_items_expected_min() > 0 ? takingValues : names).insert("-" + name);
    }
    names.insert(takingValues.begin(), takingValues.end());
    for (std::size_t i = 0; i + 1 < args.size() && args[i] != "--"; ++i)
        if (takingValues.contains(args[i]) && names.contains(args[i + 1]))
            throw CLI::ValidationError(args[i], "takes a value, and the next word is the option " +
                                                    args[i + 1] + "; write " + args[i] + "=" +
                                                    args[i + 1] + " if that is the value meant");
}

} // namespace tavo::cli
