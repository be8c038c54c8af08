// Accepts clients on the listening socket and decides, for each, whether to serve it.
//
// For every connection, in order: build the strict requirement text anew and parse it
// (text that does not parse refuses every client, with a fault line); apply the connection
// limits (at most `perUid` open connections per uid and `total` in all); check the peer
// (by default its attested code identity against the requirement, and that its own user
// cannot have tampered with it: not traced, started in secure mode, not dumpable; a root
// peer needs none of it). A refused peer gets the greeting that says why, in words for its
// user, and is disconnected before any of its bytes are read, with an error line naming
// its pid, uid and executable. An accepted one touches the idle timer and is served by a
// fresh HelperService on its own Connection (which greets it), for the Caller the
// inspection pinned. All connections share one budget of request bytes.
//
// Runs on one io_context; `stopAccepting` may be called from any of its handlers.
#pragma once

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/Result.h"
#include "helper/ClientRequirement.h"
#include "helper/Connection.h"
#include "platform/PeerIdentity.h"
#include "platform/UniqueFd.h"

namespace kb {

// Why a peer is not admitted, in words for its user ("it is being traced").
struct ClientRefusal {
    std::string reason;
};

class HelperListener : public std::enable_shared_from_this<HelperListener> {
  public:
    struct Limits {
        size_t perUid = 32;
        size_t total = 256;
        Connection::Limits connection{.budget = std::make_shared<RequestBudget>()};
    };

    // Decides whether a peer satisfies a parsed requirement; fails with the reason.
    using PeerCheck =
        std::function<Result<void, ClientRefusal>(const PeerIdentity&, const ClientRequirement&)>;
    // Inspects a connected socket's peer (tests substitute their own process's facts).
    using PeerInspector = std::function<Result<PeerIdentity, SystemError>(int socketFd)>;
    using RequirementText = std::function<std::string()>;

    struct Options {
        Limits limits;
        PeerInspector inspect = inspectPeer;
        PeerCheck check = admissionCheck;
        RequirementText requirement = strictRequirement;
        HelperService::Performer performer;  // empty: the root operations
    };

    HelperListener(asio::io_context& context, UniqueFd listeningSocket, Options options);

    void startAccepting();
    void stopAccepting();

    // The production check: root; or attested identity satisfying the requirement, not
    // traced, started in secure mode and not dumpable.
    static Result<void, ClientRefusal> admissionCheck(const PeerIdentity& peer,
                                                      const ClientRequirement& requirement);
    static std::string strictRequirement();

  private:
    void acceptNext();
    void admit(Connection::Socket socket);
    void released(std::uint32_t uid);

    asio::local::stream_protocol::acceptor acceptor_;
    asio::steady_timer retry_;
    Options options_;
    mutable std::mutex countsLock_;
    std::map<std::uint32_t, size_t> perUid_;
    size_t total_ = 0;
    bool accepting_ = false;
};

}  // namespace kb
