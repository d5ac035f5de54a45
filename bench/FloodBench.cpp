// The daemon on a hostile network, measured in the same run as HostdBench.cpp:
//   (v) a one-shot tavo400-send over tcp:// and (w) the same over the embedded host
//   (x) a real client's sign-on, (y) the same while 300 connections from another address
//       are held open and never sign on, (z) the same while that address guesses passwords
//   (q) SIGTERM to exit while the guessing goes on
// Targets: v <= 3 w; y <= 3 x; z <= 3 x. q is reported.
#include <benchmark/benchmark.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "HostProtocol.h"
#include "HostdProcess.h"

using namespace hostdtest;
namespace pr = tavo::protocol;

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

// Greets and signs on by hand, as a client of our protocol does; true when accepted.
bool SignOn(int port, const char* from, const std::string& user, const std::string& password) {
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    std::error_code ec;
    socket.open(asio::ip::tcp::v4(), ec);
    socket.bind({asio::ip::make_address(from), 0}, ec);
    socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)}, ec);
    if (ec)
        return false;
    timeval limit{10, 0};
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    pr::FrameDecoder decoder;
    const auto ask = [&](const pr::Message& m) -> std::optional<pr::Message> {
        asio::write(socket, asio::buffer(pr::Encode(m)), ec);
        std::array<std::uint8_t, 4096> buffer;
        while (!ec) {
            if (auto body = decoder.Next())
                return pr::Decode(*body);
            const auto n = socket.read_some(asio::buffer(buffer), ec);
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

// Guesses CLERK's password from 127.0.0.3 on `threads` threads until destroyed.
class Guessers {
  public:
    Guessers(int port, int threads) {
        for (int t = 0; t < threads; ++t)
            threads_.emplace_back([this, port, t] {
                while (running_)
                    SignOn(port, "127.0.0.3", "clerk", "guess-" + std::to_string(t));
            });
    }
    ~Guessers() {
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

void BM_y_SignOnWhileIdleConnectionsFlood(benchmark::State& state) {
    asio::io_context io;
    std::vector<asio::ip::tcp::socket> idle;
    for (int i = 0; i < 300; ++i) {
        std::error_code ec;
        auto& s = idle.emplace_back(io);
        s.open(asio::ip::tcp::v4(), ec);
        s.bind({asio::ip::make_address("127.0.0.2"), 0}, ec);
        s.connect({asio::ip::make_address("127.0.0.1"),
                   static_cast<unsigned short>(TheSite().daemon.Port())},
                  ec);
    }
    RealSignOns(state);
}

void BM_z_SignOnWhilePasswordsAreGuessed(benchmark::State& state) {
    Guessers guessers(TheSite().daemon.Port(), 8);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RealSignOns(state);
}

// Its own daemon: stopping it ends the run's other one too soon.
void BM_q_StopWhilePasswordsAreGuessed(benchmark::State& state) {
    ScratchDir dir("bench-stop");
    const auto db = DemoDatabase(dir);
    for (auto _ : state) {
        state.PauseTiming();
        auto daemon = std::make_unique<Daemon>(dir, db);
        auto guessers = std::make_unique<Guessers>(daemon->Port(), 16);
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
BENCHMARK(BM_y_SignOnWhileIdleConnectionsFlood)->UseRealTime()->Iterations(200);
BENCHMARK(BM_z_SignOnWhilePasswordsAreGuessed)->UseRealTime()->Iterations(200);
BENCHMARK(BM_q_StopWhilePasswordsAreGuessed)->UseRealTime()->Iterations(3);
