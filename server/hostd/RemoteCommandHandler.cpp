#include "RemoteCommandHandler.h"

#include <optional>

#include "HostLevels.h"

namespace tavo::hostd {

namespace {

// The host's own limit on parameters; our programs take two and six.
constexpr std::size_t kMaxParms = 255;
// The areas of one call, all told: our largest call has two of 32000 bytes.
constexpr std::uint64_t kMaxAreaBytes = 1u << 20;

// The host's return codes for a call.
constexpr std::uint16_t kInvalidParameter = 0x0302;
constexpr std::uint16_t kMaximumExceeded = 0x0303;
constexpr std::uint16_t kProgramNotResolved = 0x0500;
constexpr std::uint16_t kProgramFailed = 0x0501;

// The form of a failed call's messages for the request's message option, or none. IBM's
// clients ask for up to ten (0) or all (2) messages in the fixed form; level 10 added
// options 3 and 4 for the described form, level 11 options 5 and 6 for the full one.
// An option the level does not offer gets the form every level knows.
std::optional<ibmi::MessageFormat> MessageForm(std::uint8_t option, std::uint16_t level) {
    switch (option) {
    case 1:
        return std::nullopt;
    case 3:
    case 4:
        if (level >= 10)
            return ibmi::MessageFormat::Described;
        break;
    case 5:
    case 6:
        if (level >= 11)
            return ibmi::MessageFormat::Full;
        break;
    }
    return ibmi::MessageFormat::Fixed;
}

bool MayCompress(std::uint16_t usage) {
    return usage == ibmi::kUsageOutputRleOk || usage == ibmi::kUsageInOutRle;
}

ibmi::HostMessage FailureMessage(const ibmi::CallProgramRequest& call,
                                 const server::Status& outcome) {
    ibmi::HostMessage message;
    message.text = outcome.text;
    if (outcome.id == "CPF9811") {
        message.id = "CPF9811";
        message.substitution = ibmi::ObjectName(call.program);
        const ibmi::Bytes library = ibmi::ObjectName(call.library);
        message.substitution.insert(message.substitution.end(), library.begin(), library.end());
    } else {
        message.id = "CPF9898";
    }
    return message;
}

} // namespace

RemoteCommandHandler::RemoteCommandHandler(IbmiLink& link)
    : link_(link), start_(link, "QZRCSRVS") {}

void RemoteCommandHandler::Handle(const ibmi::Header& header, ibmi::ByteView datastream) {
    if (!start_.Started())
        return start_.Handle(header, datastream);
    switch (header.requestId) {
    case ibmi::kRcXchgAttributes: {
        ibmi::RcXchgAttributesRequest::Decode(datastream);
        ibmi::RcXchgAttributesReply reply;
        reply.ccsid = link_.Context().ccsid;
        reply.serverLevel = RemoteCommandLevel(link_.Context().hostLevel);
        return link_.Send(reply.Encode(), header.correlation);
    }
    case ibmi::kRcCallProgram:
        return Call(header, datastream);
    case ibmi::kRcEndJob:
        return link_.Close("");
    default:
        link_.Close("unknown request ID " + IbmiLink::Hex(header.requestId));
    }
}

void RemoteCommandHandler::Call(const ibmi::Header& header, ibmi::ByteView datastream) {
    auto request = std::make_shared<ibmi::CallProgramRequest>(
        ibmi::CallProgramRequest::Decode(datastream, link_.Context().ccsid));
    const std::uint32_t correlation = header.correlation;
    if (request->parms.size() > kMaxParms)
        return Refuse(correlation, kMaximumExceeded,
                      std::to_string(request->parms.size()) + " parameters");
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < request->parms.size(); ++i) {
        const auto& parm = request->parms[i];
        const std::string which = "parameter " + std::to_string(i + 1);
        if (ibmi::ParmDirection(parm.usage) == 0)
            return Refuse(correlation, kInvalidParameter,
                          which + " has usage " + std::to_string(parm.usage));
        total += parm.maxLength;
        if (total > kMaxAreaBytes)
            return Refuse(correlation, kMaximumExceeded,
                          "the parameters come to more than " + std::to_string(kMaxAreaBytes) +
                              " bytes");
    }
    auto job = std::make_shared<CallJob>();
    job->program = request->program;
    job->library = request->library;
    job->owner = link_.Owner();
    for (std::size_t i = 0; i < request->parms.size(); ++i) {
        ibmi::Bytes area;
        try {
            area = ibmi::ExpandParm(request->parms[i]);
        } catch (const ibmi::DatastreamError& e) {
            return Refuse(correlation, kInvalidParameter,
                          "parameter " + std::to_string(i + 1) + ": " + e.what());
        }
        job->directions.push_back(
            static_cast<server::ParmDirection>(ibmi::ParmDirection(request->parms[i].usage)));
        job->areas.emplace_back(area.begin(), area.end());
    }
    const auto form =
        MessageForm(request->messageOption, RemoteCommandLevel(link_.Context().hostLevel));
    link_.OnCall(std::move(job), [this, request, correlation,
                                  form](server::Status outcome, std::vector<std::string> areas) {
        ibmi::CallProgramReply reply;
        if (outcome.ok()) {
            for (std::size_t i = 0; i < areas.size(); ++i) {
                const auto usage = request->parms[i].usage;
                if (ibmi::ParmDirection(usage) == 1)
                    continue;
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(areas[i].data());
                reply.outputs.push_back(ibmi::MakeOutputParm(ibmi::ByteView(bytes, areas[i].size()),
                                                             MayCompress(usage)));
            }
        } else {
            reply.returnCode = outcome.id == "CPF9811" ? kProgramNotResolved : kProgramFailed;
            if (form) {
                reply.messageFormat = *form;
                reply.messages.push_back(FailureMessage(*request, outcome));
            }
            link_.Log(
                "call of " + request->library + "/" + request->program + " failed" +
                (form ? " (message form " + IbmiLink::Hex(static_cast<std::uint16_t>(*form)) + ")"
                      : "") +
                ": " + outcome.text);
        }
        link_.Send(reply.Encode(link_.Context().ccsid), correlation);
    });
}

void RemoteCommandHandler::Refuse(std::uint32_t correlation, std::uint16_t returnCode,
                                  const std::string& why) {
    link_.Log("call refused: " + why);
    ibmi::CallProgramReply reply;
    reply.returnCode = returnCode;
    link_.Send(reply.Encode(link_.Context().ccsid), correlation);
}

} // namespace tavo::hostd
