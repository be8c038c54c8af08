#include "platform/UnixSocket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>

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
