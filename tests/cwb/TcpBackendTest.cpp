// The network backends against a real tavo400-hostd on loopback ports: tcp:// in our own
// protocol, ibmi:// and ibmis:// through its IBM i host servers.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <thread>

#include <ifaddrs.h>
#include <net/if.h>

#include "CwbTestSupport.h"
#include "HostEngine.h"
#include "HostdProcess.h"
#include "Messages.h"
#include "TestCerts.h"

using namespace cwbtesting;
using namespace hostdtest;
using Clock = std::chrono::steady_clock;

namespace {

// One client of the host through the C API: its own connection, program, queue and areas.
class Client {
  public:
    unsigned Connect() { return cwbRC_StartSys("SYSA", 0, &connection); }
    // Calls TVOCGET with `code` and a stamp of our own; the key is kept for reading.
    unsigned Ask(const std::string& code, const std::string& stamp) {
        if (!program_) {
            cwbRC_CreatePgm("TVOCGET", "TAVO400", &program_);
            cwbRC_AddParm(program_, CWBRC_INPUT, request_.size(), request_.data());
            cwbRC_AddParm(program_, CWBRC_INOUT, scratch_.size(), scratch_.data());
        }
        const Bytes request = ListRequest(code, stamp);
        std::copy(request.begin(), request.end(), request_.begin()); // the area stays bound
        return cwbRC_CallPgm(connection, program_, errors);
    }
    unsigned OpenQueue() { return cwbDQ_Open("#TVOCGET", "TAVO400", "SYSA", &queue_, errors); }
    // The names of the list under the last key, up to its end marker.
    std::vector<std::string> ReadList(unsigned& rc) {
        if (!data_) {
            data_ = cwbDQ_CreateData();
            cwbDQ_SetData(data_, entry_, sizeof entry_);
            cwbDQ_SetSearchOrder(data_, CWBDQ_EQUAL);
        }
        cwbDQ_SetSearchKey(data_, request_.data(), 24);
        std::vector<std::string> names;
        while ((rc = cwbDQ_Read(queue_, data_, 0, errors)) == CWB_OK && entry_[0] != 0xE7) // 'X'
            names.push_back(tavo::codepage::ToLatin1(
                std::string_view(reinterpret_cast<const char*>(entry_) + 1, 10)));
        return names;
    }
    cwbRC_SysHandle connection = 0;
    ErrHandle errors;

  private:
    cwbRC_PgmHandle program_ = 0;
    cwbDQ_QueueHandle queue_ = 0;
    cwbDQ_Data data_ = 0;
    Bytes request_ = Bytes(124), scratch_ = Bytes(32000);
    unsigned char entry_[61] = {};
};

// Replaces the directory of `db` with `count` recipients R000000, R000001, ...; their
// names as a list shows them.
std::vector<std::string> ManyRecipients(const std::filesystem::path& db, int count) {
    std::vector<tavo::server::Recipient> many;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        char name[11];
        std::snprintf(name, sizeof name, "R%06d", i);
        many.push_back({name, "Recipient " + std::to_string(i)});
        names.push_back(name + std::string("   "));
    }
    tavo::server::HostEngine(db.string()).ReplaceDirectory(many, {});
    return names;
}

class TcpBackendTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetProcessState(); }
    void TearDown() override { ResetProcessState(); }
    void UseSystem(const std::string& address, const std::string& password = "secret42",
                   int timeout = 10) {
        cwbtest::UseSystems("[SYSA]\naddress = " + address + "\nuser = oper\npassword = " +
                            password + "\ntimeout = " + std::to_string(timeout) + "\n");
    }
    ScratchDir dir{"cwb-tcp"};
};

} // namespace

TEST_F(TcpBackendTest, UnreachableOrSilentHostFailsInTime) {
    asio::io_context io;
    // Accepts (through the backlog) and never says a word.
    asio::ip::tcp::acceptor mute(io, {asio::ip::make_address("127.0.0.1"), 0});
    int closedPort = 0;
    {
        asio::ip::tcp::acceptor probe(io, {asio::ip::make_address("127.0.0.1"), 0});
        closedPort = probe.local_endpoint().port();
    }
    const std::tuple<int, unsigned, std::string> cases[] = {
        {closedPort, CWB_COMMUNICATIONS_ERROR,
         "Cannot connect to SYSA (127.0.0.1) port " + std::to_string(closedPort) +
             ": Connection refused."},
        {mute.local_endpoint().port(), CWB_TIMEOUT, "within 1 s"},
    };
    for (const auto& [port, rc, says] : cases) {
        SCOPED_TRACE(port);
        UseSystem("tcp://127.0.0.1:" + std::to_string(port), "secret42", 1);
        const auto start = Clock::now();
        Client client;
        EXPECT_EQ(client.Connect(), rc);
        EXPECT_EQ(client.OpenQueue(), rc);
        EXPECT_NE(OnlyError(client.errors).find(says), std::string::npos);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    }
}

// tcp:// carries the password itself, so it goes to another machine only when asked to.
TEST_F(TcpBackendTest, PlainTextToAnotherMachineOnlyWhenTheSectionSaysSo) {
    std::string other;
    ifaddrs* all = nullptr;
    ASSERT_EQ(::getifaddrs(&all), 0);
    for (auto* a = all; a && other.empty(); a = a->ifa_next)
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET && !(a->ifa_flags & IFF_LOOPBACK) &&
            (a->ifa_flags & IFF_UP))
            other = asio::ip::make_address_v4(
                        ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr))
                        .to_string();
    ::freeifaddrs(all);
    if (other.empty())
        GTEST_SKIP() << "this machine has no address but loopback";
    asio::io_context io;
    asio::ip::tcp::acceptor mute(io, {asio::ip::address_v4::any(), 0});
    const auto address = "tcp://" + other + ":" + std::to_string(mute.local_endpoint().port());
    for (const auto& [more, rc] :
         {std::pair{"", CWB_CONFIG_ERROR}, std::pair{"\ninsecure_plaintext = yes", CWB_TIMEOUT}}) {
        ResetProcessState();
        UseSystem(address + more, "secret42", 1);
        Client client;
        EXPECT_EQ(client.Connect(), rc) << more;
    }
}

// A call sent and never answered may have run: the caller is told so, not "unreachable".
TEST_F(TcpBackendTest, StalledDaemonTimesOutTheCallAndTheNextCallReconnects) {
    Daemon daemon(dir, DemoDatabase(dir));
    // Long enough for the sign-on of the reconnect, which hashes on purpose.
    UseSystem(daemon.Address(), "secret42", 3);
    Client client;
    ASSERT_EQ(client.Connect(), CWB_OK);
    ::kill(daemon.Pid(), SIGSTOP);
    const auto start = Clock::now();
    EXPECT_EQ(client.Ask("*CRTDTAQ", "12612061200000"), CWB_REPLY_LOST);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
    ::kill(daemon.Pid(), SIGCONT);
    EXPECT_EQ(client.Ask("*CRTDTAQ", "12612061200001"), CWB_OK);
}

TEST_F(TcpBackendTest, RestartedDaemonIsReachedThroughTheSameHandle) {
    Daemon daemon(dir, DemoDatabase(dir));
    UseSystem(daemon.Address());
    Client client;
    ASSERT_EQ(client.Connect(), CWB_OK);
    ASSERT_EQ(client.Ask("*CRTDTAQ", "12612061200000"), CWB_OK);
    ASSERT_EQ(client.OpenQueue(), CWB_OK);
    daemon.Restart();
    ASSERT_EQ(client.Ask("*RCPL", "12612061200001"), CWB_OK);
    unsigned rc = 0;
    EXPECT_EQ(client.ReadList(rc).size(), 12u); // the demo recipients
    EXPECT_EQ(rc, CWB_OK);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 1);
}

TEST_F(TcpBackendTest, ConcurrentClientsEachGetExactlyTheirOwnList) {
    const auto db = DemoDatabase(dir);
    const auto expected = ManyRecipients(db, 3000);
    Daemon daemon(dir, db);
    UseSystem(daemon.Address());
    Client creator;
    ASSERT_EQ(creator.Connect(), CWB_OK);
    ASSERT_EQ(creator.Ask("*CRTDTAQ", "12612061200000"), CWB_OK);
    std::atomic<int> good{0};
    auto fetcher = [&](int id) {
        Client client;
        if (client.Connect() != CWB_OK || client.OpenQueue() != CWB_OK)
            return;
        for (int round = 0; round < 5; ++round) {
            // Stamps differ per client, as the clocks of two workstations do.
            unsigned rc = client.Ask("*RCPL", std::to_string(12612061201000 + id * 100 + round));
            if (rc == CWB_OK && client.ReadList(rc) == expected && rc == CWB_OK)
                ++good;
        }
    };
    std::thread a(fetcher, 1), b(fetcher, 2);
    a.join();
    b.join();
    EXPECT_EQ(good.load(), 10);
}

TEST_F(TcpBackendTest, TlsChecksTheHostCertificateAndNamesWhatFailed) {
    const certtest::Certs& certs = certtest::Shared();
    const auto db = DemoDatabase(dir);
    const struct {
        const certtest::Pair& served;
        const char* host;
        unsigned rc;
        const char* says;
    } cases[] = {
        {certs.localhost, "localhost", CWB_OK, nullptr},
        {certs.localhost, "127.0.0.1", CWB_OK, nullptr},
        {certs.wrongHost, "localhost", CWB_CERTIFICATE_ERROR, "issued for another host"},
        {certs.unknownCa, "localhost", CWB_CERTIFICATE_ERROR, "unknown authority"},
        {certs.expired, "localhost", CWB_CERTIFICATE_ERROR, "has expired"},
    };
    for (const auto& c : cases) {
        Daemon daemon(dir, db, TlsArgs(c.served.cert, c.served.key));
        for (const std::string& address :
             {daemon.IbmisAddress(c.host), daemon.TcpsAddress(c.host)}) {
            SCOPED_TRACE(c.served.cert.string() + " at " + address);
            ResetProcessState();
            cwbtest::UseSystems("[SYSA]\naddress = " + address +
                                "\nuser = oper\npassword = secret42\ntimeout = 5\nca_file = " +
                                certs.ca.string() + "\n");
            Client client;
            if (c.rc != CWB_OK) {
                EXPECT_EQ(client.Connect(), c.rc);
                // the connect call has no error handle; the queue open, which connects too, has
                EXPECT_EQ(client.OpenQueue(), c.rc);
                EXPECT_NE(OnlyError(client.errors).find(c.says), std::string::npos)
                    << OnlyError(client.errors);
                continue;
            }
            ASSERT_EQ(client.Connect(), CWB_OK);
            ASSERT_EQ(client.Ask("*CRTDTAQ", "12612071200000"), CWB_OK);
            ASSERT_EQ(client.Ask("*GRPL", "12612071200001"), CWB_OK);
            ASSERT_EQ(client.OpenQueue(), CWB_OK);
            unsigned rc = 0;
            EXPECT_EQ(client.ReadList(rc).size(), 3u);
        }
    }
}

TEST_F(TcpBackendTest, IbmiReadsManyEntriesAheadAndKeepsTheirOrder) {
    const auto db = DemoDatabase(dir);
    const auto expected = ManyRecipients(db, 300);
    Daemon daemon(dir, db, {"--ibmi", "127.0.0.1:0"});
    // 32, 64, 128, then the cap; and one read at a time.
    for (const char* pipeline : {"100", "1"}) {
        SCOPED_TRACE(pipeline);
        ResetProcessState();
        cwbtest::UseSystems("[SYSA]\naddress = " + daemon.IbmiAddress() +
                            "\nuser = oper\npassword = secret42\npipeline = " + pipeline + "\n");
        Client client;
        ASSERT_EQ(client.Connect(), CWB_OK);
        ASSERT_EQ(client.Ask("*CRTDTAQ", "12612071200000"), CWB_OK);
        ASSERT_EQ(client.OpenQueue(), CWB_OK);
        ASSERT_EQ(client.Ask("*RCPL", std::string("1261207120000") + pipeline[0]), CWB_OK);
        unsigned rc = 0;
        EXPECT_EQ(client.ReadList(rc), expected);
        // the reads past the end marker found nothing, and left nothing behind
        EXPECT_EQ(client.ReadList(rc).size(), 0u);
        EXPECT_EQ(rc, CWBDQ_TIMED_OUT);
    }
}

// Many reads are in flight during a list, so each answer is held to what an entry can be:
// a host that announces 16 MiB per answer is refused at the first header.
TEST_F(TcpBackendTest, IbmiRefusesAQueueAnswerNoEntryNeeds) {
    Daemon daemon(dir, DemoDatabase(dir), {"--ibmi", "127.0.0.1:0"});
    namespace ib = tavo::ibmi;
    asio::io_context io;
    asio::ip::tcp::acceptor dtaq(io, {asio::ip::address_v4::loopback(), 0});
    std::thread hostile([&] {
        auto peer = dtaq.accept();
        std::error_code ec;
        for (;;) {
            std::array<std::uint8_t, 20> header{};
            if (asio::read(peer, asio::buffer(header), ec) != header.size())
                return;
            ib::Bytes rest(ib::Reader(header).U32() - 20);
            asio::read(peer, asio::buffer(rest), ec);
            const auto id = ib::Reader(header, 18).U16();
            ib::Bytes answer = id == ib::kXchgSeeds
                                   ? ib::SeedsReply{ib::kDataQueueServer, 0, {}}.Encode()
                               : id == ib::kStartServer
                                   ? ib::StartServerReply{ib::kDataQueueServer, 0, {}, {}}.Encode()
                               : id == ib::kDqXchgAttributes ? ib::DqXchgAttributesReply{}.Encode()
                               : id == ib::kDqQueryAttributes
                                   ? ib::DqQueryAttributesReply{}.Encode()
                                   : ib::Bytes{0x01, 0x00, 0x00, 0x00}; // "16 MiB follow"
            answer.resize(std::max<std::size_t>(answer.size(), 20));
            std::copy(header.begin() + 12, header.begin() + 16, answer.begin() + 12);
            asio::write(peer, asio::buffer(answer), ec);
        }
    });
    cwbtest::UseSystems("[SYSA]\naddress = " + daemon.IbmiAddress() +
                        "\nuser = oper\npassword = secret42\ndtaq_port = " +
                        std::to_string(dtaq.local_endpoint().port()) + "\n");
    Client client;
    ASSERT_EQ(client.OpenQueue(), CWB_OK);
    unsigned rc = 0;
    EXPECT_TRUE(client.ReadList(rc).empty());
    EXPECT_EQ(rc, CWB_COMMUNICATIONS_ERROR);
    EXPECT_NE(OnlyError(client.errors).find("a datastream of 16777216 bytes"), std::string::npos);
    ResetProcessState(); // closes the connection, which ends the hostile host
    hostile.join();
}
