#include "platform/PeerIdentity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>

#include "testing/TempDir.h"

namespace kb {
namespace {

using testing::TempDir;

TEST(PeerIdentity, AttestationTextsParseStrictly) {
    struct Case {
        std::string text;
        std::optional<Attestation> expected;
    };
    const Case cases[] = {
        {"identifier=dev.kestrelbay team=Q7Z2K4M9X1 development=0",
         Attestation{"dev.kestrelbay", "Q7Z2K4M9X1", false}},
        {"identifier=dev.kestrelbay development=1\n", Attestation{"dev.kestrelbay", "", true}},
        {"team=T identifier=a", Attestation{"a", "T", false}},
        {"", std::nullopt},
        {"team=T", std::nullopt},
        {"identifier=", std::nullopt},
        {"identifier=a identifier=b", std::nullopt},
        {"identifier=a development=yes", std::nullopt},
        {"identifier=a colour=red", std::nullopt},
        {"identifier=a  team=T", std::nullopt},
        {"identifier", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseAttestation(c.text), c.expected);
    }
    const Attestation a{"dev.kestrelbay", "Q7Z2K4M9X1", true};
    EXPECT_EQ(parseAttestation(formatAttestation(a)), a);
}

TEST(PeerIdentity, OnlyARootOwnedProtectedSetGroupIdFileCanBeAttested) {
    TempDir dir;
    const std::string file = dir / "app";
    testing::writeFile(file, "#!/bin/sh\n");
    struct Case {
        uid_t owner;
        mode_t mode;
        std::string problem;
    };
    const Case cases[] = {
        {0, 02755, ""},
        {0, 02711, ""},
        {0, 0755, "the executable is not set-group-id"},
        {0, 02775, "the executable is writable by group or others"},
        {0, 02757, "the executable is writable by group or others"},
        {1, 02755, "the executable is not owned by root"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        ASSERT_EQ(::chown(file.c_str(), c.owner, 0), 0);
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        EXPECT_EQ(executableProblem(fd.get()), c.problem);
        const auto attested = attestExecutable(file, Attestation{"x", "", false});
        EXPECT_EQ(attested.ok(), c.problem.empty());
        char value[256];
        const ssize_t n = ::getxattr(file.c_str(), std::string(attestationAttribute).c_str(), value,
                                     sizeof value);
        EXPECT_EQ(n > 0, c.problem.empty());
        ::removexattr(file.c_str(), std::string(attestationAttribute).c_str());
    }
    EXPECT_FALSE(attestExecutable(dir.path(), Attestation{"x", "", false}).ok());
}

TEST(PeerIdentity, APeerIsInspectedThroughTheKernel) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd a(fds[0]), b(fds[1]);
    const auto identity = inspectPeer(a.get());
    ASSERT_TRUE(identity.ok()) << identity.error().describe();
    EXPECT_EQ(identity->credentials, (PeerCredentials{::getpid(), 0, 0}));
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self);
    EXPECT_EQ(identity->executable, std::string(self, static_cast<size_t>(n)));
    // The test program itself is neither attested nor run in secure mode.
    EXPECT_FALSE(identity->attestation);
    EXPECT_FALSE(identity->unattestedReason.empty());
    EXPECT_FALSE(identity->traced);
    EXPECT_FALSE(identity->secureExecution);
    // The pin names this process, as any other pidfd of it does, and no other process.
    ASSERT_TRUE(identity->pidfd && *identity->pidfd);
    UniqueFd own(static_cast<int>(::syscall(SYS_pidfd_open, ::getpid(), 0)));
    UniqueFd parent(static_cast<int>(::syscall(SYS_pidfd_open, ::getppid(), 0)));
    EXPECT_NE(pidfdInode(own.get()), 0u);
    EXPECT_EQ(pidfdInode(identity->pidfd->get()), pidfdInode(own.get()));
    EXPECT_NE(pidfdInode(parent.get()), pidfdInode(own.get()));
}

TEST(PeerIdentity, APeerThatHasGoneCannotBeInspected) {
    // A child connects and exits before the server looks at it: the pid it leaves behind
    // must not be taken for anyone else's.
    TempDir dir;
    const std::string path = dir / "s";
    UniqueFd listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(listening.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening.get(), 1), 0);
    const pid_t connector = ::fork();
    if (connector == 0) {
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ::_exit(::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(connector, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    UniqueFd accepted(::accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(accepted);
    EXPECT_FALSE(inspectPeer(accepted.get()).ok());
}

}  // namespace
}  // namespace kb
