#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "HostEngine.h"

namespace tavo::hostd {

// Recipients and groups read from CSV files, checked row by row before anything is
// stored, so a bad file changes nothing and its errors name their lines.
//
//   recipients: NAME,DESCRIPTION
//   groups:     NAME,DESCRIPTION,MEMBER MEMBER ...
//
// UTF-8 text, a leading byte-order mark ignored; a field may be quoted ("a, b" and ""
// for a quote); a first line whose first field is "name" is a header; blank lines and
// lines starting with # are skipped. Names are taken in upper case. At most
// kMaxDirectoryEntries (DirectoryLimits.h) recipients and as many groups.
struct DirectoryImport {
    std::vector<server::Recipient> recipients;
    std::vector<server::Group> groups;
    std::vector<std::string> errors; // "FILE, line N: why"

    void ReadRecipients(std::string_view fileName, std::string_view csv);
    // Members must be among `recipients`: read the recipients first.
    void ReadGroups(std::string_view fileName, std::string_view csv);
};

// One CSV line cut into fields; false with `error` set when a quote is unbalanced.
bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields, std::string& error);

} // namespace tavo::hostd
