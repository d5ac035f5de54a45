#include "StreamSession.h"

#include <asio/ssl/error.hpp>

namespace tavo::hostd {

StreamSession::StreamSession(std::shared_ptr<Stream> stream, asio::io_context& io,
                             Timeouts timeouts, std::function<void(const Connection*)> closed,
                             std::size_t readSize, const MakeHandler& make)
    : stream_(std::move(stream)), timeouts_(timeouts), onClosed_(std::move(closed)), timer_(io),
      readBuffer_(readSize) {
    std::error_code ec;
    const auto remote = stream_->Socket().remote_endpoint(ec);
    address_ = ec ? "unknown peer" : remote.address().to_string();
    peer_ = ec ? address_ : address_ + ":" + std::to_string(remote.port());
    handler_ = make(*this);
}

void StreamSession::Start() {
    WatchTime(); // the handshake is part of signing on, and has its time
    stream_->Open([self = shared_from_this()](std::error_code ec) {
        if (self->closed_)
            return;
        if (ec)
            return self->Close("TLS handshake failed: " + ec.message());
        self->open_ = true;
        self->Read();
    });
}

void StreamSession::Stop() {
    stopping_ = true;
    if (!busy_ || droppable_)
        Close("");
}

void StreamSession::Read() {
    if (reading_ || closed_)
        return;
    reading_ = true;
    stream_->ReadSome(
        asio::buffer(readBuffer_),
        [self = shared_from_this()](std::error_code ec, std::size_t n) { self->OnRead(ec, n); });
}

void StreamSession::OnRead(std::error_code ec, std::size_t n) {
    reading_ = false;
    if (closed_)
        return;
    if (ec) {
        if (handler_->Partial())
            Close(std::string("connection ended in the middle of a ") + handler_->Unit());
        else if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated)
            Close(""); // TLS clients may end without a close_notify
        else
            Close("connection lost: " + ec.message());
        return;
    }
    if (const auto why = handler_->Take(std::span(readBuffer_.data(), n)); !why.empty())
        return Close(why);
    Drain();
}

void StreamSession::Drain() {
    while (!busy_ && !closed_ && handler_->HandleNext()) {
    }
    if (closed_ || busy_)
        return;
    WatchTime();
    Read();
}

void StreamSession::Begin(bool droppable) {
    busy_ = true;
    droppable_ = droppable;
}

void StreamSession::End() {
    busy_ = false;
    droppable_ = false;
}

void StreamSession::Resume() {
    End();
    if (closed_)
        return;
    if (stopping_)
        return Close("");
    Drain();
}

// Before sign-on the whole exchange must be done within the frame time-out, which runs
// on from its start; after it a request once begun must still arrive whole, and between
// requests a connection may idle up to the idle time-out.
void StreamSession::WatchTime() {
    const bool due = !handler_->MayIdle() || handler_->Partial();
    if (due && timing_ == Timing::Frame)
        return;
    timing_ = due ? Timing::Frame : Timing::Idle;
    timer_.expires_after(due ? timeouts_.frame : timeouts_.idle);
    timer_.async_wait([self = shared_from_this(),
                       generation = ++timerGeneration_](std::error_code ec) {
        if (ec || self->closed_ || generation != self->timerGeneration_)
            return;
        const Timing was = std::exchange(self->timing_, Timing::None);
        if (self->busy_) // our own slowness is not the client's fault
            return;
        if (was == Timing::Idle)
            return self->Close("idle for " + std::to_string(self->timeouts_.idle.count()) + " s");
        const std::string missing = !self->open_ ? "TLS handshake"
                                    : self->handler_->MayIdle()
                                        ? std::string("complete ") + self->handler_->Unit()
                                        : "complete sign-on";
        // A flood of strangers times out by the hundred: counted by what it missed, not
        // written one by one.
        const std::string why =
            "no " + missing + " within " + std::to_string(self->timeouts_.frame.count()) + " s";
        self->Close(why, self->handler_->MayIdle() ? std::string_view() : why);
    });
}

void StreamSession::Write(std::shared_ptr<const void> keep, asio::const_buffer bytes,
                          bool thenClose) {
    if (closed_)
        return;
    Begin();
    stream_->Write(
        bytes, [self = Keep(), keep = std::move(keep), thenClose](std::error_code ec, std::size_t) {
            if (ec)
                return self->Close("cannot send the reply: " + ec.message());
            if (thenClose)
                return self->Close("");
            self->Resume();
        });
}

void StreamSession::Close(const std::string& why, std::string_view kind) {
    if (closed_)
        return;
    closed_ = true;
    gone_ = true;
    if (!why.empty())
        handler_->LogLine(why + "; connection closed", kind);
    stream_->Close();
    timer_.cancel();
    onClosed_(this);
}

} // namespace tavo::hostd
