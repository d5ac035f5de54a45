#include "DirectoryImport.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "DirectoryLimits.h"
#include "Latin1Text.h"

namespace tavo::hostd {

using text::Latin1ToUtf8;
namespace {

constexpr std::size_t kNameLength = 10;
constexpr std::size_t kDescriptionLength = 50;

std::string Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return std::string(s.substr(first, s.find_last_not_of(" \t\r") - first + 1));
}

bool HasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// A name that fits a ten-character field and the blank-separated outbox; empty when good.
std::string NameProblem(std::string_view what, const std::string& name) {
    if (name.empty())
        return std::string(what) + " name is empty";
    if (name.size() > kNameLength)
        return std::string(what) + " name " + Latin1ToUtf8(name) + " is longer than 10 characters";
    if (name.find(' ') != std::string::npos || HasControl(name))
        return std::string(what) + " name '" + Latin1ToUtf8(name) +
               "' contains a blank or control character";
    return {};
}

std::string DescriptionProblem(const std::string& text) {
    if (text.size() > kDescriptionLength)
        return "the description is longer than 50 characters";
    if (HasControl(text))
        return "the description contains a control character";
    return {};
}

struct Row {
    int line;
    std::vector<std::string> fields; // Latin-1, trimmed
    std::string problem;             // the line could not be read as CSV
};

// The data rows of a file, in line order.
std::vector<Row> Rows(std::string_view csv) {
    // Spreadsheets on Windows start their UTF-8 with a byte-order mark.
    if (csv.starts_with("\xEF\xBB\xBF"))
        csv.remove_prefix(3);
    std::vector<Row> rows;
    int line = 0;
    bool first = true;
    std::size_t pos = 0;
    while (pos < csv.size()) {
        const auto eol = csv.find('\n', pos);
        const auto raw =
            csv.substr(pos, eol == std::string_view::npos ? csv.size() - pos : eol - pos);
        pos = eol == std::string_view::npos ? csv.size() : eol + 1;
        ++line;
        const std::string trimmed = Trim(raw);
        if (trimmed.empty() || trimmed.front() == '#')
            continue;
        std::string why; // the row's own words say it
        const auto latin1 = text::Utf8ToLatin1(trimmed, why);
        Row row{line, {}, {}};
        if (!latin1 || !SplitCsvLine(*latin1, row.fields, row.problem)) {
            if (!latin1)
                row.problem = "not UTF-8, or a character outside Latin-1";
            first = false;
            rows.push_back(std::move(row));
            continue;
        }
        for (auto& f : row.fields)
            f = Trim(f);
        const bool header = first && !row.fields.empty() && text::FoldName(row.fields[0]) == "NAME";
        first = false;
        if (!header)
            rows.push_back(std::move(row));
    }
    return rows;
}

std::string Where(std::string_view fileName, int line) {
    return std::string(fileName) + ", line " + std::to_string(line) + ": ";
}

// Said once for the file, not for each row past the limit.
void CheckCount(std::vector<std::string>& errors, std::string_view fileName, std::size_t count,
                const char* what) {
    if (count > server::kMaxDirectoryEntries)
        errors.push_back(std::string(fileName) + ": " + std::to_string(count) + " " + what +
                         "; a directory holds at most " +
                         std::to_string(server::kMaxDirectoryEntries));
}

} // namespace

bool SplitCsvLine(std::string_view line, std::vector<std::string>& fields, std::string& error) {
    fields.clear();
    std::string field;
    std::size_t i = 0;
    for (;;) {
        field.clear();
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i < line.size() && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= line.size()) {
                    error = "a quoted field has no closing quote";
                    return false;
                }
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            while (i < line.size() && line[i] == ' ')
                ++i;
            if (i < line.size() && line[i] != ',') {
                error = "text after a quoted field";
                return false;
            }
        } else {
            while (i < line.size() && line[i] != ',')
                field += line[i++];
        }
        fields.push_back(field);
        if (i >= line.size())
            return true;
        ++i; // the comma
    }
}

void DirectoryImport::ReadRecipients(std::string_view fileName, std::string_view csv) {
    recipients.clear();
    std::map<std::string, int> seen;
    for (Row& row : Rows(csv)) {
        const std::string where = Where(fileName, row.line);
        if (!row.problem.empty()) {
            errors.push_back(where + row.problem);
            continue;
        }
        if (row.fields.size() != 2) {
            errors.push_back(where + "expected NAME,DESCRIPTION, found " +
                             std::to_string(row.fields.size()) + " fields");
            continue;
        }
        server::Recipient r{text::FoldName(row.fields[0]), row.fields[1]};
        if (auto problem = NameProblem("the recipient", r.name); !problem.empty()) {
            errors.push_back(where + problem);
            continue;
        }
        if (auto problem = DescriptionProblem(r.description); !problem.empty()) {
            errors.push_back(where + problem);
            continue;
        }
        if (auto [it, added] = seen.emplace(r.name, row.line); !added) {
            errors.push_back(where + "recipient " + Latin1ToUtf8(r.name) +
                             " was already given on line " + std::to_string(it->second));
            continue;
        }
        recipients.push_back(std::move(r));
    }
    CheckCount(errors, fileName, recipients.size(), "recipients");
}

void DirectoryImport::ReadGroups(std::string_view fileName, std::string_view csv) {
    groups.clear();
    std::set<std::string> known;
    for (const auto& r : recipients)
        known.insert(r.name);
    std::map<std::string, int> seen;
    for (Row& row : Rows(csv)) {
        const std::string where = Where(fileName, row.line);
        if (!row.problem.empty()) {
            errors.push_back(where + row.problem);
            continue;
        }
        if (row.fields.size() < 2 || row.fields.size() > 3) {
            errors.push_back(where + "expected NAME,DESCRIPTION,MEMBERS, found " +
                             std::to_string(row.fields.size()) + " fields");
            continue;
        }
        server::Group g{text::FoldName(row.fields[0]), row.fields[1], {}};
        std::string problem = NameProblem("the group", g.name);
        if (problem.empty())
            problem = DescriptionProblem(g.description);
        if (problem.empty() && row.fields.size() == 3) {
            std::set<std::string> members;
            const std::string list = text::FoldName(row.fields[2]);
            std::size_t at = 0;
            while (problem.empty() && at < list.size()) {
                const auto end = std::min(list.find(' ', at), list.size());
                const std::string member = list.substr(at, end - at);
                at = end + 1;
                if (member.empty())
                    continue;
                if (!known.contains(member))
                    problem = "member " + Latin1ToUtf8(member) + " is not a recipient";
                else if (!members.insert(member).second)
                    problem = "member " + Latin1ToUtf8(member) + " is listed twice";
                else
                    g.members.push_back(member);
            }
        }
        if (!problem.empty()) {
            errors.push_back(where + problem);
            continue;
        }
        if (auto [it, added] = seen.emplace(g.name, row.line); !added) {
            errors.push_back(where + "group " + Latin1ToUtf8(g.name) +
                             " was already given on line " + std::to_string(it->second));
            continue;
        }
        groups.push_back(std::move(g));
    }
    CheckCount(errors, fileName, groups.size(), "groups");
}

} // namespace tavo::hostd
