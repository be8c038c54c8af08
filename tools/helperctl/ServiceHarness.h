// The real helper serving a socket passed as the service manager passes it, and attested
// copies of the real clients, for the end-to-end tests of service mode.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/PeerIdentity.h"
#include "platform/UniqueFd.h"
#include "testing/TempDir.h"

namespace kb::testing {

// The helper executable serving a fresh socket in `dir`, with its own state directory there;
// killed on destruction. Like the service manager, the harness keeps its own copy of the
// listening socket.
class RunningHelper {
  public:
    explicit RunningHelper(const TempDir& dir);
    ~RunningHelper();
    RunningHelper(const RunningHelper&) = delete;
    RunningHelper& operator=(const RunningHelper&) = delete;

    const std::string& socketPath() const { return socketPath_; }
    // Whether the helper logged `line`; always true where lines go to the journal instead.
    bool logged(const std::string& line) const;
    std::string log() const;

    // How many entries the helper's /proc/PID/`name` holds: "fd" (descriptors) or "task".
    size_t procEntries(const std::string& name) const;

  private:
    pid_t pid_ = -1;
    std::string socketPath_;
    std::string logPath_;
    UniqueFd listening_;
};

// A root-owned, set-group-id copy of `executable` named `name` in `dir`, set-group-id to
// `group` and attested with `attestation` unless it is nullopt.
std::string installClient(const TempDir& dir, const std::string& name, gid_t group,
                          const std::optional<Attestation>& attestation,
                          const std::string& executable = KB_HELPERCTL_EXECUTABLE);

// The attestation of the genuine application.
inline Attestation genuineAttestation() {
    return Attestation{"dev.kestrelbay", "Q7Z2K4M9X1", false};
}

}  // namespace kb::testing
