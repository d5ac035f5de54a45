// The password levels hosts used, as a man in the middle who lowers the level meets them.
#include <gtest/gtest.h>

#include "PasswordLevels.h"
#include "Scratch.h"

namespace fs = std::filesystem;
using cwb::PasswordLevels;

static cwb::SystemConfig System(const char* name, int minimum = 0) {
    cwb::SystemConfig system;
    system.name = name, system.minPasswordLevel = minimum;
    return system;
}

TEST(PasswordLevels, TheHighestLevelIsKeptAndALowerOneRefusedUntilAccepted) {
    hostdtest::ScratchDir scratch{"levels"};
    PasswordLevels levels((scratch.path() / "state" / "tavo400").string());
    PasswordLevels::ForgetAccepted();
    enum Act { Check, Remember, Accept };
    const struct {
        Act act;
        const char* system;
        const char* user;
        int level, minimum;
        const char* refusal; // empty: allowed
    } steps[] = {
        {Check, "SYSA", "OPER", 0, 0, ""}, // nothing known yet
        {Remember, "SYSA", "OPER", 3, 0, ""},
        {Check, "sysa", "oper", 2, 0,
         "sysa announced password level 2, lower than the level 3 "
         "it used before: someone on the network may be trying"},
        {Check, "SYSA", "OPER", 4, 0, ""},
        {Check, "SYSA", "QSECOFR", 0, 0, ""}, // each user apart
        {Check, "SYSB", "OPER", 0, 0, ""},    // each system apart
        {Check, "SYSB", "OPER", 1, 2, "lower than the level 2 its min_password_level asks for"},
        {Remember, "SYSA", "OPER", 2, 0, ""}, // the highest stays
        {Check, "SYSA", "OPER", 2, 0, "the level 3 it used before"},
        {Accept, "Sysa", "", 0, 0, ""},
        {Check, "SYSA", "OPER", 1, 2, "min_password_level"}, // no acceptance goes below it
        {Check, "SYSA", "OPER", 0, 0, ""},
        {Remember, "SYSA", "OPER", 0, 0, ""}, // in place of 3, and the acceptance is spent
        {Remember, "SYSA", "OPER", 1, 0, ""},
        {Check, "SYSA", "OPER", 0, 0, "the level 1 it used before"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(&step - steps));
        const auto system = System(step.system, step.minimum);
        if (step.act == Accept)
            PasswordLevels::Accept(step.system);
        const auto status = step.act == Check      ? levels.Check(system, step.user, step.level)
                            : step.act == Remember ? levels.Remember(system, step.user, step.level)
                                                   : cwb::Status::Ok();
        EXPECT_EQ(status.rc, *step.refusal ? CWB_PASSWORD_LEVEL_LOWERED : CWB_OK) << status.text;
        EXPECT_NE(status.text.find(step.refusal), std::string::npos) << status.text;
    }
#ifndef _WIN32 // a Windows profile's own folders are private already
    EXPECT_EQ(fs::status(fs::path(levels.Path()).parent_path()).permissions(), fs::perms(0700));
    EXPECT_EQ(fs::status(levels.Path()).permissions(), fs::perms(0600));
#endif
}

#ifndef _WIN32 // modes and links as POSIX has them
// Whoever could write the file could lower every level in it.
TEST(PasswordLevels, AFileItCannotTrustIsRefusedAndLeftAsItIs) {
    hostdtest::ScratchDir scratch{"levels-bad"};
    const auto elsewhere = scratch / "elsewhere";
    std::ofstream(elsewhere) << "SYSA OPER 0\n";
    const struct {
        const char* name;
        const char* text; // null: the file is a link to `elsewhere`
        unsigned mode;    // 0: the directory is a link
        const char* says;
    } cases[] = {
        {"link", nullptr, 0600, "is a symbolic link"},
        {"shared", "SYSA OPER 3\n", 0622, "is not a file of this user's"},
        {"malformed", "# x\nSYSA 3\n", 0600, "line 2 is not \"SYSTEM USER LEVEL\""},
        {"linked directory", nullptr, 0, "is a symbolic link or no directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto dir = scratch / c.name, file = dir / "password-levels";
        if (c.mode == 0)
            fs::create_directory_symlink(scratch.path(), dir);
        else if (fs::create_directory(dir); c.text)
            std::ofstream(file) << c.text, fs::permissions(file, fs::perms(c.mode));
        else
            fs::create_symlink(elsewhere, file);
        PasswordLevels levels(dir.string());
        const auto checked = levels.Check(System("SYSA"), "OPER", 0);
        EXPECT_EQ(checked.rc, CWB_CONFIG_ERROR);
        EXPECT_NE(checked.text.find(c.says), std::string::npos) << checked.text;
        EXPECT_TRUE(checked.text.ends_with("Nothing was sent.")) << checked.text;
        EXPECT_EQ(levels.Remember(System("SYSA"), "OPER", 4).rc, CWB_CONFIG_ERROR);
    }
    EXPECT_EQ(hostdtest::ReadText(elsewhere), "SYSA OPER 0\n");
}
#endif
