#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// The help file: a contents page and one short topic per help context id.
// Help context ids: 0x8000 plus a dialog's resource id in the high 16 bits and a topic
// number in the low 16 bits; commands use 0x10000 plus their id.
inline constexpr std::uint32_t kCommandHelpBase = 0x10000;
inline constexpr std::uint32_t kDefaultHelpId = 0x20080; // the main window as a whole

struct HelpTopics {
    std::string contents;
    std::map<std::uint32_t, std::string> topics;

    // The topic of an id; nullopt when the file has none.
    std::optional<std::string> Topic(std::uint32_t id) const;
};

// Reads the topics file: "[0xID]" or "[contents]" headers, each followed by its text;
// '#' starts a comment line. Malformed headers are an error with the line number.
struct HelpTopicsLoad {
    std::optional<HelpTopics> topics;
    std::string error;
};
HelpTopicsLoad ParseHelpTopics(std::string_view text);

// The file wraps its lines; a pop-up wraps them itself. Lines of a paragraph are
// joined; a blank line ends a paragraph; a line that starts with a blank keeps its own
// line (lists, indented steps).
std::string ReflowHelpText(std::string_view text);

inline constexpr const char* kNoHelpTopic = "No help topic is available for this item.";
