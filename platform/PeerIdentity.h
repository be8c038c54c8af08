// What the kernel vouches for about the process at the other end of a Unix socket, and the
// code identity that root attested on its executable.
//
// Nothing here comes from the peer itself: credentials are SO_PEERCRED, the process is
// pinned with a pidfd (SO_PEERPIDFD, else pidfd_open on the pid) and inspected through its
// /proc directory, which is opened first and then checked to still belong to the live
// pidfd's process, so a recycled pid cannot stand in for it.
//
// Attestation: the executable (the inode /proc/PID/exe refers to) carries the extended
// attribute `trusted.dev.kestrelbay.codesign` (only root can write the trusted namespace)
// holding "identifier=ID team=TEAM development=0|1" (team and development optional). It
// counts only on a regular file owned by root, writable by nobody but root, and
// set-group-id (so the loader runs it in secure mode and the kernel makes it non-dumpable:
// its own user cannot inject code or attach to it).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace kb {

inline constexpr std::string_view attestationAttribute = "trusted.dev.kestrelbay.codesign";

struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    bool operator==(const PeerCredentials&) const = default;
};

struct Attestation {
    std::string identifier;
    std::string team;  // empty when none was attested
    bool development = false;
    bool operator==(const Attestation&) const = default;
};

struct PeerIdentity {
    PeerCredentials credentials;
    std::shared_ptr<const UniqueFd> pidfd;  // pins the peer process; never null on success
    std::string executable;                 // the executable's path, for log lines only
    // Set when the executable passes the file checks above and its attribute parses;
    // otherwise `unattestedReason` says why not.
    std::optional<Attestation> attestation;
    std::string unattestedReason;
    bool traced = true;            // TracerPid is not 0
    bool secureExecution = false;  // AT_SECURE was set when the process ran its executable
    bool dumpable = true;          // its /proc files belong to its user, not to root
};

// SO_PEERCRED of a connected Unix socket.
Result<PeerCredentials, SystemError> peerCredentials(int socketFd);

// Inspects the peer of a connected Unix socket. Fails when the peer cannot be pinned or
// has gone; a peer that is merely unattested is a success with no attestation.
Result<PeerIdentity, SystemError> inspectPeer(int socketFd);

// The identity of the process a pidfd refers to: equal for two pidfds exactly when they
// name the same process (the inode the kernel gives every process's pidfds); 0 when the
// kernel cannot tell.
std::uint64_t pidfdInode(int pidfd);

// "identifier=dev.kestrelbay team=Q7Z2K4M9X1 development=0" and back. Parsing refuses
// unknown keys, repeated keys, a missing or empty identifier and any other development
// value than 0 or 1.
std::optional<Attestation> parseAttestation(std::string_view text);
std::string formatAttestation(const Attestation& attestation);

// Why an executable open at `fd` cannot be attested (empty when it can): not a regular
// file, not owned by root, writable by group or others, not set-group-id.
std::string executableProblem(int fd);

// Writes the attribute on the executable at `path` after checking it as above.
Result<void, SystemError> attestExecutable(const std::string& path, const Attestation& attestation);

}  // namespace kb
