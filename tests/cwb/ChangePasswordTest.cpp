// Changing a password on a real tavo400-hostd, over both of its protocols: the host's
// rules, the new password used for the rest of the run, the systems file left as it was,
// and the warning before a password expires.
#include <gtest/gtest.h>

#include "CwbTestSupport.h"
#include "HostdProcess.h"
#include "cwbsignon.h"

using namespace cwbtesting;
using namespace hostdtest;

namespace {

class ChangePasswordTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetProcessState(); }
    void TearDown() override { ResetProcessState(); }

    // A user whose password "secret42" has expired, or expires in `inDays` days.
    static void AddExpiringUser(const std::string& user, const char* inDays = nullptr) {
        const std::string db = (*dir / "host.db").string();
        ASSERT_EQ(RunHostd(*dir, {"user", "add", user, "--db", db}, "secret42\n").status, 0);
        std::vector<std::string> expire{"user", "expire", user, "--db", db};
        if (inDays)
            expire.insert(expire.end(), {"--in", inDays});
        ASSERT_EQ(RunHostd(*dir, expire).status, 0);
    }
    // A systems file of one system SYSA for `user`, whose password is "secret42".
    static std::filesystem::path Systems(const std::string& user, const std::string& address) {
        return SystemsFile(*dir, address, "secret42", 10, user);
    }
    static unsigned Connect() {
        cwbRC_SysHandle connection = 0;
        return cwbRC_StartSys("SYSA", 0, &connection);
    }
    static long DaysLeft() {
        long days = -2;
        EXPECT_EQ(cwbCO_GetPasswordExpiry("sysa", &days), CWB_OK);
        return days;
    }

    static inline ScratchDir* dir = nullptr;
    static inline Daemon* daemon = nullptr;
    static void SetUpTestSuite() {
        dir = new ScratchDir("passwd");
        daemon = new Daemon(*dir, DemoDatabase(*dir), {"--ibmi", "127.0.0.1:0"});
    }
    static void TearDownTestSuite() {
        delete daemon;
        delete dir;
    }
};

} // namespace

TEST_F(ChangePasswordTest, TheHostsRulesThenTheNewPasswordForTheRestOfTheRun) {
    const struct {
        std::string user, address;
        unsigned expired, wrongOld; // our protocol tells no wrong password from a wrong user
    } protocols[] = {
        {"TCPUSER", daemon->Address(), CWB_PASSWORD_EXPIRED, CWB_SECURITY_ERROR},
        {"IBMUSER", daemon->IbmiAddress(), CWB_PASSWORD_EXPIRED, CWB_PASSWORD_INCORRECT},
    };
    for (const auto& p : protocols) {
        SCOPED_TRACE(p.address);
        AddExpiringUser(p.user);
        const auto file = Systems(p.user, p.address);
        const std::string before = ReadText(file);
        const ScopedEnv systems("TAVO400_SYSTEMS", file.string());
        ResetProcessState();
        cwbtest::UseSystemsFile();
        EXPECT_EQ(Connect(), p.expired);

        const struct {
            const char *oldPassword, *newPassword;
            unsigned rc;
            const char* says;
        } attempts[] = {
            {"wrong-one", "newpass99", p.wrongOld, ""},
            {"secret42", "short", CWB_NEW_PASSWORD_REFUSED, "at least 8 characters"},
            {"secret42", "secret42", CWB_NEW_PASSWORD_REFUSED, "differ from the current"},
            {"secret42", "newpass99", CWB_OK, ""},
        };
        for (const auto& a : attempts) {
            SCOPED_TRACE(a.newPassword);
            const ErrHandle errors;
            EXPECT_EQ(
                cwbCO_ChangePassword("Sysa", p.user.c_str(), a.oldPassword, a.newPassword, errors),
                a.rc);
            const auto texts = ErrorTexts(errors);
            EXPECT_EQ(texts.empty(), a.rc == CWB_OK);
            if (!texts.empty()) {
                EXPECT_NE(texts.back().find(a.says), std::string::npos) << texts.back();
            }
        }
        EXPECT_EQ(Connect(), CWB_OK) << "the changed password, not the file's";
        EXPECT_EQ(ReadText(file), before);

        ResetProcessState(); // a new run has only the file's password, which is no more
        cwbtest::UseSystemsFile();
        EXPECT_EQ(Connect(), p.wrongOld);
    }
}

TEST_F(ChangePasswordTest, AWarningOnlyWithinTheHostsPeriodAndOnlyFromTheIbmiSignOn) {
    const struct {
        const char* user;
        std::string address;
        const char* in;
        long days;
    } cases[] = {
        {"SOON", daemon->IbmiAddress(), "3", 3},
        {"LATER", daemon->IbmiAddress(), "30", -1},
        {"TCPSOON", daemon->Address(), "3", -1}, // our own protocol tells no dates
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        AddExpiringUser(c.user, c.in);
        const ScopedEnv systems("TAVO400_SYSTEMS", Systems(c.user, c.address).string());
        ResetProcessState();
        cwbtest::UseSystemsFile();
        EXPECT_EQ(DaysLeft(), -1) << "nothing known before a sign-on";
        ASSERT_EQ(Connect(), CWB_OK);
        EXPECT_EQ(DaysLeft(), c.days);
    }
}
