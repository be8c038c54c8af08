#include "platform/Polkit.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/ProcessRecord.h"
#include "testing/PolkitFixture.h"
#include "testing/TestAccount.h"

namespace kb {
namespace {

using namespace std::chrono_literals;

const std::string manageFiles = "dev.kestrelbay.helper.manage-files";

// Yes for the account the rules name and no for another, as the authority test sees them
// through the helper; here what must be taken as no.
TEST(Polkit, AnUnansweredOrUnreachablePolkitIsAnErrorWithinTheTimeOut) {
    testing::TestAccount granted("kbpkg");
    testing::PolkitFixture polkit({{manageFiles, granted.name(), granted.uid()}});
    ASSERT_EQ(polkit.problem(), "");
    testing::SleepingProcess process(granted.uid(), granted.gid());
    const PolkitSubject subject{process.pid(), processStartTicks(process.pid()).value_or(0),
                                granted.uid()};
    const PolkitQuery ask{manageFiles, 15s, {}};
    ASSERT_EQ(checkAuthorization(subject, ask).value(), PolkitAnswer::authorized);
    // A pid that now belongs to a process started at another time is not the one named.
    const PolkitSubject reused{subject.pid, subject.startTicks + 1, subject.uid};
    EXPECT_FALSE(checkAuthorization(reused, ask).ok());
    {
        testing::StoppedPolkitd stopped;
        ASSERT_TRUE(stopped.stopped());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(checkAuthorization(subject, {manageFiles, 300ms, {}}).ok());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    }
    const auto unreachable =
        checkAuthorization(subject, {manageFiles, 300ms, "unix:path=/nonexistent/bus"});
    ASSERT_FALSE(unreachable.ok());
    EXPECT_NE(unreachable.error().find("cannot reach the bus"), std::string::npos);
    // Continued, polkitd answers again.
    EXPECT_EQ(checkAuthorization(subject, ask).value(), PolkitAnswer::authorized);
}

}  // namespace
}  // namespace kb
