#include "DataQueueSession.h"

namespace tavo::hostd {

namespace {

ibmi::Bytes NotFound(const std::string& queue, const std::string& library) {
    ibmi::DqCommonReply reply;
    reply.returnCode = ibmi::kDqCommandCheck;
    reply.messageId = "CPF9801";
    reply.text = "Object " + queue + " in library " + library + " not found.";
    return reply.Encode();
}

ibmi::Bytes Unsupported(const std::string& what) {
    ibmi::DqCommonReply reply;
    reply.returnCode = ibmi::kDqCommandCheck;
    reply.messageId = "CPF9898";
    reply.text = what;
    return reply.Encode();
}

std::string AsText(const ibmi::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

ibmi::Bytes AsBytes(const std::string& text) {
    return ibmi::Bytes(text.begin(), text.end());
}

} // namespace

DataQueueSession::DataQueueSession(asio::ip::tcp::socket socket, IbmiContext& context)
    : ServiceSession(std::move(socket), context, ibmi::kDataQueueServer, "as-dtaq", "QZHQSSRV") {}

void DataQueueSession::Serve(const ibmi::Header& header, ibmi::ByteView datastream) {
    switch (header.requestId) {
    case ibmi::kDqXchgAttributes:
        ibmi::DqXchgAttributesRequest::Decode(datastream);
        return Send(ibmi::DqXchgAttributesReply{}.Encode(), header.correlation);
    case ibmi::kDqQueryAttributes:
        return QueryAttributes(header, datastream);
    case ibmi::kDqRead:
        return Read(header, datastream);
    default: {
        // The stream is still in step, and the client can tell its caller what failed.
        Log("request ID " + Hex(header.requestId) + " is not served");
        ibmi::DqCommonReply reply;
        reply.returnCode = ibmi::kDqProtocolError;
        Send(reply.Encode(), header.correlation);
    }
    }
}

void DataQueueSession::QueryAttributes(const ibmi::Header& header, ibmi::ByteView datastream) {
    const auto request = ibmi::DqQueryAttributesRequest::Decode(datastream);
    Answer(header.correlation, [request](server::HostEngine& engine) {
        if (!engine.QueueExists(request.queue, request.library))
            return NotFound(request.queue, request.library);
        ibmi::DqQueryAttributesReply reply;
        reply.maxEntryLength = server::HostEngine::kReplyQueueMaxEntry;
        reply.queueType = 2;
        reply.keyLength = server::HostEngine::kReplyQueueKeyLength;
        reply.description = "TAVO/400 list replies";
        return reply.Encode();
    });
}

void DataQueueSession::Read(const ibmi::Header& header, ibmi::ByteView datastream) {
    const auto request = ibmi::DqReadRequest::Decode(datastream);
    // The host engine's queue is keyed and never waits: a wait is served as no wait,
    // since the clients' list retrieval asks again on its own.
    if (!request.keyed)
        return Send(
            Unsupported("Only keyed reads of data queue " + request.queue + " are supported."),
            header.correlation);
    if (request.search != "EQ")
        return Send(Unsupported("Search type " + request.search + " is not supported; only EQ."),
                    header.correlation);
    if (request.peek)
        return Send(Unsupported("Data queue entries cannot be peeked at on this host."),
                    header.correlation);
    Answer(header.correlation, [request, owner = Owner()](server::HostEngine& engine) {
        if (!engine.QueueExists(request.queue, request.library))
            return NotFound(request.queue, request.library);
        auto entry = engine.TakeEntry(request.queue, request.library, AsText(request.key), owner);
        if (!entry) {
            ibmi::DqCommonReply none;
            none.returnCode = ibmi::kDqNoEntry;
            return none.Encode();
        }
        ibmi::DqReadReply reply;
        reply.entry = AsBytes(*entry);
        reply.key = request.key;
        return reply.Encode();
    });
}

void DataQueueSession::Answer(std::uint32_t correlation,
                              std::function<ibmi::Bytes(server::HostEngine&)> task) {
    auto self = std::static_pointer_cast<DataQueueSession>(shared_from_this());
    OnEngine([self, correlation, task = std::move(task)](server::HostEngine& engine) {
        return Continuation([self, correlation, reply = task(engine)]() mutable {
            self->Send(std::move(reply), correlation);
        });
    });
}

} // namespace tavo::hostd
