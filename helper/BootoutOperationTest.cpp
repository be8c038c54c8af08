// bootoutLaunchd with a script standing in for systemctl, and real accounts.
#include "helper/BootoutOperation.h"

#include <gtest/gtest.h>

#include <tuple>

#include "helper/testing/CapturedLog.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"
#include "testing/ToolScript.h"

namespace kb {
namespace {

using namespace kb::testing;
using Request = HelperRequest::BootoutLaunchd;
using Args = std::vector<std::string>;

struct Fixture {
    TempDir dir;
    RootFileOpsSettings settings;
    ToolScript systemctl;

    explicit Fixture(const std::string& body) {
        settings.systemctlPath = dir / "systemctl";
        systemctl = makeToolScript(settings.systemctlPath, body);
    }
};

TEST(BootoutLaunchd, RefusesBadLabelsAndSystemUidsWithoutRunningTheTool) {
    Fixture f("exit 0");
    const std::tuple<std::string, LaunchdDomain, std::string> cases[] = {
        {"a;reboot", LaunchdDomain::gui(1000), "'a;reboot' is not a valid launchd label"},
        {"ok", LaunchdDomain::gui(0), "refusing to touch the gui domain of uid 0"},
        {"ok", LaunchdDomain::gui(999), "refusing to touch the gui domain of uid 999"},
        // A uid in the user range with no account behind it.
        {"ok", LaunchdDomain::gui(3999999), "refusing to touch the gui domain of uid 3999999"},
    };
    for (const auto& [label, domain, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(bootoutLaunchd(Request{label, domain}, asRoot(), f.settings),
                  HelperResponse::error(message));
    }
    EXPECT_FALSE(f.systemctl.ran());
}

// How other statuses and output become the answer is runTool's own test.
TEST(BootoutLaunchd, StopsASystemOrUserUnitAndCountsNotLoadedAsDone) {
    TestAccount account("kbproc");
    ASSERT_TRUE(account.valid());
    const std::string notLoaded = "echo 'Unit x not loaded.' >&2; exit 5";
    const std::string gui = "gui/" + std::to_string(account.uid());
    // A user's unit goes through that user's manager.
    const Args user{"--user", "--machine=" + account.name() + "@.host"};
    const std::tuple<std::string, Request, Args, std::string> cases[] = {
        {"exit 0", {"dev.example.agent", LaunchdDomain::system()}, {}, "system/dev.example.agent"},
        {"exit 0", {"--now", LaunchdDomain::system()}, {}, "system/--now"},
        {notLoaded, {"-H", LaunchdDomain::system()}, {}, "system/-H"},
        {"exit 0", {"agent", LaunchdDomain::gui(account.uid())}, user, gui + "/agent"},
    };
    for (const auto& [body, request, options, target] : cases) {
        SCOPED_TRACE(target);
        Fixture f(body);
        CapturedLog log;
        EXPECT_EQ(bootoutLaunchd(request, asRoot(), f.settings), HelperResponse::done());
        Args expected = options;
        expected.insert(expected.end(), {"stop", "--", request.label});
        EXPECT_EQ(f.systemctl.lastArguments(), expected);
        EXPECT_EQ(
            log.records(),
            (std::vector<LogRecord>{{"operations", LogLevel::standard,
                                     f.settings.systemctlPath + " succeeded for " + target}}));
    }
    Fixture failing("echo 'Failed to stop x.service: Access denied' >&2; exit 4");
    EXPECT_EQ(bootoutLaunchd(Request{"x", LaunchdDomain::system()}, asRoot(), failing.settings),
              HelperResponse::error("Failed to stop x.service: Access denied"));
}

}  // namespace
}  // namespace kb
