// password_command: how a section gives it, and how it is run.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "CwbTestSupport.h"
#include "HostdProcess.h"
#include "PasswordCommand.h"
#include "SystemsFile.h"
#include "cwbco.h"
#include "cwbsignon.h"

using namespace cwbtesting;
namespace fs = std::filesystem;

namespace {

class PasswordCommandTest : public ::testing::Test {
  protected:
    void TearDown() override { ResetProcessState(); }
    fs::path Script(const std::string& name, const std::string& body) {
        const auto path = dir / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }
    // The one system of a section that gives `command`.
    static cwb::SystemConfig WithCommand(const std::string& command, int timeout = 5) {
        auto load =
            cwb::ParseSystemsFile("[A]\naddress = tcp://h:1\npassword_command = " + command +
                                  "\ntimeout = " + std::to_string(timeout));
        EXPECT_TRUE(load.config) << load.error;
        return load.config ? load.config->systems.at(0) : cwb::SystemConfig{};
    }
    hostdtest::ScratchDir dir{"pwcmd"};
};

} // namespace

TEST_F(PasswordCommandTest, SectionGivesWordsOrIsRefusedWithItsLine) {
    const std::pair<const char*, std::vector<std::string>> split[] = {
        {"secret-tool lookup service tavo400", {"secret-tool", "lookup", "service", "tavo400"}},
        {"  pass\tshow   \"ops/as 400 ;x\"  ; comment", {"pass", "show", "ops/as 400 ;x"}},
        {"\"/opt/my tools/get\" --label=\"a b\"c \"\"", {"/opt/my tools/get", "--label=a bc", ""}},
        {"printf %s $HOME ~ '*'", {"printf", "%s", "$HOME", "~", "'*'"}},
    };
    for (const auto& [text, words] : split)
        EXPECT_EQ(WithCommand(text).passwordCommand, words) << text;

    const std::tuple<const char*, int, const char*> refused[] = {
        {"[A]\naddress = embedded\npassword_command = get \"x\n", 3, "not closed"},
        {"[A]\naddress = embedded\npassword_command =\n", 3, "names no program"},
        {"[A]\naddress = embedded\npassword = s\npassword_command = get\n", 4, "twice"},
        {"[A]\naddress = embedded\npassword_command = get\nuser = U\npassword = s\n", 5, "twice"},
    };
    for (const auto& [text, line, says] : refused) {
        const auto load = cwb::ParseSystemsFile(text);
        ASSERT_FALSE(load.config) << text;
        EXPECT_NE(load.error.find("line " + std::to_string(line) + ":"), std::string::npos)
            << load.error;
        EXPECT_NE(load.error.find(says), std::string::npos) << load.error;
    }
}

TEST_F(PasswordCommandTest, FirstLineIsThePasswordAndFailuresNeverQuoteTheOutput) {
    Script("two-lines", "printf 'secret\\r\\nsecond line\\n'");
    Script("echo args", "echo \"$1|$2|$#\"");
    Script("fails", "echo leaked; exit 3");
    Script("says-nothing", "echo leaked >/dev/null");
    Script("blank-first", "printf '\\nleaked\\n'");
    Script("killed", "echo leaked; kill -9 $$");
    Script("hangs", "echo leaked; exec sleep 30");
    const auto childPid = dir / "child";
    Script("leaves-a-child", "sleep 30 & echo $! >" + childPid.string() + "; echo leaked");
    const auto in = [&](const char* name) { return "\"" + (dir / name).string() + "\""; };
    const std::tuple<std::string, int, unsigned, std::string> cases[] = {
        {in("two-lines"), 5, CWB_OK, "secret"},
        {in("echo args") + " \"two words\" plain", 5, CWB_OK, "two words|plain|2"},
        {"printf %s\\n $HOME", 5, CWB_OK, "$HOME"}, // found on PATH, nothing expanded
        {in("fails"), 5, CWB_PASSWORD_COMMAND_FAILED, "exited with status 3"},
        {in("says-nothing"), 5, CWB_PASSWORD_COMMAND_FAILED, "printed no password"},
        {in("blank-first"), 5, CWB_PASSWORD_COMMAND_FAILED, "printed no password"},
        {in("killed"), 5, CWB_PASSWORD_COMMAND_FAILED, "ended by signal 9"},
        {in("missing"), 5, CWB_PASSWORD_COMMAND_FAILED, "cannot start: No such file"},
        {in("hangs"), 1, CWB_PASSWORD_COMMAND_FAILED, "did not finish within 1 s"},
        {in("leaves-a-child"), 1, CWB_PASSWORD_COMMAND_FAILED, "did not finish within 1 s"},
    };
    for (const auto& [command, timeout, rc, expected] : cases) {
        SCOPED_TRACE(command);
        const auto system = WithCommand(command, timeout);
        std::string password;
        const auto start = std::chrono::steady_clock::now();
        const auto status = cwb::RunPasswordCommand(system, password);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(status.rc, rc) << status.text;
        if (rc == CWB_OK) {
            EXPECT_EQ(password, expected);
            continue;
        }
        EXPECT_TRUE(password.empty());
        EXPECT_NE(status.text.find("The password_command of A ("), std::string::npos)
            << status.text;
        EXPECT_NE(status.text.find(expected), std::string::npos) << status.text;
        EXPECT_EQ(status.text.find("leaked"), std::string::npos) << status.text;
    }
    // what a timed-out command started is ended with it (a zombie left to init is ended)
    const auto child = hostdtest::ReadText(childPid);
    const auto ended = [&] {
        const auto state =
            hostdtest::ReadText("/proc/" + child.substr(0, child.find('\n')) + "/stat");
        return state.empty() || state.find(") Z") != std::string::npos;
    };
    for (int i = 0; i < 200 && !ended(); ++i) // SIGKILL takes effect when it is scheduled
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(ended());
}

// Through the API: the command's failure is the connect's, its text in the error handle.
TEST_F(PasswordCommandTest, FailingCommandFailsTheOpenWithItsText) {
    ResetProcessState();
    cwbtest::UseSystems("[A]\naddress = tcp://127.0.0.1:1\nuser = U\npassword_command = " +
                        Script("fails", "echo leaked; exit 1").string() + "\n");
    cwbRC_SysHandle connection = 0;
    EXPECT_EQ(cwbRC_StartSys("A", 0, &connection), CWB_PASSWORD_COMMAND_FAILED);
    ErrHandle errors;
    cwbDQ_QueueHandle queue = 0;
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, "A", &queue, errors), CWB_PASSWORD_COMMAND_FAILED);
    EXPECT_NE(OnlyError(errors).find("exited with status 1"), std::string::npos);

    // a password it gave serves the whole run: a connect and a queue open run it once
    const auto runs = dir / "runs";
    cwbtest::UseSystems("[A]\naddress = tcp://127.0.0.1:1\nuser = U\npassword_command = " +
                        Script("counts", "echo run >>" + runs.string() + "; echo pw").string() +
                        "\n");
    EXPECT_EQ(cwbRC_StartSys("A", 0, &connection), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, "A", &queue, errors), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(hostdtest::ReadText(runs), "run\n");
}
