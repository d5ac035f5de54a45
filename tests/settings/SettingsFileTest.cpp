#include "FreshSettings.h"

#include <array>
#include <sys/stat.h>

#include "ProcessState.h"
#include "SettingsFile.h"

namespace {

class SettingsFileTest : public FreshSettings {
  protected:
    static std::array<int, 8> Flags(const DeliveryModeFlags& m) {
        return {m.SaveSettings,   m.Pager,        m.Email,     m.Fax,
                m.NetworkMessage, m.MessageQueue, m.Telephone, m.SpooledFile};
    }
};

} // namespace

// Saved, then read back at the next start: the modes come back only when saving was on.
TEST_F(SettingsFileTest, SavedRecordAndItsReturn) {
    struct Case {
        const char* name;
        std::string system;
        DeliveryModeFlags modes;
        std::string record;
    } cases[] = {
        {"pager and fax", "Sys1", {1, 1, 0, 1, 0, 0, 0, 0}, "Sys1\r\nYY Y"},
        {"queue written before telephone", "A", {1, 0, 0, 0, 0, 1, 0, 0}, "A\r\nY    Y  "},
        {"saving off: N and blank modes", "Sys1", {0, 0, 1, 1, 1, 1, 1, 1}, "Sys1\r\nN"},
        {"no system: the line end first", "", {1, 1, 1, 1, 1, 1, 1, 1}, "\r\nYYYYYYYY"},
    };
    for (const auto& c : cases) {
        process.Restart();
        CurrentSystem = c.system;
        DeliveryModes = c.modes;
        SaveDeliveryModes();
        EXPECT_EQ(ReadFile(), Record(c.record)) << c.name;

        process.Restart();
        DeliveryModeFlags inForce;
        inForce.Email = DeliveryModes.Email = 0;
        EXPECT_EQ(LoadStartupSettings(), c.system) << c.name;
        EXPECT_EQ(Flags(DeliveryModes), Flags(c.modes.SaveSettings ? c.modes : inForce)) << c.name;
    }
}

TEST_F(SettingsFileTest, StartupReadingOfOddFiles) {
    EXPECT_EQ(LoadStartupSettings(), ""); // no file changes nothing
    EXPECT_EQ(Flags(DeliveryModes), Flags(DeliveryModeFlags{}));
    EXPECT_FALSE(ReadStoredSystemName().opened);
    struct Case {
        const char* what;
        std::string bytes;
        std::string name;
        bool restored;
        int pager;
    } cases[] = {
        {"save Y, no mode Y", "Sys1\r\nYNNNNNNN", "Sys1", true, 0},
        {"save byte other than Y", "Sys1\r\nyYYYYYYY", "Sys1", false, 1},
        {"short file", "Sys1\r\nYY", "Sys1", true, 1},
        {"300 spaces", std::string(300, ' '), "", false, 1},
        {"no line end: name to the last non-space", "Mysys   ", "Mysys", false, 1},
        {"NUL ends the name", std::string("My\0sys\r\nN", 9), "My", false, 1},
        {"line end too late for flags", std::string(291, 'a') + "\r\nYYYYYYY",
         std::string(291, 'a'), false, 1},
        {"lone CR is no line end", "Ab\rc\r\nYY", "Ab\rc", true, 1},
    };
    for (const auto& c : cases) {
        process.Restart();
        WriteFile(c.bytes);
        EXPECT_EQ(LoadStartupSettings(), c.name) << c.what;
        EXPECT_EQ(DeliveryModes.SaveSettings, c.restored ? 1 : 0) << c.what;
        EXPECT_EQ(DeliveryModes.Pager, c.pager) << c.what;
        if (c.restored && c.pager == 0) {
            EXPECT_EQ(Flags(DeliveryModes), Flags({1, 0, 0, 0, 0, 0, 0, 0})) << c.what;
        }
    }
}

#ifndef _WIN32 // FIFOs, modes and links as POSIX has them
// Opened for reading, a FIFO would hold the program until some writer came.
TEST_F(SettingsFileTest, FifoIsRefusedNotWaitedOnAndLeftAlone) {
    ASSERT_EQ(::mkfifo("dftsys.ini", 0600), 0);
    EXPECT_EQ(LoadStartupSettings(), "");
    EXPECT_FALSE(ReadStoredSystemName().opened);
    CurrentSystem = "Sys1";
    SaveSystemChoice();
    SaveDeliveryModes();
    EXPECT_TRUE(std::filesystem::is_fifo("dftsys.ini"));
    ASSERT_EQ(process.shown.shown.size(), 4u);
    EXPECT_EQ(process.shown.shown[3],
              "The settings file dftsys.ini is a FIFO, not a regular file, so it "
              "is neither read nor written: the chosen system and delivery "
              "modes are not kept. Remove it to keep them.");
}
#endif

TEST_F(SettingsFileTest, DialogReadingOfStoredName) {
    WriteFile(Record("Sys1\r\nN"));
    auto stored = ReadStoredSystemName();
    EXPECT_TRUE(stored.opened);
    EXPECT_EQ(stored.name, "Sys1");
    // without a line end a short file's whole content is the name, blanks and all
    WriteFile("Sys2  ");
    EXPECT_EQ(ReadStoredSystemName().name, "Sys2  ");
    WriteFile(std::string(300, ' '));
    stored = ReadStoredSystemName();
    EXPECT_TRUE(stored.opened);
    EXPECT_EQ(stored.name, "");
    // it never touches the modes
    WriteFile(Record("Sys1\r\nY"));
    ReadStoredSystemName();
    EXPECT_EQ(Flags(DeliveryModes), Flags(DeliveryModeFlags{}));
}

// The system choice rewrites the name only, keeping the eight flag bytes behind it.
TEST_F(SettingsFileTest, SystemChoiceKeepsTheFlagBytes) {
    struct Case {
        const char* name;
        std::string before;
        std::string system;
        std::string after;
    } cases[] = {
        {"longer name", Record("Sys1\r\nN       "), "Longername", Record("Longername\r\nN       ")},
        {"shorter name", Record("Longername\r\nYY Y  Y "), "S", Record("S\r\nYY Y  Y ")},
        {"no line end: blank flags", std::string(300, 'x'), "Sysa", Record("Sysa\r\n")},
        {"line end too late: blank flags", std::string(295, 'x') + "\r\nYYY", "Sysa",
         Record("Sysa\r\n")},
    };
    for (const auto& c : cases) {
        WriteFile(c.before);
        CurrentSystem = c.system;
        SaveSystemChoice();
        EXPECT_EQ(ReadFile(), c.after) << c.name;
    }
    std::filesystem::remove("dftsys.ini");
    SaveSystemChoice();
    EXPECT_FALSE(std::filesystem::exists("dftsys.ini")); // never created here
}

TEST_F(SettingsFileTest, InterruptedWriteKeepsTheOldRecord) {
    CurrentSystem = "Sys1";
    DeliveryModes.SaveSettings = 1;
    SaveDeliveryModes();
    const auto before = ReadFile();
    SetSettingsWriteForTesting([](int fd, const void* data, std::size_t) {
        // the disk fills after 17 bytes
        return static_cast<long>(::write(fd, data, 17));
    });
    CurrentSystem = "Other";
    SaveDeliveryModes();
    SaveSystemChoice();
    EXPECT_EQ(ReadFile(), before);
    SetSettingsWriteForTesting([](int, const void*, std::size_t) { return -1L; });
    SaveDeliveryModes();
    EXPECT_EQ(ReadFile(), before);
    // and no temporary files are left behind
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("."))
        ++files;
    EXPECT_EQ(files, 1);
}

#ifndef _WIN32 // FIFOs, modes and links as POSIX has them
TEST_F(SettingsFileTest, ReplacedFileKeepsItsPermissions) {
    WriteFile(Record("Sys1\r\nN"));
    ::chmod("dftsys.ini", 0640);
    CurrentSystem = "Sys2";
    SaveSystemChoice();
    SaveDeliveryModes();
    struct stat info {};
    ASSERT_EQ(::stat("dftsys.ini", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadFile().substr(0, 4), "Sys2");
}
#endif

#ifndef _WIN32 // FIFOs, modes and links as POSIX has them
// A dftsys.ini kept elsewhere and linked in stays linked; its other names see the record.
TEST_F(SettingsFileTest, LinkedFileIsWrittenWhereItLives) {
    std::filesystem::create_directories("kept/deeper");
    std::filesystem::create_directory_symlink("kept", "elsewhere");
    std::filesystem::create_symlink("../elsewhere/deeper/settings", "kept/hop");
    std::filesystem::create_symlink("kept/hop", "dftsys.ini");
    WriteFile(Record("Sys1\r\nN"));
    CurrentSystem = "Sys2";
    SaveSystemChoice();
    DeliveryModes.SaveSettings = 1;
    SaveDeliveryModes();
    EXPECT_TRUE(std::filesystem::is_symlink("dftsys.ini"));
    EXPECT_TRUE(std::filesystem::is_symlink("kept/hop"));
    EXPECT_EQ(ReadFile(), Record("Sys2\r\nYYYYYYYY"));
    // the temporary file went beside the target, and none is left
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("kept/deeper"),
                            std::filesystem::directory_iterator()),
              1);

    std::filesystem::remove("dftsys.ini");
    WriteFile(Record("Sys2\r\nN"));
    ASSERT_EQ(::link("dftsys.ini", "kept/second-name"), 0);
    CurrentSystem = "Sys3";
    SaveSystemChoice();
    std::ifstream second("kept/second-name", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(second), {}), Record("Sys3\r\nN"));
    DeliveryModes.SaveSettings = 0;
    SaveDeliveryModes();
    EXPECT_EQ(std::filesystem::hard_link_count("dftsys.ini"), 2u);
    EXPECT_EQ(ReadFile(), Record("Sys3\r\nN"));
    std::filesystem::remove("kept/second-name");
}
#endif
