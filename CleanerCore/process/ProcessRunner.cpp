#include "CleanerCore/process/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <string_view>

#include "platform/Pidfd.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace kb::ProcessRunner {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    UniqueFd readEnd;
    UniqueFd writeEnd;
};

// Moves `fd` to a number of 3 or more (keeping close-on-exec), so that the child's dup2
// onto 0, 1 and 2 can never overwrite a pipe end it still has to duplicate.
Result<void, SystemError> liftAboveStandardStreams(UniqueFd& fd) {
    if (fd.get() > STDERR_FILENO) {
        return {};
    }
    const int lifted = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (lifted < 0) {
        return fail(systemError("fcntl"));
    }
    fd.reset(lifted);
    return {};
}

Result<void, SystemError> setNonBlocking(const UniqueFd& fd) {
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail(systemError("fcntl"));
    }
    return {};
}

// Which end of a pipe this process keeps; the other goes to the child.
enum class ParentEnd { reads, writes };

// Both ends close-on-exec and above the standard streams; the parent's end non-blocking.
Result<Pipe, SystemError> makePipe(ParentEnd parentEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return fail(systemError("pipe2"));
    }
    Pipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
    for (UniqueFd* end : {&pipe.readEnd, &pipe.writeEnd}) {
        if (auto lifted = liftAboveStandardStreams(*end); !lifted) {
            return fail(lifted.error());
        }
    }
    if (auto nb = setNonBlocking(parentEnd == ParentEnd::reads ? pipe.readEnd : pipe.writeEnd);
        !nb) {
        return fail(nb.error());
    }
    return pipe;
}

class SpawnActions {
  public:
    SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
  public:
    SpawnAttributes() { ::posix_spawnattr_init(&attributes_); }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* get() { return &attributes_; }

  private:
    posix_spawnattr_t attributes_;
};

// Keeps SIGPIPE from the calling thread while the child's input is written, and swallows
// one that a write to a closed pipe raised meanwhile.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        ::sigemptyset(&pipeOnly_);
        ::sigaddset(&pipeOnly_, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
        sigset_t pending;
        ::sigpending(&pending);
        alreadyPending_ = ::sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeGuard() {
        sigset_t pending;
        ::sigpending(&pending);
        if (!alreadyPending_ && ::sigismember(&pending, SIGPIPE) == 1) {
            const timespec immediately{};
            ::sigtimedwait(&pipeOnly_, nullptr, &immediately);
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    sigset_t pipeOnly_;
    sigset_t previous_;
    bool alreadyPending_ = false;
};

// Reads what `fd` holds now into `sink`. Closes `fd` at end of file or on an error.
void readAvailable(UniqueFd& fd, std::string& sink) {
    char buffer[65536];
    while (fd) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0) {
            sink.append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return;
        } else {
            fd.reset();
        }
    }
}

// Writes what the pipe takes now. Closes `fd` once everything is written, or when the
// child no longer reads (its failures are not the caller's concern).
void writeAvailable(UniqueFd& fd, std::string_view& remaining) {
    while (fd && !remaining.empty()) {
        const ssize_t n = ::write(fd.get(), remaining.data(), remaining.size());
        if (n > 0) {
            remaining.remove_prefix(static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return;
        } else {
            fd.reset();
        }
    }
    fd.reset();
}

bool containsNul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

int pollTimeoutMs(Clock::duration left) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(ms, 0, INT_MAX));
}

}  // namespace

Result<ProcessOutput, ProcessRunnerError> run(const std::string& executable,
                                              const std::vector<std::string>& arguments,
                                              const std::optional<std::string>& input,
                                              std::chrono::milliseconds timeout) {
    const auto launchFailed = [&](std::string message) {
        return fail(ProcessRunnerError::launchFailed(executable, std::move(message)));
    };
    if (executable.empty() || executable.front() != '/') {
        return launchFailed("the path of the executable is not absolute");
    }
    if (containsNul(executable) || std::any_of(arguments.begin(), arguments.end(),
                                               [](const auto& a) { return containsNul(a); })) {
        return launchFailed("the command line contains a NUL byte");
    }
    // A year stands for "no limit" and keeps the deadline clear of clock overflow.
    const auto deadline =
        Clock::now() + std::min<std::chrono::milliseconds>(timeout, std::chrono::hours(24 * 365));

    auto out = makePipe(ParentEnd::reads);
    if (!out) {
        return launchFailed(out.error().message());
    }
    auto err = makePipe(ParentEnd::reads);
    if (!err) {
        return launchFailed(err.error().message());
    }
    std::optional<Pipe> in;
    if (input) {
        auto pipe = makePipe(ParentEnd::writes);
        if (!pipe) {
            return launchFailed(pipe.error().message());
        }
        in = std::move(*pipe);
    }

    SpawnActions actions;
    if (in) {
        ::posix_spawn_file_actions_adddup2(actions.get(), in->readEnd.get(), STDIN_FILENO);
    } else {
        ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    ::posix_spawn_file_actions_adddup2(actions.get(), out->writeEnd.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(actions.get(), err->writeEnd.get(), STDERR_FILENO);

    SpawnAttributes attributes;
    sigset_t noSignals, allSignals;
    ::sigemptyset(&noSignals);
    ::sigfillset(&allSignals);
    ::posix_spawnattr_setsigmask(attributes.get(), &noSignals);
    ::posix_spawnattr_setsigdefault(attributes.get(), &allSignals);
    ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, executable.c_str(), actions.get(), attributes.get(),
                                      argv.data(), environ);
    if (spawned != 0) {
        return launchFailed(errorText(spawned));
    }
    out->writeEnd.reset();
    err->writeEnd.reset();
    if (in) {
        in->readEnd.reset();
    }

    // The child is not reaped yet, so its pid cannot have been reused.
    auto pidfd = openPidfd(pid);
    if (!pidfd) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return launchFailed("could not watch the started process: " + pidfd.error().message());
    }

    std::optional<SigpipeGuard> sigpipeGuard;
    std::string_view pendingInput;
    UniqueFd inWrite;
    if (in) {
        sigpipeGuard.emplace();
        inWrite = std::move(in->writeEnd);
        pendingInput = *input;
        if (pendingInput.empty()) {
            inWrite.reset();
        }
    }

    ProcessOutput output;
    UniqueFd& outRead = out->readEnd;
    UniqueFd& errRead = err->readEnd;
    bool exited = false;
    std::string pollFailure;
    while (!exited) {
        const auto now = Clock::now();
        if (now >= deadline) {
            break;
        }
        pollfd fds[4] = {{pidfd->get(), POLLIN, 0},
                         {outRead.get(), POLLIN, 0},
                         {errRead.get(), POLLIN, 0},
                         {inWrite.get(), POLLOUT, 0}};
        // A negative descriptor is skipped by poll.
        const int ready = ::poll(fds, 4, pollTimeoutMs(deadline - now));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            pollFailure = errorText(errno);
            break;
        }
        if (fds[1].revents != 0) {
            readAvailable(outRead, output.stdoutBytes);
        }
        if (fds[2].revents != 0) {
            readAvailable(errRead, output.stderrBytes);
        }
        if (fds[3].revents != 0) {
            writeAvailable(inWrite, pendingInput);
        }
        exited = (fds[0].revents & POLLIN) != 0;
    }

    if (!exited) {
        (void)signalPidfd(*pidfd, SIGTERM);
        (void)signalPidfd(*pidfd, SIGKILL);
    }
    inWrite.reset();
    const auto end = reapPidfd(*pidfd);
    // Everything the child wrote is in the pipes by now; a descendant still holding them
    // open does not make us wait.
    readAvailable(outRead, output.stdoutBytes);
    readAvailable(errRead, output.stderrBytes);

    if (!pollFailure.empty()) {
        return launchFailed("could not wait for the process: " + pollFailure);
    }
    if (!exited) {
        return fail(ProcessRunnerError::timeout(executable));
    }
    if (!end) {
        return launchFailed("could not collect the exit status: " + end.error().message());
    }
    output.status = end->code;
    output.termination =
        end->signalled ? TerminationReason::uncaughtSignal : TerminationReason::exit;
    return output;
}

}  // namespace kb::ProcessRunner
