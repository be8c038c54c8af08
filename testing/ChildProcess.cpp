#include "testing/ChildProcess.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/UniqueFd.h"
#include "testing/TempDir.h"

namespace kb::testing {
namespace {

// The child's standard streams are memory files: nothing to drain while it runs, and a
// descendant that keeps them open cannot hold the wait up.
UniqueFd memoryFile(const char* name, const std::string& contents) {
    UniqueFd fd(::memfd_create(name, MFD_CLOEXEC));
    [[maybe_unused]] const ssize_t w = ::pwrite(fd.get(), contents.data(), contents.size(), 0);
    return fd;
}

}  // namespace

ChildResult runChild(const std::vector<std::string>& argv, const std::string& input,
                     const ChildOptions& options) {
    const UniqueFd in = memoryFile("in", input), out = memoryFile("out", {}),
                   err = memoryFile("err", {});
    // Built before fork: the child of a threaded process may only call async-signal-safe
    // functions, and allocating is not one.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in.get(), STDIN_FILENO);
        ::dup2(out.get(), STDOUT_FILENO);
        ::dup2(err.get(), STDERR_FILENO);
        if (options.as && (::setgroups(0, nullptr) != 0 || ::setgid(options.as->gid) != 0 ||
                           ::setuid(options.as->uid) != 0)) {
            ::_exit(120);
        }
        if (options.tracing == Tracing::tracedByRoot &&
            ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            ::_exit(121);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ChildResult result;
    for (int status = 0;;) {
        if (::waitpid(pid, &status, 0) < 0) {
            if (errno == EINTR) {
                continue;
            }
            ADD_FAILURE() << "cannot wait for " << argv.front();
            break;
        }
        if (WIFSTOPPED(status)) {  // under the tracer
            const int signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
            // ptrace takes the signal to deliver in its pointer argument.
            // NOLINTNEXTLINE(performance-no-int-to-ptr)
            ::ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(intptr_t{signal}));
            continue;
        }
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
    }
    result.out = readFile("/proc/self/fd/" + std::to_string(out.get()));
    result.err = readFile("/proc/self/fd/" + std::to_string(err.get()));
    return result;
}

}  // namespace kb::testing
