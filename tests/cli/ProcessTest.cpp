// The tavo400-send program itself, started as a script would start it, against a
// tavo400-hostd on a loopback port: real standard streams, exit statuses and files.
#include "CliFixture.h"

#include <asio.hpp>
#include <csignal>
#include <thread>

using namespace hostdtest;

namespace {

std::string SendBinary() {
#ifdef TAVO400_SEND_PATH
    return TAVO400_SEND_PATH;
#else
    throw std::runtime_error("built without the path of tavo400-send");
#endif
}

class ProcessTest : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        db = DemoDatabase(daemonDir);
        daemon = std::make_unique<Daemon>(daemonDir, db);
        systems = SystemsFile(daemonDir, daemon->Address(), "secret42", 5);
    }

    // Runs tavo400-send with `input` on a pipe-like file as its standard input.
    Result Send(std::vector<std::string> args, const std::string& input = {}) {
        static int counter = 0;
        const std::string tag = std::to_string(counter++);
        const auto in = dir / ("send-in" + tag), out = dir / ("send-out" + tag),
                   err = dir / ("send-err" + tag);
        std::ofstream(in, std::ios::binary) << input;
        args.insert(args.begin(), SendBinary());
        const pid_t pid = Spawn(args, in.string(), out.string(), err.string());
        return {WaitExit(pid), ReadText(out), ReadText(err)};
    }
    std::vector<tavo::server::OutboxMessage> Outbox() {
        return tavo::server::HostEngine(db.string()).Outbox();
    }

    std::filesystem::path db;
    std::unique_ptr<Daemon> daemon;
    std::filesystem::path systems;
};

} // namespace

TEST_F(ProcessTest, SendsWithABodyOnStandardInputAndExitsZero) {
    const std::string body = "Backup ended\nwith 0 errors\n";
    const auto r =
        Send({"--config", systems.string(), "--to", "ops,jsmith", "--subject", "Backup"}, body);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Accepted by Sysa for 2 recipients by pager, email, fax, netmsg, msgq, "
                     "phone, spool. Accepted is not yet delivered: the host delivers it.\n");
    EXPECT_TRUE(r.err.empty()) << r.err;
    const auto outbox = Outbox();
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(outbox[0].rawRecord, WindowRecord("ops,jsmith", "Backup", body, true));
}

TEST_F(ProcessTest, ExitStatusesOfAProcess) {
    const auto refused = Send({"--config", systems.string(), "--to", "nobody"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_FALSE(refused.err.empty()); // the host's reasons

    // a systems file that cannot be used: what is wrong with it and where, and nothing else
    const auto malformed = dir / "malformed.ini";
    std::ofstream(malformed) << "[SYSA]\naddress embedded\n";
    const auto broken = Send({"--config", malformed.string(), "--to", "jsmith", "--body", "b"});
    EXPECT_EQ(broken.status, 3);
    EXPECT_EQ(broken.err,
              "  " + malformed.string() + ": systems file, line 2: expected 'key = value'\n");

    // a password the systems file does not give is asked for at a terminal only
    const auto noPassword = dir / "no-password.ini";
    std::ofstream(noPassword) << "[SYSA]\naddress = " << daemon->Address() << "\nuser = OPER\n";
    const auto unasked =
        Send({"--config", noPassword.string(), "--to", "jsmith", "--body", "b"}, "secret42\n");
    EXPECT_EQ(unasked.status, 3);
    EXPECT_TRUE(unasked.err.ends_with("run at a terminal without --no-prompt to be asked for it\n"))
        << unasked.err;
    EXPECT_TRUE(Outbox().empty());
}

// Ctrl+C or SIGTERM while the host is silent: the wait ends at once, nothing was sent.
TEST_F(ProcessTest, InterruptedWaitsEndAtOnceAndSaySo) {
    asio::io_context io;
    asio::ip::tcp::acceptor silent(io, {asio::ip::make_address("127.0.0.1"), 0});
    const auto mute =
        SystemsFile(daemonDir, "tcp://127.0.0.1:" + std::to_string(silent.local_endpoint().port()),
                    "secret42", 30);
    const std::vector<std::vector<std::string>> commands = {{"--to", "ops", "--body", "b"},
                                                            {"--list", "groups"}};
    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}})
        for (auto args : commands) {
            SCOPED_TRACE(args[0] + " " + std::to_string(signal));
            args.insert(args.begin(), {SendBinary(), "--config", mute.string()});
            const auto err = dir / ("interrupted-err" + std::to_string(signal) + args[3]);
            const pid_t pid = Spawn(args, "/dev/null", "/dev/null", err.string());
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ::kill(pid, signal);
            EXPECT_EQ(WaitExit(pid), status);
            EXPECT_EQ(ReadText(err), "tavo400-send: interrupted: nothing was sent\n");
        }
}
