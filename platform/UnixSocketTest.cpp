#include "platform/UnixSocket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/TempDir.h"

namespace kb {
namespace {

using testing::TempDir;

TEST(UnixSocket, ListensWithTheGivenModeReplacingOnlyAStaleSocket) {
    TempDir dir;
    const std::string path = dir / "helper.sock";
    {
        auto first = UnixSocket::listenOnPath(path, 0666, 8);
        ASSERT_TRUE(first.ok()) << first.error().describe();
    }
    // The first socket's file is left behind, as after a crash.
    auto second = UnixSocket::listenOnPath(path, 0666, 8);
    ASSERT_TRUE(second.ok()) << second.error().describe();
    struct stat st;
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(UnixSocket::boundPath(second->get()), path);

    auto client = UnixSocket::connectToPath(path);
    ASSERT_TRUE(client.ok());
    EXPECT_TRUE(UnixSocket::sendAll(client->get(), "ping").ok());

    auto grouped = UnixSocket::listenOnPath(path, 0660, 8, gid_t{4});
    ASSERT_TRUE(grouped.ok()) << grouped.error().describe();
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    EXPECT_EQ(st.st_gid, 4u);
}

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
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(UnixSocket::sendAll(writer.get(), "mine").ok());
    EXPECT_EQ(UnixSocket::bytesWaiting(reader.get()), 14u);
    char buffer[64];
    auto first = UnixSocket::receiveFromSender(reader.get(), buffer, sizeof buffer);
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(std::string(buffer, first->size), "mine");
    EXPECT_EQ(first->sender.pid, ::getpid());
    EXPECT_TRUE(first->sender.pidfd);
    auto second = UnixSocket::receiveFromSender(reader.get(), buffer, sizeof buffer);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(std::string(buffer, second->size), "theirs");
    EXPECT_NE(second->sender.pid, ::getpid());  // 0 now: its writer has gone
    auto third = UnixSocket::receiveFromSender(reader.get(), buffer, sizeof buffer);
    ASSERT_TRUE(third.ok());
    EXPECT_EQ(std::string(buffer, third->size), "mine");
    EXPECT_EQ(UnixSocket::receiveFromSender(reader.get(), buffer, sizeof buffer).error().code,
              EAGAIN);
}

TEST(UnixSocket, NeverRemovesAnotherKindOfFile) {
    TempDir dir;
    const std::string file = dir / "file";
    testing::writeFile(file, "keep");
    const std::string directory = dir / "dir";
    testing::makeDirectories(directory);
    for (const auto& path : {file, directory}) {
        SCOPED_TRACE(path);
        auto r = UnixSocket::listenOnPath(path, 0666, 8);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code, EEXIST);
    }
    EXPECT_EQ(testing::readFile(file), "keep");
    EXPECT_TRUE(testing::pathExists(directory));
}

TEST(UnixSocket, ConnectingToNothingFailsWithTheReason) {
    TempDir dir;
    auto r = UnixSocket::connectToPath(dir / "absent.sock");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, ENOENT);
    EXPECT_FALSE(UnixSocket::connectToPath(std::string(200, 'x')).ok());
}

}  // namespace
}  // namespace kb
