// The daemon under systemd: readiness and stopping on the notify socket, and log lines
// with priorities only when standard error is the journal.
#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "HostdProcess.h"
#include "TestCerts.h"

using namespace hostdtest;

namespace {

// systemd's end of NOTIFY_SOCKET: the daemon sends its state there as datagrams.
class NotifySocket {
  public:
    explicit NotifySocket(const std::filesystem::path& path)
        : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.string().copy(address.sun_path, sizeof address.sun_path - 1);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot bind " + path.string());
        timeval limit{10, 0}; // a daemon that never says it fails the test instead of hanging it
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~NotifySocket() { ::close(fd_); }
    std::string Next() {
        char buffer[512];
        const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "(nothing)";
    }

  private:
    int fd_;
};

// What systemd puts in JOURNAL_STREAM for the stream it connected: "DEVICE:INODE".
std::string StreamId(const std::filesystem::path& file) {
    std::ofstream{file};
    struct stat info {};
    ::stat(file.c_str(), &info);
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

} // namespace

// The manual's network recipes and limits on open files, run as the unit's commands with its
// and a drop-in's variables (sh expands them as systemd does); the log gets the limits.
TEST(HostdSystemd, TheDocumentedDropInsServeTheNetworkAndEnoughConnections) {
    ScratchDir dir("unit");
    const auto& [cert, key] = certtest::Shared().localhost;
    const auto here = [&](std::string text) {
        for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
                 {"\\-", "-"},
                 {":7475", ":0"},
                 {":7476", ":0"},
                 {"/etc/tavo400-hostd/host.pem", cert},
                 {"/etc/tavo400-hostd/host.key", key},
                 {"/var/lib/tavo400-hostd", dir.path()},
                 {"@sbindir@/tavo400-hostd", HostdBinary()},
                 {"Environment=", "export "},
                 {"ExecStartPre=", ""},
                 {"ExecStart=", "$PRLIMIT "}})
            for (std::size_t at; (at = text.find(from)) != std::string::npos;)
                text.replace(at, from.size(), to);
        return text;
    };
    std::vector<std::array<std::string, 3>> rows; // drop-in, prlimit, expected
    std::istringstream manual(ReadText(TAVO_PACKAGING_DIR "/man/tavo400-hostd.8.in"));
    for (std::string line, last; std::getline(manual, line); last = line)
        if (line.starts_with("Environment=") && last == "[Service]")
            rows.push_back({here(line), "", "listening on 0.0.0.0:"});
    ASSERT_EQ(rows.size(), 2u);
    rows[0][2] = "listening under TLS on 0.0.0.0:";
    const std::string connections = "export \"TAVO400_HOSTD_OPTIONS=--max-connections 1000\"";
    rows.push_back({"export TAVO400_HOSTD_LISTEN=0.0.0.0:0", "", "--insecure-plaintext"});
    rows.push_back({connections, "prlimit --nofile=64:4096", "Max open files            1064 "});
    rows.push_back({connections, "prlimit --nofile=64:1000",
                    "needs 1064 open files, but the daemon may open at most 1000"});
    std::string variables, commands; // the unit's
    std::istringstream lines(ReadText(TAVO_PACKAGING_DIR "/systemd/tavo400-hostd.service.in"));
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("Environment=") || line.starts_with("ExecStart"))
            (line.starts_with("En") ? variables : commands) += "\n" + here(line);
    const std::string port = (dir / "port").string(), log = (dir / "log").string();
    for (const auto& [dropIn, prlimit, expected] : rows) {
        std::filesystem::remove(port);
        std::filesystem::remove(log);
        WaitExit(Spawn({"/bin/sh", "-c",
                        variables + "\n" + dropIn + "\nPRLIMIT='" + prlimit + "'" + commands +
                            " --port-file " + port + " & until [ -f " + port +
                            " ] || ! kill -0 $! 2>/dev/null; do sleep 0.01; done; cat "
                            "/proc/$!/limits; kill $!; wait"},
                       "", log, log));
        EXPECT_NE(ReadText(log).find(expected), std::string::npos) << dropIn << ReadText(log);
    }
}

TEST(HostdSystemd, ReportsReadyAndStoppingAndLogsWithPriorities) {
    ScratchDir dir("systemd");
    const auto db = DemoDatabase(dir);
    NotifySocket notify(dir / "notify");
    ScopedEnv socket("NOTIFY_SOCKET", (dir / "notify").string());
    ScopedEnv journal("JOURNAL_STREAM", StreamId(dir / "hostd.log")); // the daemon's stderr

    Daemon daemon(dir, db, {"--ibmi", "0"});
    EXPECT_EQ(notify.Next(), "READY=1");
    EXPECT_NE(daemon.ServicePort("as-signon"), 0);
    EXPECT_EQ(daemon.Stop(), 0);
    EXPECT_EQ(notify.Next(), "STOPPING=1");
    const auto log = daemon.Log();
    EXPECT_NE(log.find("<5>listening on 127.0.0.1:"), std::string::npos) << log;
    EXPECT_NE(log.find("<5>signal SIGTERM: stopping\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<6>database closed\n"), std::string::npos) << log;
}

TEST(HostdSystemd, AnErrorCarriesItsPriorityAndAnotherStreamStaysPlain) {
    ScratchDir dir("systemd");
    const auto db = DemoDatabase(dir);
    ScopedEnv journal("JOURNAL_STREAM", StreamId(dir / "journal"));
    const auto serve = [&](const std::filesystem::path& err) {
        const std::vector<std::string> args{HostdBinary(), "serve",    "--db",
                                            db.string(),   "--listen", "127.0.0.1:99999"};
        EXPECT_EQ(WaitExit(Spawn(args, "", "", err.string())), 1);
        return ReadText(err);
    };

    const auto toJournal = serve(dir / "journal");
    EXPECT_EQ(toJournal.rfind("<3>tavo400-hostd serve: --listen wants HOST:PORT", 0), 0u)
        << toJournal;
    // A child of a unit whose standard error goes elsewhere, as a test's log file does.
    const auto toFile = serve(dir / "elsewhere");
    EXPECT_TRUE(std::regex_search(
        toFile, std::regex(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ tavo400-hostd serve: --listen)")))
        << toFile;
}
