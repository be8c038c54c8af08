// terminateProcess, bootoutLaunchd, forgetReceipt and clearProtection through the real
// executable in one-shot mode, with the production settings.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include "HelperProtocol/HelperCodec.h"
#include "helper/RootFileOpsSettings.h"
#include "platform/ProcessStartTime.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"

namespace kb {
namespace {

using R = HelperRequest;

// Writes `request` to a file, runs the helper on it and decodes what it answered.
HelperResponse oneShot(const HelperRequest& request) {
    testing::TempDir dir;
    const std::string file = dir / "request.json";
    testing::writeFile(file, HelperCodec::encode(request).value());
    const auto run = testing::runChild({KB_HELPER_EXECUTABLE, "--oneshot", file});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    auto response = HelperCodec::decode<HelperResponse>(run.out);
    EXPECT_TRUE(response.ok()) << run.out;
    return response.ok() ? *response : HelperResponse::error("undecodable: " + run.out);
}

TEST(OneShotProcessOps, TerminateProcessSignalsOnlyTheInspectedProcess) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    const auto startTime = processStartTime(child).value_or(0);
    const std::string pid = std::to_string(child);
    EXPECT_EQ(oneShot({R::TerminateProcess{child, startTime, SIGINT}}),
              HelperResponse::error("signal 2 is not one this helper delivers"));
    EXPECT_EQ(oneShot({R::TerminateProcess{1, 1, SIGTERM}}),
              HelperResponse::error("refusing to signal pid 1"));
    EXPECT_EQ(oneShot({R::TerminateProcess{child, startTime + 1, SIGKILL}}),
              HelperResponse::error("pid " + pid + " has been reused since it was inspected"));
    EXPECT_EQ(oneShot({R::TerminateProcess{child, startTime, SIGTERM}}), HelperResponse::done());
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(oneShot({R::TerminateProcess{child, startTime, SIGTERM}}),
              HelperResponse::error("no process " + pid + " is running"));
}

TEST(OneShotProcessOps, BootoutLaunchdValidatesThenAsksTheServiceManager) {
    EXPECT_EQ(oneShot({R::BootoutLaunchd{"a b", LaunchdDomain::system()}}),
              HelperResponse::error("'a b' is not a valid launchd label"));
    EXPECT_EQ(oneShot({R::BootoutLaunchd{"agent", LaunchdDomain::gui(0)}}),
              HelperResponse::error("refusing to touch the gui domain of uid 0"));
    // A unit that does not exist: "not loaded" (done) where systemd runs, otherwise
    // systemctl's own complaint. Either way systemctl itself ran.
    const auto answer =
        oneShot({R::BootoutLaunchd{"kbproc-no-such-unit", LaunchdDomain::system()}});
    if (const auto* error = std::get_if<HelperResponse::Error>(&answer.kind)) {
        EXPECT_FALSE(error->message.empty());
        EXPECT_NE(error->message.rfind("could not run ", 0), 0u) << error->message;
    } else {
        EXPECT_EQ(answer, HelperResponse::done());
    }
}

TEST(OneShotProcessOps, ForgetReceiptHasNoReceiptsToForgetHere) {
    EXPECT_EQ(oneShot({R::ForgetReceipt{"com.example pkg"}}),
              HelperResponse::error("'com.example pkg' is not a valid package identifier"));
    if (!RootFileOpsSettings::defaultReceiptTool().empty()) {
        GTEST_SKIP() << "this build names a receipt tool";
    }
    EXPECT_EQ(oneShot({R::ForgetReceipt{"com.example.pkg"}}),
              HelperResponse::error("this system keeps no installer receipts"));
}

TEST(OneShotProcessOps, ClearProtectionUnlocksAnImmutableFileWithAList) {
    testing::TestAccount account("kbproc");
    ASSERT_TRUE(account.valid());
    const std::string file = account.home() + "/Projects/locked.txt";
    testing::makeDirectories(account.home() + "/Projects");
    testing::writeFile(file, "keep me");
    const auto setUp = testing::runChild(
        {"/bin/sh", "-c", "setfacl -m u:nobody:rw '" + file + "' && chattr +i +a '" + file + "'"});
    ASSERT_EQ(setUp.exitStatus, 0) << setUp.err;

    const auto answer = oneShot({R::ClearProtection{file, account.uid()}});
    testing::runChild({"/usr/bin/chattr", "-i", "-a", file});  // whatever happened
    EXPECT_EQ(answer, HelperResponse::items({ItemResult{file, ItemOutcome::ok(), std::nullopt}}));
    EXPECT_EQ(testing::runChild({"/usr/bin/lsattr", "-d", file}).out.substr(0, 4), "----");
    EXPECT_EQ(testing::runChild({"/usr/bin/getfacl", "--skip-base", "--omit-header", file}).out,
              "");
    EXPECT_EQ(testing::readFile(file), "keep me");

    EXPECT_EQ(oneShot({R::ClearProtection{file, 0}}),
              HelperResponse::error("uid 0 is not a user account this helper will act for"));
}

}  // namespace
}  // namespace kb
