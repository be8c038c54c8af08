// Support for the end-to-end tests of service mode: the real helper started with a
// listening socket passed the way the service manager passes it, and real client
// processes run as real accounts.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/PeerIdentity.h"
#include "testing/TempDir.h"

namespace kb::testing {

// The helper executable serving a fresh socket in `dir`. Killed on destruction if still
// running. Like the service manager, the harness keeps its own copy of the listening
// socket, so clients that connect after the helper exited stay queued.
class RunningHelper {
  public:
    explicit RunningHelper(const TempDir& dir);
    ~RunningHelper();
    RunningHelper(const RunningHelper&) = delete;
    RunningHelper& operator=(const RunningHelper&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& socketPath() const { return socketPath_; }
    std::string log() const;  // what the helper wrote to standard error

    // The exit status once the process ended within `timeout`; nullopt if still running.
    std::optional<int> waitExit(std::chrono::milliseconds timeout);

    size_t openDescriptors() const;
    size_t threads() const;

  private:
    pid_t pid_ = -1;
    std::string socketPath_;
    std::string logPath_;
    int listeningFd_ = -1;
};

// A root-owned, set-group-id copy of the command-line client in `dir`, attested with
// `attestation` unless it is nullopt. `group` owns it (set-group-id to it).
std::string installClient(const TempDir& dir, const std::string& name, gid_t group,
                          const std::optional<Attestation>& attestation);

// The attestation of the genuine application.
Attestation genuineAttestation();

struct ClientRun {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

enum class Tracing { none, tracedByRoot };

// Runs `argv` as uid/gid (supplementary groups cleared), optionally under a root tracer.
ClientRun runClientAs(const std::vector<std::string>& argv, uid_t uid, gid_t gid,
                      Tracing tracing = Tracing::none, const std::string& input = {});

// A memory cgroup (v2, or the v1 memory controller) limited to `bytes`, removed on
// destruction. `available()` is false where no cgroup can be made here.
class MemoryLimit {
  public:
    explicit MemoryLimit(size_t bytes);
    ~MemoryLimit();
    MemoryLimit(const MemoryLimit&) = delete;
    MemoryLimit& operator=(const MemoryLimit&) = delete;

    bool available() const { return !path_.empty(); }
    // Moves the process into the cgroup.
    bool confine(pid_t pid) const;

  private:
    std::string path_;
};

// The connect-then-exec attack, as `uid`/`gid`: a process connects to `socketPath`, forks
// a child that keeps the connection, and execs the attested `client` (which then waits on
// its standard input until this returns). With `writeBeforeExec` the process writes a
// getVersion call before its exec; otherwise the child writes one once the helper's
// greeting has come. Returns every byte the child read from the connection.
enum class AttackWrite { beforeExec, byChildAfterGreeting };
std::string connectThenExec(const std::string& socketPath, const std::string& client, uid_t uid,
                            gid_t gid, AttackWrite write);

// True when log lines go to the journal rather than to standard error.
bool journalPresent();

}  // namespace kb::testing
