// tavo400-hostd --ibmi decodes every request of the sign-on, remote command and data
// queue servers from bytes anyone may send: any input must decode or throw
// DatastreamError, and a call's parameters must expand or throw the same.
#include <cstddef>
#include <cstdint>

#include "ChangePassword.h"
#include "Messages.h"

namespace ib = tavo::ibmi;

namespace {

template <typename Request> void Try(ib::ByteView data) {
    try {
        Request::Decode(data);
    } catch (const ib::DatastreamError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ib::ByteView input(data, size);
    Try<ib::SignonXchgAttributesRequest>(input);
    Try<ib::SignonInfoRequest>(input);
    Try<ib::ChangePasswordRequest>(input);
    Try<ib::SeedsRequest>(input);
    Try<ib::StartServerRequest>(input);
    Try<ib::RcXchgAttributesRequest>(input);
    Try<ib::DqQueryAttributesRequest>(input);
    Try<ib::DqReadRequest>(input);
    try {
        for (const auto& parm : ib::CallProgramRequest::Decode(input).parms) {
            try {
                const ib::Bytes area = ib::ExpandParm(parm);
                if (area.size() != parm.maxLength)
                    __builtin_trap();
            } catch (const ib::DatastreamError&) {
            }
        }
    } catch (const ib::DatastreamError&) {
    }
    return 0;
}
