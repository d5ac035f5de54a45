// The host link end to end: through the embedded host, through a tavo400-hostd on a
// loopback port in our own protocol, and through the same daemon's IBM i host servers at
// each password level. The user must not be able to tell them apart.
#include "HostFixture.h"

#include <algorithm>
#include <csignal>
#include <thread>

#include "HostOperation.h"
#include "HostdProcess.h"
#include "Latin1Text.h"
#include "cwbdq.h"
#include "cwbrc.h"
#include "cwbsv.h"

using namespace hostdtest;

namespace {

class BackendParityTest : public HostFixture, public ::testing::WithParamInterface<std::string> {
  protected:
    void SetUp() override {
        HostFixture::SetUp();
        const bool ibmi = GetParam().starts_with("ibmi");
        db = DemoDatabase(dir, ibmi ? std::stoi(GetParam().substr(4)) : 3);
        if (GetParam() == "tcp") {
            daemon = std::make_unique<Daemon>(dir, db);
            cwbtest::UseSystems("[SYSA]\naddress = " + daemon->Address() +
                                "\nuser = OPER\npassword = secret42\ntimeout = 5\n");
        } else if (GetParam().starts_with("ibmi") || GetParam().starts_with("ccsid")) {
            // "ibmiN": password level N; "ccsidN": a host whose CCSID is N
            const bool national = GetParam().starts_with("ccsid");
            daemon = std::make_unique<Daemon>(
                dir, db,
                std::vector<std::string>{"--ibmi", "127.0.0.1:0",
                                         national ? "--ccsid" : "--password-level",
                                         GetParam().substr(national ? 5 : 4)});
            cwbtest::UseSystems("[SYSA]\naddress = " + daemon->IbmiAddress() +
                                "\nuser = OPER\npassword = secret42\ntimeout = 5\n");
        } else {
            cwbtest::UseSystems("[SYSA]\naddress = embedded\ndatabase = " + db.string() + "\n");
        }
    }
    std::vector<tavo::server::OutboxMessage> Outbox() {
        return tavo::server::HostEngine(db.string()).Outbox();
    }

    ScratchDir dir{"parity"};
    std::filesystem::path db;
    std::unique_ptr<Daemon> daemon;
};

} // namespace

TEST_P(BackendParityTest, SendIsRefusedWithTheHostTextsOrStoredByteForByte) {
    const auto refused = Submit({1, 2, "nobody    jsmith    ", "body", ""});
    EXPECT_EQ(refused.result, Outcome::Result::Refused);
    EXPECT_EQ(refused.texts, Texts{"Unknown recipient NOBODY.\n"});
    EXPECT_TRUE(Outbox().empty());

    DeliveryModes = DeliveryModeFlags{0, 1, 1, 0, 0, 0, 0, 0};
    const auto outcome = Submit({1, 2, "jsmith    mjones    ", "Call me", "Hi"});
    ASSERT_TRUE(outcome.Done()) << outcome.texts.front();
    const auto outbox = Outbox();
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(outbox[0].rawRecord, tavo::codepage::ToEbcdic(testsupport::SendRecord(
                                       {"JSMITH", "MJONES"}, "Hi@@Call me", "*RCP", "YY")));
    // the administration command shows the same record, in hex
    const auto json = RunHostd(dir, {"outbox", "--json", "--db", db.string()});
    EXPECT_NE(json.out.find("\"rawRecord\": \"" + tavo::text::Hex(outbox[0].rawRecord) + "\""),
              std::string::npos);
    EXPECT_NE(json.out.find("\"names\": [\"JSMITH\", \"MJONES\"]"), std::string::npos) << json.out;
}

TEST_P(BackendParityTest, ListsArriveWholeAndInOrder) {
    CHostLink link;
    // A Danish host knows the queue only by its own '#': each time ours is tried first.
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open"), GetParam() == "ccsid277" ? 4 : 2);
    std::vector<ListItem> items;
    int count = 0;
    ASSERT_TRUE(link.RetrieveList("*RCPL", items, count));
    std::vector<std::string> names, expected;
    for (const auto& item : items)
        names.push_back(item.name);
    for (const auto& r : tavo::server::HostEngine(db.string()).Recipients())
        expected.push_back(r.name);
    EXPECT_EQ(names, expected);
}

// A host that stops answering: Cancel ends the wait long before the 30 s timeout, and the
// outcome says how far the operation got, as the outbox shows it afterwards.
class CancelTest : public BackendParityTest {}; // a row for each protocol that can wait

TEST_P(CancelTest, TellsWhetherTheRequestHadLeft) {
    const auto address = GetParam() == "tcp" ? daemon->Address() : daemon->IbmiAddress();
    const auto section =
        "\naddress = " + address + "\nuser = OPER\npassword = secret42\ntimeout = 30\n";
    cwbtest::UseSystems("[SYSA]" + section + "[SYSB]" + section);
    ASSERT_TRUE(Submit({1, 1, "ops       ", "first", ""}).Done());
    ::kill(daemon->Pid(), SIGSTOP);
    const auto cancelled = [](const std::function<Outcome()>& work) {
        HostOperation operation("Waiting", work);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        operation.Cancel();
        return operation.Result();
    };
    // SYSA's connection is open: the message has left when Cancel comes.
    const auto sent = cancelled([] { return Submit({1, 1, "ops       ", "second", ""}); });
    EXPECT_EQ(sent.result, Outcome::Result::Unknown);
    ListOutcome list;
    const auto listed = cancelled([&list] { return (list = FetchList(ListKind::Groups)).outcome; });
    EXPECT_EQ(listed.cause, Outcome::Cause::Cancelled);
    EXPECT_EQ(listed.status, "Not sent.");
    EXPECT_TRUE(list.entries.empty());
    // SYSB still signs on: nothing of the message has left.
    CurrentSystem = "SYSB";
    const auto unsent = cancelled([] { return Submit({1, 1, "ops       ", "third", ""}); });
    EXPECT_EQ(unsent.cause, Outcome::Cause::Cancelled);
    ::kill(daemon->Pid(), SIGCONT);
    for (int i = 0; i < 100 && Outbox().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // nothing more comes
    const auto outbox = Outbox();
    ASSERT_EQ(outbox.size(), 2u);
    EXPECT_EQ(outbox[0].body, "second");
}

INSTANTIATE_TEST_SUITE_P(Backends, BackendParityTest,
                         ::testing::Values("embedded", "tcp", "ibmi0", "ibmi2", "ibmi3", "ibmi4",
                                           "ccsid277"),
                         [](const auto& info) { return info.param; });
INSTANTIATE_TEST_SUITE_P(Backends, CancelTest, ::testing::Values("tcp", "ibmi3"),
                         [](const auto& info) { return info.param; });

namespace {

// What only the IBM i host servers can tell a user: why a sign-on was refused, and the
// host's own message when a program cannot run.
class IbmiLinkTest : public HostFixture {
  protected:
    void SetUp() override {
        HostFixture::SetUp();
        db = DemoDatabase(dir);
        daemon =
            std::make_unique<Daemon>(dir, db, std::vector<std::string>{"--ibmi", "127.0.0.1:0"});
        UseUser("OPER", "secret42");
    }
    void UseUser(const std::string& user, const std::string& password) {
        cwbtest::UseSystems("[SYSA]\naddress = " + daemon->IbmiAddress() + "\nuser = " + user +
                            "\npassword = " + password + "\ntimeout = 5\n");
    }
    ScratchDir dir{"ibmi-link"};
    std::filesystem::path db;
    std::unique_ptr<Daemon> daemon;
};

} // namespace

TEST_F(IbmiLinkTest, RefusedSignOnsShowTheirOwnCodes) {
    const struct {
        const char* command; // applied to OPER first, or nothing
        const char* user;
        const char* password;
        unsigned rc;
    } cases[] = {
        {nullptr, "OPER", "wrong", CWB_PASSWORD_INCORRECT},
        // the daemon answers an unknown user exactly as a wrong password
        {nullptr, "NOBODY", "secret42", CWB_PASSWORD_INCORRECT},
        {"expire", "OPER", "secret42", CWB_PASSWORD_EXPIRED},
        {"disable", "OPER", "secret42", CWB_USER_DISABLED},
        {nullptr, "OPER", "wrong", CWB_PASSWORD_INCORRECT}, // the second failure locks
        {nullptr, "OPER", "secret42", CWB_USER_LOCKED_OUT},
    };
    daemon = std::make_unique<Daemon>(
        dir, db, std::vector<std::string>{"--ibmi", "127.0.0.1:0", "--max-sign-on-attempts", "2"});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rc) + " " + c.user);
        if (c.command) {
            ASSERT_EQ(RunHostd(dir, {"user", c.command, "OPER", "--db", db.string()}).status, 0);
        }
        UseUser(c.user, c.password);
        RestartProcess();
        CHostLink link;
        EXPECT_EQ(link.LastOutcome().returnCode, c.rc);
    }
    const std::string log = daemon->Log(); // what the user is not told, the log tells
    EXPECT_NE(log.find("as-signon: sign-on as NOBODY refused: unknown user"), std::string::npos);
    EXPECT_NE(log.find("as-signon: sign-on as OPER refused: wrong password"), std::string::npos);
}

// Whichever generation of host the daemon stands for, and whatever its CCSID, the user
// reads the host's own words as it wrote them: a refused sign-on's in that generation's
// forms, none from the oldest; a call's messages in the job's CCSID (the fixed form of
// level 2) or their own (the full form of level 18); the data queue's in the sign-on
// server's. A name we spell in CCSID 37 the host reads in its own, where our '#' is a
// Danish 'Æ'. A connection handle outlives a restart of the host.
TEST_F(IbmiLinkTest, EachHostGivesItsOwnTextsInItsOwnCcsid) {
    EXPECT_EQ(
        RunHostd(dir, {"serve", "--db", db.string(), "--ibmi", "0", "--host-level", "5"}).status,
        2);
    const std::string refused = "refused: the password is not correct.";
    const std::string cpf22e2 = refused + " CPF22E2 Password not correct for user profile OPER.";
    const std::string cpf9811 = "CPF9811 Program NOSUCH in library TAVO400 not found.";
    const std::string grosser = std::string("gr\xf6\xdf") + "er";
    const struct {
        const char *ccsid, *level;
        std::string signOn;            // what a wrong password is told; empty: not tried
        std::vector<std::string> call; // TVOCUPD's function and action; none: NOSUCH; "#": a queue
        std::string text;
        const char* form = nullptr; // of the call's messages, as the log names it
    } cases[] = {
        {"37", "2", refused, {}, cpf9811, "0x1102"},
        {"37", "10", cpf22e2, {}, cpf9811, "0x1106"},
        {"37", "18", cpf22e2, {}, cpf9811, "0x1107"},
        {"273",
         "2",
         "",
         {"Empf\xe4nger", "*SNDTVO"},
         "CPF9898 Function 'Empf\xe4nger' is not supported by program TVOCUPD."},
        {"273",
         "18",
         "",
         {"*CA", grosser},
         "CPF9898 Request '" + grosser + "' is not supported by program TVOCUPD."},
        {"277", "18", "", {"#"}, "CPF9801 Object \xc6TVOCGET in library TAVO400 not found."},
    };
    char text[260] = "";
    unsigned long length = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ccsid) + " at level " + c.level);
        daemon.reset();
        daemon =
            std::make_unique<Daemon>(dir, db,
                                     std::vector<std::string>{"--ibmi", "127.0.0.1:0", "--ccsid",
                                                              c.ccsid, "--host-level", c.level});
        cwbSV_ErrHandle errors = 0;
        cwbDQ_QueueHandle queue = 0;
        if (!c.signOn.empty()) {
            UseUser("OPER", "wrong");
            RestartProcess();
            cwbSV_CreateErrHandle(&errors);
            cwbDQ_Open("#TVOCGET", "TAVO400", "SYSA", &queue, errors);
            cwbSV_GetErrTextIndexed(errors, 1, text, sizeof text, &length);
            EXPECT_TRUE(std::string(text).ends_with(c.signOn)) << text;
        }
        UseUser("OPER", "secret42");
        RestartProcess(); // which drops every handle
        cwbSV_CreateErrHandle(&errors);
        if (c.call.size() == 1) {
            EXPECT_EQ(cwbDQ_Open("#TVOCGET", "TAVO400", "SYSA", &queue, errors),
                      CWBDQ_QUEUE_NOT_FOUND);
        } else {
            cwbRC_SysHandle system = 0;
            ASSERT_EQ(cwbRC_StartSys("SYSA", 0, &system), CWB_OK);
            cwbRC_PgmHandle program = 0;
            cwbRC_CreatePgm(c.call.empty() ? "NOSUCH" : "TVOCUPD", "TAVO400", &program);
            std::string areas[6];
            for (std::size_t i = 0; i < 6 && !c.call.empty(); ++i) {
                areas[i] = i < 2 ? c.call[i] : "";
                areas[i].resize(i < 3 ? 10 : i == 3 ? 30 : 32000, i < 5 ? ' ' : '\0');
                areas[i] = i < 5 ? tavo::codepage::ToEbcdic(areas[i]) : areas[i];
                cwbRC_AddParm(program, i < 5 ? CWBRC_INPUT : CWBRC_OUTPUT,
                              static_cast<unsigned long>(areas[i].size()),
                              reinterpret_cast<unsigned char*>(areas[i].data()));
            }
            EXPECT_EQ(cwbRC_CallPgm(system, program, errors), CWBRC_HOST_PROGRAM_ERROR);
            if (c.form) {
                EXPECT_NE(daemon->Log().find(std::string("(message form ") + c.form),
                          std::string::npos);
                daemon->Restart();
                EXPECT_EQ(cwbRC_CallPgm(system, program, errors), CWBRC_HOST_PROGRAM_ERROR);
            }
        }
        cwbSV_GetErrTextIndexed(errors, 1, text, sizeof text, &length);
        EXPECT_EQ(text, c.text);
    }
}

// A process signs on once and opens each server once, however often it connects; a wrong
// password is refused by the sign-on server alone, so it costs the user one attempt.
TEST_F(IbmiLinkTest, AProcessSignsOnOnceAndKeepsItsConnections) {
    const auto logged = [&](const std::string& what) {
        const std::string log = daemon->Log();
        std::size_t n = 0;
        for (auto at = log.find(what); at != std::string::npos; at = log.find(what, at + 1))
            ++n;
        return n;
    };
    // the sign-on, remote command and data queue servers; our own protocol's one connection
    for (const auto& [address, connections] :
         {std::pair{daemon->IbmiAddress(), 3u}, std::pair{daemon->Address(), 1u}}) {
        SCOPED_TRACE(address);
        cwbtest::UseSystems("[SYSA]\naddress = " + address +
                            "\nuser = OPER\npassword = secret42\ntimeout = 5\n");
        RestartProcess();
        const std::size_t before = logged("signed on");
        for (int round = 0; round < 2; ++round) {
            cwbRC_SysHandle system = 0;
            ASSERT_EQ(cwbRC_StartSys("SYSA", 0, &system), CWB_OK);
            cwbRC_PgmHandle program = 0;
            cwbRC_CreatePgm("NOSUCH", "TAVO400", &program);
            EXPECT_EQ(cwbRC_CallPgm(system, program, 0), CWBRC_HOST_PROGRAM_ERROR);
            cwbRC_DeletePgm(program);
            cwbRC_EndSys(system);
            cwbDQ_QueueHandle queue = 0;
            cwbDQ_Open("NOSUCH", "TAVO400", "SYSA", &queue, 0);
            cwbDQ_Close(queue);
        }
        EXPECT_EQ(logged("signed on") - before, connections);
    }

    UseUser("OPER", "wrong");
    RestartProcess();
    cwbRC_SysHandle system = 0;
    EXPECT_EQ(cwbRC_StartSys("SYSA", 0, &system), CWB_PASSWORD_INCORRECT);
    EXPECT_EQ(logged("sign-on as OPER refused"), 1u);
}
