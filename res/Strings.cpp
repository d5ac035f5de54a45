#include "Strings.h"

#include <map>

namespace {

const std::map<unsigned, std::string_view>& Table() {
    static const std::map<unsigned, std::string_view> table = {
        {IDS_NO_CONNECTION, "Unable to obtain connection to %1, return code %2"},
        {IDS_DOCUMENT_TITLE, "TAVO/400 Express"},
        {IDS_SELECT_HOST,
         "Please select a host AS/400 before attempting to send a message.  If no systems are "
         "shown, please verify that at least one AS/400 is defined in Client Access."},
        {IDS_APP_TITLE, "TAVO/400 Express"},
    };
    return table;
}

} // namespace

std::string LoadString(unsigned id) {
    auto it = Table().find(id);
    return it == Table().end() ? std::string() : std::string(it->second);
}

std::string FormatString(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (index < args.size())
                out += *(args.begin() + index);
            ++i;
            continue;
        }
        out += c;
    }
    return out;
}
