#include "tools/helperctl/ServiceHarness.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "HelperProtocol/WireFraming.h"
#include "platform/UnixSocket.h"

namespace kb::testing {
namespace {

std::atomic<int> counter{0};

size_t countEntries(const std::string& path) {
    size_t count = 0;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(dir);
    }
    return count;
}

// How long a client run may take before it is killed and the test fails.
constexpr std::chrono::seconds clientDeadline{300};

int scratchFile(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

// argv for execv, built before fork: the child of a threaded process may only call
// async-signal-safe functions, and allocating is not one.
std::vector<char*> argvOf(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    return args;
}

// Writes `value` in decimal at `out` (room for 20 digits and the terminator), without
// allocating.
void formatDecimal(char* out, unsigned long value) {
    char digits[21];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (size_t i = 0; i < n; ++i) {
        out[i] = digits[n - 1 - i];
    }
    out[n] = '\0';
}

}  // namespace

bool journalPresent() {
    struct stat st;
    return ::stat("/run/systemd/journal/socket", &st) == 0;
}

Attestation genuineAttestation() {
    return Attestation{"dev.kestrelbay", "Q7Z2K4M9X1", false};
}

RunningHelper::RunningHelper(const TempDir& dir) {
    const int n = counter++;
    socketPath_ = dir / ("helper" + std::to_string(n) + ".sock");
    logPath_ = dir / ("helper" + std::to_string(n) + ".log");
    auto socket = UnixSocket::listenOnPath(socketPath_, 0666, 512);
    if (!socket) {
        ADD_FAILURE() << socket.error().describe();
        return;
    }
    listeningFd_ = socket->release();
    const int logFd = scratchFile(logPath_);
    // Its own state directory, so that helpers of tests running side by side never recover
    // each other's staged items.
    const std::string stateDirectory = dir / ("state" + std::to_string(n));
    if (::mkdir(stateDirectory.c_str(), 0755) != 0) {
        ADD_FAILURE() << "mkdir " << stateDirectory << " failed";
    }
    // Everything the child needs is built here, before fork.
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        if (!entry.starts_with("LISTEN_") && !entry.starts_with("NOTIFY_SOCKET=") &&
            !entry.starts_with("STATE_DIRECTORY=")) {
            environment.emplace_back(entry);
        }
    }
    environment.emplace_back("STATE_DIRECTORY=" + stateDirectory);
    environment.emplace_back("LISTEN_FDS=1");
    static constexpr std::string_view listenPid = "LISTEN_PID=";
    environment.emplace_back(std::string(listenPid) + std::string(21, '\0'));
    char* pidDigits = environment.back().data() + listenPid.size();
    std::vector<char*> envp = argvOf(environment);
    const char* executable = KB_HELPER_EXECUTABLE;
    const int passed = listeningFd_;
    pid_ = ::fork();
    if (pid_ == 0) {
        // The passed socket is descriptor 3, not close-on-exec, as the service manager
        // hands it over.
        if (passed == 3) {
            ::fcntl(3, F_SETFD, 0);
        } else {
            ::dup2(passed, 3);
        }
        ::dup2(logFd, STDERR_FILENO);
        formatDecimal(pidDigits, static_cast<unsigned long>(::getpid()));
        char* const argv[] = {const_cast<char*>(executable), nullptr};
        ::execve(executable, argv, envp.data());
        ::_exit(127);
    }
    ::close(logFd);
}

RunningHelper::~RunningHelper() {
    if (pid_ > 0 && !waitExit(std::chrono::milliseconds(0))) {
        ::kill(pid_, SIGKILL);
        waitExit(std::chrono::seconds(10));
    }
    if (listeningFd_ >= 0) {
        ::close(listeningFd_);
    }
}

std::optional<int> RunningHelper::waitExit(std::chrono::milliseconds timeout) {
    static constexpr int alreadyReaped = -1000;
    if (pid_ <= 0) {
        return alreadyReaped;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string RunningHelper::log() const {
    return pathExists(logPath_) ? readFile(logPath_) : std::string();
}

size_t RunningHelper::openDescriptors() const {
    return countEntries("/proc/" + std::to_string(pid_) + "/fd");
}

size_t RunningHelper::threads() const {
    return countEntries("/proc/" + std::to_string(pid_) + "/task");
}

std::string installClient(const TempDir& dir, const std::string& name, gid_t group,
                          const std::optional<Attestation>& attestation) {
    std::string path = dir / name;
    writeFile(path, readFile(KB_HELPERCTL_EXECUTABLE));
    EXPECT_EQ(::chown(path.c_str(), 0, group), 0);
    EXPECT_EQ(::chmod(path.c_str(), 02755), 0);
    if (attestation) {
        auto attested = attestExecutable(path, *attestation);
        EXPECT_TRUE(attested.ok()) << attested.error().describe();
    }
    return path;
}

ClientRun runClientAs(const std::vector<std::string>& argv, uid_t uid, gid_t gid, Tracing tracing,
                      const std::string& input) {
    TempDir scratch;
    const int in = scratchFile(scratch / "in");
    const int out = scratchFile(scratch / "out");
    const int err = scratchFile(scratch / "err");
    [[maybe_unused]] const ssize_t w = ::write(in, input.data(), input.size());
    ::lseek(in, 0, SEEK_SET);
    std::vector<char*> args = argvOf(argv);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
            ::_exit(120);
        }
        if (tracing == Tracing::tracedByRoot && ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr)) {
            ::_exit(121);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    ::close(err);
    ClientRun run;
    // The pidfd becomes readable when the child ends; stops under the tracer need a look
    // now and then.
    UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    const auto deadline = std::chrono::steady_clock::now() + clientDeadline;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            ADD_FAILURE() << "cannot wait for " << argv.front() << ": " << std::strerror(errno);
            break;
        }
        if (r == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << argv.front() << " was still running after "
                              << clientDeadline.count() << " s and was killed";
                break;
            }
            pollfd ended{pidfd.get(), POLLIN, 0};
            ::poll(&ended, pidfd ? 1 : 0, 20);
            continue;
        }
        if (WIFSTOPPED(status)) {
            const int signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
            // ptrace takes the signal to deliver in its pointer argument.
            // NOLINTNEXTLINE(performance-no-int-to-ptr)
            ::ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(intptr_t(signal)));
            continue;
        }
        run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
    }
    run.out = readFile(scratch / "out");
    run.err = readFile(scratch / "err");
    return run;
}

namespace {

bool writeText(const std::string& path, const std::string& text) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    return fd && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

}  // namespace

MemoryLimit::MemoryLimit(size_t bytes) {
    const std::string name =
        "kestrelbay-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    const std::string limit = std::to_string(bytes);
    struct Hierarchy {
        std::string root, limitFile, swapFile;
    };
    const bool unified =
        pathExists("/sys/fs/cgroup/cgroup.controllers") &&
        readFile("/sys/fs/cgroup/cgroup.controllers").find("memory") != std::string::npos;
    const Hierarchy hierarchy = unified
                                    ? Hierarchy{"/sys/fs/cgroup/", "memory.max", "memory.swap.max"}
                                    : Hierarchy{"/sys/fs/cgroup/memory/", "memory.limit_in_bytes",
                                                "memory.memsw.limit_in_bytes"};
    const std::string path = hierarchy.root + name;
    if (::mkdir(path.c_str(), 0755) != 0) {
        return;
    }
    if (!writeText(path + "/" + hierarchy.limitFile, limit)) {
        ::rmdir(path.c_str());
        return;
    }
    // No swapping out of the limit, where the system has swap to account for.
    writeText(path + "/" + hierarchy.swapFile, unified ? "0" : limit);
    path_ = path;
}

MemoryLimit::~MemoryLimit() {
    // The confined process has been ended before; its cgroup empties once it is reaped.
    for (int i = 0; i < 100 && !path_.empty() && ::rmdir(path_.c_str()) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool MemoryLimit::confine(pid_t pid) const {
    return available() && writeText(path_ + "/cgroup.procs", std::to_string(pid));
}

std::string connectThenExec(const std::string& socketPath, const std::string& client, uid_t uid,
                            gid_t gid, AttackWrite write) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    const std::string call =
        WireFraming::encodeCall({0xA77AC4, WireFraming::Selector::getVersion, ""});
    std::vector<std::string> argv = {client, "--socket", socketPath, "send", "-"};
    std::vector<char*> args = argvOf(argv);
    UniqueFd quiet(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    int seen[2], input[2];
    if (::pipe2(seen, O_CLOEXEC) != 0 || ::pipe2(input, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return {};
    }
    const pid_t attacker = ::fork();
    if (attacker == 0) {
        // Only async-signal-safe calls from here on.
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(quiet.get(), STDOUT_FILENO);
        ::dup2(quiet.get(), STDERR_FILENO);
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
            ::_exit(120);
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::_exit(121);
        }
        timeval patience{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        if (write == AttackWrite::beforeExec) {
            ::send(fd, call.data(), call.size(), MSG_NOSIGNAL);
        }
        if (::fork() == 0) {
            ::close(input[1]);
            char buffer[4096];
            bool greeted = write == AttackWrite::beforeExec;
            for (;;) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    ::_exit(0);
                }
                [[maybe_unused]] const ssize_t w = ::write(seen[1], buffer, static_cast<size_t>(n));
                if (!greeted) {
                    greeted = true;
                    ::send(fd, call.data(), call.size(), MSG_NOSIGNAL);
                }
            }
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(seen[1]);
    ::close(input[0]);
    std::string bytes;
    pollfd readable{seen[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::poll(&readable, 1, 100) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(seen[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(seen[0]);
    ::close(input[1]);  // lets the exec'd client finish
    int status = 0;
    const auto waitUntil = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(attacker, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= waitUntil) {
            ::kill(attacker, SIGKILL);
            ::waitpid(attacker, &status, 0);
            ADD_FAILURE() << "the exec'd client was still running after 30 s and was killed";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return bytes;
}

}  // namespace kb::testing
