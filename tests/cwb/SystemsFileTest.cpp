#include <gtest/gtest.h>

#include "CwbTestSupport.h"
#include "Scratch.h"
#include "SystemsFile.h"
#include "cwbco.h"

using namespace cwbtesting;
using hostdtest::ScopedEnv;
namespace fs = std::filesystem;

namespace {

cwb::SystemsConfig Parsed(std::string_view text) {
    auto load = cwb::ParseSystemsFile(text);
    EXPECT_TRUE(load.config) << load.error;
    return load.config ? *load.config : cwb::SystemsConfig{};
}

} // namespace

TEST(SystemsFileParse, KeepsFileOrderValuesAndComments) {
    const auto config = Parsed("# systems of this user\r\n"
                               "[systems]\n"
                               "default = sysa   ; optional\n"
                               "[zeta]\naddress = tcp://h:1\n"
                               "[SYSA]\n"
                               "address = tcp://127.0.0.1:7475\n"
                               "user = OPER#1 # comment\n"
                               "password = se;cr#et\t; tab before the comment\r\n"
                               "timeout = 25\n"
                               "[Alpha]\naddress = tcp://h:1\ndatabase = :memory:\npassword =");
    ASSERT_EQ(config.systems.size(), 3u);
    EXPECT_EQ(config.defaultSystem, "sysa");
    EXPECT_EQ(config.systems[0].name, "zeta");
    EXPECT_EQ(config.systems[0].timeoutSeconds, 10u);
    EXPECT_FALSE(config.systems[0].hasPassword);
    const auto& a = config.systems[1];
    EXPECT_EQ(a.address, "tcp://127.0.0.1:7475");
    EXPECT_EQ(a.user, "OPER#1");
    EXPECT_EQ(a.password, "se;cr#et");
    EXPECT_EQ(a.timeoutSeconds, 25u);
    EXPECT_EQ(config.systems[2].database, ":memory:");
    EXPECT_TRUE(config.systems[2].hasPassword) << "an empty password is still one";

    EXPECT_EQ(config.Find("SysA"), &config.systems[1]);
    EXPECT_EQ(config.Find("ALPHA"), &config.systems[2]);
    for (const char* name : {"SYS", "SYSAX", ""})
        EXPECT_EQ(config.Find(name), nullptr) << name;
}

// Wholly in double quotes, a value keeps what a comment or trimming would take.
TEST(SystemsFileParse, QuotedValuesAreLiteral) {
    const std::pair<std::string, std::string> cases[] = {
        {R"("  se;cr #et  "   ; a comment)", "  se;cr #et  "},
        {R"("say \"hi\" \\ ok")", R"(say "hi" \ ok)"},
        {R"("")", ""},
        {R"(se"cr"et ; unquoted, as ever)", R"(se"cr"et)"},
    };
    for (const auto& [written, password] : cases)
        EXPECT_EQ(Parsed("[A]\naddress = tcp://h:1\npassword = " + written + "\r\n")
                      .systems.at(0)
                      .password,
                  password)
            << written;
}

TEST(SystemsFileParse, AcceptedAddressesAndTimeouts) {
    const std::tuple<const char*, const char*, unsigned> cases[] = {
        {"tcp://h:1", "1", 1},           {"tcp://host.example.com:1", "3600", 3600},
        {"tcp://[::1]:65535", "42", 42}, {"ibmi://as400.example.com", "5", 5},
        {"ibmi://[::1]:449", "6", 6},    {"ibmis://as400.example.com:9449", "7", 7},
    };
    for (const auto& [address, timeout, seconds] : cases) {
        const auto config =
            Parsed(std::string("[A]\naddress = ") + address + "\ntimeout = " + timeout + "\n");
        ASSERT_EQ(config.systems.size(), 1u) << address;
        EXPECT_EQ(config.systems[0].address, address);
        EXPECT_EQ(config.systems[0].timeoutSeconds, seconds);
    }
    const auto direct = Parsed("[A]\naddress = ibmi://h\nsignon_port = 8476\ndtaq_port = 8472\n"
                               "min_password_level = 4\n");
    EXPECT_EQ(direct.systems[0].minPasswordLevel, 4);
    EXPECT_EQ(direct.systems[0].signonPort, 8476);
    EXPECT_EQ(direct.systems[0].rmtcmdPort, 0) << "unset: asked of the port mapper";
    EXPECT_EQ(direct.systems[0].dtaqPort, 8472);
}

TEST(SystemsFileParse, MalformedFilesNameTheLineAndTheProblem) {
    const std::tuple<const char*, int, const char*> cases[] = {
        {"[systems\ndefault = A\n", 1, "must end with ']'"},
        {"[A]\naddress = tcp://h:1\n[B ; comment]\n", 3, "must end with ']'"},
        {"; comment\n\nuser = OPER\n[A]\naddress = tcp://h:1\n", 3,
         "'user' is outside any section"},
        {"[A]\naddress = tcp://h:1\nAddress = embedded\n", 3, "unknown key 'Address'"},
        {"[systems]\nsystem = A\n", 2, "unknown key 'system' in [systems]"},
        {"[A]\naddress = tcp://h:1\njust words\n", 3, "expected 'key = value'"},
        {"[A B]\naddress = tcp://h:1\n", 1, "'A B' is not a system name"},
        {"[A]\naddress = http://host:80\n", 2,
         "'tcp://HOST:PORT', 'tcps://HOST:PORT', 'ibmi://HOST[:PORT]' or 'ibmis://HOST[:PORT]', "
         "not 'http://host:80'"},
        {"[A]\naddress = ibmi://\n", 2, "address must be"},
        {"[A]\naddress = ibmi://host:449\nrmtcmd_port = 0\n", 3, "rmtcmd_port must be a port"},
        {"[A]\naddress = ibmi://host\npipeline = 0\n", 3, "pipeline must be a number"},
        {"[A]\naddress = ibmi://h\nmin_password_level = 5\n", 3, "min_password_level must be a"},
        {"[A]\naddress = tcp://host\n", 2, "not 'tcp://host'"},
        {"[A]\naddress = tcp://host:0\n", 2, "address must be"},
        {"[A]\naddress = tcp://host:65536\n", 2, "address must be"},
        {"[A]\naddress = Embedded\n", 2, "address must be"},
        {"[A]\naddress = tcp://h:1\ntimeout = 0\n", 3, "timeout must be a number of seconds"},
        {"[A]\naddress = tcp://h:1\ntimeout = 3601\n", 3, "timeout must be"},
        {"[A]\naddress = tcp://h:1\ntimeout = 10s\n", 3, "timeout must be"},
        {"[A]\naddress = tcp://h:1\n\n[a]\naddress = tcp://h:1\n", 4,
         "system a is configured twice"},
        {"[systems]\ndefault = B\n[A]\naddress = tcp://h:1\n", 2,
         "the default system B has no section of its own"},
        {"[A]\naddress = tcp://h:1\n[B]\nuser = OPER\n", 3, "system B has no address"},
        {"[A]\naddress = tcp://h:1\npassword = \"open ; x\n", 3, "must end with '\"'"},
        {"[A]\naddress = tcp://h:1\npassword = \"a\" b\n", 3, "must end with '\"'"},
        {"[A]\naddress = tcp://h:1\npassword = \"a\\\"\n", 3, "must end with '\"'"},
        {"[A]\naddress = tcp://h:1\npassword = \"a\\nb\"\n", 3, "escapes \\\" and \\\\, not \\n"},
        {"[A]\naddress = tcp://h:1\nuser = X\n\nuser = \"X\"\n", 5,
         "'user' is given twice in [A], on lines 3 and 5"},
        {"[systems]\ndefault = A\n[A]\naddress = tcp://h:1\n[systems]\ndefault = A\n", 6,
         "'default' is given twice in [systems], on lines 2 and 6"},
    };
    for (const auto& [text, line, says] : cases) {
        SCOPED_TRACE(text);
        auto load = cwb::ParseSystemsFile(text);
        ASSERT_FALSE(load.config);
        EXPECT_NE(load.error.find("line " + std::to_string(line) + ":"), std::string::npos)
            << load.error;
        EXPECT_NE(load.error.find(says), std::string::npos) << load.error;
    }
    std::string huge = "[A]\naddress = tcp://h:1\n";
    huge.append(1 << 20, ';');
    EXPECT_EQ(cwb::ParseSystemsFile(huge).error, "systems file is larger than 1 MiB");
}

#ifndef _WIN32 // where Linux keeps the file, and its modes
#include "HostEngine.h"

// The real file: every place it can come from is redirected into a scratch directory.
class SystemsFileOnDisk : public ::testing::Test {
  protected:
    void SetUp() override { ResetProcessState(); }
    void TearDown() override { ResetProcessState(); }
    fs::path Write(const fs::path& path, std::string_view text, unsigned mode = 0600) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        fs::permissions(path, fs::perms(mode));
        return path;
    }
    hostdtest::ScratchDir scratch{"cwb-systems"};
    const fs::path dir = scratch.path();
    const fs::path defaultPath = dir / "config" / "tavo400" / "systems.ini";
    ScopedEnv home{"HOME", (dir / "home").string()};
    ScopedEnv config{"XDG_CONFIG_HOME", (dir / "config").string()};
    ScopedEnv data{"XDG_DATA_HOME", (dir / "data").string()};
    ScopedEnv explicitFile{"TAVO400_SYSTEMS", std::nullopt};
};

TEST_F(SystemsFileOnDisk, PathsFollowTheEnvironment) {
    EXPECT_EQ(cwb::SystemsFilePath(), defaultPath.string());
    cwb::SystemConfig system;
    system.name = "Demo";
    EXPECT_EQ(cwb::EmbeddedDatabasePath(system), (dir / "data/tavo400/demo.db").string());
    {
        ScopedEnv emptyXdg("XDG_CONFIG_HOME", ""), noXdg("XDG_DATA_HOME", std::nullopt);
        EXPECT_EQ(cwb::SystemsFilePath(), (dir / "home/.config/tavo400/systems.ini").string());
        EXPECT_EQ(cwb::EmbeddedDatabasePath(system),
                  (dir / "home/.local/share/tavo400/demo.db").string());
    }
    system.database = "/var/x.db";
    EXPECT_EQ(cwb::EmbeddedDatabasePath(system), "/var/x.db");
    ScopedEnv named("TAVO400_SYSTEMS", "/somewhere/else.ini");
    EXPECT_EQ(cwb::SystemsFilePath(), "/somewhere/else.ini");
}

TEST_F(SystemsFileOnDisk, NoFileGivesTheBuiltInDemoWithItsDatabaseFile) {
    for (bool empty : {false, true}) { // empty counts as unset
        ScopedEnv variable("TAVO400_SYSTEMS",
                           empty ? std::optional<std::string>("") : std::nullopt);
        auto load = cwb::LoadSystems();
        ASSERT_TRUE(load.config) << load.error;
        ASSERT_EQ(load.config->systems.size(), 1u);
        EXPECT_EQ(load.config->systems[0].name, "DEMO");
        EXPECT_EQ(load.config->systems[0].address, "embedded");
        EXPECT_EQ(load.config->defaultSystem, "DEMO");
    }
}

// The demo directory goes only into a database the DEMO system's first use creates:
// never back into one emptied since, nor into one made by "tavo400-hostd init" without
// --demo, nor into a site's own embedded host.
TEST_F(SystemsFileOnDisk, OnlyANewDemoDatabaseGetsTheDemoDirectory) {
    const auto restart = [](const std::optional<std::string>& systems) {
        ResetProcessState(); // a new process
        systems ? cwbtest::UseSystems(*systems) : cwbtest::UseSystemsFile();
    };
    restart(std::nullopt); // no systems file: the built-in DEMO
    auto demo = cwbtest::Engine("demo");
    ASSERT_NE(demo, nullptr);
    EXPECT_TRUE(fs::exists(dir / "data/tavo400/demo.db"));
    EXPECT_EQ(demo->Recipients().size(), 12u);
    demo->ReplaceDirectory({}, {});
    demo.reset();
    restart(std::nullopt);
    EXPECT_TRUE(cwbtest::Engine("DEMO")->Recipients().empty());

    fs::create_directories(dir / "data");
    { tavo::server::HostEngine initialised((dir / "data/init.db").string()); }
    const std::pair<std::string, std::string> untouched[] = {
        {"DEMO", "[DEMO]\naddress = embedded\ndatabase = " + (dir / "data/init.db").string()},
        {"SITE", "[SITE]\naddress = embedded\ndatabase = " + (dir / "data/site.db").string()},
    };
    for (const auto& [name, systems] : untouched) {
        restart(systems);
        EXPECT_TRUE(cwbtest::Engine(name)->Recipients().empty()) << systems;
    }
}

TEST_F(SystemsFileOnDisk, FileIsFoundOrRefusedWithItsPath) {
    Write(defaultPath, "[DEFAULTLOC]\naddress = embedded\n");
    EXPECT_EQ(cwb::LoadSystems().config->systems.at(0).name, "DEFAULTLOC");
    {
        ScopedEnv named("TAVO400_SYSTEMS",
                        Write(dir / "other.ini", "[NAMED]\naddress = embedded\n").string());
        EXPECT_EQ(cwb::LoadSystems().config->systems.at(0).name, "NAMED");
    }
    {
        ScopedEnv named("TAVO400_SYSTEMS", (dir / "missing.ini").string());
        EXPECT_NE(cwb::LoadSystems().error.find((dir / "missing.ini").string()), std::string::npos);
    }
    Write(defaultPath, "[A]\naddress = nowhere\n");
    auto load = cwb::LoadSystems();
    EXPECT_FALSE(load.config);
    EXPECT_EQ(load.error.rfind(defaultPath.string() + ": ", 0), 0u) << load.error;
    EXPECT_NE(load.error.find("line 2"), std::string::npos) << load.error;

    fs::remove(defaultPath);
    fs::create_directories(defaultPath);
    EXPECT_NE(cwb::LoadSystems().error.find("not a regular file"), std::string::npos);
}

TEST_F(SystemsFileOnDisk, PasswordFileMustBePrivate) {
    const std::string password = "[A]\naddress = embedded\npassword = secret\n";
    const struct {
        const char* name;
        unsigned mode;
        std::string text;
        bool accepted;
    } cases[] = {
        {"private", 0600, password, true},
        {"read-only", 0400, password, true},
        {"group can read", 0640, password, false},
        {"others can read", 0604, password, false},
        {"group can write", 0620, password, false},
        {"no password", 0644, "[A]\naddress = embedded\n", true},
        {"others can change where it points", 0646, "[A]\naddress = embedded\n", false},
        {"only a command", 0644, "[A]\naddress = tcp://h:1\nuser = U\npassword_command = get\n",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(defaultPath, c.text, c.mode);
        auto load = cwb::LoadSystems();
        EXPECT_EQ(static_cast<bool>(load.config), c.accepted) << load.error;
        if (!c.accepted) { // a sentence, the command on a line of its own to copy
            EXPECT_TRUE(load.error.starts_with("The systems file ")) << load.error;
            EXPECT_TRUE(load.error.ends_with("\nchmod 600 " + defaultPath.string()));
        }
        fs::permissions(defaultPath, fs::perms(0600));
    }
}
#endif
