// kestrelbay-helperctl's command line as an administrator meets it: help, version, wrong
// usage, the health check without a helper, and attest's refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <tuple>

#include "platform/PeerIdentity.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"
#include "tools/helperctl/ServiceHarness.h"

namespace kb {
namespace {

testing::ChildResult helperctl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), KB_HELPERCTL_EXECUTABLE);
    return testing::runChild(arguments);
}

TEST(HelperctlCommandLine, AnswersEachCommandLineWithItsStatusAndStream) {
    kb::testing::TempDir dir;
    const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
        {{"--help"}, 0, "usage: kestrelbay-helperctl", ""},
        {{"--version"}, 0, std::string("kestrelbay-helperctl ") + KB_VERSION + "\n", ""},
        {{"--socket", dir / "absent.sock", "status"}, 69, "helper: not answering", ""},
        {{}, 64, "", "usage:"},
        {{"frobnicate"}, 64, "", "usage:"},
        {{"status", "extra"}, 64, "", "usage:"},
        {{"trash", "/tmp/x"}, 64, "", "usage:"},
        {{"--timeout", "0", "version"}, 64, "", "usage:"},
        {{"attest", "/bin/true", "--identifier", "dev.kestrelbay"}, 64, "", "usage:"},
        {{"attest", "/bin/true", "--identifier", "", "--team", "T"}, 64, "", "usage:"},
    };
    for (const auto& [arguments, status, out, err] : cases) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const auto r = helperctl(arguments);
        EXPECT_EQ(r.exitStatus, status);
        EXPECT_NE(r.out.find(out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
        EXPECT_TRUE(status != 64 || r.out.empty());
        EXPECT_TRUE(status != 0 || r.err.empty());
    }
}

TEST(HelperctlCommandLine, AttestRefusesWhatTheHelperWouldNotAdmit) {
    kb::testing::TempDir dir;
    const std::string file = dir / "app";
    kb::testing::writeFile(file, "#!/bin/sh\n");
    const std::vector<std::string> attest = {"attest",         file,     "--identifier",
                                             "dev.kestrelbay", "--team", "Q7Z2K4M9X1"};
    const std::string attribute(attestationAttribute);
    // Not set-group-id is the attestation's own refusal; a root group is the tool's.
    ASSERT_EQ(::chmod(file.c_str(), 02755), 0);
    const auto rootGroup = helperctl(attest);
    EXPECT_EQ(rootGroup.exitStatus, 77);
    EXPECT_NE(rootGroup.err.find("group is root"), std::string::npos) << rootGroup.err;
    EXPECT_LT(::getxattr(file.c_str(), attribute.c_str(), nullptr, 0), 0);

    ASSERT_EQ(::chown(file.c_str(), 0, 1), 0);  // clears set-group-id
    ASSERT_EQ(::chmod(file.c_str(), 02755), 0);
    const auto accepted = helperctl(attest);
    EXPECT_EQ(accepted.exitStatus, 0) << accepted.err;
    char value[256];
    const ssize_t n = ::getxattr(file.c_str(), attribute.c_str(), value, sizeof value);
    ASSERT_GT(n, 0);
    EXPECT_EQ(parseAttestation(std::string_view(value, size_t(n))), testing::genuineAttestation());
}

}  // namespace
}  // namespace kb
