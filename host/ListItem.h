#pragma once

#include <string>

// One entry of a fetched recipient or group list, cleaned of the host's padding.
struct ListItem {
    std::string name;
    std::string description;
};
