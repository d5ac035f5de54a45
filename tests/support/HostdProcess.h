#pragma once

// Runs tavo400-hostd for tests and benchmarks: administration commands to completion,
// and the daemon on an ephemeral loopback port in a temporary directory.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Scratch.h"

extern char** environ;

namespace hostdtest {

// $TAVO400_HOSTD, else the path the build gave.
inline std::string HostdBinary() {
    if (const char* path = std::getenv("TAVO400_HOSTD"); path && *path)
        return path;
#ifdef TAVO400_HOSTD_PATH
    return TAVO400_HOSTD_PATH;
#else
    throw std::runtime_error("set TAVO400_HOSTD to the tavo400-hostd program");
#endif
}

// Starts `argv`, its standard streams redirected to files (empty: /dev/null).
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& in,
                   const std::string& out, const std::string& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.empty() ? "/dev/null" : in.c_str(), O_RDONLY,
                                     0);
    posix_spawn_file_actions_addopen(&actions, 1, out.empty() ? "/dev/null" : out.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.empty() ? "/dev/null" : err.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    return pid;
}

inline int WaitExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

struct Result {
    int status;
    std::string out;
    std::string err;
};

// Runs tavo400-hostd with `args` and `input` on its standard input, to the end.
inline Result RunHostd(const ScratchDir& dir, std::vector<std::string> args,
                       const std::string& input = {}) {
    static int counter = 0;
    const std::string tag = std::to_string(counter++);
    const auto in = dir / ("in" + tag), out = dir / ("out" + tag), err = dir / ("err" + tag);
    std::ofstream(in, std::ios::binary) << input;
    args.insert(args.begin(), HostdBinary());
    const pid_t pid = Spawn(args, in.string(), out.string(), err.string());
    Result result{WaitExit(pid), ReadText(out), ReadText(err)};
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}

// `tavo400-hostd serve` on 127.0.0.1: port 0 lets the system choose; Restart binds
// the same port again, as a restarted daemon would.
class Daemon {
  public:
    Daemon(const ScratchDir& dir, std::filesystem::path db, std::vector<std::string> extra = {})
        : dir_(dir), db_(std::move(db)), extra_(std::move(extra)) {
        Start(0);
    }
    ~Daemon() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            WaitExit(pid_);
        }
    }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    std::string Address() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
    // With --ibmi: the port mapper's port, the port file's second line.
    int IbmiPort() const { return ibmiPort_; }
    std::string IbmiAddress() const { return "ibmi://127.0.0.1:" + std::to_string(ibmiPort_); }
    // With --ibmi-tls and --listen-tls too (see TlsArgs): `host` is what the client checks
    // the certificate against.
    std::string IbmisAddress(const std::string& host = "127.0.0.1") const {
        return "ibmis://" + host + ":" + std::to_string(ibmiPort_);
    }
    std::string TcpsAddress(const std::string& host = "127.0.0.1") const {
        return "tcps://" + host + ":" + std::to_string(tlsPort_);
    }
    // With --ibmi: the port the port mapper gives out for `service` ("as-signon",
    // "as-signon-s", ...); 0 when it refuses the name.
    int ServicePort(const std::string& service) const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(ibmiPort_));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::string reply;
        char buffer[16];
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
            ::send(fd, service.data(), service.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(service.size()))
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                reply.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        int port = 0; // "+" and four bytes of port
        for (std::size_t i = 1; i < reply.size(); ++i)
            port = (port << 8) | static_cast<unsigned char>(reply[i]);
        return reply.size() == 5 && reply[0] == '+' ? port : 0;
    }
    std::string Log() const { return ReadText(log_); }

    // Sends `signal` and waits for the exit; returns the exit status.
    int Stop(int signal = SIGTERM) {
        ::kill(pid_, signal);
        const int status = WaitExit(pid_);
        pid_ = -1;
        return status;
    }
    // kill -9, then a new daemon on the same port (and port mapper port) after `downtime`.
    void Restart(std::chrono::milliseconds downtime = {}) {
        if (pid_ > 0)
            Stop(SIGKILL);
        std::this_thread::sleep_for(downtime);
        Start(port_);
    }

  private:
    void Start(int port) {
        const auto portFile = dir_ / "port";
        std::filesystem::remove(portFile);
        log_ = dir_ / "hostd.log";
        std::vector<std::string> args{HostdBinary(), "serve",
                                      "--db",        db_.string(),
                                      "--listen",    "127.0.0.1:" + std::to_string(port),
                                      "--port-file", portFile.string()};
        args.insert(args.end(), extra_.begin(), extra_.end());
        for (std::size_t i = 0; i + 1 < args.size(); ++i) // a restart keeps the first ports
            if (const int taken = args[i] == "--ibmi"         ? ibmiPort_
                                  : args[i] == "--listen-tls" ? tlsPort_
                                                              : 0)
                args[i + 1] = "127.0.0.1:" + std::to_string(taken);
        pid_ = Spawn(args, "", "", log_.string());
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!std::filesystem::exists(portFile)) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                throw std::runtime_error("tavo400-hostd did not start: " + ReadText(log_));
            }
            // A port another process took between kill and restart shows here too.
            if (std::chrono::steady_clock::now() > give_up)
                throw std::runtime_error("tavo400-hostd did not listen within 20 s: " +
                                         ReadText(log_));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::istringstream ports(ReadText(portFile));
        ports >> port_ >> ibmiPort_ >> tlsPort_;
    }

    const ScratchDir& dir_;
    std::filesystem::path db_;
    std::vector<std::string> extra_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
    int port_ = 0;
    int ibmiPort_ = 0;
    int tlsPort_ = 0;
};

// What makes a Daemon serve the IBM i host servers in the clear and under TLS, with the
// port mapper on a port the system picks.
inline std::vector<std::string> TlsArgs(const std::filesystem::path& cert,
                                        const std::filesystem::path& key) {
    return {"--ibmi",     "0",           "--ibmi-tls", "--listen-tls", "127.0.0.1:0",
            "--tls-cert", cert.string(), "--tls-key",  key.string()};
}

// A database with the demo directory and one user, OPER with password "secret42", who can
// sign on to the IBM i servers at `passwordLevel`.
inline std::filesystem::path DemoDatabase(const ScratchDir& dir, int passwordLevel = 3) {
    const auto db = dir / "host.db";
    if (RunHostd(dir, {"init", "--db", db.string(), "--demo"}).status != 0 ||
        RunHostd(dir,
                 {"user", "add", "OPER", "--db", db.string(), "--password-level",
                  std::to_string(passwordLevel)},
                 "secret42\n")
                .status != 0)
        throw std::runtime_error("cannot prepare " + db.string());
    return db;
}

// A systems file for one system SYSA, readable by its owner only.
inline std::filesystem::path SystemsFile(const ScratchDir& dir, const std::string& address,
                                         const std::string& password = "secret42", int timeout = 10,
                                         const std::string& user = "OPER") {
    const auto path = dir / "systems.ini";
    std::ofstream(path) << "[systems]\ndefault = SYSA\n[SYSA]\naddress = " << address
                        << "\nuser = " << user << "\npassword = " << password
                        << "\ntimeout = " << timeout << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
    return path;
}

} // namespace hostdtest
