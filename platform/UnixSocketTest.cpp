#include "platform/UnixSocket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/TempDir.h"

namespace kb {
namespace {

TEST(UnixSocket, ListensWithTheGivenModeReplacingOnlyAStaleSocketNeverAnotherFile) {
    testing::TempDir dir;
    const std::string path = dir / "helper.sock";
    // The first socket (closed at once) leaves its file behind, as after a crash.
    ASSERT_TRUE(UnixSocket::listenOnPath(path, 0666, 8).ok());
    auto second = UnixSocket::listenOnPath(path, 0666, 8);
    ASSERT_TRUE(second.ok()) << second.error().describe();
    EXPECT_EQ(testing::statusOf(path).mode, S_IFSOCK | 0666u);
    EXPECT_EQ(UnixSocket::boundPath(second->get()), path);

    EXPECT_TRUE(UnixSocket::connectToPath(path).ok());

    auto grouped = UnixSocket::listenOnPath(path, 0660, 8, gid_t{4});
    ASSERT_TRUE(grouped.ok()) << grouped.error().describe();
    EXPECT_EQ(testing::statusOf(path).mode, S_IFSOCK | 0660u);
    EXPECT_EQ(testing::statusOf(path).groupID, 4u);

    // Another kind of file in the way is never removed; nothing to connect to is an error.
    const std::string file = dir / "file";
    testing::writeFile(file, "keep");
    const std::string directory = dir / "dir";
    testing::makeDirectories(directory);
    for (const auto& inTheWay : {file, directory}) {
        auto r = UnixSocket::listenOnPath(inTheWay, 0666, 8);
        EXPECT_EQ(r.ok() ? 0 : r.error().code, EEXIST) << inTheWay;
    }
    EXPECT_EQ(testing::readFile(file), "keep");
    EXPECT_TRUE(testing::pathExists(directory));
    EXPECT_EQ(UnixSocket::connectToPath(dir / "absent.sock").error().code, ENOENT);
    EXPECT_FALSE(UnixSocket::connectToPath(std::string(200, 'x')).ok());
}

// The peer's bytes around another process's bytes come as three reads, each naming its
// writer (0 once that writer has gone).
TEST(UnixSocket, EveryReadNamesItsWriterAndNeverMixesTwo) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd reader(fds[0]), writer(fds[1]);
    ASSERT_TRUE(UnixSocket::enableSenderCredentials(reader.get()).ok());
    ASSERT_TRUE(UnixSocket::sendAll(writer.get(), "mine").ok());
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(::send(writer.get(), "theirs", 6, MSG_NOSIGNAL) == 6 ? 0 : 1);
    }
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(UnixSocket::sendAll(writer.get(), "mine").ok());
    EXPECT_EQ(UnixSocket::bytesWaiting(reader.get()), 14u);
    for (const std::string expected : {"mine", "theirs", "mine"}) {
        char buffer[64];
        auto read = UnixSocket::receiveFromSender(reader.get(), buffer, sizeof buffer);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(std::string(buffer, read->size), expected);
        EXPECT_EQ(read->sender.pid == ::getpid(), expected == "mine");
    }
    char buffer[1];
    EXPECT_EQ(UnixSocket::receiveFromSender(reader.get(), buffer, 1).error().code, EAGAIN);
}

}  // namespace
}  // namespace kb
