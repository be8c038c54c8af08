// bootoutLaunchd with a script standing in for systemctl, and real accounts.
#include "helper/BootoutOperation.h"

#include <gtest/gtest.h>

#include "helper/testing/CapturedLog.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"
#include "testing/ToolScript.h"

namespace kb {
namespace {

using testing::asRoot;
using testing::CapturedLog;
using testing::makeToolScript;
using Request = HelperRequest::BootoutLaunchd;
using Args = std::vector<std::string>;

struct Fixture {
    testing::TempDir dir;
    RootFileOpsSettings settings;
    testing::ToolScript systemctl;

    explicit Fixture(const std::string& body) {
        settings.systemctlPath = dir / "systemctl";
        systemctl = makeToolScript(settings.systemctlPath, body);
    }
};

TEST(BootoutLaunchd, RefusesBadLabelsAndSystemUidsWithoutRunningTheTool) {
    Fixture f("exit 0");
    const std::string longest(255, 'a');
    struct Case {
        std::string label;
        LaunchdDomain domain;
        std::string message;
    };
    const Case cases[] = {
        {"", LaunchdDomain::system(), "'' is not a valid launchd label"},
        {"has space", LaunchdDomain::system(), "'has space' is not a valid launchd label"},
        {"a/b", LaunchdDomain::system(), "'a/b' is not a valid launchd label"},
        {"a;reboot", LaunchdDomain::gui(1000), "'a;reboot' is not a valid launchd label"},
        {longest + "a", LaunchdDomain::system(), "'" + longest + "a' is not a valid launchd label"},
        {"ok", LaunchdDomain::gui(0), "refusing to touch the gui domain of uid 0"},
        {"ok", LaunchdDomain::gui(501), "refusing to touch the gui domain of uid 501"},
        {"ok", LaunchdDomain::gui(999), "refusing to touch the gui domain of uid 999"},
        // A uid in the user range with no account behind it.
        {"ok", LaunchdDomain::gui(3999999), "refusing to touch the gui domain of uid 3999999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(bootoutLaunchd(Request{c.label, c.domain}, asRoot(), f.settings),
                  HelperResponse::error(c.message));
    }
    EXPECT_FALSE(f.systemctl.ran());
}

TEST(BootoutLaunchd, StopsASystemOrUserUnitAndCountsNotLoadedAsDone) {
    const std::string longest(255, 'a');
    for (const char* body : {"exit 0", "echo 'Unit x not loaded.' >&2; exit 5"}) {
        for (const std::string& label :
             {std::string("dev.example.agent"), std::string("-H"), std::string("--now"), longest}) {
            SCOPED_TRACE(label);
            Fixture f(body);
            CapturedLog log;
            EXPECT_EQ(bootoutLaunchd(Request{label, LaunchdDomain::system()}, asRoot(), f.settings),
                      HelperResponse::done());
            EXPECT_EQ(f.systemctl.lastArguments(), (Args{"stop", "--", label}));
            EXPECT_EQ(log.records,
                      (std::vector<LogRecord>{
                          {"operations", LogLevel::standard,
                           f.settings.systemctlPath + " succeeded for system/" + label}}));
        }
    }
    // A user's unit, through that user's manager.
    testing::TestAccount account("kbproc");
    ASSERT_TRUE(account.valid());
    Fixture f("exit 0");
    CapturedLog log;
    EXPECT_EQ(
        bootoutLaunchd(Request{"agent", LaunchdDomain::gui(account.uid())}, asRoot(), f.settings),
        HelperResponse::done());
    EXPECT_EQ(f.systemctl.lastArguments(),
              (Args{"--user", "--machine=" + account.name() + "@.host", "stop", "--", "agent"}));
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].message, f.settings.systemctlPath + " succeeded for gui/" +
                                          std::to_string(account.uid()) + "/agent");
}

TEST(BootoutLaunchd, ToolFailuresCarryItsMessage) {
    struct Case {
        const char* body;
        std::string message;
    };
    Fixture probe("exit 0");
    const Case cases[] = {
        {"echo 'Failed to stop x.service: Access denied' >&2; exit 4",
         "Failed to stop x.service: Access denied"},
        {"exit 113", probe.settings.systemctlPath + " exited with 113"},
        {"exit 1", probe.settings.systemctlPath + " exited with 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        testing::makeToolScript(probe.settings.systemctlPath, c.body);
        CapturedLog log;
        EXPECT_EQ(bootoutLaunchd(Request{"x", LaunchdDomain::system()}, asRoot(), probe.settings),
                  HelperResponse::error(c.message));
        EXPECT_TRUE(log.records.empty());
    }
}

}  // namespace
}  // namespace kb
