#include <gtest/gtest.h>

#include "HostdProcess.h"

using namespace hostdtest;

namespace {

class HostdCommandsTest : public ::testing::Test {
  protected:
    std::string Db() const { return (dir / "host.db").string(); }
    Result Hostd(std::vector<std::string> args, const std::string& input = {}) {
        args.push_back("--db");
        args.push_back(Db());
        return RunHostd(dir, std::move(args), input);
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    ScratchDir dir{"hostd-cmd"};
};

} // namespace

TEST_F(HostdCommandsTest, AdministrationNeedsAnExistingDatabase) {
    const auto missing = Hostd({"directory", "list"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("create it with: tavo400-hostd init"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Db()));
    EXPECT_EQ(Hostd({"serve", "--listen", "127.0.0.1:0"}).status, 1);

    EXPECT_EQ(Hostd({"init"}).status, 0);
    EXPECT_NE(Hostd({"directory", "list"}).out.find("Recipients (0)"), std::string::npos);
    EXPECT_EQ(Hostd({"init", "--demo"}).status, 0);
    EXPECT_NE(Hostd({"directory", "list"}).out.find("JSMITH"), std::string::npos);
    EXPECT_NE(RunHostd(dir, {"init"}).status, 0); // --db is required
}

TEST_F(HostdCommandsTest, ImportIsAllOrNothing) {
    ASSERT_EQ(Hostd({"init", "--demo"}).status, 0);
    Write("r.csv", "NAME,DESCRIPTION\nANNA,Anna\nBEN,Ben\n");
    Write("g.csv", "TEAM,The team,ANNA BEN\nBAD,Bad group,ANNA CARL\n");
    const auto refused = Hostd({"directory", "import", "--recipients", (dir / "r.csv").string(),
                                "--groups", (dir / "g.csv").string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("g.csv, line 2: member CARL is not a recipient"), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("Nothing was imported"), std::string::npos);
    EXPECT_NE(Hostd({"directory", "list"}).out.find("JSMITH"), std::string::npos); // unchanged

    Write("g.csv", "TEAM,The team,ANNA BEN\n");
    const auto done = Hostd({"directory", "import", "--recipients", (dir / "r.csv").string(),
                             "--groups", (dir / "g.csv").string()});
    EXPECT_EQ(done.status, 0) << done.err;
    const auto list = Hostd({"directory", "list"}).out;
    EXPECT_EQ(list.find("JSMITH"), std::string::npos);
    EXPECT_NE(list.find("members: ANNA BEN"), std::string::npos) << list;

    // recipients alone must still carry the members of the groups that stay
    Write("r2.csv", "ANNA,Anna\n");
    const auto orphan = Hostd({"directory", "import", "--recipients", (dir / "r2.csv").string()});
    EXPECT_EQ(orphan.status, 1);
    EXPECT_NE(orphan.err.find("BEN"), std::string::npos) << orphan.err;
    EXPECT_EQ(Hostd({"directory", "import"}).status, 2);
}

TEST_F(HostdCommandsTest, UserPasswordComesFromStandardInputAndIsHashed) {
    ASSERT_EQ(Hostd({"init"}).status, 0);
    EXPECT_EQ(Hostd({"user", "add", "oper"}, "").status, 1); // no password
    const auto added = Hostd({"user", "add", "oper"}, "s3cret\n");
    EXPECT_EQ(added.status, 0) << added.err;
    const std::string file = ReadText(Db()) + ReadText(Db() + "-wal");
    EXPECT_EQ(file.find("s3cret"), std::string::npos);
    EXPECT_NE(file.find("$argon2id$"), std::string::npos);
    EXPECT_EQ(Hostd({"user", "add", "much-too-long-name"}, "x\n").status, 1);
}

TEST_F(HostdCommandsTest, OutboxIsEmptyAtFirst) {
    ASSERT_EQ(Hostd({"init"}).status, 0);
    EXPECT_EQ(Hostd({"outbox"}).out, "The outbox is empty.\n");
    EXPECT_EQ(Hostd({"outbox", "--json"}).out, "[]\n");
}
