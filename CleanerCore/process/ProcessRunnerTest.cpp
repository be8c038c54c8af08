#include "CleanerCore/process/ProcessRunner.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "testing/TempDir.h"

namespace kb {
namespace {

using namespace std::chrono_literals;

auto sh(const std::string& script, std::optional<std::string> input = std::nullopt,
        std::chrono::milliseconds timeout = 10s) {
    return ProcessRunner::run("/bin/sh", {"-c", script}, input, timeout);
}

// Descriptors of this process; with `inheritable`, only those a child inherits.
std::set<int> descriptors(bool inheritable) {
    std::set<int> fds;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename());
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && (!inheritable || (fd > 2 && (flags & FD_CLOEXEC) == 0))) {
            fds.insert(fd);
        }
    }
    return fds;
}

// No child of this process is left, not even a zombie.
bool noChildLeft() {
    return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

TEST(ProcessRunner, ReportsStatusAndBothStreams) {
    constexpr auto exit = TerminationReason::exit;
    constexpr auto signal = TerminationReason::uncaughtSignal;
    const std::pair<std::vector<std::string>, ProcessOutput> cases[] = {
        {{"/bin/true"}, {0, exit, "", ""}},
        {{"/bin/sh", "-c", "printf out; printf err >&2; exit 7"}, {7, exit, "out", "err"}},
        // A child ended by a signal reports the signal's number.
        {{"/bin/sh", "-c", "kill -9 $$"}, {9, signal, "", ""}},
        {{"/bin/sh", "-c", "kill -15 $$"}, {15, signal, "", ""}},
        // Arguments reach the child as they are, with no shell in between.
        {{"/bin/echo", "a b", "$HOME", ";", "*"}, {0, exit, "a b $HOME ; *\n", ""}},
        // Without input the child reads the null device.
        {{"/bin/readlink", "/proc/self/fd/0"}, {0, exit, "/dev/null\n", ""}},
        // The exit of the child decides, even if a descendant still holds the pipes.
        {{"/bin/sh", "-c", "sleep 3 & echo started; exit 4"}, {4, exit, "started\n", ""}},
    };
    const auto start = std::chrono::steady_clock::now();
    for (const auto& [argv, expected] : cases) {
        SCOPED_TRACE(argv.back());
        const auto r =
            ProcessRunner::run(argv.front(), std::vector<std::string>(argv.begin() + 1, argv.end()),
                               std::nullopt, 10s);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(*r, expected);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(ProcessRunner, MoreThanAPipeHoldsFlowsBothWays) {
    std::string input;
    for (int i = 0; input.size() < (3u << 20); ++i) {
        input += std::to_string(i) + '\n';
    }
    // Each: the script, its input, what it writes to its output and to its error stream.
    const std::tuple<std::string, std::optional<std::string>, std::string, std::string> cases[] = {
        {"cat", input, input, ""},
        {"cat", std::string(), "", ""},
        {"head -c 1048576 /dev/zero; head -c 1048577 /dev/zero >&2; head -c 1048578 /dev/zero",
         std::nullopt, std::string(1048576 + 1048578, '\0'), std::string(1048577, '\0')},
        // A child that closes its input early is no error, and the SIGPIPE it raises here
        // is survived.
        {"exec 0<&-; echo closed", std::string(8u << 20, 'x'), "closed\n", ""},
        {"head -c 5", std::string(8u << 20, 'y'), "yyyyy", ""},
    };
    for (const auto& [script, in, out, err] : cases) {
        SCOPED_TRACE(script);
        const auto r = sh(script, in);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(*r, (ProcessOutput{0, TerminationReason::exit, out, err}));
    }
    // No limit in practice: the deadline must not overflow into the past.
    EXPECT_EQ(
        ProcessRunner::run("/bin/cat", {}, "x", std::chrono::milliseconds::max())->stdoutBytes,
        "x");
}

TEST(ProcessRunner, TimeOutKillsAndReapsTheChild) {
    for (const char* script : {"trap '' TERM; exec sleep 30", "echo partial; exec sleep 30"}) {
        SCOPED_TRACE(script);
        const auto start = std::chrono::steady_clock::now();
        const auto r = sh(script, std::nullopt, 300ms);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error(), ProcessRunnerError::timeout("/bin/sh"));
        EXPECT_GE(elapsed, 300ms);
        EXPECT_LT(elapsed, 5s);
        EXPECT_TRUE(noChildLeft());
    }
}

TEST(ProcessRunner, LaunchFailuresNameTheExecutableAsGiven) {
    testing::TempDir dir;
    const std::string notExecutable = dir / "data";
    testing::writeFile(notExecutable, "#!/bin/sh\n");
    const std::pair<std::string, std::string> cases[] = {
        {dir / "missing", "No such file or directory"},
        {notExecutable, "Permission denied"},
        {dir.path(), "Permission denied"},
        {"bin/true", "the path of the executable is not absolute"},
        {"", "the path of the executable is not absolute"},
    };
    for (const auto& [executable, message] : cases) {
        SCOPED_TRACE(executable);
        const auto r = ProcessRunner::run(executable, {}, std::nullopt, 10s);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error(), ProcessRunnerError::launchFailed(executable, message));
    }
    EXPECT_EQ(
        ProcessRunner::run("/bin/echo", {std::string("a\0b", 3)}, std::nullopt, 10s).error(),
        ProcessRunnerError::launchFailed("/bin/echo", "the command line contains a NUL byte"));
}

TEST(ProcessRunner, InvalidUtf8IsReplaced) {
    const ProcessOutput output{0, TerminationReason::exit, "\xC3\xA9", "ok\xFF\n"};
    EXPECT_EQ(output.stderrText(), "ok\xEF\xBF\xBD\n");
    EXPECT_EQ(output.stdoutText(), "\xC3\xA9");

    const std::string fffd = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},         // four-byte sequence kept
        {"\xC0\xAF", fffd + fffd},                        // overlong lead
        {"\xED\xA0\x80", fffd + fffd + fffd},             // surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
        {"\xE2\x82x", fffd + "x"},                        // truncated mid-text
        {"\xF0\x9F\x98", fffd},                           // maximal subpart is one
    };
    for (const auto& [in, expected] : cases) {
        EXPECT_EQ(decodeUtf8Lossy(in), expected);
    }
}

TEST(ProcessRunner, ConcurrentRunsLeakNoDescriptorAndNoChild) {
    const auto before = descriptors(false);
    std::set<int> expected = descriptors(true);
    expected.insert({0, 1, 2});
    const std::string listFds =
        "sleep 0.05; for f in /proc/$$/fd/*; do [ -e \"$f\" ] && echo ${f##*/}; done; true";
    std::vector<std::thread> threads;
    std::vector<std::set<int>> seen(8);
    for (size_t t = 0; t < seen.size(); ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < 25; ++i) {
                const size_t kind = (i + t) % 4;
                if (kind == 0) {
                    (void)sh("exec sleep 10", std::nullopt, 10ms);
                } else if (kind == 1) {
                    (void)sh("cat; echo done >&2", std::string(100000, 'z'));
                } else if (kind == 2) {
                    (void)ProcessRunner::run("/nonexistent/tool", {}, std::nullopt, 10s);
                } else {
                    const auto r =
                        sh(listFds, i % 2 ? std::optional<std::string>("in") : std::nullopt);
                    std::istringstream lines(r.ok() ? r->stdoutBytes : "");
                    for (int fd; lines >> fd;) {
                        seen[t].insert(fd);
                    }
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& fds : seen) {
        EXPECT_EQ(fds, expected);
    }
    EXPECT_EQ(descriptors(false), before);
    EXPECT_TRUE(noChildLeft());
}

}  // namespace
}  // namespace kb
