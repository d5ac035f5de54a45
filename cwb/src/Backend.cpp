#include "Backend.h"

#include "IbmiBackend.h"
#include "TcpBackend.h"
#include "cwbdq.h"
#if TAVO_EMBEDDED_HOST
#include "EmbeddedBackend.h"
#endif

namespace cwb {

std::size_t OutputCount(std::span<const BoundParm> parms) {
    std::size_t outputs = 0;
    for (const BoundParm& p : parms)
        outputs += p.type != CWBRC_INPUT;
    return outputs;
}

Status NoEntry(std::string_view queue, std::string_view library) {
    return Status::Fail(CWBDQ_TIMED_OUT, "No entry with the requested key on data queue " +
                                             std::string(queue) + " in library " +
                                             std::string(library) + ".");
}

std::unique_ptr<Backend> MakeBackend(const SystemConfig& system) {
    switch (system.endpoint.kind) {
    case Endpoint::Kind::Embedded:
#if TAVO_EMBEDDED_HOST
        return std::make_unique<EmbeddedBackend>(system);
#else
        break; // refused where the systems file is read
#endif
    case Endpoint::Kind::Tcp:
        return std::make_unique<TcpBackend>(system);
    case Endpoint::Kind::Ibmi:
        return std::make_unique<IbmiBackend>(system);
    case Endpoint::Kind::None:
        break;
    }
    return nullptr;
}

} // namespace cwb
