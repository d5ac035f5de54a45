#include "PortMapperSession.h"

#include <algorithm>
#include <string_view>

#include "Messages.h"

namespace tavo::hostd {

namespace {
// A name comes in one write; once some of it is here, the rest follows at once or never.
// Bytes that cannot grow into a known name are refused without waiting for more.
constexpr auto kPause = std::chrono::milliseconds(300);
constexpr std::uint8_t kRefused = '-';

std::string Printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes)
        out += c >= 0x20 && c < 0x7F ? c : '?';
    return out;
}
} // namespace

PortMapperSession::PortMapperSession(asio::ip::tcp::socket socket, IbmiContext& context,
                                     const ServicePorts& ports)
    : context_(context), ports_(ports), socket_(std::move(socket)), timer_(context.io) {}

void PortMapperSession::Start() {
    Read();
}

void PortMapperSession::Stop() {
    if (!answering_)
        Close();
}

void PortMapperSession::Read() {
    timer_.expires_after(size_ == 0 ? std::chrono::milliseconds(context_.frameTimeout) : kPause);
    timer_.async_wait([self = shared_from_this()](std::error_code ec) {
        if (!ec && !self->closed_ && !self->answering_)
            self->Decide();
    });
    socket_.async_read_some(
        asio::buffer(name_.data() + size_, name_.size() - size_),
        [self = shared_from_this()](std::error_code ec, std::size_t n) { self->OnRead(ec, n); });
}

void PortMapperSession::OnRead(std::error_code ec, std::size_t n) {
    if (closed_ || answering_)
        return;
    size_ += n;
    const std::string_view name(name_.data(), size_);
    const bool mayGrow = std::any_of(ports_.begin(), ports_.end(), [name](const auto& known) {
        return known.first.size() > name.size() && known.first.starts_with(name);
    });
    if (ec || ports_.contains(name) || !mayGrow)
        return Decide();
    Read();
}

void PortMapperSession::Decide() {
    answering_ = true;
    timer_.cancel();
    const std::string_view name(name_.data(), size_);
    const auto known = ports_.find(name);
    auto reply = std::make_shared<ibmi::Bytes>(1, kRefused);
    if (known != ports_.end())
        *reply = ibmi::EncodePortMapperReply(known->second);
    else if (size_ > 0)
        context_.log.Line("port mapper: no service '" + Printable(name) + "'; refused");
    asio::async_write(
        socket_, asio::buffer(*reply),
        [self = shared_from_this(), reply](std::error_code, std::size_t) { self->Close(); });
}

void PortMapperSession::Close() {
    if (closed_)
        return;
    closed_ = true;
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    timer_.cancel();
    context_.closed(this);
}

} // namespace tavo::hostd
