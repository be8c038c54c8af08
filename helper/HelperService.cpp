#include "helper/HelperService.h"

#include <fmt/format.h>

#include "HelperProtocol/HelperCodec.h"
#include "HelperProtocol/HelperConstants.h"
#include "base/Overloaded.h"
#include "helper/Logger.h"
#include "helper/RootFileOps.h"
#include "helper/WorkerPool.h"

namespace kb {
namespace {

inline constexpr size_t maximumPathsPerRequest = 10000;

struct PathScope {
    size_t pathCount = 0;
    std::uint32_t uid = 0;
};

// The paths and uid of a path-carrying request; nullopt for the other kinds.
std::optional<PathScope> pathScopeOf(const HelperRequest& request) {
    using R = HelperRequest;
    return std::visit(Overloaded{
                          [](const R::TrashItems& r) -> std::optional<PathScope> {
                              return PathScope{r.paths.size(), r.uid};
                          },
                          [](const R::RemoveItems& r) -> std::optional<PathScope> {
                              return PathScope{r.paths.size(), r.uid};
                          },
                          [](const R::ClearProtection& r) -> std::optional<PathScope> {
                              return PathScope{1, r.uid};
                          },
                          [](const R::RestoreFromTrash& r) -> std::optional<PathScope> {
                              return PathScope{1, r.uid};
                          },
                          [](const auto&) -> std::optional<PathScope> { return std::nullopt; },
                      },
                      request.kind);
}

}  // namespace

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
        serviceLogger().error(fmt::format("undecodable request of {} bytes", requestBytes.size()));
        return HelperResponse::error("this helper cannot decode the request");
    }
    if (peer_.uid != 0) {
        const auto scope = pathScopeOf(*request);
        if (scope && scope->uid != peer_.uid && scope->pathCount >= 1 &&
            scope->pathCount <= maximumPathsPerRequest) {
            return HelperResponse::error(
                fmt::format("uid {} is not a user account this helper will act for", scope->uid));
        }
    }
    return performer_(*request, peer_);
}

}  // namespace kb
