// Runs real child processes through the runner.
#include "CleanerCore/process/ProcessRunner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_set>

#include <gtest/gtest.h>

#include "testing/TempDir.h"

namespace kb {
namespace {

using namespace std::chrono_literals;
using Output = Result<ProcessOutput, ProcessRunnerError>;

Output sh(const std::string& script, std::optional<std::string> input = std::nullopt,
          std::chrono::milliseconds timeout = 10s) {
    return ProcessRunner::run("/bin/sh", {"-c", script}, input, timeout);
}

std::set<int> openDescriptors() {
    std::set<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != own) {
            fds.insert(std::atoi(entry->d_name));
        }
    }
    ::closedir(dir);
    return fds;
}

// Pids of this process's children, zombies included.
std::vector<int> childrenOfThisProcess() {
    std::vector<int> children;
    DIR* dir = ::opendir("/proc");
    while (const dirent* entry = ::readdir(dir)) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0) {
            continue;
        }
        std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(statFile)), {});
        const size_t close = text.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(text.substr(close + 1));
        std::string state;
        int parent = 0;
        fields >> state >> parent;
        if (parent == ::getpid()) {
            children.push_back(pid);
        }
    }
    ::closedir(dir);
    return children;
}

TEST(ProcessRunner, ReportsStatusAndBothStreams) {
    constexpr auto exit = TerminationReason::exit;
    constexpr auto signal = TerminationReason::uncaughtSignal;
    struct Case {
        std::vector<std::string> argv;
        std::int32_t status;
        TerminationReason termination;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"/bin/true"}, 0, exit, "", ""},
        {{"/bin/false"}, 1, exit, "", ""},
        {{"/bin/sh", "-c", "printf out; printf err >&2; exit 7"}, 7, exit, "out", "err"},
        {{"/bin/sh", "-c", "exit 9"}, 9, exit, "", ""},
        // A child ended by a signal reports the signal's number.
        {{"/bin/sh", "-c", "kill -9 $$"}, 9, signal, "", ""},
        {{"/bin/sh", "-c", "kill -15 $$"}, 15, signal, "", ""},
        // Arguments reach the child as they are, with no shell in between.
        {{"/bin/echo", "a b", "$HOME", ";", "*"}, 0, exit, "a b $HOME ; *\n", ""},
        // Without input the child reads the null device.
        {{"/bin/readlink", "/proc/self/fd/0"}, 0, exit, "/dev/null\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv.back());
        const auto r = ProcessRunner::run(
            c.argv.front(), std::vector<std::string>(c.argv.begin() + 1, c.argv.end()),
            std::nullopt, 10s);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r->status, c.status);
        EXPECT_EQ(r->termination, c.termination);
        EXPECT_EQ(r->stdoutBytes, c.out);
        EXPECT_EQ(r->stderrBytes, c.err);
    }
}

TEST(ProcessRunner, OutputLargerThanAPipeOnBothStreamsDoesNotBlock) {
    const auto r =
        sh("head -c 1048576 /dev/zero; head -c 1048577 /dev/zero >&2; "
           "head -c 1048578 /dev/zero");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->status, 0);
    EXPECT_EQ(r->stdoutBytes, std::string(1048576 + 1048578, '\0'));
    EXPECT_EQ(r->stderrBytes.size(), 1048577u);
}

TEST(ProcessRunner, FeedsInputWhileReadingOutput) {
    std::string input;
    for (int i = 0; input.size() < (3u << 20); ++i) {
        input += std::to_string(i) + '\n';
    }
    const auto r = ProcessRunner::run("/bin/cat", {}, input, 10s);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->status, 0);
    EXPECT_EQ(r->stdoutBytes, input);

    // No limit in practice: the deadline must not overflow into the past.
    const auto unlimited =
        ProcessRunner::run("/bin/cat", {}, "x", std::chrono::milliseconds::max());
    ASSERT_TRUE(unlimited.ok());
    EXPECT_EQ(unlimited->stdoutBytes, "x");

    const auto empty = ProcessRunner::run("/bin/cat", {}, std::string(), 10s);
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty->stdoutBytes, "");
}

TEST(ProcessRunner, AChildThatClosesItsInputEarlyIsNotAnError) {
    // Several MiB cannot fit in the pipe, so the writer meets a closed pipe (EPIPE); this
    // process must survive the SIGPIPE that raises.
    const auto r = sh("exec 0<&-; echo closed", std::string(8u << 20, 'x'));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->status, 0);
    EXPECT_EQ(r->stdoutBytes, "closed\n");
    const auto partial = sh("head -c 5", std::string(8u << 20, 'y'));
    ASSERT_TRUE(partial.ok());
    EXPECT_EQ(partial->stdoutBytes, "yyyyy");
}

TEST(ProcessRunner, TimeOutKillsAndReapsTheChild) {
    struct Case {
        const char* name;
        std::string script;
    };
    const Case cases[] = {
        {"sleeps", "exec sleep 30"},
        {"ignores SIGTERM", "trap '' TERM; exec sleep 30"},
        {"writes first", "echo partial; exec sleep 30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        const auto r = sh(c.script, std::nullopt, 300ms);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error(), ProcessRunnerError::timeout("/bin/sh"));
        EXPECT_GE(elapsed, 300ms);
        EXPECT_LT(elapsed, 5s);
        EXPECT_TRUE(childrenOfThisProcess().empty());
    }
}

TEST(ProcessRunner, ExitOfTheChildDecidesEvenIfADescendantHoldsThePipes) {
    // The background sleep inherits stdout and stderr and outlives the shell.
    const auto start = std::chrono::steady_clock::now();
    const auto r = sh("sleep 3 & echo started; exit 4", std::nullopt, 10s);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->status, 4);
    EXPECT_EQ(r->stdoutBytes, "started\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(ProcessRunner, LaunchFailuresNameTheExecutableAsGiven) {
    testing::TempDir dir;
    const std::string notExecutable = dir / "data";
    testing::writeFile(notExecutable, "#!/bin/sh\n");
    ::chmod(notExecutable.c_str(), 0644);
    const std::string missing = dir / "missing";
    struct Case {
        std::string executable;
        std::vector<std::string> arguments;
        std::string message;
    };
    const Case cases[] = {
        {missing, {}, "No such file or directory"},
        {notExecutable, {}, "Permission denied"},
        {dir.path(), {}, "Permission denied"},
        {"bin/true", {}, "the path of the executable is not absolute"},
        {"", {}, "the path of the executable is not absolute"},
        {"/bin/echo", {std::string("a\0b", 3)}, "the command line contains a NUL byte"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.executable);
        const auto r = ProcessRunner::run(c.executable, c.arguments, std::nullopt, 10s);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error(), ProcessRunnerError::launchFailed(c.executable, c.message));
        EXPECT_EQ(r.error().description(), c.message);
    }
    EXPECT_EQ(ProcessRunnerError::timeout("/x").description(),
              "it did not finish in time and was stopped");
    // Usable as keys: equal values hash alike, the cases stay apart.
    const std::unordered_set<ProcessRunnerError> errors = {
        ProcessRunnerError::timeout("/x"), ProcessRunnerError::timeout("/x"),
        ProcessRunnerError::launchFailed("/x", ""), ProcessRunnerError::launchFailed("/x", "m")};
    EXPECT_EQ(errors.size(), 3u);
    const std::unordered_set<ProcessOutput> outputs = {
        {0, TerminationReason::exit, "a", ""},
        {0, TerminationReason::exit, "a", ""},
        {9, TerminationReason::exit, "", ""},
        {9, TerminationReason::uncaughtSignal, "", ""}};
    EXPECT_EQ(outputs.size(), 3u);
}

TEST(ProcessRunner, InvalidUtf8IsReplaced) {
    const auto r = sh(R"(printf 'ok\377\n' >&2; printf '\303\251')");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->stderrText(), "ok\xEF\xBF\xBD\n");
    EXPECT_EQ(r->stdoutText(), "\xC3\xA9");

    const std::string fffd = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},         // four-byte sequence kept
        {"\xC0\xAF", fffd + fffd},                        // overlong lead
        {"\xE0\x80\xAF", fffd + fffd + fffd},             // overlong three-byte
        {"\xED\xA0\x80", fffd + fffd + fffd},             // surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
        {"\xE2\x82", fffd},                               // truncated at the end
        {"\xE2\x82x", fffd + "x"},                        // truncated mid-text
        {"\xF0\x9F\x98", fffd},                           // maximal subpart is one
        {"\x80\xBF", fffd + fffd},                        // lone continuations
        {"\xFF\xFE", fffd + fffd},
    };
    for (const auto& [in, expected] : cases) {
        EXPECT_EQ(decodeUtf8Lossy(in), expected);
    }
}

// Descriptors of this process that a child inherits (not close-on-exec).
std::set<int> inheritableDescriptors() {
    std::set<int> fds;
    for (int fd : openDescriptors()) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (fd > 2 && flags >= 0 && (flags & FD_CLOEXEC) == 0) {
            fds.insert(fd);
        }
    }
    return fds;
}

TEST(ProcessRunner, ConcurrentRunsDoNotLeakDescriptorsIntoEachOthersChildren) {
    std::set<int> expected = inheritableDescriptors();
    expected.insert({0, 1, 2});
    const std::string listFds =
        "sleep 0.05; for f in /proc/$$/fd/*; do [ -e \"$f\" ] && echo ${f##*/}; done; true";
    std::vector<std::thread> threads;
    std::vector<std::set<int>> seen(8);
    for (size_t t = 0; t < seen.size(); ++t) {
        threads.emplace_back([&, t] {
            const auto r = sh(listFds, t % 2 ? std::optional<std::string>("in") : std::nullopt);
            std::istringstream lines(r.ok() ? r->stdoutBytes : "");
            for (int fd; lines >> fd;) {
                seen[t].insert(fd);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& fds : seen) {
        EXPECT_EQ(fds, expected);
    }
}

TEST(ProcessRunner, TwoHundredRunsLeaveNoDescriptorAndNoChildBehind) {
    const auto before = openDescriptors();
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                switch ((i + t) % 4) {
                    case 0:
                        (void)ProcessRunner::run("/bin/true", {}, std::nullopt, 10s);
                        break;
                    case 1:
                        (void)sh("exec sleep 10", std::nullopt, 10ms);
                        break;
                    case 2:
                        (void)sh("cat; echo done >&2", std::string(100000, 'z'));
                        break;
                    default:
                        (void)ProcessRunner::run("/nonexistent/tool", {}, std::nullopt, 10s);
                        break;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(childrenOfThisProcess().empty());
}

}  // namespace
}  // namespace kb
