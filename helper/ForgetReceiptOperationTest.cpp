// forgetReceipt with and without a receipt tool; the tool is a script.
#include "helper/ForgetReceiptOperation.h"

#include <chrono>

#include <gtest/gtest.h>

#include "helper/testing/CapturedLog.h"
#include "testing/TempDir.h"
#include "testing/ToolScript.h"

namespace kb {
namespace {

using testing::asRoot;
using Request = HelperRequest::ForgetReceipt;
using Args = std::vector<std::string>;

// How the tool's statuses and output become the answer is runTool's own test.
TEST(ForgetReceipt, ValidatesTheIdentifierThenRunsTheToolWithForgetWithinItsTimeOut) {
    RootFileOpsSettings settings{.receiptToolPath = ""};
    EXPECT_EQ(forgetReceipt(Request{"../x"}, asRoot(), settings),
              HelperResponse::error("'../x' is not a valid package identifier"));
    EXPECT_EQ(forgetReceipt(Request{"com.example.pkg"}, asRoot(), settings),
              HelperResponse::error("this system keeps no installer receipts"));

    testing::TempDir dir;
    settings.receiptToolPath = dir / "receipts";
    settings.toolTimeout = std::chrono::seconds(1);
    auto tool = testing::makeToolScript(settings.receiptToolPath, "exit 0");
    testing::CapturedLog log;
    EXPECT_EQ(forgetReceipt(Request{"com.example.pkg"}, asRoot(), settings),
              HelperResponse::done());
    EXPECT_EQ(tool.lastArguments(), (Args{"--forget", "com.example.pkg"}));
    EXPECT_EQ(
        log.records(),
        (std::vector<LogRecord>{{"operations", LogLevel::standard,
                                 settings.receiptToolPath + " succeeded for com.example.pkg"}}));
    testing::makeToolScript(settings.receiptToolPath, "exec sleep 60");
    EXPECT_EQ(forgetReceipt(Request{"com.example.pkg"}, asRoot(), settings),
              HelperResponse::error("could not run " + settings.receiptToolPath +
                                    ": it did not finish in time and was stopped"));
}

}  // namespace
}  // namespace kb
