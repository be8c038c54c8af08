// kestrelbay-helperctl's command line as an administrator meets it: help, version, wrong
// usage, the health check without a helper, and attest's refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/PeerIdentity.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

namespace {

using kb::testing::runChild;

kb::testing::ChildResult helperctl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), KB_HELPERCTL_EXECUTABLE);
    return runChild(arguments);
}

TEST(HelperctlCommandLine, HelpGoesToStandardOutputAndSucceeds) {
    const auto help = helperctl({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("usage: kestrelbay-helperctl"), std::string::npos);
    EXPECT_NE(help.out.find("status"), std::string::npos);
    EXPECT_TRUE(help.err.empty());

    const auto version = helperctl({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, std::string("kestrelbay-helperctl ") + KB_VERSION + "\n");
}

TEST(HelperctlCommandLine, WrongUsageExits64WithUsageOnStandardError) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"frobnicate"},
        {"status", "extra"},
        {"trash", "/tmp/x"},
        {"--timeout", "0", "version"},
        {"attest", "/bin/true", "--identifier", "dev.kestrelbay"},
        {"attest", "/bin/true", "--identifier", "", "--team", "T"},
    };
    for (const auto& arguments : wrong) {
        const auto result = helperctl(arguments);
        EXPECT_EQ(result.exitStatus, 64) << testing::PrintToString(arguments);
        EXPECT_TRUE(result.out.empty());
        EXPECT_NE(result.err.find("usage:"), std::string::npos);
    }
}

TEST(HelperctlCommandLine, StatusWithoutHelperSaysSoAndExits69) {
    kb::testing::TempDir dir;
    const auto result = helperctl({"--socket", dir / "absent.sock", "status"});
    EXPECT_EQ(result.exitStatus, 69);
    EXPECT_NE(result.out.find("helper: not answering"), std::string::npos);
}

TEST(HelperctlCommandLine, AttestRefusesWhatTheHelperWouldNotAdmit) {
    kb::testing::TempDir dir;
    const std::string file = dir / "app";
    kb::testing::writeFile(file, "#!/bin/sh\n");
    struct Case {
        gid_t group;
        mode_t mode;
        const char* problem;
    };
    const gid_t other = 1;  // daemon
    const std::vector<Case> refused = {
        {0, 02755, "group is root"},
        {other, 0755, "not set-group-id"},
        {other, 02775, "writable by group or others"},
    };
    for (const auto& c : refused) {
        ASSERT_EQ(::chown(file.c_str(), 0, c.group), 0);
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        const auto result =
            helperctl({"attest", file, "--identifier", "dev.kestrelbay", "--team", "Q7Z2K4M9X1"});
        EXPECT_EQ(result.exitStatus, 77) << c.problem;
        EXPECT_NE(result.err.find(c.problem), std::string::npos) << result.err;
        EXPECT_LT(
            ::getxattr(file.c_str(), std::string(kb::attestationAttribute).c_str(), nullptr, 0), 0);
    }

    ASSERT_EQ(::chown(file.c_str(), 0, other), 0);
    ASSERT_EQ(::chmod(file.c_str(), 02755), 0);
    const auto accepted =
        helperctl({"attest", file, "--identifier", "dev.kestrelbay", "--team", "Q7Z2K4M9X1"});
    EXPECT_EQ(accepted.exitStatus, 0) << accepted.err;
    char value[256];
    const ssize_t n = ::getxattr(file.c_str(), std::string(kb::attestationAttribute).c_str(), value,
                                 sizeof value);
    ASSERT_GT(n, 0);
    EXPECT_EQ(kb::parseAttestation(std::string_view(value, size_t(n))),
              (kb::Attestation{"dev.kestrelbay", "Q7Z2K4M9X1", false}));
}

}  // namespace
