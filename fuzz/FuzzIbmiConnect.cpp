// The whole ibmi:// client path, not only its codecs: a host on loopback answers every
// request with a well-formed reply that the input then corrupts (bytes changed, replies
// cut), and the port mapper says what the input says. Whatever comes back, the client
// must end each call with a return code: an exception or a crash fails the run.
#include <asio.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Messages.h"
#include "ProcessState.h"
#include "cwbdq.h"
#include "cwbrc.h"
#include "cwbtest.h"

namespace ib = tavo::ibmi;

namespace {

// The reply a real host gives to each request, before the input has its say.
ib::Bytes WellFormed(std::uint16_t id, std::uint16_t server) {
    switch (id) {
    case ib::kXchgSeeds:
        return ib::SeedsReply{server, 0, {1, 2, 3, 4, 5, 6, 7, 8}}.Encode();
    case ib::kStartServer:
        return ib::StartServerReply{server, 0, "OPER", "123456/QUSER/QZRCSRVS"}.Encode();
    case ib::kSignonXchgAttributes: {
        ib::SignonXchgAttributesReply reply;
        reply.serverSeed = {8, 7, 6, 5, 4, 3, 2, 1};
        reply.passwordLevel = 2;
        return reply.Encode();
    }
    case ib::kSignonInfo:
        return ib::SignonInfoReply{}.Encode();
    case ib::kRcXchgAttributes:
        return ib::RcXchgAttributesReply{}.Encode();
    case ib::kRcCallProgram: {
        ib::CallProgramReply reply;
        reply.outputs.push_back(ib::MakeOutputParm(ib::Bytes(16, 0x40), false));
        return reply.Encode();
    }
    case ib::kDqXchgAttributes:
        return ib::DqXchgAttributesReply{}.Encode();
    case ib::kDqQueryAttributes:
        return ib::DqQueryAttributesReply{}.Encode();
    case ib::kDqRead:
        return ib::DqReadReply{3, ib::Bytes(61, 0xE7), ib::Bytes(24, 0xF1)}.Encode();
    default:
        return {};
    }
}

// Edits of four bytes each: which reply (by the order of requests), where, what; a
// what of 0 cuts the reply there.
class Script {
  public:
    explicit Script(ib::ByteView input) : input_(input) {}
    // `framing` says the reply's length no longer tells where it ends.
    ib::Bytes Answer(std::uint16_t id, std::uint16_t server, const ib::Bytes& request,
                     bool& framing) {
        framing = false;
        ib::Bytes reply = WellFormed(id, server);
        if (reply.size() >= 16 && request.size() >= 16)
            std::copy(request.begin() + 12, request.begin() + 16, reply.begin() + 12);
        std::lock_guard lock(mutex_);
        const std::size_t number = answered_++;
        for (std::size_t at = 1; at + 4 <= input_.size(); at += 4) {
            if (input_[at] % 16 != number % 16 || reply.empty())
                continue;
            const std::size_t offset = (input_[at + 1] << 8 | input_[at + 2]) % reply.size();
            if (input_[at + 3] == 0)
                reply.resize(offset);
            else
                reply[offset] ^= input_[at + 3];
            framing = framing || input_[at + 3] == 0 || offset < 4;
        }
        return reply;
    }

  private:
    ib::ByteView input_;
    std::mutex mutex_;
    std::size_t answered_ = 0;
};

// A host on loopback: every server behind one port, and a port mapper, all on one thread.
class Host {
  public:
    Host(Script& script, ib::ByteView input) : script_(script), input_(input) {
        AcceptService();
        AcceptMapper();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~Host() {
        io_.stop();
        thread_.join();
    }
    std::string ServicePort() const { return std::to_string(service_.local_endpoint().port()); }
    std::string MapperPort() const { return std::to_string(mapper_.local_endpoint().port()); }

  private:
    using Socket = asio::ip::tcp::socket;

    void AcceptService() {
        service_.async_accept([this](std::error_code ec, Socket socket) {
            if (ec)
                return;
            Serve(std::make_shared<Socket>(std::move(socket)));
            AcceptService();
        });
    }
    void Serve(std::shared_ptr<Socket> peer) {
        auto request = std::make_shared<ib::Bytes>(ib::kHeaderLength);
        asio::async_read(*peer, asio::buffer(*request), [=, this](std::error_code ec, std::size_t) {
            const auto length = ec ? 0 : ib::Reader(*request).U32();
            if (length < ib::kHeaderLength || length > (1u << 20))
                return;
            request->resize(length);
            asio::async_read(
                *peer, asio::buffer(request->data() + ib::kHeaderLength, length - 20),
                [=, this](std::error_code ec, std::size_t) {
                    if (ec)
                        return;
                    const auto h = ib::ReadHeader(*request);
                    if (h.requestId == ib::kSignonEnd || h.requestId == ib::kRcEndJob) {
                        Serve(peer);
                        return;
                    }
                    bool framing = false;
                    auto reply = std::make_shared<ib::Bytes>(
                        script_.Answer(h.requestId, h.serverId, *request, framing));
                    if (reply->empty())
                        return;
                    // A reply that no longer frames itself is followed by the end of the
                    // connection, so the client is not left waiting for its time-out.
                    asio::async_write(*peer, asio::buffer(*reply),
                                      [=, this](std::error_code ec, std::size_t) {
                                          if (!ec && !framing)
                                              Serve(peer);
                                          else
                                              peer->shutdown(Socket::shutdown_both, ec);
                                      });
                });
        });
    }
    // Answers with our port, unless the input's second byte asks for its own bytes.
    void AcceptMapper() {
        mapper_.async_accept([this](std::error_code ec, Socket socket) {
            if (ec)
                return;
            auto peer = std::make_shared<Socket>(std::move(socket));
            auto name = std::make_shared<std::array<std::uint8_t, 16>>();
            peer->async_read_some(
                asio::buffer(*name), [peer, name, this](std::error_code, std::size_t) {
                    auto answer = std::make_shared<ib::Bytes>(
                        ib::EncodePortMapperReply(service_.local_endpoint().port()));
                    if (input_.size() >= 6 && input_[1] % 4 < 2) // '+' and a port, or anything
                        std::copy(input_.begin() + 1 + (input_[1] % 4 == 0), input_.begin() + 6,
                                  answer->begin() + (input_[1] % 4 == 0));
                    asio::async_write(*peer, asio::buffer(*answer),
                                      [peer, answer](std::error_code, std::size_t) {});
                });
            AcceptMapper();
        });
    }

    Script& script_;
    ib::ByteView input_;
    asio::io_context io_;
    asio::ip::tcp::acceptor service_{io_, {asio::ip::address_v4::loopback(), 0}};
    asio::ip::tcp::acceptor mapper_{io_, {asio::ip::address_v4::loopback(), 0}};
    std::thread thread_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ib::ByteView input(data, size);
    Script script(input);
    Host host(script, input);
    // The port mapper is asked when the input starts with an odd byte; otherwise every
    // server is reached on its fixed port.
    const bool mapped = size > 0 && data[0] % 2 == 1;
    const std::string port = host.ServicePort();
    cwbtest::UseSystems("[SYSA]\naddress = ibmi://127.0.0.1:" + host.MapperPort() +
                        "\nuser = OPER\npassword = secret42\ntimeout = 1\n" +
                        (mapped ? ""
                                : "signon_port = " + port + "\nrmtcmd_port = " + port +
                                      "\ndtaq_port = " + port + "\n"));
    cwbDQ_QueueHandle queue = 0;
    if (cwbDQ_Open("#TVOCGET", "TAVO400", "SYSA", &queue, 0) == CWB_OK) {
        unsigned char entry[61];
        unsigned char key[24] = {};
        cwbDQ_Data read = cwbDQ_CreateData();
        cwbDQ_SetData(read, entry, sizeof entry);
        cwbDQ_SetSearchKey(read, key, sizeof key);
        cwbDQ_SetSearchOrder(read, CWBDQ_EQUAL);
        cwbDQ_Read(queue, read, 0, 0);
    }
    cwbRC_SysHandle system = 0;
    if (cwbRC_StartSys("SYSA", 0, &system) == CWB_OK) {
        unsigned char in[124] = {}, inout[16] = {};
        cwbRC_PgmHandle program = 0;
        cwbRC_CreatePgm("TVOCGET", "TAVO400", &program);
        cwbRC_AddParm(program, CWBRC_INPUT, sizeof in, in);
        cwbRC_AddParm(program, CWBRC_INOUT, sizeof inout, inout);
        cwbRC_CallPgm(system, program, 0);
    }
    ResetProcessState(); // closes the client's connections
    return 0;
}
