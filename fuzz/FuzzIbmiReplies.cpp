// cwb's ibmi:// backend decodes whatever an IBM i host (or anything posing as one) sends
// back: any input must decode or throw DatastreamError, every output area of a program
// call must expand to exactly the length it announces, or throw, and what the client
// makes of a reply is a status, never an exception.
#include <cstddef>
#include <cstdint>

#include "ChangePassword.h"
#include "IbmiReplies.h"
#include "Messages.h"
#include "cwbrc.h"

namespace ib = tavo::ibmi;

namespace {

template <typename Reply> void Try(ib::ByteView data) {
    try {
        Reply::Decode(data);
    } catch (const ib::DatastreamError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ib::ByteView input(data, size);
    Try<ib::SignonXchgAttributesReply>(input);
    Try<ib::SignonInfoReply>(input);
    Try<ib::ChangePasswordReply>(input);
    Try<ib::SeedsReply>(input);
    Try<ib::StartServerReply>(input);
    Try<ib::RcXchgAttributesReply>(input);
    Try<ib::DqXchgAttributesReply>(input);
    Try<ib::DqQueryAttributesReply>(input);
    Try<ib::DqReadReply>(input);
    Try<ib::DqCommonReply>(input);
    try {
        ib::DecodePortMapperReply(input.first(std::min<std::size_t>(size, 5)));
    } catch (const ib::DatastreamError&) {
    }
    try {
        for (const auto& parm : ib::CallProgramReply::Decode(input).outputs) {
            try {
                if (ib::ExpandParm(parm).size() != parm.maxLength)
                    __builtin_trap();
            } catch (const ib::DatastreamError&) {
            }
        }
    } catch (const ib::DatastreamError&) {
    }
    unsigned char inout[6], output[3];
    cwb::BoundParm parms[] = {{CWBRC_INOUT, inout, sizeof inout},
                              {CWBRC_OUTPUT, output, sizeof output}};
    bool close = false;
    std::uint16_t level = 0;
    cwb::ibmireplies::ReadCallReply(input, parms, "P", "L", "h", close);
    cwb::ibmireplies::ReadRcAttributes(input, "h", level);
    cwb::ibmireplies::ReadDqAttributes(input, "h");
    return 0;
}
