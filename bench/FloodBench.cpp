// The daemon on a hostile network, measured in the same run as HostdBench.cpp:
//   (v) a one-shot tavo400-send over tcp:// and (w) the same over the embedded host
//   (x) a real client's sign-on
//   (y) ten real sign-ons over tcp:// and ten over ibmi:// while 20 other addresses hold
//       connections open that never sign on, to our port, the port mapper and the sign-on
//       server; (z) the same while those addresses send wrong passwords over both protocols
//   (q) SIGTERM to exit while the guessing goes on
// Targets: v <= 3 w; at least 9 of 10 real sign-ons under y and 8 of 10 under z, on both
// protocols, and the log growing by fewer than 100 lines a minute. q is reported.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include "HostProtocol.h"
#include "HostdProcess.h"
#include "Messages.h"
#include "PasswordSubstitute.h"

using namespace hostdtest;
namespace pr = tavo::protocol;
namespace ib = tavo::ibmi;

namespace {

std::string SendBinary() {
    return TAVO400_SEND_PATH;
}

struct Site {
    Site() {
        RunHostd(dir, {"init", "--db", embeddedDb.string(), "--demo"});
        std::ofstream(systems) << "[SYSA]\naddress = " << daemon.Address()
                               << "\nuser = OPER\npassword = secret42\n[SYSE]\naddress = "
                                  "embedded\ndatabase = "
                               << embeddedDb.string() << "\n";
        std::filesystem::permissions(systems, std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::owner_write);
        RunHostd(dir, {"user", "add", "CLERK", "--db", db.string()}, "clerk-pass\n");
    }
    ScratchDir dir{"bench-flood"};
    std::filesystem::path db = DemoDatabase(dir);
    std::filesystem::path embeddedDb = dir / "embedded.db";
    Daemon daemon{dir, db};
    std::filesystem::path systems = dir / "systems.ini";
};

Site& TheSite() {
    static Site site;
    return site;
}

void OneShotSends(benchmark::State& state, const char* system) {
    const Site& site = TheSite();
    for (auto _ : state) {
        const pid_t pid = Spawn({SendBinary(), "--config", site.systems.string(), "--system",
                                 system, "--to", "OPS", "--body", "Bench", "-q"},
                                "", "", "");
        if (WaitExit(pid) != 0)
            state.SkipWithError("tavo400-send failed");
    }
}

void BM_v_OneShotSendTcp(benchmark::State& state) {
    OneShotSends(state, "SYSA");
}
void BM_w_OneShotSendEmbedded(benchmark::State& state) {
    OneShotSends(state, "SYSE");
}

// A blocking socket from `from` to loopback's `port`, whose reads give up after 10 s;
// nullopt when the connection cannot be made.
std::optional<asio::ip::tcp::socket> Dial(asio::io_context& io, int port, const char* from) {
    asio::ip::tcp::socket socket(io);
    std::error_code ec;
    socket.open(asio::ip::tcp::v4(), ec);
    socket.bind({asio::ip::make_address(from), 0}, ec);
    socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)}, ec);
    if (ec)
        return std::nullopt;
    timeval limit{10, 0};
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return socket;
}

// Greets and signs on by hand, as a client of our protocol does; true when accepted.
bool SignOn(int port, const char* from, const std::string& user, const std::string& password) {
    asio::io_context io;
    auto socket = Dial(io, port, from);
    if (!socket)
        return false;
    std::error_code ec;
    pr::FrameDecoder decoder;
    const auto ask = [&](const pr::Message& m) -> std::optional<pr::Message> {
        asio::write(*socket, asio::buffer(pr::Encode(m)), ec);
        std::array<std::uint8_t, 4096> buffer;
        while (!ec) {
            if (auto body = decoder.Next())
                return pr::Decode(*body);
            const auto n = socket->read_some(asio::buffer(buffer), ec);
            decoder.Feed(std::span(buffer.data(), n));
        }
        return std::nullopt;
    };
    const auto hello = ask(pr::Hello{});
    if (!hello || !std::holds_alternative<pr::HelloOk>(*hello))
        return false;
    const auto answer = ask(pr::SignOn{user, password});
    return answer && std::holds_alternative<pr::Ok>(*answer);
}

// As IBM's client signs on: the port mapper names the sign-on server, which exchanges
// attributes and then checks the password substitute; true when accepted.
bool SignOnIbmi(int portMapper, const char* from, const std::string& user,
                const std::string& password) {
    asio::io_context io;
    std::error_code ec;
    int port = 0;
    {
        auto mapper = Dial(io, portMapper, from);
        if (!mapper)
            return false;
        asio::write(*mapper, asio::buffer(ib::kSignonService), ec);
        std::array<std::uint8_t, 5> reply{};
        asio::read(*mapper, asio::buffer(reply), ec);
        if (ec || reply[0] != '+')
            return false;
        port = (reply[1] << 24) | (reply[2] << 16) | (reply[3] << 8) | reply[4];
    }
    auto socket = Dial(io, port, from);
    if (!socket)
        return false;
    const auto ask = [&](const ib::Bytes& request) -> std::optional<ib::Bytes> {
        asio::write(*socket, asio::buffer(request), ec);
        ib::Bytes data(ib::kHeaderLength);
        asio::read(*socket, asio::buffer(data), ec);
        if (ec)
            return std::nullopt;
        const auto length = ib::ReadHeader(data).length;
        if (length < ib::kHeaderLength || length > 65536)
            return std::nullopt;
        data.resize(length);
        asio::read(*socket, asio::buffer(data.data() + ib::kHeaderLength, length - 20), ec);
        return ec ? std::nullopt : std::optional(data);
    };
    try {
        ib::SignonXchgAttributesRequest hello;
        hello.clientSeed = {1, 2, 3, 4, 5, 6, 7, 8};
        const auto attributesBytes = ask(hello.Encode());
        if (!attributesBytes)
            return false;
        const auto attributes = ib::SignonXchgAttributesReply::Decode(*attributesBytes);
        const auto scheme = ib::SchemeForLevel(attributes.passwordLevel);
        ib::SignonInfoRequest info;
        info.authenticationType = ib::AuthenticationType(scheme);
        info.substitute =
            ib::Substitute(scheme, user, password, attributes.serverSeed, hello.clientSeed);
        info.user = user;
        const auto reply = ask(info.Encode());
        return reply && ib::SignonInfoReply::Decode(*reply).returnCode == 0;
    } catch (const std::exception&) {
        return false; // a name the substitute cannot carry, or a reply cut short
    }
}

constexpr int kFloodAddresses = 20; // 127.0.0.2 ... 127.0.0.21, all loopback on Linux

std::string FloodAddress(int i) {
    return "127.0.0." + std::to_string(2 + i % kFloodAddresses);
}

// Connections from every flooding address to each of `ports`, held open and never used;
// one the daemon closes is opened again a moment later, as a patient attacker would.
class IdleFlood {
  public:
    IdleFlood(std::vector<int> ports, int perPortAndAddress) {
        for (int a = 0; a < kFloodAddresses; ++a)
            for (const int port : ports)
                for (int i = 0; i < perPortAndAddress; ++i)
                    slots_.push_back(std::make_unique<Slot>(io_, FloodAddress(a), port));
        for (auto& slot : slots_)
            Open(*slot);
        thread_ = std::thread([this] { io_.run(); });
    }
    ~IdleFlood() {
        io_.stop();
        thread_.join();
    }

  private:
    struct Slot {
        Slot(asio::io_context& io, std::string from, int port)
            : socket(io), timer(io), from(std::move(from)), port(port) {}
        asio::ip::tcp::socket socket;
        asio::steady_timer timer;
        std::string from;
        int port;
        std::array<char, 64> sink{};
    };

    void Open(Slot& slot) {
        std::error_code ec;
        slot.socket.close(ec);
        slot.socket.open(asio::ip::tcp::v4(), ec);
        slot.socket.bind({asio::ip::make_address(slot.from), 0}, ec);
        slot.socket.async_connect(
            {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(slot.port)},
            [this, &slot](std::error_code e) {
                if (e)
                    return Again(slot);
                Hold(slot);
            });
    }
    void Hold(Slot& slot) {
        slot.socket.async_read_some(asio::buffer(slot.sink),
                                    [this, &slot](std::error_code e, std::size_t) {
                                        if (e)
                                            return Again(slot);
                                        Hold(slot);
                                    });
    }
    void Again(Slot& slot) {
        slot.timer.expires_after(std::chrono::milliseconds(100));
        slot.timer.async_wait([this, &slot](std::error_code e) {
            if (!e)
                Open(slot);
        });
    }

    asio::io_context io_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::thread thread_;
};

// Wrong passwords from every flooding address, over our protocol and, through the port
// mapper, to the IBM i sign-on server, for users that change with each guess so that no
// user's lock stops them: only the daemon's view of the address can. Until destroyed.
class SignOnFlood {
  public:
    SignOnFlood(int port, int portMapper, int threadsPerAddress) {
        for (int t = 0; t < kFloodAddresses * threadsPerAddress; ++t)
            threads_.emplace_back([this, port, portMapper, t] {
                const std::string from = FloodAddress(t);
                for (int n = 0; running_; ++n) {
                    const std::string user =
                        "G" + std::to_string(t) + "X" + std::to_string(n % 997);
                    const auto began = std::chrono::steady_clock::now();
                    if (portMapper == 0 || (t / kFloodAddresses) % 2 == 0)
                        SignOn(port, from.c_str(), user, "guess-" + std::to_string(n));
                    else
                        SignOnIbmi(portMapper, from.c_str(), user, "guess-" + std::to_string(n));
                    // Turned away at the door: try again soon, not in a busy loop.
                    if (std::chrono::steady_clock::now() - began < std::chrono::milliseconds(5))
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            });
    }
    ~SignOnFlood() {
        running_ = false;
        for (auto& t : threads_)
            t.join();
    }

  private:
    std::atomic<bool> running_{true};
    std::vector<std::thread> threads_;
};

// The first sign-on pays the whole hash; the user's later ones are recognised.
void RealSignOns(benchmark::State& state) {
    const int port = TheSite().daemon.Port();
    if (!SignOn(port, "127.0.0.1", "oper", "secret42"))
        state.SkipWithError("the real user was refused");
    for (auto _ : state)
        if (!SignOn(port, "127.0.0.1", "oper", "secret42"))
            state.SkipWithError("the real user was refused");
}

void BM_x_SignOn(benchmark::State& state) {
    RealSignOns(state);
}

// A daemon of its own for each flood: what the guard learnt of one flood's addresses
// must not spare the next its work.
struct FloodedSite {
    FloodedSite() {
        // By hand rather than DemoDatabase, so that the daemon of an earlier build can be
        // measured too ($TAVO400_HOSTD).
        RunHostd(dir, {"init", "--db", db.string(), "--demo"});
        RunHostd(dir, {"user", "add", "OPER", "--db", db.string()}, "secret42\n");
        daemon =
            std::make_unique<Daemon>(dir, db, std::vector<std::string>{"--ibmi", "127.0.0.1:0"});
    }
    ScratchDir dir{"bench-flooded"};
    std::filesystem::path db = dir / "host.db";
    std::unique_ptr<Daemon> daemon;
};

std::size_t Lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Ten real sign-ons, over tcp:// (arg 0) or ibmi:// (arg 1), while `flood` runs on both
// protocols; counts those that got in and the log's growth in lines a minute, over a
// flood of a minute.
template <typename Flood> void RealSignOnsUnderFlood(benchmark::State& state) {
    FloodedSite site;
    const int port = site.daemon->Port(), mapper = site.daemon->IbmiPort();
    const bool ibmi = state.range(0) == 1;
    const std::size_t logBefore = Lines(site.daemon->Log());
    const auto began = std::chrono::steady_clock::now();
    int succeeded = 0, tried = 0;
    {
        Flood flood(port, mapper);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (auto _ : state) {
            ++tried;
            succeeded += ibmi ? SignOnIbmi(mapper, "127.0.0.1", "oper", "secret42")
                              : SignOn(port, "127.0.0.1", "oper", "secret42");
        }
        // The log counts what a flood repeats once a minute: only a minute of it tells.
        std::this_thread::sleep_until(began + std::chrono::seconds(61));
    }
    const double minutes =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() / 60;
    state.counters["succeeded"] = succeeded;
    state.counters["tried"] = tried;
    state.counters["log_lines_per_min"] =
        static_cast<double>(Lines(site.daemon->Log()) - logBefore) / minutes;
}

struct IdleFloodOfBoth : IdleFlood {
    // Each address offers 8 to each of three ports, more than the 16 strangers it may hold.
    IdleFloodOfBoth(int port, int mapper) : IdleFlood({port, mapper, SignonPort(mapper)}, 8) {}
    static int SignonPort(int mapper) {
        asio::io_context io;
        auto socket = Dial(io, mapper, "127.0.0.1");
        std::error_code ec;
        std::array<std::uint8_t, 5> reply{};
        asio::write(*socket, asio::buffer(ib::kSignonService), ec);
        asio::read(*socket, asio::buffer(reply), ec);
        return (reply[1] << 24) | (reply[2] << 16) | (reply[3] << 8) | reply[4];
    }
};

struct SignOnFloodOfBoth : SignOnFlood {
    SignOnFloodOfBoth(int port, int mapper) : SignOnFlood(port, mapper, 4) {}
};

void BM_y_SignOnsUnderIdleFlood(benchmark::State& state) {
    RealSignOnsUnderFlood<IdleFloodOfBoth>(state);
}

void BM_z_SignOnsUnderSignOnFlood(benchmark::State& state) {
    RealSignOnsUnderFlood<SignOnFloodOfBoth>(state);
}

// Its own daemon: stopping it ends the run's other one too soon.
void BM_q_StopWhilePasswordsAreGuessed(benchmark::State& state) {
    ScratchDir dir("bench-stop");
    const auto db = DemoDatabase(dir);
    for (auto _ : state) {
        state.PauseTiming();
        auto daemon = std::make_unique<Daemon>(dir, db);
        auto guessers = std::make_unique<SignOnFlood>(daemon->Port(), 0, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        state.ResumeTiming();
        daemon->Stop(SIGTERM);
        state.PauseTiming();
        guessers.reset();
        daemon.reset();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_v_OneShotSendTcp)->UseRealTime()->Iterations(30);
BENCHMARK(BM_w_OneShotSendEmbedded)->UseRealTime()->Iterations(30);
BENCHMARK(BM_x_SignOn)->UseRealTime()->Iterations(200);
BENCHMARK(BM_y_SignOnsUnderIdleFlood)->UseRealTime()->Iterations(10)->Arg(0)->Arg(1);
BENCHMARK(BM_z_SignOnsUnderSignOnFlood)->UseRealTime()->Iterations(10)->Arg(0)->Arg(1);
BENCHMARK(BM_q_StopWhilePasswordsAreGuessed)->UseRealTime()->Iterations(3);
