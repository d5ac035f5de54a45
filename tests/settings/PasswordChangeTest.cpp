// The decisions of a change of password, below both front ends: the form, the host's
// answer, and when the window offers a change.
#include <gtest/gtest.h>

#include "FreshProcess.h"
#include "PasswordChange.h"
#include "SignOn.h"
#include "cwbsignon.h"
#include "cwbtest.h"

namespace {

using Kind = PasswordChangeResult::Kind;

class PasswordChangeTest : public ::testing::Test {
  protected:
    testsupport::FreshProcess process;
};

} // namespace

TEST_F(PasswordChangeTest, TheFormMustBeWholeAndTheNewPasswordTypedTwiceAlike) {
    const struct {
        PasswordChangeForm form;
        Kind kind;
        const char* says;
    } cases[] = {
        {{"SYSA", "", "old", "newpass99", "newpass99"}, Kind::Invalid, "give the user ID"},
        {{"SYSA", "OPER", "", "newpass99", "newpass99"}, Kind::Invalid, "give the user ID"},
        {{"SYSA", "OPER", "old", "newpass99", "newpass98"}, Kind::Invalid, "differ"},
        // whole: the host is asked, and the embedded one has no passwords
        {{"SYSA", "OPER", "old", "newpass99", "newpass99"}, Kind::Refused, "no passwords"},
    };
    for (const auto& c : cases) {
        const auto result = ChangePassword(c.form);
        EXPECT_EQ(result.kind, c.kind);
        EXPECT_NE(result.text.find(c.says), std::string::npos) << result.text;
    }
    EXPECT_EQ(cwbtest::CountCalls("cwbCO_ChangePassword"), 1) << "only a whole form is sent";

    const PasswordChangeForm whole{"SYSA", "OPER", "old", "newpass99", "newpass99"};
    cwbtest::FailNext("cwbCO_ChangePassword", CWB_NEW_PASSWORD_REFUSED, "Too short.");
    auto refused = ChangePassword(whole);
    EXPECT_EQ(refused.kind, Kind::Refused);
    EXPECT_EQ(refused.text, "Too short.");
    cwbtest::FailNext("cwbCO_ChangePassword", CWB_COMMUNICATIONS_ERROR, "");
    refused = ChangePassword(whole);
    EXPECT_EQ(refused.kind, Kind::Unreachable);
    EXPECT_EQ(refused.text, "Unable to obtain connection to SYSA, return code 4102");
}

TEST_F(PasswordChangeTest, TheWindowOffersAChangeWhenExpiredAndAsksOnceWhenSoon) {
    const auto expired = PasswordChangeOfferAfter("SYSA", CWB_PASSWORD_EXPIRED);
    EXPECT_TRUE(expired.offer && expired.question.empty());
    EXPECT_EQ(expired.reason, "The password on SYSA has expired. Choose a new one.");
    EXPECT_FALSE(PasswordChangeOfferAfter("SYSA", CWB_OK).offer) << "nothing known";

    cwb::NotePasswordExpiry("SYSA", 3); // as a sign-on that was warned notes it
    const auto soon = PasswordChangeOfferAfter("sysa", CWB_OK);
    EXPECT_TRUE(soon.offer);
    EXPECT_EQ(soon.question, "Your password on sysa expires in 3 days. Change it now?");
    EXPECT_FALSE(PasswordChangeOfferAfter("sysa", CWB_OK).offer) << "once per run";
    EXPECT_TRUE(PasswordChangeOfferAfter("SYSA", CWB_PASSWORD_EXPIRED).offer) << "always";
}
