#include "helper/HelperService.h"

#include "HelperProtocol/HelperCodec.h"
#include "HelperProtocol/HelperConstants.h"
#include "helper/Admission.h"
#include "helper/Logger.h"
#include "helper/RootFileOps.h"
#include "helper/WorkerPool.h"

namespace kb {

HelperService::HelperService(Caller peer, Performer performer, IdleExitTimer& timer)
    : peer_(std::move(peer)), performer_(std::move(performer)), timer_(timer) {
    if (!performer_) {
        performer_ = [](const HelperRequest& request, const Caller& caller) {
            return RootFileOps::perform(request, caller);
        };
    }
}

std::int64_t HelperService::getVersion() {
    timer_.touch();
    return HelperConstants::buildVersion();
}

void HelperService::perform(std::string request, Reply reply) {
    timer_.beginRequest();
    // The job holds its own copy of what it needs: the connection may be gone by the time
    // it finishes, and the service object with it.
    WorkerPool::run(
        peer_.uid, [service = *this, request = std::move(request), reply = std::move(reply)] {
            std::string response = HelperCodec::encodeOrFallback(service.handle(request));
            IdleExitTimer* timer = &service.timer_;
            reply(std::move(response), [timer] { timer->endRequest(); });
        });
}

HelperResponse HelperService::handle(std::string_view requestBytes) const {
    auto request = HelperCodec::decode<HelperRequest>(requestBytes);
    if (!request) {
        serviceLogger().error("undecodable request of " + std::to_string(requestBytes.size()) +
                              " bytes");
        return HelperResponse::error("this helper cannot decode the request");
    }
    if (auto refusal = peerUidRefusal(*request, peer_.uid)) {
        return HelperResponse::error(std::move(*refusal));
    }
    return performer_(*request, peer_);
}

}  // namespace kb
