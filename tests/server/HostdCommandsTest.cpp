#include <gtest/gtest.h>

#include "HostdClients.h"

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
    // Why `serve` would not start; empty when it served.
    std::string ServeRefusal() {
        try {
            Daemon served(dir, Db());
            return "";
        } catch (const std::runtime_error& e) {
            return e.what();
        }
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
    EXPECT_EQ(Hostd({"outbox"}).out, "The outbox is empty.\n");
    EXPECT_EQ(Hostd({"outbox", "--json"}).out, "[]\n");
    EXPECT_EQ(Hostd({"init", "--demo"}).status, 0);
    EXPECT_NE(Hostd({"directory", "list"}).out.find("JSMITH"), std::string::npos);
    EXPECT_NE(RunHostd(dir, {"init"}).status, 0); // --db is required

    // init makes the database's own folder, private, but no folder above it; a folder
    // given for the database is said to be one, once
    const auto nested = dir / "new" / "host.db";
    EXPECT_EQ(RunHostd(dir, {"init", "--db", nested.string()}).status, 0);
    EXPECT_EQ(std::filesystem::status(dir / "new").permissions(),
              std::filesystem::perms::owner_all);
    EXPECT_TRUE(RunHostd(dir, {"init", "--db", (dir / "a/b/host.db").string()})
                    .err.starts_with("tavo400-hostd init: the folder " + (dir / "a").string() +
                                     " is missing; create it first"));
    EXPECT_EQ(RunHostd(dir, {"outbox", "--db", (dir / "new").string()}).err,
              "tavo400-hostd outbox: " + (dir / "new").string() +
                  " is a folder; give the database file in it, such as --db " + nested.string() +
                  "\n");
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
    // a file wrong throughout: the first ten lines tell why, and nothing is called imported
    std::string bad = "ANNA,Anna\n";
    for (int i = 0; i < 12; ++i)
        bad += "NO COMMA\n";
    Write("bad.csv", bad);
    const auto many = Hostd({"directory", "import", "--recipients", (dir / "bad.csv").string()});
    EXPECT_EQ(many.status, 1);
    EXPECT_EQ(many.err.find("line 12:"), std::string::npos) << many.err;
    EXPECT_TRUE(many.err.ends_with("line 11: expected NAME,DESCRIPTION, found 1 fields\n\u2026 and "
                                   "2 more\nNothing was imported: 12 errors. An import is all or "
                                   "nothing, so the 1 good line was not imported either.\n"))
        << many.err;

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
    const auto tooShort =
        Hostd({"user", "add", "oper"}, "s3cr\xc3\xa9te\n"); // 7 characters, 8 bytes
    EXPECT_EQ(tooShort.status, 1);
    EXPECT_NE(tooShort.err.find("at least 8 characters"), std::string::npos) << tooShort.err;
    const auto added = Hostd({"user", "add", "oper"}, "s3cr\xc3\xa9te!\n");
    EXPECT_EQ(added.status, 0) << added.err;
    const std::string file = ReadText(Db()) + ReadText(Db() + "-wal");
    EXPECT_EQ(file.find("s3cr\xc3\xa9te!"), std::string::npos);
    EXPECT_NE(file.find("$argon2id$"), std::string::npos);
    EXPECT_EQ(Hostd({"user", "add", "much-too-long-name"}, "long enough\n").status, 1);
}

// IBM i clients sign on with a token made from the password, for the level the daemon
// last served at: a password that cannot have it is told.
TEST_F(HostdCommandsTest, UserCommandsTellWhatTheyCouldNotDo) {
    ASSERT_EQ(Hostd({"init"}).status, 0);
    Daemon(dir, Db(), {"--ibmi", "127.0.0.1:0", "--password-level", "0"}).Stop();
    const auto longer = Hostd({"user", "add", "OPER"}, "correct horse battery\n");
    EXPECT_EQ(longer.status, 0);
    EXPECT_NE(longer.err.find("cannot sign on through the IBM i host servers at password level 0"),
              std::string::npos)
        << longer.err;
    for (const char* change : {"disable", "enable", "expire", "unlock"}) {
        const auto unknown = Hostd({"user", change, "NOBODY"});
        EXPECT_EQ(unknown.status, 1) << change;
        EXPECT_NE(unknown.err.find("no user NOBODY"), std::string::npos) << unknown.err;
    }
}

// A lock lives in the daemon's memory: unlock, and enable, reach it through the database.
TEST_F(HostdCommandsTest, UnlockAndEnableLiftALockOnTheRunningDaemon) {
    ASSERT_EQ(Hostd({"init"}).status, 0);
    for (const char* user : {"OPER", "CLERK"})
        ASSERT_EQ(Hostd({"user", "add", user}, "secret42\n").status, 0);
    Daemon daemon(dir, Db(), {"--max-sign-on-attempts", "2"});
    for (const auto& [command, user] : {std::pair{"unlock", "OPER"}, {"enable", "CLERK"}}) {
        for (int i = 0; i < 2; ++i)
            RawClient(daemon.Port()).SignOn("wrong", user);
        pr::ErrorCode code{};
        RawClient(daemon.Port()).SignOnRefusal("secret42", user, &code);
        EXPECT_EQ(code, pr::ErrorCode::LockedOut);
        EXPECT_EQ(Hostd({"user", command, user}).status, 0);
        const std::string lifted = user + std::string(": sign-on lock lifted");
        for (int i = 0; i < 100 && daemon.Log().find(lifted) == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(RawClient(daemon.Port()).SignOn("secret42", user)) << daemon.Log();
    }
}

// The users' password equivalents are in the file: a file others can read is served or
// changed only once its owner has made it private, by chmod or by init.
TEST_F(HostdCommandsTest, DatabaseIsPrivateOrRefused) {
    ASSERT_EQ(Hostd({"init"}).status, 0);
    std::filesystem::permissions(Db(), std::filesystem::perms::group_read,
                                 std::filesystem::perm_options::add);
    for (const auto& command : {std::vector<std::string>{"outbox"}, {"directory", "list"}}) {
        const auto refused = Hostd(command);
        EXPECT_EQ(refused.status, 1) << command[0];
        EXPECT_NE(refused.err.find("chmod 600 " + Db()), std::string::npos) << refused.err;
    }
    EXPECT_NE(ServeRefusal().find("chmod 600 " + Db()), std::string::npos);
    ASSERT_EQ(Hostd({"init"}).status, 0); // which makes it private again
    EXPECT_EQ(Hostd({"outbox"}).status, 0);
}

// An empty file, or one that is not a database at all, is never taken for a host with no
// users; only init turns an empty file into a host database, and it leaves others alone.
TEST_F(HostdCommandsTest, EmptyOrForeignFilesAreRefused) {
    for (const std::string content : {"name,description\nANNA,Anna\n", ""}) {
        Write("host.db", content);
        std::filesystem::permissions(Db(), std::filesystem::perms::owner_read |
                                               std::filesystem::perms::owner_write);
        const auto refused = Hostd({"directory", "list"});
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.err.find("tavo400-hostd init --db"), std::string::npos) << refused.err;
        EXPECT_NE(ServeRefusal().find("tavo400-hostd init --db"), std::string::npos);
        EXPECT_EQ(Hostd({"init"}).status, content.empty() ? 0 : 1);
        if (!content.empty()) {
            EXPECT_EQ(ReadText(Db()), content);
        }
    }
    EXPECT_NE(Hostd({"directory", "list"}).out.find("Recipients (0)"), std::string::npos);
}
