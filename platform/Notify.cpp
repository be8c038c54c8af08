#include "platform/Notify.h"

#include <sys/socket.h>

#include <cstdlib>
#include <string_view>

#include "platform/UniqueFd.h"
#include "platform/UnixSocket.h"

namespace kb::Notify {
namespace {

// The service manager's notification protocol: one datagram of "NAME=value" lines to the
// socket named by NOTIFY_SOCKET (a path, or "@name" in the abstract namespace).
void send(std::string_view state) {
    const char* address = std::getenv("NOTIFY_SOCKET");
    if (address == nullptr || *address == '\0') {
        return;
    }
    const UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket) {
        // A manager that does not hear this still runs the service; nothing to do about it.
        [[maybe_unused]] const auto sent = UnixSocket::sendDatagram(socket.get(), address, state);
    }
}

}  // namespace

void ready() {
    send("READY=1");
}

void stopping() {
    send("STOPPING=1");
}

}  // namespace kb::Notify
