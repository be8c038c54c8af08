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

TEST(ForgetReceipt, ValidatesTheIdentifierBeforeLookingForATool) {
    RootFileOpsSettings none;
    none.receiptToolPath = "";
    for (const std::string& id : {std::string(""), std::string("com.example pkg"),
                                  std::string("../x"), std::string(256, 'p')}) {
        EXPECT_EQ(forgetReceipt(Request{id}, asRoot(), none),
                  HelperResponse::error("'" + id + "' is not a valid package identifier"));
    }
    EXPECT_EQ(forgetReceipt(Request{"com.example.pkg"}, asRoot(), none),
              HelperResponse::error("this system keeps no installer receipts"));
}

TEST(ForgetReceipt, RunsTheNamedToolWithForget) {
    testing::TempDir dir;
    RootFileOpsSettings settings;
    settings.receiptToolPath = dir / "receipts";
    struct Case {
        const char* body;
        HelperResponse answer;
    };
    const Case cases[] = {
        {"exit 0", HelperResponse::done()},
        {"exit 1", HelperResponse::error(settings.receiptToolPath + " exited with 1")},
        {"echo 'No receipt for com.example.pkg found.' >&2; exit 1",
         HelperResponse::error("No receipt for com.example.pkg found.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const auto tool = testing::makeToolScript(settings.receiptToolPath, c.body);
        testing::CapturedLog log;
        EXPECT_EQ(forgetReceipt(Request{"com.example.pkg"}, asRoot(), settings), c.answer);
        EXPECT_EQ(tool.lastArguments(), (Args{"--forget", "com.example.pkg"}));
        if (std::holds_alternative<HelperResponse::Done>(c.answer.kind)) {
            EXPECT_EQ(log.records,
                      (std::vector<LogRecord>{
                          {"operations", LogLevel::standard,
                           settings.receiptToolPath + " succeeded for com.example.pkg"}}));
        }
    }
}

TEST(ForgetReceipt, AToolStillRunningAtItsTimeOutIsStopped) {
    testing::TempDir dir;
    RootFileOpsSettings settings;
    settings.toolTimeout = std::chrono::milliseconds(300);
    settings.receiptToolPath = dir / "receipts";
    testing::makeToolScript(settings.receiptToolPath, "exec sleep 60");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(forgetReceipt(Request{"com.example.pkg"}, asRoot(), settings),
              HelperResponse::error("could not run " + settings.receiptToolPath +
                                    ": it did not finish in time and was stopped"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, settings.toolTimeout);
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

}  // namespace
}  // namespace kb
