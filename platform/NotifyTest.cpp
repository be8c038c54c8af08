#include "platform/Notify.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/UniqueFd.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

UniqueFd boundDatagramSocket(const std::string& address) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    std::memcpy(name.sun_path, address.data(), address.size());
    const bool abstract = address.front() == '@';
    if (abstract) {
        name.sun_path[0] = '\0';
    }
    const auto length = offsetof(sockaddr_un, sun_path) + address.size() + (abstract ? 0 : 1);
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&name), static_cast<socklen_t>(length)),
              0);
    return fd;
}

std::string nextDatagram(int fd) {
    char buffer[64];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    return n < 0 ? "(none)" : std::string(buffer, static_cast<std::size_t>(n));
}

TEST(Notify, TellsTheManagerAtAPathOrAnAbstractNameAndNothingWithoutOne) {
    testing::TempDir dir;
    for (const std::string& address :
         {dir / "notify", "@kestrelbay-notify-" + std::to_string(::getpid())}) {
        SCOPED_TRACE(address);
        const UniqueFd manager = boundDatagramSocket(address);
        ::setenv("NOTIFY_SOCKET", address.c_str(), 1);
        Notify::ready();
        Notify::stopping();
        ::unsetenv("NOTIFY_SOCKET");
        Notify::ready();
        EXPECT_EQ(nextDatagram(manager.get()), "READY=1");
        EXPECT_EQ(nextDatagram(manager.get()), "STOPPING=1");
        EXPECT_EQ(nextDatagram(manager.get()), "(none)");
    }
}

}  // namespace
}  // namespace kb
