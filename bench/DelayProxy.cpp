#include "DelayProxy.h"

#include <array>
#include <deque>
#include <memory>
#include <vector>

namespace tavobench {

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// One relayed connection. Each direction keeps its chunks in arrival order with the time
// each is due, so a burst arrives late by the delay, not spread out by it.
class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(const asio::any_io_executor& executor, tcp::socket client,
            std::chrono::milliseconds delay)
        : delay_(delay), sockets_{std::move(client), tcp::socket(executor)}, ways_{Way(executor),
                                                                                   Way(executor)} {}

    void Start(const tcp::endpoint& target) {
        sockets_[1].async_connect(target, [self = shared_from_this()](std::error_code ec) {
            if (ec)
                return self->Close();
            std::error_code ignored;
            // Nagle's wait would come on top of the delay, and differently each time.
            for (auto& s : self->sockets_)
                s.set_option(tcp::no_delay(true), ignored);
            self->Read(0);
            self->Read(1);
        });
    }

  private:
    struct Chunk {
        Clock::time_point due;
        std::vector<char> bytes;
        std::error_code end; // set: the sender closed (eof) or broke here, no bytes
    };
    struct Way {
        explicit Way(const asio::any_io_executor& executor) : timer(executor) {}
        asio::steady_timer timer;
        std::deque<Chunk> pending;
        bool pumping = false;
        bool finished = false;
        std::array<char, 65536> buffer{};
    };

    // Way 0 carries client to target, way 1 target to client.
    tcp::socket& From(int way) { return sockets_[way]; }
    tcp::socket& To(int way) { return sockets_[1 - way]; }

    void Read(int way) {
        Way& w = ways_[way];
        From(way).async_read_some(asio::buffer(w.buffer), [self = shared_from_this(),
                                                           way](std::error_code ec, std::size_t n) {
            if (self->closed_)
                return;
            Way& w = self->ways_[way];
            const auto due = Clock::now() + self->delay_;
            if (n > 0)
                w.pending.push_back({due, {w.buffer.begin(), w.buffer.begin() + n}, {}});
            if (ec)
                w.pending.push_back({due, {}, ec});
            else
                self->Read(way);
            if (!w.pumping)
                self->Pump(way);
        });
    }

    void Pump(int way) {
        Way& w = ways_[way];
        w.pumping = !w.pending.empty();
        if (!w.pumping)
            return;
        w.timer.expires_at(w.pending.front().due);
        w.timer.async_wait([self = shared_from_this(), way](std::error_code ec) {
            if (ec || self->closed_)
                return;
            Way& w = self->ways_[way];
            Chunk& chunk = w.pending.front();
            if (const std::error_code end = chunk.end) {
                w.pending.pop_front();
                w.pumping = false;
                if (end != asio::error::eof)
                    return self->Close();
                // A half close stays one: the other way may still have things to say.
                std::error_code ignored;
                self->To(way).shutdown(tcp::socket::shutdown_send, ignored);
                w.finished = true;
                if (self->ways_[1 - way].finished)
                    self->Close();
                return;
            }
            asio::async_write(self->To(way), asio::buffer(chunk.bytes),
                              [self, way](std::error_code e, std::size_t) {
                                  if (self->closed_)
                                      return;
                                  if (e)
                                      return self->Close();
                                  self->ways_[way].pending.pop_front();
                                  self->Pump(way);
                              });
        });
    }

    void Close() {
        closed_ = true;
        std::error_code ignored;
        for (auto& w : ways_)
            w.timer.cancel();
        for (auto& s : sockets_)
            s.close(ignored);
    }

    std::chrono::milliseconds delay_;
    std::array<tcp::socket, 2> sockets_;
    std::array<Way, 2> ways_;
    bool closed_ = false;
};

} // namespace

DelayProxy::DelayProxy(unsigned short targetPort, std::chrono::milliseconds oneWay)
    : work_(io_.get_executor()), acceptor_(io_, {asio::ip::address_v4::loopback(), 0}),
      target_(asio::ip::address_v4::loopback(), targetPort), delay_(oneWay),
      port_(acceptor_.local_endpoint().port()) {
    Accept();
    thread_ = std::thread([this] { io_.run(); });
}

DelayProxy::~DelayProxy() {
    // Sessions still open go with the handlers that hold them when io_ is destroyed.
    io_.stop();
    thread_.join();
}

void DelayProxy::Accept() {
    acceptor_.async_accept([this](std::error_code ec, tcp::socket client) {
        if (!ec)
            std::make_shared<Session>(io_.get_executor(), std::move(client), delay_)
                ->Start(target_);
        if (ec != asio::error::operation_aborted)
            Accept();
    });
}

} // namespace tavobench
