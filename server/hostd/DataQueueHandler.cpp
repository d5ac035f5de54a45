#include "DataQueueHandler.h"

namespace tavo::hostd {

namespace {

// Reads answered together at most; the replies of one batch go out in one write.
constexpr std::size_t kMostReadsAtOnce = 256;

ibmi::Bytes NotFound(const std::string& queue, const std::string& library, std::uint32_t ccsid) {
    ibmi::DqCommonReply reply;
    reply.returnCode = ibmi::kDqCommandCheck;
    reply.messageId = "CPF9801";
    reply.text = "Object " + queue + " in library " + library + " not found.";
    return reply.Encode(ccsid);
}

ibmi::Bytes Unsupported(const std::string& what, std::uint32_t ccsid) {
    ibmi::DqCommonReply reply;
    reply.returnCode = ibmi::kDqCommandCheck;
    reply.messageId = "CPF9898";
    reply.text = what;
    return reply.Encode(ccsid);
}

std::string AsText(const ibmi::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

ibmi::Bytes AsBytes(const std::string& text) {
    return ibmi::Bytes(text.begin(), text.end());
}

} // namespace

DataQueueHandler::DataQueueHandler(IbmiLink& link) : link_(link), start_(link, "QZHQSSRV") {}

void DataQueueHandler::Handle(const ibmi::Header& header, ibmi::ByteView datastream) {
    if (!start_.Started())
        return start_.Handle(header, datastream);
    switch (header.requestId) {
    case ibmi::kDqXchgAttributes:
        ibmi::DqXchgAttributesRequest::Decode(datastream);
        return link_.Send(ibmi::DqXchgAttributesReply{}.Encode(), header.correlation);
    case ibmi::kDqQueryAttributes:
        return QueryAttributes(header, datastream);
    case ibmi::kDqRead:
        return Read(header, datastream);
    default: {
        // The stream is still in step, and the client can tell its caller what failed.
        link_.Log("request ID " + IbmiLink::Hex(header.requestId) + " is not served");
        ibmi::DqCommonReply reply;
        reply.returnCode = ibmi::kDqProtocolError;
        link_.Send(reply.Encode(), header.correlation);
    }
    }
}

void DataQueueHandler::QueryAttributes(const ibmi::Header& header, ibmi::ByteView datastream) {
    const auto request = ibmi::DqQueryAttributesRequest::Decode(datastream, link_.Context().ccsid);
    Answer(header.correlation,
           [request, ccsid = link_.Context().ccsid](server::HostEngine& engine) {
               if (!engine.QueueExists(request.queue, request.library))
                   return NotFound(request.queue, request.library, ccsid);
               ibmi::DqQueryAttributesReply reply;
               reply.maxEntryLength = server::HostEngine::kReplyQueueMaxEntry;
               reply.queueType = 2;
               reply.keyLength = server::HostEngine::kReplyQueueKeyLength;
               reply.description = "TAVO/400 list replies";
               return reply.Encode();
           });
}

void DataQueueHandler::Read(const ibmi::Header& header, ibmi::ByteView datastream) {
    const std::uint32_t ccsid = link_.Context().ccsid;
    const auto request = ibmi::DqReadRequest::Decode(datastream, ccsid);
    // The host engine's queue is keyed and never waits: a wait is served as no wait,
    // since the clients' list retrieval asks again on its own.
    if (!request.keyed)
        return link_.Send(
            Unsupported("Only keyed reads of data queue " + request.queue + " are supported.",
                        ccsid),
            header.correlation);
    if (request.search != "EQ")
        return link_.Send(
            Unsupported("Search type " + request.search + " is not supported; only EQ.", ccsid),
            header.correlation);
    if (request.peek)
        return link_.Send(
            Unsupported("Data queue entries cannot be peeked at on this host.", ccsid),
            header.correlation);
    // A client reading a list keeps many reads in flight: those that came back to back for
    // the same entries are answered with one trip to the engine and one write.
    std::vector<std::uint32_t> correlations{header.correlation};
    while (correlations.size() < kMostReadsAtOnce) {
        auto next = link_.NextIf([&request, ccsid](ibmi::ByteView datastream) {
            if (ibmi::ReadHeader(datastream).requestId != ibmi::kDqRead)
                return false;
            try {
                const auto same = ibmi::DqReadRequest::Decode(datastream, ccsid);
                return same.queue == request.queue && same.library == request.library &&
                       same.key == request.key && same.keyed && same.search == "EQ" && !same.peek;
            } catch (const ibmi::DatastreamError&) {
                return false;
            }
        });
        if (!next)
            break;
        correlations.push_back(ibmi::ReadHeader(*next).correlation);
    }
    link_.OnEngine([this, request, correlations, owner = link_.Owner(),
                    ccsid](server::HostEngine& engine) {
        ibmi::Bytes replies;
        const auto answer = [&](ibmi::Bytes reply, std::uint32_t correlation) {
            ibmi::SetCorrelation(reply, correlation);
            replies.insert(replies.end(), reply.begin(), reply.end());
        };
        if (!engine.QueueExists(request.queue, request.library)) {
            for (auto correlation : correlations)
                answer(NotFound(request.queue, request.library, ccsid), correlation);
        } else {
            const auto entries = engine.TakeEntries(
                request.queue, request.library, AsText(request.key), correlations.size(), owner);
            for (std::size_t i = 0; i < correlations.size(); ++i) {
                if (i >= entries.size()) {
                    ibmi::DqCommonReply none;
                    none.returnCode = ibmi::kDqNoEntry;
                    answer(none.Encode(), correlations[i]);
                    continue;
                }
                ibmi::DqReadReply reply;
                reply.entry = AsBytes(entries[i]);
                reply.key = request.key;
                answer(reply.Encode(), correlations[i]);
            }
        }
        return IbmiLink::Continuation(
            [this, replies = std::move(replies)]() mutable { link_.SendAll(std::move(replies)); });
    });
}

void DataQueueHandler::Answer(std::uint32_t correlation,
                              std::function<ibmi::Bytes(server::HostEngine&)> task) {
    link_.OnEngine([this, correlation, task = std::move(task)](server::HostEngine& engine) {
        return IbmiLink::Continuation([this, correlation, reply = task(engine)]() mutable {
            link_.Send(std::move(reply), correlation);
        });
    });
}

} // namespace tavo::hostd
