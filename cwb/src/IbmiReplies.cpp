#include "IbmiReplies.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "Messages.h"
#include "cwbrc.h"

namespace cwb::ibmireplies {

namespace ib = tavo::ibmi;

std::string Hex16(std::uint16_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", code);
    return text;
}

std::string Joined(const std::vector<ib::HostMessage>& messages) {
    std::string text;
    for (const auto& m : messages)
        text += (text.empty() ? "" : " ") + m.Display();
    return text;
}

namespace {

std::string RcAttributesRefusal(std::uint16_t code) {
    switch (code) {
    case 0x0101:
        return "the request is not valid";
    case 0x0102:
        return "the datastream level is not valid";
    case 0x0103:
        return "the version is not valid";
    default:
        return "an unexpected return code";
    }
}

} // namespace

Status ReplyLost(std::string_view program, const std::string& where, const std::string& why) {
    return Status::Fail(CWB_REPLY_LOST, "The call of " + std::string(program) + " reached " +
                                            where + ", but its answer was lost (" + why +
                                            ") The host may have run it: check before "
                                            "calling again.");
}

Status ReadCallReply(ib::ByteView reply, std::span<BoundParm> parms, std::string_view program,
                     std::string_view library, const std::string& where, bool& closeLink,
                     std::uint32_t ccsid) {
    closeLink = false;
    try {
        const auto result = ib::CallProgramReply::Decode(reply, ccsid);
        if (result.returnCode == 0x0500 || result.returnCode == 0x0501) {
            Status failed = Status::Fail(CWBRC_HOST_PROGRAM_ERROR,
                                         "The host could not run program " + std::string(program) +
                                             " in library " + std::string(library) + " (" +
                                             Hex16(result.returnCode) + ").");
            for (const auto& m : result.messages)
                failed.messages.push_back(m.Display());
            return failed;
        }
        closeLink = true;
        if (result.returnCode != 0)
            return Status::Fail(
                CWB_COMMUNICATIONS_ERROR,
                "The remote command server of " + where + " refused the call (" +
                    Hex16(result.returnCode) + ")" +
                    (result.messages.empty() ? "" : ": " + Joined(result.messages)) + ".");
        std::size_t outputs = 0;
        for (const BoundParm& p : parms)
            outputs += p.type != CWBRC_INPUT;
        if (result.outputs.size() < outputs)
            return ReplyLost(program, where,
                             "the host returned " + std::to_string(result.outputs.size()) + " of " +
                                 std::to_string(outputs) + " output parameters.");
        std::vector<ib::Bytes> areas;
        for (std::size_t i = 0, o = 0; i < parms.size(); ++i)
            if (parms[i].type != CWBRC_INPUT) {
                areas.emplace_back(parms[i].length);
                ib::ExpandParmInto(result.outputs[o++], areas.back());
            }
        for (std::size_t i = 0, o = 0; i < parms.size(); ++i)
            if (parms[i].type != CWBRC_INPUT) {
                std::memcpy(parms[i].area, areas[o].data(), areas[o].size());
                ++o;
            }
        closeLink = false;
        return Status::Ok();
    } catch (const ib::DatastreamError& e) {
        closeLink = true;
        return ReplyLost(program, where, std::string(e.what()) + ".");
    }
}

Status ReadRcAttributes(ib::ByteView reply, const std::string& where, std::uint16_t& serverLevel) {
    try {
        // 0x0100-0x0108 are warnings a client lives with, but for the first three.
        const std::uint16_t code = ib::ReadReturnCode16(reply, ib::kRcXchgAttributesReply);
        if (code != 0 && (code < 0x0100 || code > 0x0108 || code <= 0x0103))
            return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The remote command server of " + where +
                                                              " refused us (" + Hex16(code) + ": " +
                                                              RcAttributesRefusal(code) + ").");
        serverLevel = ib::RcXchgAttributesReply::Decode(reply).serverLevel;
    } catch (const ib::DatastreamError& e) {
        return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                            "The host " + where + " sent a reply this program cannot read (" +
                                e.what() + ").");
    }
    return Status::Ok();
}

Status ReadDqAttributes(ib::ByteView reply, const std::string& where) {
    try {
        if (ib::ReadHeader(reply).requestId == ib::kDqCommonReply) {
            const auto refusal = ib::DqCommonReply::Decode(reply);
            return Status::Fail(
                CWB_COMMUNICATIONS_ERROR,
                "The data queue server of " + where + " refused us (" + Hex16(refusal.returnCode) +
                    (refusal.messageId.empty() ? ")."
                                               : "): " + refusal.messageId + " " + refusal.text));
        }
        ib::DqXchgAttributesReply::Decode(reply);
    } catch (const ib::DatastreamError& e) {
        return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                            "The host " + where + " sent a reply this program cannot read (" +
                                e.what() + ").");
    }
    return Status::Ok();
}

} // namespace cwb::ibmireplies
