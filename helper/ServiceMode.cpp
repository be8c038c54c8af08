#include "helper/ServiceMode.h"

#include <grp.h>
#include <signal.h>

#include <asio/io_context.hpp>
#include <cstdlib>
#include <optional>
#include <vector>

#include "HelperProtocol/HelperConstants.h"
#include "helper/HelperListener.h"
#include "helper/IdleExitTimer.h"
#include "helper/Logger.h"
#include "helper/StagingRecovery.h"
#include "platform/Notify.h"
#include "platform/SocketActivation.h"
#include "platform/UnixSocket.h"

namespace kb {
namespace {

// The group whose members may connect when the helper binds its own socket: the group the
// application is installed set-group-id to, when the system has it.
std::optional<gid_t> clientGroup() {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getgrnam_r("kestrelbay", &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return std::nullopt;
    }
    return found->gr_gid;
}

// The socket the service manager passed, or the well-known path bound here.
UniqueFd listeningSocket() {
    auto passed = SocketActivation::takeListeningSocket();
    if (!passed) {
        serviceLogger().fault("cannot take the passed socket: " + passed.error().describe());
        std::exit(1);
    }
    if (*passed) {
        return std::move(**passed);
    }
    const std::string path(HelperConstants::socketPath);
    const auto group = clientGroup();
    auto bound = UnixSocket::listenOnPath(path, group ? 0660 : 0666, SOMAXCONN, group);
    if (!bound) {
        serviceLogger().fault("cannot listen on " + path + ": " + bound.error().describe());
        std::exit(1);
    }
    return std::move(*bound);
}

}  // namespace

void runServiceMode() {
    // A client that goes away mid-reply must not end the process.
    ::signal(SIGPIPE, SIG_IGN);

    // Items a killed predecessor left in staging reach their Trash before anything is served.
    recoverStaging(RootFileOpsSettings{});

    // Deliberately never destroyed: the process ends with exit() from a handler.
    auto* context = new asio::io_context(1);
    UniqueFd socket = listeningSocket();
    const std::string name = UnixSocket::boundPath(socket.get());
    auto listener =
        std::make_shared<HelperListener>(*context, std::move(socket), HelperListener::Options{});
    listener->startAccepting();

    auto& timer = IdleExitTimer::shared();
    // Once the decision is taken, nothing more is accepted: a late client stays queued on
    // the socket, which the service manager keeps, and starts the next instance.
    timer.setExitAction([listener] {
        listener->stopAccepting();
        Notify::stopping();
        std::exit(0);
    });
    timer.touch();
    timer.start(context->get_executor());

    serviceLogger().notice("listening on " + name);
    Notify::ready();
    for (;;) {
        context->run();
        context->restart();
    }
}

}  // namespace kb
