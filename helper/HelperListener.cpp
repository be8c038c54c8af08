#include "helper/HelperListener.h"

#include <sys/socket.h>

#include "HelperProtocol/HelperConstants.h"
#include "helper/IdleExitTimer.h"
#include "helper/Logger.h"

namespace kb {
namespace {

// The greeting of a refused peer, written without waiting (a fresh socket's buffer has
// room for it); the socket is closed right after.
void greetWithRefusal(Connection::Socket& socket, const std::string& reason) {
    const std::string frame = WireFraming::encodeGreeting({false, reason});
    [[maybe_unused]] const ssize_t sent =
        ::send(socket.native_handle(), frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

// The opening of every log line about a refused peer whose credentials are known; the
// caller closes the parenthesis.
std::string refusedClient(pid_t pid, std::uint32_t uid) {
    return "refused a client (pid " + std::to_string(pid) + ", uid " + std::to_string(uid);
}

}  // namespace

HelperListener::HelperListener(asio::io_context& context, UniqueFd listeningSocket, Options options)
    : acceptor_(context, asio::local::stream_protocol(), listeningSocket.release()),
      retry_(context),
      options_(std::move(options)) {}

std::string HelperListener::strictRequirement() {
    return HelperConstants::clientRequirement(false);
}

Result<void, ClientRefusal> HelperListener::admissionCheck(const PeerIdentity& peer,
                                                           const ClientRequirement& requirement) {
    if (peer.credentials.uid == 0) {
        return {};  // root could attest or trace anything: the checks would add nothing
    }
    if (!peer.attestation) {
        return fail(ClientRefusal{peer.unattestedReason});
    }
    if (!requirement.isSatisfiedBy(peer.attestation)) {
        return fail(ClientRefusal{"its code identity does not satisfy the requirement"});
    }
    if (peer.traced) {
        return fail(ClientRefusal{"it is being traced"});
    }
    if (!peer.secureExecution) {
        return fail(ClientRefusal{"it was not started in secure mode"});
    }
    if (peer.dumpable) {
        return fail(ClientRefusal{"it is dumpable by its user"});
    }
    return {};
}

void HelperListener::startAccepting() {
    accepting_ = true;
    acceptNext();
}

void HelperListener::stopAccepting() {
    accepting_ = false;
    retry_.cancel();
    std::error_code ignored;
    acceptor_.close(ignored);
}

void HelperListener::acceptNext() {
    if (!accepting_) {
        return;
    }
    acceptor_.async_accept(
        [self = shared_from_this()](const std::error_code& error, Connection::Socket socket) {
            if (!self->accepting_) {
                return;
            }
            if (!error) {
                self->admit(std::move(socket));
                self->acceptNext();
                return;
            }
            // Out of descriptors or memory: waiting a moment beats spinning on the error.
            listenerLogger().error("cannot accept a client: " + error.message());
            self->retry_.expires_after(std::chrono::milliseconds(100));
            self->retry_.async_wait([self](const std::error_code& e) {
                if (!e) {
                    self->acceptNext();
                }
            });
        });
}

void HelperListener::admit(Connection::Socket socket) {
    const std::string text = options_.requirement();
    const auto requirement = ClientRequirement::parse(text);
    if (!requirement) {
        listenerLogger().fault("refusing all clients: cannot parse " + text);
        greetWithRefusal(socket,
                         "no program is admitted: the helper's client requirement is broken");
        return;
    }
    const int fd = socket.native_handle();
    auto credentials = peerCredentials(fd);
    if (!credentials) {
        listenerLogger().error("refused a client: " + credentials.error().describe());
        greetWithRefusal(socket, "the helper cannot tell which program this is");
        return;
    }
    const std::uint32_t uid = credentials->uid;
    {
        std::lock_guard guard(countsLock_);
        if (total_ >= options_.limits.total) {
            listenerLogger().error(refusedClient(credentials->pid, uid) +
                                   "): " + std::to_string(total_) + " connections are open");
            greetWithRefusal(socket, "too many connections to the helper are open");
            return;
        }
        if (perUid_[uid] >= options_.limits.perUid) {
            listenerLogger().error(refusedClient(credentials->pid, uid) + "): uid " +
                                   std::to_string(uid) + " has " + std::to_string(perUid_[uid]) +
                                   " connections open");
            greetWithRefusal(socket, "this account has too many connections to the helper open");
            return;
        }
        ++perUid_[uid];
        ++total_;
    }
    auto identity = options_.inspect(fd);
    if (!identity) {
        listenerLogger().error(refusedClient(credentials->pid, uid) +
                               "): " + identity.error().describe());
        greetWithRefusal(socket, "the helper cannot tell which program this is");
        released(uid);
        return;
    }
    if (auto verdict = options_.check(*identity, *requirement); !verdict) {
        listenerLogger().error(refusedClient(identity->credentials.pid, uid) + ", executable " +
                               escapeForLog(identity->executable) + "): " + verdict.error().reason);
        greetWithRefusal(socket, "this program is not admitted: " + verdict.error().reason);
        released(uid);
        return;
    }
    IdleExitTimer::shared().touch();
    listenerLogger().notice("accepted a client that satisfies the code-signing requirement");
    Caller peer{.pid = identity->credentials.pid,
                .uid = uid,
                .gid = identity->credentials.gid,
                .executable = identity->executable,
                .pidfd = identity->pidfd};
    Connection::start(std::move(socket), HelperService(std::move(peer), options_.performer),
                      options_.limits.connection, [weak = weak_from_this(), uid] {
                          if (auto self = weak.lock()) {
                              self->released(uid);
                          }
                      });
}

void HelperListener::released(std::uint32_t uid) {
    std::lock_guard guard(countsLock_);
    if (--perUid_[uid] == 0) {
        perUid_.erase(uid);
    }
    --total_;
}

}  // namespace kb
