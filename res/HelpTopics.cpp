#include "HelpTopics.h"

#include <charconv>

namespace {

std::string TrimBlankLines(std::string text) {
    const auto first = text.find_first_not_of("\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of("\n ");
    return text.substr(first, last - first + 1);
}

} // namespace

std::optional<std::string> HelpTopics::Topic(std::uint32_t id) const {
    const auto it = topics.find(id);
    if (it == topics.end())
        return std::nullopt;
    return it->second;
}

HelpTopicsLoad ParseHelpTopics(std::string_view text) {
    HelpTopics help;
    std::string* current = nullptr;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        auto line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty() && line.front() == '#')
            continue;
        if (!line.empty() && line.front() == '[') {
            if (line.back() != ']')
                return {std::nullopt,
                        "help topics, line " + std::to_string(lineNo) + ": header without ']'"};
            const auto name = line.substr(1, line.size() - 2);
            if (name == "contents") {
                current = &help.contents;
                continue;
            }
            std::uint32_t id = 0;
            const auto digits = name.substr(0, 2) == "0x" ? name.substr(2) : std::string_view();
            const auto [last, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), id, 16);
            if (digits.empty() || ec != std::errc() || last != digits.data() + digits.size())
                return {std::nullopt, "help topics, line " + std::to_string(lineNo) +
                                          ": expected [contents] or [0x...], not " +
                                          std::string(line)};
            if (help.topics.count(id))
                return {std::nullopt, "help topics, line " + std::to_string(lineNo) + ": topic " +
                                          std::string(name) + " given twice"};
            current = &help.topics[id];
            continue;
        }
        if (current) {
            *current += line;
            *current += '\n';
        }
    }
    help.contents = TrimBlankLines(help.contents);
    for (auto& [id, topic] : help.topics)
        topic = TrimBlankLines(topic);
    return {std::move(help), {}};
}

std::string ReflowHelpText(std::string_view text) {
    std::string out;
    bool paragraphOpen = false;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        auto end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const auto line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.find_first_not_of(' ') == std::string_view::npos) {
            if (paragraphOpen)
                out += "\n\n";
            paragraphOpen = false;
            continue;
        }
        if (paragraphOpen)
            out += line.front() == ' ' ? "\n" : " ";
        out += line;
        paragraphOpen = true;
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}
