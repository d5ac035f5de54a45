// The tcp backend against a real tavo400-hostd on a loopback port.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <thread>

#include "Ccsid37.h"
#include "CwbTestSupport.h"
#include "HostEngine.h"
#include "HostdProcess.h"
#include "cwbdq.h"
#include "cwbrc.h"

using namespace cwbtesting;
using namespace hostdtest;
using Clock = std::chrono::steady_clock;

namespace {

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

// One client of the host through the C API: its own connection, program, queue and areas.
class Client {
  public:
    explicit Client(const char* system = "SYSA") : system_(system) {}
    ~Client() {
        if (program_)
            cwbRC_DeletePgm(program_);
        if (data_)
            cwbDQ_DeleteData(data_);
    }
    unsigned Connect() { return cwbRC_StartSys(system_, 0, &connection_); }
    // Calls TVOCGET with `code` and a stamp of our own; the key is kept for reading.
    unsigned Ask(const std::string& code, const std::string& stamp) {
        if (!program_) {
            cwbRC_CreatePgm("TVOCGET", "TAVO400", &program_);
            cwbRC_AddParm(program_, CWBRC_INPUT, sizeof request_, request_);
            cwbRC_AddParm(program_, CWBRC_INOUT, sizeof scratch_, scratch_);
        }
        const auto ebcdic = tavo::codepage::ToEbcdic(Padded(Padded(code, 10) + stamp, 124));
        std::copy(ebcdic.begin(), ebcdic.end(), request_);
        return cwbRC_CallPgm(connection_, program_, errors_);
    }
    unsigned OpenQueue() { return cwbDQ_Open("#TVOCGET", "TAVO400", system_, &queue_, errors_); }
    // Reads the list under the last key up to its end marker; the names in order.
    std::vector<std::string> ReadList(unsigned& rc) {
        if (!data_)
            data_ = cwbDQ_CreateData();
        cwbDQ_SetData(data_, entry_, sizeof entry_);
        cwbDQ_SetSearchKey(data_, request_, 24);
        cwbDQ_SetSearchOrder(data_, CWBDQ_EQUAL);
        std::vector<std::string> names;
        for (;;) {
            rc = cwbDQ_Read(queue_, data_, 0, errors_);
            if (rc != CWB_OK)
                return names;
            const auto text = tavo::codepage::ToLatin1(
                std::string_view(reinterpret_cast<const char*>(entry_), 61));
            if (text[0] == 'X')
                return names;
            names.push_back(text.substr(1, 10));
        }
    }
    cwbRC_SysHandle Connection() const { return connection_; }
    const ErrHandle& Errors() const { return errors_; }

  private:
    const char* system_;
    cwbRC_SysHandle connection_ = 0;
    cwbRC_PgmHandle program_ = 0;
    cwbDQ_QueueHandle queue_ = 0;
    cwbDQ_Data data_ = 0;
    ErrHandle errors_;
    unsigned char request_[124] = {};
    unsigned char scratch_[32000] = {};
    unsigned char entry_[600] = {};
};

class TcpBackendTest : public ::testing::Test {
  protected:
    void SetUp() override { cwbtest::Reset(); }
    void TearDown() override { cwbtest::Reset(); }

    void UseSystem(const std::string& address, const std::string& password = "secret",
                   int timeout = 10) {
        cwbtest::UseSystems("[SYSA]\naddress = " + address + "\nuser = oper\npassword = " +
                            password + "\ntimeout = " + std::to_string(timeout) + "\n");
    }

    // A port nobody listens on: bound for a moment by us, then let go.
    static int FreePort() {
        asio::io_context io;
        asio::ip::tcp::acceptor probe(io, {asio::ip::make_address("127.0.0.1"), 0});
        return probe.local_endpoint().port();
    }

    ScratchDir dir{"cwb-tcp"};
};

} // namespace

TEST_F(TcpBackendTest, WrongPasswordFailsTheConnectWithText) {
    const auto db = DemoDatabase(dir);
    Daemon daemon(dir, db);
    UseSystem(daemon.Address(), "wrong");
    cwbRC_SysHandle connection = 0;
    EXPECT_EQ(cwbRC_StartSys("SYSA", 0, &connection), CWB_SECURITY_ERROR);
    EXPECT_EQ(connection, 0u);
    // The connect call has no error handle; the queue open, which signs on too, does.
    Client client;
    EXPECT_EQ(client.OpenQueue(), CWB_SECURITY_ERROR);
    EXPECT_EQ(OnlyError(client.Errors()),
              "Sign-on as oper refused: the user or password is not valid.");

    cwbtest::UseSystems("[SYSA]\naddress = " + daemon.Address() + "\n");
    EXPECT_EQ(client.OpenQueue(), CWB_SECURITY_ERROR);
    EXPECT_EQ(OnlyError(client.Errors()),
              "The systems file gives no user for SYSA; its host needs a user and a password.");

    UseSystem(daemon.Address(), "secret");
    EXPECT_EQ(cwbRC_StartSys("SYSA", 0, &connection), CWB_OK);
}

TEST_F(TcpBackendTest, NoDaemonIsACodeAndTextAtOnce) {
    const int port = FreePort();
    UseSystem("tcp://127.0.0.1:" + std::to_string(port));
    const auto start = Clock::now();
    cwbRC_SysHandle connection = 0;
    EXPECT_EQ(cwbRC_StartSys("SYSA", 0, &connection), CWB_COMMUNICATIONS_ERROR);
    Client client;
    EXPECT_EQ(client.OpenQueue(), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(OnlyError(client.Errors()), "Cannot connect to SYSA (127.0.0.1:" +
                                              std::to_string(port) + "): Connection refused.");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST_F(TcpBackendTest, SilentHostTimesOutInsteadOfHanging) {
    // Accepts (through the backlog) and never says a word.
    asio::io_context io;
    asio::ip::tcp::acceptor mute(io, {asio::ip::make_address("127.0.0.1"), 0});
    UseSystem("tcp://127.0.0.1:" + std::to_string(mute.local_endpoint().port()), "secret", 1);
    Client client;
    const auto start = Clock::now();
    EXPECT_EQ(client.OpenQueue(), CWB_TIMEOUT);
    EXPECT_NE(OnlyError(client.Errors()).find("within 1 s"), std::string::npos);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
}

TEST_F(TcpBackendTest, StalledDaemonTimesOutTheCallAndTheNextCallReconnects) {
    const auto db = DemoDatabase(dir);
    Daemon daemon(dir, db);
    // Long enough for the sign-on of the reconnect, which hashes on purpose.
    UseSystem(daemon.Address(), "secret", 3);
    Client client;
    ASSERT_EQ(client.Connect(), CWB_OK);
    ::kill(daemon.Pid(), SIGSTOP);
    const auto start = Clock::now();
    EXPECT_EQ(client.Ask("*CRTDTAQ", "12612061200000"), CWB_TIMEOUT);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
    ::kill(daemon.Pid(), SIGCONT);
    EXPECT_EQ(client.Ask("*CRTDTAQ", "12612061200001"), CWB_OK);
}

TEST_F(TcpBackendTest, RestartedDaemonIsReachedThroughTheSameHandle) {
    const auto db = DemoDatabase(dir);
    Daemon daemon(dir, db);
    UseSystem(daemon.Address());
    Client client;
    ASSERT_EQ(client.Connect(), CWB_OK);
    ASSERT_EQ(client.Ask("*CRTDTAQ", "12612061200000"), CWB_OK);
    ASSERT_EQ(client.OpenQueue(), CWB_OK);
    daemon.Restart();
    const auto handle = client.Connection();
    ASSERT_EQ(client.Ask("*RCPL", "12612061200001"), CWB_OK);
    unsigned rc = 0;
    EXPECT_EQ(client.ReadList(rc).size(), 12u); // the demo recipients
    EXPECT_EQ(rc, CWB_OK);
    EXPECT_EQ(client.Connection(), handle);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 1);
}

TEST_F(TcpBackendTest, ConcurrentClientsEachGetExactlyTheirOwnList) {
    const auto db = DemoDatabase(dir);
    std::vector<std::string> expected;
    {
        tavo::server::HostEngine host(db.string());
        std::vector<tavo::server::Recipient> many;
        for (int i = 0; i < 3000; ++i) {
            char name[11];
            std::snprintf(name, sizeof name, "R%06d", i);
            many.push_back({name, "Recipient " + std::to_string(i)});
            expected.push_back(Padded(name, 10));
        }
        host.ReplaceDirectory(many, {});
    }
    Daemon daemon(dir, db);
    UseSystem(daemon.Address());
    {
        Client creator;
        ASSERT_EQ(creator.Connect(), CWB_OK);
        ASSERT_EQ(creator.Ask("*CRTDTAQ", "12612061200000"), CWB_OK);
    }
    std::atomic<int> good{0};
    auto fetcher = [&](int id) {
        Client client;
        if (client.Connect() != CWB_OK || client.OpenQueue() != CWB_OK)
            return;
        for (int round = 0; round < 5; ++round) {
            // Stamps differ per client, as the clocks of two workstations do.
            if (client.Ask("*RCPL", "1261206120" + std::to_string(1000 + id * 100 + round)) !=
                CWB_OK)
                return;
            unsigned rc = 0;
            const auto names = client.ReadList(rc);
            if (rc != CWB_OK || names != expected)
                return;
            ++good;
        }
    };
    std::thread a(fetcher, 1), b(fetcher, 2);
    a.join();
    b.join();
    EXPECT_EQ(good.load(), 10);
}
