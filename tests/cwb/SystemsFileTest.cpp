#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "CwbTestSupport.h"
#include "SystemsFile.h"
#include "cwbco.h"

using namespace cwbtesting;
namespace fs = std::filesystem;

namespace {

constexpr const char* kDesignExample = R"(# systems configured for this user
[systems]
default = SYSA            ; the default system (optional: none then)

[SYSA]                    ; one section per configured system, in the order the list returns them
address = tcp://127.0.0.1:8475
user = OPER
password = secret         ; optional
timeout = 25              ; seconds, optional

[DEMO]
address = embedded        ; the host engine in this process
)";

cwb::SystemsConfig Parsed(std::string_view text) {
    auto load = cwb::ParseSystemsFile(text);
    EXPECT_TRUE(load.config) << load.error;
    return load.config ? *load.config : cwb::SystemsConfig{};
}

} // namespace

TEST(SystemsFileParse, DesignExampleKeepsOrderDefaultAndValues) {
    const auto config = Parsed(kDesignExample);
    ASSERT_EQ(config.systems.size(), 2u);
    EXPECT_EQ(config.defaultSystem, "SYSA");

    const auto& a = config.systems[0];
    EXPECT_EQ(a.name, "SYSA");
    EXPECT_EQ(a.address, "tcp://127.0.0.1:8475");
    EXPECT_EQ(a.user, "OPER");
    EXPECT_TRUE(a.hasPassword);
    EXPECT_EQ(a.password, "secret");
    EXPECT_EQ(a.timeoutSeconds, 25u);

    const auto& demo = config.systems[1];
    EXPECT_EQ(demo.name, "DEMO");
    EXPECT_EQ(demo.address, "embedded");
    EXPECT_FALSE(demo.hasPassword);
    EXPECT_EQ(demo.timeoutSeconds, 10u);
    EXPECT_TRUE(demo.database.empty());
}

TEST(SystemsFileParse, OrderIsFileOrderNotSorted) {
    const auto config = Parsed("[zeta]\naddress = embedded\n"
                               "[Alpha]\naddress = embedded\n"
                               "[mid]\naddress = embedded\n");
    ASSERT_EQ(config.systems.size(), 3u);
    EXPECT_EQ(config.systems[0].name, "zeta");
    EXPECT_EQ(config.systems[1].name, "Alpha");
    EXPECT_EQ(config.systems[2].name, "mid");
    EXPECT_TRUE(config.defaultSystem.empty());
}

TEST(SystemsFileParse, NamesResolveWithoutRegardToCase) {
    const auto config = Parsed(kDesignExample);
    for (const char* name : {"DEMO", "Demo", "demo", "dEmO"}) {
        const auto* found = config.Find(name);
        ASSERT_NE(found, nullptr) << name;
        EXPECT_EQ(found->name, "DEMO");
    }
    EXPECT_EQ(config.Find("sysa"), &config.systems[0]);
    EXPECT_EQ(config.Find("DEM"), nullptr);
    EXPECT_EQ(config.Find("DEMOX"), nullptr);
    EXPECT_EQ(config.Find(""), nullptr);
}

TEST(SystemsFileParse, CommentMarkOnlyAfterBlankOrAtLineStart) {
    const auto config = Parsed("; whole-line comment\n"
                               "   # indented comment\n"
                               "[A]\n"
                               "address = embedded\n"
                               "password = se;cr#et\t; tab before the comment\n"
                               "user = OPER#1 # comment\n");
    ASSERT_EQ(config.systems.size(), 1u);
    EXPECT_EQ(config.systems[0].password, "se;cr#et");
    EXPECT_EQ(config.systems[0].user, "OPER#1");
}

TEST(SystemsFileParse, WindowsLineEndingsAndMissingFinalNewline) {
    const auto config = Parsed("[systems]\r\ndefault = a\r\n[A]\r\naddress = embedded\r\n"
                               "database = :memory:");
    ASSERT_EQ(config.systems.size(), 1u);
    EXPECT_EQ(config.systems[0].address, "embedded");
    EXPECT_EQ(config.systems[0].database, ":memory:");
    EXPECT_EQ(config.defaultSystem, "a");
}

TEST(SystemsFileParse, EmptyPasswordStillCountsAsPassword) {
    const auto config = Parsed("[A]\naddress = embedded\npassword =\n");
    ASSERT_EQ(config.systems.size(), 1u);
    EXPECT_TRUE(config.systems[0].hasPassword);
    EXPECT_EQ(config.systems[0].password, "");
}

TEST(SystemsFileParse, AcceptedAddressesAndTimeouts) {
    struct Case {
        const char* address;
        const char* timeout;
        unsigned seconds;
    };
    const Case cases[] = {
        {"embedded", "1", 1},
        {"tcp://127.0.0.1:8475", "3600", 3600},
        {"tcp://host.example.com:1", "10", 10},
        {"tcp://[::1]:65535", "42", 42},
    };
    for (const auto& c : cases) {
        const std::string text =
            std::string("[A]\naddress = ") + c.address + "\ntimeout = " + c.timeout + "\n";
        auto load = cwb::ParseSystemsFile(text);
        ASSERT_TRUE(load.config) << c.address << ": " << load.error;
        EXPECT_EQ(load.config->systems[0].address, c.address);
        EXPECT_EQ(load.config->systems[0].timeoutSeconds, c.seconds);
    }
}

TEST(SystemsFileParse, MalformedFilesNameTheLineAndTheProblem) {
    struct Case {
        const char* text;
        int line;
        const char* says;
    };
    const Case cases[] = {
        {"[systems\ndefault = A\n", 1, "must end with ']'"},
        {"[A]\naddress = embedded\n[B ; comment]\n", 3, "must end with ']'"},
        {"address = embedded\n", 1, "'address' is outside any section"},
        {"; comment\n\nuser = OPER\n[A]\naddress = embedded\n", 3, "outside any section"},
        {"[A]\naddress = embedded\ncolour = red\n", 3, "unknown key 'colour'"},
        {"[A]\naddress = embedded\nAddress = embedded\n", 3, "unknown key 'Address'"},
        {"[systems]\nsystem = A\n", 2, "unknown key 'system' in [systems]"},
        {"[A]\naddress = embedded\njust words\n", 3, "expected 'key = value'"},
        {"[A B]\naddress = embedded\n", 1, "'A B' is not a system name"},
        {"[]\naddress = embedded\n", 1, "is not a system name"},
        {"[A]\naddress = http://host:80\n", 2, "address must be 'embedded' or 'tcp://HOST:PORT'"},
        {"[A]\naddress = tcp://host\n", 2, "not 'tcp://host'"},
        {"[A]\naddress = tcp://:8475\n", 2, "address must be"},
        {"[A]\naddress = tcp://host:0\n", 2, "address must be"},
        {"[A]\naddress = tcp://host:65536\n", 2, "address must be"},
        {"[A]\naddress = tcp://host:84x5\n", 2, "address must be"},
        {"[A]\naddress = Embedded\n", 2, "address must be"},
        {"[A]\naddress =\n", 2, "address must be"},
        {"[A]\naddress = embedded\ntimeout = 0\n", 3, "timeout must be a number of seconds"},
        {"[A]\naddress = embedded\ntimeout = 3601\n", 3, "timeout must be"},
        {"[A]\naddress = embedded\ntimeout = -5\n", 3, "timeout must be"},
        {"[A]\naddress = embedded\ntimeout = 10s\n", 3, "timeout must be"},
        {"[A]\naddress = embedded\ntimeout = ten\n", 3, "timeout must be"},
        {"[A]\naddress = embedded\ntimeout =\n", 3, "timeout must be"},
        {"[A]\naddress = embedded\n\n[a]\naddress = embedded\n", 4, "system a is configured twice"},
        {"[systems]\ndefault = B\n[A]\naddress = embedded\n", 2,
         "the default system B has no section of its own"},
        {"[A]\naddress = embedded\n[B]\nuser = OPER\n", 3, "system B has no address"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto load = cwb::ParseSystemsFile(c.text);
        ASSERT_FALSE(load.config);
        EXPECT_NE(load.error.find("line " + std::to_string(c.line) + ":"), std::string::npos)
            << load.error;
        EXPECT_NE(load.error.find(c.says), std::string::npos) << load.error;
    }
}

TEST(SystemsFileParse, OversizedFileIsRefused) {
    std::string text = "[A]\naddress = embedded\n";
    text.append(1 << 20, ';');
    auto load = cwb::ParseSystemsFile(text);
    EXPECT_FALSE(load.config);
    EXPECT_NE(load.error.find("larger than 1 MiB"), std::string::npos) << load.error;
}

// The real file: every location it can come from is redirected into a temporary directory.
class SystemsFileOnDisk : public ::testing::Test {
  protected:
    void SetUp() override { cwbtest::Reset(); }
    void TearDown() override { cwbtest::Reset(); }

    fs::path Write(const fs::path& path, std::string_view text, fs::perms mode) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        fs::permissions(path, mode);
        return path;
    }
    fs::path DefaultPath() const { return dir.path() / "config" / "tavo400" / "systems.ini"; }

    TempDir dir;
    ScopedEnv home{"HOME", (dir.path() / "home").string()};
    ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
    ScopedEnv data{"XDG_DATA_HOME", (dir.path() / "data").string()};
    ScopedEnv explicitFile{"TAVO400_SYSTEMS", std::nullopt};
};

TEST_F(SystemsFileOnDisk, PathFollowsTheEnvironment) {
    EXPECT_EQ(cwb::SystemsFilePath(), DefaultPath().string());
    {
        ScopedEnv noXdg("XDG_CONFIG_HOME", std::nullopt);
        EXPECT_EQ(cwb::SystemsFilePath(),
                  (dir.path() / "home" / ".config" / "tavo400" / "systems.ini").string());
    }
    {
        ScopedEnv emptyXdg("XDG_CONFIG_HOME", "");
        EXPECT_EQ(cwb::SystemsFilePath(),
                  (dir.path() / "home" / ".config" / "tavo400" / "systems.ini").string());
    }
    ScopedEnv named("TAVO400_SYSTEMS", "/somewhere/else.ini");
    EXPECT_EQ(cwb::SystemsFilePath(), "/somewhere/else.ini");
}

TEST_F(SystemsFileOnDisk, NoFileGivesTheBuiltInDemo) {
    auto load = cwb::LoadSystems();
    ASSERT_TRUE(load.config) << load.error;
    ASSERT_EQ(load.config->systems.size(), 1u);
    EXPECT_EQ(load.config->systems[0].name, "DEMO");
    EXPECT_EQ(load.config->systems[0].address, "embedded");
    EXPECT_EQ(load.config->defaultSystem, "DEMO");
}

TEST_F(SystemsFileOnDisk, EmptyExplicitVariableCountsAsUnset) {
    ScopedEnv empty("TAVO400_SYSTEMS", "");
    auto load = cwb::LoadSystems();
    ASSERT_TRUE(load.config) << load.error;
    EXPECT_EQ(load.config->defaultSystem, "DEMO");
}

TEST_F(SystemsFileOnDisk, ExplicitFileThatIsMissingIsAnError) {
    const auto missing = (dir.path() / "missing.ini").string();
    ScopedEnv named("TAVO400_SYSTEMS", missing);
    auto load = cwb::LoadSystems();
    EXPECT_FALSE(load.config);
    EXPECT_NE(load.error.find(missing), std::string::npos) << load.error;
}

TEST_F(SystemsFileOnDisk, ExplicitFileWinsOverTheDefaultLocation) {
    Write(DefaultPath(), "[DEFAULTLOC]\naddress = embedded\n", fs::perms(0644));
    const auto other =
        Write(dir.path() / "other.ini", "[NAMED]\naddress = embedded\n", fs::perms(0644));
    {
        auto load = cwb::LoadSystems();
        ASSERT_TRUE(load.config) << load.error;
        EXPECT_EQ(load.config->systems.at(0).name, "DEFAULTLOC");
    }
    ScopedEnv named("TAVO400_SYSTEMS", other.string());
    auto load = cwb::LoadSystems();
    ASSERT_TRUE(load.config) << load.error;
    EXPECT_EQ(load.config->systems.at(0).name, "NAMED");
}

TEST_F(SystemsFileOnDisk, MalformedFileNamesThePathAndLine) {
    const auto path = Write(DefaultPath(), "[A]\naddress = nowhere\n", fs::perms(0600));
    auto load = cwb::LoadSystems();
    EXPECT_FALSE(load.config);
    EXPECT_EQ(load.error.rfind(path.string() + ": ", 0), 0u) << load.error;
    EXPECT_NE(load.error.find("line 2"), std::string::npos) << load.error;
}

TEST_F(SystemsFileOnDisk, DirectoryInsteadOfFileIsRefused) {
    fs::create_directories(DefaultPath());
    auto load = cwb::LoadSystems();
    EXPECT_FALSE(load.config);
    EXPECT_NE(load.error.find("not a regular file"), std::string::npos) << load.error;
}

TEST_F(SystemsFileOnDisk, PasswordFileMustBePrivate) {
    struct Case {
        unsigned mode;
        bool password;
        bool accepted;
    };
    const Case cases[] = {
        {0600, true, true},  {0400, true, true},  {0644, true, false}, {0640, true, false},
        {0604, true, false}, {0620, true, false}, {0644, false, true}, {0666, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.mode << (c.password ? " password" : ""));
        const auto path = Write(DefaultPath(),
                                c.password ? "[A]\naddress = embedded\npassword = secret\n"
                                           : "[A]\naddress = embedded\n",
                                fs::perms(c.mode));
        auto load = cwb::LoadSystems();
        EXPECT_EQ(static_cast<bool>(load.config), c.accepted) << load.error;
        if (!c.accepted) {
            EXPECT_NE(load.error.find("chmod 600 " + path.string()), std::string::npos)
                << load.error;
        }
        fs::permissions(path, fs::perms(0600));
    }
}

TEST_F(SystemsFileOnDisk, RefusalReachesTheCallerThroughTheApi) {
    Write(DefaultPath(), "[A]\naddress = embedded\npassword = secret\n", fs::perms(0644));
    cwbtest::UseSystemsFile();
    ErrHandle errors;
    cwbCO_SysListHandle list = 0;
    EXPECT_EQ(cwbCO_CreateSysListHandle(&list, errors), CWB_CONFIG_ERROR);
    EXPECT_NE(OnlyError(errors).find("chmod 600"), std::string::npos);
}

TEST_F(SystemsFileOnDisk, EmbeddedDatabaseLivesInTheDataDirectory) {
    cwb::SystemConfig system;
    system.name = "Demo";
    system.address = "embedded";
    EXPECT_EQ(cwb::EmbeddedDatabasePath(system),
              (dir.path() / "data" / "tavo400" / "demo.db").string());
    {
        ScopedEnv noXdg("XDG_DATA_HOME", std::nullopt);
        EXPECT_EQ(cwb::EmbeddedDatabasePath(system),
                  (dir.path() / "home" / ".local" / "share" / "tavo400" / "demo.db").string());
    }
    system.database = "/var/x.db";
    EXPECT_EQ(cwb::EmbeddedDatabasePath(system), "/var/x.db");
}

TEST_F(SystemsFileOnDisk, BuiltInDemoOpensItsDatabaseFile) {
    cwbtest::UseSystemsFile();
    ASSERT_NE(cwbtest::Engine("demo"), nullptr);
    EXPECT_TRUE(fs::exists(dir.path() / "data" / "tavo400" / "demo.db"));
}
