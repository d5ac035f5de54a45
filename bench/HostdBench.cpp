// How tavo400-hostd compares with what it is built from, measured in one run:
//   (a) a bare loopback round trip of the bytes a send puts on the wire
//   (d) one durable SQLite insert with the daemon's settings (WAL, synchronous FULL)
//   (b) one send through the daemon, from the C API to the committed outbox row
//   (c) fetching a 10,000-entry recipient list
//   (e) accepted sends per second from 1 and from 8 concurrent clients
//   (f) one send and (g) the same list fetch through the daemon's IBM i host servers
// and, with the host servers under TLS behind a delay of 10 ms each way (DelayProxy.h):
//   (i) that insert once per 20 ms, the disk resting in between, as a distant client's are
//   (r) a bare round trip of 100 bytes through that delay
//   (s) one send on an open connection
//   (t) a first send of a new process: signing on included
//   (u) fetching a 1,000-entry recipient list
// Targets: b <= 2 (a + d); c <= 500 a; e(8) >= 3 e(1); f <= 1.5 b; u <= 8 r; s <= r + d;
// t <= 8 r. g and s / (r + i) are reported. FloodBench.cpp adds v to z and q.
#include <benchmark/benchmark.h>

#include <array>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <sqlite3.h>
#include <sstream>
#include <thread>

#include "Ccsid37.h"
#include "DelayProxy.h"
#include "HostEngine.h"
#include "HostProtocol.h"
#include "HostdProcess.h"
#include "ProcessState.h"
#include "TestCerts.h"
#include "cwbdq.h"
#include "cwbrc.h"
#include "cwbtest.h"

using namespace hostdtest;
namespace pr = tavo::protocol;

namespace {

constexpr int kListSize = 10000;
constexpr int kShortListSize = 1000;
// Each way, so a round trip of 20 ms: a host across a country.
constexpr std::chrono::milliseconds kOneWayDelay{10};

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

// A directory of OPS and numbered recipients, `size` in all.
std::vector<tavo::server::Recipient> Directory(int size) {
    std::vector<tavo::server::Recipient> many;
    many.push_back({"OPS", "Operations"});
    for (int i = 1; i < size; ++i) {
        char name[11];
        std::snprintf(name, sizeof name, "R%06d", i);
        many.push_back({name, "Recipient number " + std::to_string(i)});
    }
    return many;
}

// The send program with the areas the host link binds to it. Not movable: the handle
// points into the areas.
class SendProgram {
  public:
    SendProgram() {
        cwbRC_CreatePgm("TVOCUPD", "TAVO400", &program_);
        const auto put = [](unsigned char* area, std::size_t n, const std::string& text) {
            const auto e = tavo::codepage::ToEbcdic(Padded(text, n));
            std::copy(e.begin(), e.end(), area);
        };
        put(p1_, 10, "*CA");
        put(p2_, 10, "*SNDTVO");
        put(p3_, 10, "");
        put(p4_, 30, "");
        const std::string record = Padded("01" + Padded("OPS", 10), 502) +
                                   Padded("Bench@@One message", 999) + "*RCP" + "Y      ";
        put(p5_, 2000, record);
        cwbRC_AddParm(program_, CWBRC_INPUT, sizeof p1_, p1_);
        cwbRC_AddParm(program_, CWBRC_INPUT, sizeof p2_, p2_);
        cwbRC_AddParm(program_, CWBRC_INPUT, sizeof p3_, p3_);
        cwbRC_AddParm(program_, CWBRC_INPUT, sizeof p4_, p4_);
        cwbRC_AddParm(program_, CWBRC_INPUT, sizeof p5_, p5_);
        cwbRC_AddParm(program_, CWBRC_OUTPUT, sizeof p6_, p6_);
    }
    SendProgram(const SendProgram&) = delete;
    SendProgram& operator=(const SendProgram&) = delete;
    // True when the host accepted the message.
    bool Call(cwbRC_SysHandle connection, cwbSV_ErrHandle errors = 0) {
        return cwbRC_CallPgm(connection, program_, errors) == CWB_OK &&
               p6_[0] == tavo::codepage::kLatin1ToEbcdic['N'];
    }

  private:
    cwbRC_PgmHandle program_ = 0;
    unsigned char p1_[10], p2_[10], p3_[10], p4_[30], p5_[32000] = {}, p6_[32000];
};

// Makes TAVO400/#TVOCGET on `system`'s host, as the first start of the host link does.
void CreateReplyQueue(const char* system) {
    cwbRC_SysHandle connection = 0;
    cwbRC_PgmHandle create = 0;
    unsigned char request[124], scratch[32000] = {};
    const auto e = tavo::codepage::ToEbcdic(Padded("*CRTDTAQ", 124));
    std::copy(e.begin(), e.end(), request);
    if (cwbRC_StartSys(system, 0, &connection) != CWB_OK)
        throw std::runtime_error(std::string("cannot connect to ") + system);
    cwbRC_CreatePgm("TVOCGET", "TAVO400", &create);
    cwbRC_AddParm(create, CWBRC_INPUT, sizeof request, request);
    cwbRC_AddParm(create, CWBRC_INOUT, sizeof scratch, scratch);
    const bool created = cwbRC_CallPgm(connection, create, 0) == CWB_OK;
    cwbRC_DeletePgm(create);
    cwbRC_EndSys(connection);
    if (!created)
        throw std::runtime_error(std::string("cannot create the reply queue on ") + system);
}

// One client of the daemon through the C API, with the areas the host link binds.
class Client {
  public:
    explicit Client(const char* system) {
        if (cwbRC_StartSys(system, 0, &connection_) != CWB_OK)
            throw std::runtime_error("cannot connect to the daemon");
        cwbSV_CreateErrHandle(&errors_);
        cwbRC_CreatePgm("TVOCGET", "TAVO400", &list_);
        cwbRC_AddParm(list_, CWBRC_INPUT, sizeof request_, request_);
        cwbRC_AddParm(list_, CWBRC_INOUT, sizeof scratch_, scratch_);
        if (cwbDQ_Open("#TVOCGET", "TAVO400", system, &queue_, errors_) != CWB_OK)
            throw std::runtime_error("cannot open the reply queue");
        data_ = cwbDQ_CreateData();
        cwbDQ_SetData(data_, entry_, sizeof entry_);
        cwbDQ_SetSearchOrder(data_, CWBDQ_EQUAL);
    }
    bool Send() { return send_.Call(connection_, errors_); }
    // The whole list, up to its end marker; the number of entries before it.
    int FetchList(long stamp) {
        const auto e = tavo::codepage::ToEbcdic(Padded("*RCPL     " + std::to_string(stamp), 124));
        std::copy(e.begin(), e.end(), request_);
        if (cwbRC_CallPgm(connection_, list_, errors_) != CWB_OK)
            return -1;
        cwbDQ_SetSearchKey(data_, request_, 24);
        for (int n = 0;; ++n) {
            if (cwbDQ_Read(queue_, data_, 0, errors_) != CWB_OK)
                return -1;
            if (entry_[0] == tavo::codepage::kLatin1ToEbcdic['X'])
                return n;
        }
    }

  private:
    cwbRC_SysHandle connection_ = 0;
    cwbSV_ErrHandle errors_ = 0;
    SendProgram send_;
    cwbRC_PgmHandle list_ = 0;
    cwbDQ_QueueHandle queue_ = 0;
    cwbDQ_Data data_ = 0;
    unsigned char request_[124], scratch_[32000] = {}, entry_[600];
};

struct World {
    World() {
        db = DemoDatabase(dir);
        tavo::server::HostEngine(db.string()).ReplaceDirectory(Directory(kListSize), {});
        // Every client of the run is OPER on loopback, two connections each.
        daemon = std::make_unique<Daemon>(
            dir, db,
            std::vector<std::string>{"--ibmi", "127.0.0.1:0", "--max-user-connections", "64"});
        // A second daemon, its host servers under TLS, for the distant host: reached only
        // through a delay on each server's port. The port mapper is not needed, for SYSL
        // names the servers' ports itself.
        const auto farDb = DemoDatabase(farDir);
        tavo::server::HostEngine(farDb.string()).ReplaceDirectory(Directory(kShortListSize), {});
        auto tls = TlsArgs(certs.localhost.cert, certs.localhost.key);
        tls.insert(tls.end(), {"--password-level", "3"});
        farDaemon = std::make_unique<Daemon>(farDir, farDb, tls);
        std::ostringstream sysl;
        // "localhost", which the certificate names.
        sysl << "[SYSL]\naddress = " << farDaemon->IbmisAddress("localhost")
             << "\nuser = OPER\npassword = secret42\nca_file = " << certs.ca.string() << "\n";
        const std::pair<const char*, const char*> servers[] = {{"signon_port", "as-signon-s"},
                                                               {"rmtcmd_port", "as-rmtcmd-s"},
                                                               {"dtaq_port", "as-dtaq-s"}};
        for (const auto& [key, service] : servers) {
            const int port = farDaemon->ServicePort(service);
            if (port == 0)
                throw std::runtime_error(std::string("the daemon does not serve ") + service);
            proxies.push_back(std::make_unique<tavobench::DelayProxy>(
                static_cast<unsigned short>(port), kOneWayDelay));
            sysl << key << " = " << proxies.back()->Port() << "\n";
        }
        // A systems file, as a real client has, rather than the test seam: SYSA in our own
        // protocol, SYSI through the IBM i host servers of the same daemon, SYSL the
        // distant one.
        systems = SystemsFile(dir, daemon->Address());
        std::ofstream(systems, std::ios::app) << "[SYSI]\naddress = " << daemon->IbmiAddress()
                                              << "\nuser = OPER\npassword = secret42\n"
                                              << sysl.str();
        ::setenv("TAVO400_SYSTEMS", systems.c_str(), 1);
        CreateReplyQueue("SYSA");
        CreateReplyQueue("SYSL");
    }
    // A client per benchmark thread, kept across runs: signing on is deliberately slow.
    Client& ClientFor(int thread, const char* system = "SYSA") {
        std::lock_guard lock(mutex);
        auto& slot = clients[thread];
        if (!slot)
            slot = std::make_unique<Client>(system);
        return *slot;
    }
    // For when the library's state has been dropped under them.
    void ForgetClients() {
        std::lock_guard lock(mutex);
        clients.clear();
    }
    ScratchDir dir{"bench"};
    std::filesystem::path db;
    std::unique_ptr<Daemon> daemon;
    std::filesystem::path systems;
    const certtest::Certs& certs = certtest::Shared();
    ScratchDir farDir{"bench-far"};
    std::unique_ptr<Daemon> farDaemon;
    std::vector<std::unique_ptr<tavobench::DelayProxy>> proxies;
    std::mutex mutex;
    std::map<int, std::unique_ptr<Client>> clients;
};

World& TheWorld() {
    static World world;
    return world;
}

// The frames of one send, request and reply, as the daemon sees them.
std::pair<std::size_t, std::size_t> SendFrameSizes() {
    pr::Call call{"TVOCUPD", "TAVO400", {}, {}};
    for (std::size_t n : {10, 10, 10, 30, 32000})
        call.parms.push_back(
            {pr::Direction::Input, static_cast<std::uint32_t>(n), std::string(n, '\x40')});
    call.parms.push_back({pr::Direction::Output, 32000, ""});
    const pr::CallReply reply{true, "", {std::string(32000, '\x40')}};
    return {pr::Encode(call).size(), pr::Encode(reply).size()};
}

void BM_a_LoopbackRoundTrip(benchmark::State& state) {
    const auto [requestSize, replySize] = SendFrameSizes();
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    std::thread echo([&, requestSize = requestSize, replySize = replySize] {
        auto peer = acceptor.accept();
        peer.set_option(asio::ip::tcp::no_delay(true));
        std::string in(requestSize, '\0'), out(replySize, 'r');
        std::error_code ec;
        while (asio::read(peer, asio::buffer(in), ec) == in.size() && !ec)
            asio::write(peer, asio::buffer(out), ec);
    });
    asio::ip::tcp::socket socket(io);
    socket.connect(acceptor.local_endpoint());
    socket.set_option(asio::ip::tcp::no_delay(true));
    std::string out(requestSize, 'q'), in(replySize, '\0');
    for (auto _ : state) {
        asio::write(socket, asio::buffer(out));
        asio::read(socket, asio::buffer(in));
    }
    socket.close();
    echo.join();
}

// One durable insert per iteration; with `idle`, the disk first rests that long, as
// between the sends of a client a round trip away.
void DurableInserts(benchmark::State& state, const char* file, std::chrono::milliseconds idle) {
    const auto path = TheWorld().dir / file;
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;"
                 "CREATE TABLE IF NOT EXISTS outbox (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                 "accepted_at TEXT, kind TEXT, names TEXT, subject TEXT, body TEXT, modes TEXT, "
                 "raw_record BLOB)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO outbox (accepted_at, kind, names, subject, body, modes, "
                       "raw_record) VALUES ('2026-12-06T12:00:00.000Z', '*RCP', 'OPS', 'Bench', "
                       "'One message', 'Y      ', ?1)",
                       -1, &insert, nullptr);
    const std::string record(1512, '\x40');
    sqlite3_bind_blob(insert, 1, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
    for (auto _ : state) {
        if (idle.count() > 0) {
            state.PauseTiming();
            std::this_thread::sleep_for(idle);
            state.ResumeTiming();
        }
        if (sqlite3_step(insert) != SQLITE_DONE)
            state.SkipWithError("insert failed");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
}

void BM_d_DurableInsert(benchmark::State& state) {
    DurableInserts(state, "insert.db", {});
}

void BM_i_DurableInsertEveryRoundTrip(benchmark::State& state) {
    DurableInserts(state, "insert-idle.db", 2 * kOneWayDelay);
}

void BM_b_SendThroughDaemon(benchmark::State& state) {
    Client& client = TheWorld().ClientFor(100);
    for (auto _ : state)
        if (!client.Send())
            state.SkipWithError("send refused");
}

void BM_c_FetchList10000(benchmark::State& state) {
    Client& client = TheWorld().ClientFor(101);
    static long stamp = 12612060000000;
    for (auto _ : state)
        if (client.FetchList(stamp++) != kListSize)
            state.SkipWithError("list incomplete");
}

void BM_e_AcceptedSends(benchmark::State& state) {
    Client& client = TheWorld().ClientFor(state.thread_index());
    for (auto _ : state)
        if (!client.Send())
            state.SkipWithError("send refused");
    state.SetItemsProcessed(state.iterations());
}

void BM_f_SendOverIbmi(benchmark::State& state) {
    Client& client = TheWorld().ClientFor(200, "SYSI");
    for (auto _ : state)
        if (!client.Send())
            state.SkipWithError("send refused");
}

void BM_g_FetchList10000OverIbmi(benchmark::State& state) {
    Client& client = TheWorld().ClientFor(201, "SYSI");
    static long stamp = 22612060000000;
    for (auto _ : state)
        if (client.FetchList(stamp++) != kListSize)
            state.SkipWithError("list incomplete");
}

void BM_r_DelayedRoundTrip(benchmark::State& state) {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    std::thread echo([&] {
        auto peer = acceptor.accept();
        peer.set_option(asio::ip::tcp::no_delay(true));
        std::array<char, 100> bytes;
        std::error_code ec;
        while (asio::read(peer, asio::buffer(bytes), ec) == bytes.size() && !ec)
            asio::write(peer, asio::buffer(bytes), ec);
    });
    tavobench::DelayProxy proxy(acceptor.local_endpoint().port(), kOneWayDelay);
    asio::ip::tcp::socket socket(io);
    socket.connect({asio::ip::make_address("127.0.0.1"), proxy.Port()});
    socket.set_option(asio::ip::tcp::no_delay(true));
    std::array<char, 100> out{}, in{};
    for (auto _ : state) {
        asio::write(socket, asio::buffer(out));
        asio::read(socket, asio::buffer(in));
    }
    socket.close();
    echo.join();
}

void BM_s_SendOverDelay(benchmark::State& state) {
    Client& client = TheWorld().ClientFor(300, "SYSL");
    // The first call opens the remote command connection; the rest find it open.
    if (!client.Send())
        state.SkipWithError("send refused");
    for (auto _ : state)
        if (!client.Send())
            state.SkipWithError("send refused");
}

void BM_u_FetchList1000OverDelay(benchmark::State& state) {
    Client& client = TheWorld().ClientFor(301, "SYSL");
    static long stamp = 32612060000000;
    for (auto _ : state)
        if (client.FetchList(stamp++) != kShortListSize)
            state.SkipWithError("list incomplete");
}

// As a new process's first send: nothing signed on, no engine, the systems file read
// again. Only starting the connection and the call are timed. It drops the library's
// whole state, every other client's handles with it, so it runs last.
void BM_t_FirstSendOverDelay(benchmark::State& state) {
    World& world = TheWorld();
    world.ForgetClients();
    cwbRC_SysHandle connection = 0;
    std::unique_ptr<SendProgram> send;
    for (auto _ : state) {
        state.PauseTiming();
        if (connection != 0)
            cwbRC_EndSys(connection);
        connection = 0;
        send.reset();
        ResetProcessState();
        ::setenv("TAVO400_SYSTEMS", world.systems.c_str(), 1);
        send = std::make_unique<SendProgram>();
        state.ResumeTiming();
        if (cwbRC_StartSys("SYSL", 0, &connection) != CWB_OK || !send->Call(connection))
            state.SkipWithError("first send refused");
    }
    if (connection != 0)
        cwbRC_EndSys(connection);
    send.reset();
    ResetProcessState();
}

// Wall-clock time throughout: these wait on the disk and the network, not the processor.
BENCHMARK(BM_a_LoopbackRoundTrip)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_d_DurableInsert)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_b_SendThroughDaemon)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_c_FetchList10000)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_e_AcceptedSends)->Threads(1)->Threads(8)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_f_SendOverIbmi)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_g_FetchList10000OverIbmi)->UseRealTime()->MinTime(2.0);
// Tens of milliseconds each, all of it waiting: a fixed, small count is enough.
BENCHMARK(BM_r_DelayedRoundTrip)->UseRealTime()->Iterations(50);
BENCHMARK(BM_i_DurableInsertEveryRoundTrip)->UseRealTime()->Iterations(100);
BENCHMARK(BM_s_SendOverDelay)->UseRealTime()->Iterations(40);
BENCHMARK(BM_u_FetchList1000OverDelay)->UseRealTime()->Iterations(15);
BENCHMARK(BM_t_FirstSendOverDelay)->UseRealTime()->Iterations(10);

// Prints as usual and keeps each run for the ratios.
class Collector : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            results[run.benchmark_name()] = run;
        ConsoleReporter::ReportRuns(runs);
    }
    // Seconds per iteration of the run whose name starts with `prefix`.
    double Seconds(const std::string& prefix) const {
        const Run& run = Find(prefix, "");
        return run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    double Seconds(const std::string& prefix, const std::string& ending) const {
        const Run& run = Find(prefix, ending);
        return run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    double PerSecond(const std::string& prefix, const std::string& ending) const {
        return Counter(prefix, ending, "items_per_second");
    }
    double Counter(const std::string& prefix, const std::string& ending,
                   const std::string& name) const {
        return Find(prefix, ending).counters.at(name);
    }

  private:
    const Run& Find(const std::string& prefix, const std::string& ending) const {
        for (const auto& [name, run] : results)
            if (name.starts_with(prefix) &&
                (name.ends_with(ending) ||
                 (ending.ends_with('/') && name.find(ending) != std::string::npos)))
                return run;
        throw std::runtime_error("no result for " + prefix);
    }
    std::map<std::string, Run> results;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    try {
        const double a = collector.Seconds("BM_a_"), d = collector.Seconds("BM_d_"),
                     b = collector.Seconds("BM_b_"), c = collector.Seconds("BM_c_"),
                     f = collector.Seconds("BM_f_"), g = collector.Seconds("BM_g_"),
                     r = collector.Seconds("BM_r_"), s = collector.Seconds("BM_s_"),
                     t = collector.Seconds("BM_t_"), u = collector.Seconds("BM_u_"),
                     i = collector.Seconds("BM_i_"), v = collector.Seconds("BM_v_"),
                     w = collector.Seconds("BM_w_"), x = collector.Seconds("BM_x_"),
                     q = collector.Seconds("BM_q_");
        const double e1 = collector.PerSecond("BM_e_", "threads:1"),
                     e8 = collector.PerSecond("BM_e_", "threads:8");
        const auto us = [](double s) { return s * 1e6; };
        std::printf("\n(a) loopback round trip of a send's bytes  %10.1f us\n", us(a));
        std::printf("(d) durable SQLite insert                  %10.1f us\n", us(d));
        std::printf("(b) send through tavo400-hostd             %10.1f us\n", us(b));
        std::printf("(c) fetch of a %d-entry list            %10.1f us\n", kListSize, us(c));
        std::printf("(e) accepted sends/s, 1 client             %10.0f\n", e1);
        std::printf("(e) accepted sends/s, 8 clients            %10.0f\n", e8);
        std::printf("(f) send over ibmi://                      %10.1f us\n", us(f));
        std::printf("(g) fetch of the list over ibmi://         %10.1f us\n", us(g));
        std::printf("(i) the insert, once per 20 ms             %10.1f us\n", us(i));
        std::printf("(r) round trip at RTT 20 ms (100 bytes)    %10.1f us\n", us(r));
        std::printf("(s) send over ibmis:// at RTT 20 ms        %10.1f us\n", us(s));
        std::printf("(t) first send, TLS sign-on, RTT 20 ms     %10.1f us\n", us(t));
        std::printf("(u) fetch of a %d-entry list, RTT 20 ms     %10.1f us\n\n", kShortListSize,
                    us(u));
        std::printf("(v) one-shot tavo400-send over tcp://       %10.1f us\n", us(v));
        std::printf("(w) one-shot tavo400-send, embedded host    %10.1f us\n", us(w));
        std::printf("(x) a sign-on                              %10.1f us\n", us(x));
        std::printf("(q) SIGTERM to exit while guessing goes on  %10.1f us\n\n", us(q));
        const auto line = [](const char* what, double ratio, const char* target, bool met) {
            std::printf("%-36s %8.2f   target %-10s %s\n", what, ratio, target,
                        met ? "met" : "MISSED");
        };
        line("b / (a + d)", b / (a + d), "<= 2", b <= 2 * (a + d));
        line("c / a", c / a, "<= 500", c <= 500 * a);
        line("e(8 clients) / e(1 client)", e8 / e1, ">= 3", e8 >= 3 * e1);
        line("f (ibmi://) / b (tcp://)", f / b, "<= 1.5", f <= 1.5 * b);
        std::printf("%-36s %8.2f   (reported)\n", "g (ibmi://) / c (tcp://)", g / c);
        line("u / r, 1,000 entries at RTT 20 ms", u / r, "<= 8", u <= 8 * r);
        line("s / (r + d), send at RTT 20 ms", s / (r + d), "<= 1", s <= r + d);
        std::printf("%-36s %8.2f   (reported: the disk rests between sends)\n", "s / (r + i)",
                    s / (r + i));
        line("t / r, first send with sign-on", t / r, "<= 8", t <= 8 * r);
        line("v / w, one-shot send tcp / embedded", v / w, "<= 3", v <= 3 * w);
        // Floods from 20 addresses: real sign-ons that got in, out of ten, and the log.
        for (const auto& [prefix, what, least] :
             {std::tuple{"BM_y_", "idle flood", 9}, std::tuple{"BM_z_", "sign-on flood", 8}})
            for (const auto& [arg, protocol] : {std::pair{"/0/", "tcp://"}, {"/1/", "ibmi://"}}) {
                const double ok = collector.Counter(prefix, arg, "succeeded"),
                             lines = collector.Counter(prefix, arg, "log_lines_per_min");
                const std::string name = std::string(what) + ", " + protocol;
                line(("real sign-ons in, " + name).c_str(), ok,
                     (">= " + std::to_string(least)).c_str(), ok >= least);
                line(("log lines a minute, " + name).c_str(), lines, "< 100", lines < 100);
                std::printf("%-36s %8.2f   (reported: s per real sign-on)\n", name.c_str(),
                            collector.Seconds(prefix, arg));
            }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
