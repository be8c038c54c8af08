#include "tools/helperctl/ServiceHarness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "platform/UnixSocket.h"

namespace kb::testing {

RunningHelper::RunningHelper(const TempDir& dir) {
    static std::atomic<int> counter{0};
    const std::string n = std::to_string(counter++);
    socketPath_ = dir / ("helper" + n + ".sock");
    logPath_ = dir / ("helper" + n + ".log");
    auto socket = UnixSocket::listenOnPath(socketPath_, 0666, 512);
    if (!socket) {
        ADD_FAILURE() << socket.error().describe();
        return;
    }
    listening_ = std::move(*socket);
    // Its own state directory, so that helpers of tests running side by side never recover
    // each other's staged items.
    const std::string stateDirectory = dir / ("state" + n);
    makeDirectories(stateDirectory);
    // The shell passes its own pid, which the helper keeps through the exec, as LISTEN_PID.
    const char* script =
        "exec env -u NOTIFY_SOCKET LISTEN_FDS=1 LISTEN_PID=$$ STATE_DIRECTORY=\"$1\" \"$0\"";
    const UniqueFd logFd(::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    const int passed = listening_.get();
    pid_ = ::fork();
    if (pid_ == 0) {
        // The passed socket is descriptor 3, not close-on-exec, as the service manager
        // hands it over.
        if (passed == 3) {
            ::fcntl(3, F_SETFD, 0);
        } else {
            ::dup2(passed, 3);
        }
        ::dup2(logFd.get(), STDERR_FILENO);
        ::execl("/bin/sh", "/bin/sh", "-c", script, KB_HELPER_EXECUTABLE, stateDirectory.c_str(),
                nullptr);
        ::_exit(127);
    }
}

RunningHelper::~RunningHelper() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string RunningHelper::log() const {
    return readFile(logPath_);
}

bool RunningHelper::logged(const std::string& line) const {
    return pathExists("/run/systemd/journal/socket") || log().find(line) != std::string::npos;
}

size_t RunningHelper::procEntries(const std::string& name) const {
    std::error_code ec;
    const std::filesystem::directory_iterator entries("/proc/" + std::to_string(pid_) + "/" + name,
                                                      ec);
    return ec ? 0 : static_cast<size_t>(std::distance(entries, {}));
}

std::string installClient(const TempDir& dir, const std::string& name, gid_t group,
                          const std::optional<Attestation>& attestation,
                          const std::string& executable) {
    std::string path = dir / name;
    writeFile(path, readFile(executable));
    EXPECT_EQ(::chown(path.c_str(), 0, group), 0);
    EXPECT_EQ(::chmod(path.c_str(), 02755), 0);
    if (attestation) {
        auto attested = attestExecutable(path, *attestation);
        EXPECT_TRUE(attested.ok()) << attested.error().describe();
    }
    return path;
}

}  // namespace kb::testing
