// The object that serves one accepted connection: answers the version at once and runs
// each request as its own job on the worker pool, shared fairly between uids (at most two
// of one uid at a time; WorkerPool.h). One per connection; it keeps no state between calls
// beyond who the peer is, so calls are independent.
//
// The peer-uid rule (helper/Admission.h, peerUidRefusal) is applied to every decoded request
// before it runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "HelperProtocol/WireMessages.h"
#include "helper/Caller.h"
#include "helper/IdleExitTimer.h"

namespace kb {

class HelperService {
  public:
    // Runs a decoded request for the peer; production uses RootFileOps::perform.
    using Performer = std::function<HelperResponse(const HelperRequest&, const Caller&)>;
    // Delivers the encoded response; the transport calls `written` exactly once, after the
    // reply has been written or could not be (connection gone).
    using Reply = std::function<void(std::string response, std::function<void()> written)>;

    explicit HelperService(Caller peer, Performer performer = {},
                           IdleExitTimer& timer = IdleExitTimer::shared());

    // Touches the idle timer and gives the build version.
    std::int64_t getVersion();

    // Counts the call in, starts its job and returns at once. The job replies with the
    // encoded response (or the fixed fallback) and the call is counted out once written.
    void perform(std::string request, Reply reply);

    // Request bytes to response; never fails. Runs on the calling thread.
    HelperResponse handle(std::string_view requestBytes) const;

    const Caller& peer() const { return peer_; }

  private:
    Caller peer_;
    Performer performer_;
    IdleExitTimer& timer_;
};

}  // namespace kb
