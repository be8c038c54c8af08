#include "tools/helperctl/ServiceHarness.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

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

int scratchFile(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
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
    pid_ = ::fork();
    if (pid_ == 0) {
        // The passed socket is descriptor 3, not close-on-exec, as the service manager
        // hands it over.
        if (listeningFd_ == 3) {
            ::fcntl(3, F_SETFD, 0);
        } else {
            ::dup2(listeningFd_, 3);
        }
        ::dup2(logFd, STDERR_FILENO);
        const std::string pid = std::to_string(::getpid());
        ::setenv("LISTEN_FDS", "1", 1);
        ::setenv("LISTEN_PID", pid.c_str(), 1);
        ::unsetenv("NOTIFY_SOCKET");
        ::execl(KB_HELPER_EXECUTABLE, KB_HELPER_EXECUTABLE, static_cast<char*>(nullptr));
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
    const std::string path = dir / name;
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
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    ::close(err);
    ClientRun run;
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, 0) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (WIFSTOPPED(status)) {
            const int signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
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

}  // namespace kb::testing
