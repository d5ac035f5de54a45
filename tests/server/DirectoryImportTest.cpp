#include "DirectoryImport.h"

#include <gtest/gtest.h>

#include "DirectoryLimits.h"

using tavo::hostd::DirectoryImport;
using tavo::hostd::SplitCsvLine;

TEST(DirectoryImport, CsvFieldsQuotesAndBlanks) {
    std::vector<std::string> f;
    std::string error;
    ASSERT_TRUE(SplitCsvLine(R"(a,"b, c","say ""hi""",,)", f, error));
    EXPECT_EQ(f, (std::vector<std::string>{"a", "b, c", "say \"hi\"", "", ""}));
    ASSERT_TRUE(SplitCsvLine("", f, error));
    EXPECT_EQ(f, std::vector<std::string>{""});
    EXPECT_FALSE(SplitCsvLine(R"(a,"open)", f, error));
    EXPECT_EQ(error, "a quoted field has no closing quote");
    EXPECT_FALSE(SplitCsvLine(R"("x"y,z)", f, error));
}

TEST(DirectoryImport, GoodFilesWithHeaderCommentsAndLatin1) {
    DirectoryImport import;
    import.ReadRecipients("r.csv", "name,description\n"
                                   "# the night shift\n"
                                   "jsmith, John Smith \r\n"
                                   "\n"
                                   "MULLER,\"M\xc3\xbcller, Hans\"\n");
    // a spreadsheet's byte-order mark before the first field
    import.ReadGroups("g.csv", "\xEF\xBB\xBFNIGHT,Night shift,jsmith MULLER\nEMPTY,Nobody yet\n");
    ASSERT_TRUE(import.errors.empty()) << import.errors.front();
    ASSERT_EQ(import.recipients.size(), 2u);
    EXPECT_EQ(import.recipients[0].name, "JSMITH");
    EXPECT_EQ(import.recipients[0].description, "John Smith");
    EXPECT_EQ(import.recipients[1].description, "M\xfcller, Hans"); // kept as Latin-1
    ASSERT_EQ(import.groups.size(), 2u);
    EXPECT_EQ(import.groups[0].name, "NIGHT");
    EXPECT_EQ(import.groups[0].members, (std::vector<std::string>{"JSMITH", "MULLER"}));
    EXPECT_TRUE(import.groups[1].members.empty());
}

TEST(DirectoryImport, EveryBadRowIsReportedWithItsLine) {
    DirectoryImport import;
    import.ReadRecipients("r.csv", "OK,fine\n"
                                   "TOOLONGNAME1,x\n"
                                   "TWO WORDS,x\n"
                                   "OK,again\n"
                                   "LONGDESC," +
                                       std::string(51, 'd') +
                                       "\n"
                                       "ONLYNAME\n"
                                       ",empty name\n"
                                       "EURO,\xe2\x82\xac\n"
                                       "QUOTE,\"unclosed\n");
    import.ReadGroups("g.csv", "G1,x,OK NOBODY\nG2,x,OK OK\nG1,x\nG3\n");
    const std::vector<std::string> expected{
        "r.csv, line 2: the recipient name TOOLONGNAME1 is longer than 10 characters",
        "r.csv, line 3: the recipient name 'TWO WORDS' contains a blank or control character",
        "r.csv, line 4: recipient OK was already given on line 1",
        "r.csv, line 5: the description is longer than 50 characters",
        "r.csv, line 6: expected NAME,DESCRIPTION, found 1 fields",
        "r.csv, line 7: the recipient name is empty",
        "r.csv, line 8: not UTF-8, or a character outside Latin-1",
        "r.csv, line 9: a quoted field has no closing quote",
        "g.csv, line 1: member NOBODY is not a recipient",
        "g.csv, line 2: member OK is listed twice",
        "g.csv, line 4: expected NAME,DESCRIPTION,MEMBERS, found 1 fields",
    };
    EXPECT_EQ(import.errors, expected);
}

// No more than a client's list returns, so every imported directory can be listed.
TEST(DirectoryImport, AtMostTheLargestDirectory) {
    std::string csv;
    for (std::size_t i = 0; i < tavo::server::kMaxDirectoryEntries; ++i)
        csv += "R" + std::to_string(i) + ",\n";
    DirectoryImport import;
    import.ReadRecipients("r.csv", csv);
    EXPECT_TRUE(import.errors.empty());
    import.ReadRecipients("r.csv", csv + "ONEMORE,\n");
    EXPECT_EQ(import.errors, std::vector<std::string>{
                                 "r.csv: 100001 recipients; a directory holds at most 100000"});
}
