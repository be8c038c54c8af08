#include "platform/PeerIdentity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <tuple>

#include "platform/UnixSocket.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

using testing::TempDir;

TEST(PeerIdentity, AttestationTextsParseStrictly) {
    const std::pair<std::string, std::optional<Attestation>> cases[] = {
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
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(parseAttestation(text), expected) << text;
    }
    const Attestation a{"dev.kestrelbay", "Q7Z2K4M9X1", true};
    EXPECT_EQ(parseAttestation(formatAttestation(a)), a);
}

TEST(PeerIdentity, OnlyARootOwnedProtectedSetGroupIdFileCanBeAttested) {
    TempDir dir;
    const std::string file = dir / "app";
    const std::string attribute(attestationAttribute);
    testing::writeFile(file, "#!/bin/sh\n");
    const std::tuple<uid_t, mode_t, std::string> cases[] = {
        {0, 02755, ""},
        {0, 02711, ""},
        {0, 0755, "the executable is not set-group-id"},
        {0, 02775, "the executable is writable by group or others"},
        {0, 02757, "the executable is writable by group or others"},
        {1, 02755, "the executable is not owned by root"},
    };
    for (const auto& [owner, mode, problem] : cases) {
        SCOPED_TRACE(problem);
        ASSERT_EQ(::chown(file.c_str(), owner, 0), 0);
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        EXPECT_EQ(executableProblem(UniqueFd(::open(file.c_str(), O_RDONLY | O_CLOEXEC)).get()),
                  problem);
        EXPECT_EQ(attestExecutable(file, Attestation{"x", "", false}).ok(), problem.empty());
        EXPECT_EQ(::getxattr(file.c_str(), attribute.c_str(), nullptr, 0) > 0, problem.empty());
        ::removexattr(file.c_str(), attribute.c_str());
    }
    EXPECT_FALSE(attestExecutable(dir.path(), Attestation{"x", "", false}).ok());
}

TEST(PeerIdentity, APeerThatHasGoneCannotBeInspected) {
    // A child connects and exits before the server looks at it: the pid it leaves behind
    // must not be taken for anyone else's.
    TempDir dir;
    auto listening = UnixSocket::listenOnPath(dir / "s", 0600, 1);
    ASSERT_TRUE(listening.ok());
    const pid_t connector = ::fork();
    if (connector == 0) {
        ::_exit(UnixSocket::connectToPath(dir / "s").ok() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(connector, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    UniqueFd accepted(::accept4(listening->get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(accepted);
    EXPECT_FALSE(inspectPeer(accepted.get()).ok());
}

}  // namespace
}  // namespace kb
