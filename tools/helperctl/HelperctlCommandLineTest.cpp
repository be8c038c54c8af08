// kestrelbay-helperctl's command line as an administrator meets it: help, version, wrong
// usage, the health check without a helper, and attest's refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <sysexits.h>
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

TEST(HelperctlCommandLine, AnswersEachCommandLineWithItsStatusAndAttestsOnlyWhatTheHelperAdmits) {
    testing::TempDir dir;
    const std::string file = dir / "app";
    testing::writeFile(file, "#!/bin/sh\n");
    ASSERT_EQ(::chmod(file.c_str(), 02755), 0);
    const std::vector<std::string> attest = {"attest",         file,     "--identifier",
                                             "dev.kestrelbay", "--team", "Q7Z2K4M9X1"};
    const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
        {{"--help"}, 0, "usage: kestrelbay-helperctl", ""},
        {{"--version"}, 0, std::string("kestrelbay-helperctl ") + KB_VERSION + "\n", ""},
        {{"--socket", dir / "absent.sock", "status"}, EX_UNAVAILABLE, "helper: not answering", ""},
        {{}, EX_USAGE, "", "usage:"},
        {{"frobnicate"}, EX_USAGE, "", "usage:"},
        {{"status", "extra"}, EX_USAGE, "", "usage:"},
        {{"trash", "/tmp/x"}, EX_USAGE, "", "usage:"},
        {{"--timeout", "0", "version"}, EX_USAGE, "", "usage:"},
        {{"attest", "/bin/true", "--identifier", "dev.kestrelbay"}, EX_USAGE, "", "usage:"},
        {{"attest", "/bin/true", "--identifier", "", "--team", "T"}, EX_USAGE, "", "usage:"},
        {attest, EX_NOPERM, "", "group is root"},  // a root group: the tool's own refusal
    };
    for (const auto& [arguments, status, out, err] : cases) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const auto r = helperctl(arguments);
        EXPECT_EQ(r.exitStatus, status);
        EXPECT_NE(r.out.find(out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
        EXPECT_TRUE(status != EX_USAGE || r.out.empty());
        EXPECT_TRUE(status != 0 || r.err.empty());
    }
    const std::string attribute(attestationAttribute);
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
