// cwb's ibmi:// backend decodes whatever an IBM i host (or anything posing as one) sends
// back: any input must decode or throw DatastreamError, and every output area of a
// program call must expand to exactly the length it announces, or throw.
#include <cstddef>
#include <cstdint>

#include "Messages.h"

namespace ib = tavo::ibmi;

namespace {

template <typename Reply>
void Try(ib::ByteView data) {
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
    return 0;
}
