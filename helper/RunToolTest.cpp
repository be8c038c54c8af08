// runTool with small scripts standing in for the system tools.
#include "helper/RunTool.h"

#include <gtest/gtest.h>

#include <tuple>

#include "helper/testing/CapturedLog.h"
#include "testing/TempDir.h"
#include "testing/ToolScript.h"

namespace kb {
namespace {

using namespace std::chrono_literals;
using testing::makeToolScript;

TEST(RunTool, StatusesAndStandardErrorDecideTheAnswer) {
    testing::TempDir dir;
    const std::string tool = dir / "tool";
    const std::tuple<const char*, HelperResponse> cases[] = {
        {"exit 0", HelperResponse::done()},
        {"echo ignored >&2; exit 113", HelperResponse::done()},
        {"echo 'Unit x.service not loaded.' >&2; exit 5",
         HelperResponse::error("Unit x.service not loaded.")},
        {"printf ' \\n\\t\\n' >&2; exit 2", HelperResponse::error(tool + " exited with 2")},
        {"printf '\\n  first line\\n second line \\n\\n' >&2; exit 3",
         HelperResponse::error("first line\n second line")},
        // Killed by signal 5: not the exit status 5, and never a success.
        {"kill -5 $$", HelperResponse::error(tool + " was ended by signal 5")},
        {"exec sleep 30", HelperResponse::error("could not run " + tool +
                                                ": it did not finish in time and was stopped")},
    };
    for (const auto& [body, answer] : cases) {
        SCOPED_TRACE(body);
        const auto script = makeToolScript(tool, body);
        testing::CapturedLog log;
        EXPECT_EQ(runTool(tool, {"a", "-b c"}, {0, 113}, "the subject", 500ms), answer);
        EXPECT_EQ(script.lastArguments(), (std::vector<std::string>{"a", "-b c"}));
        const LogRecord success{"operations", LogLevel::standard,
                                tool + " succeeded for the subject"};
        EXPECT_EQ(log.records(), answer == HelperResponse::done() ? std::vector{success}
                                                                  : std::vector<LogRecord>{});
    }
    EXPECT_EQ(runTool(dir / "missing", {}, {0}, "x", 10s),
              HelperResponse::error("could not run " + (dir / "missing") +
                                    ": No such file or directory"));
}

}  // namespace
}  // namespace kb
