#include "platform/PeerIdentity.h"

#include <elf.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace kb {
namespace {

Result<std::string, SystemError> readSmallFile(int dirFd, const char* name) {
    UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        return fail(systemError("open", name));
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(systemError("read", name));
        }
        if (n == 0 || text.size() > (1u << 20)) {
            return text;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

UniqueFd pinProcess(int socketFd, pid_t pid) {
    int pidfd = -1;
    socklen_t length = sizeof pidfd;
    if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) == 0 && pidfd >= 0) {
        return UniqueFd(pidfd);
    }
    return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

bool stillAlive(int pidfd) {
    return ::syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) == 0;
}

// TracerPid of /proc/PID/status; -1 when it cannot be read.
long tracerOf(std::string_view status) {
    static constexpr std::string_view key = "\nTracerPid:";
    const size_t at = status.find(key);
    if (at == std::string_view::npos) {
        return -1;
    }
    size_t i = at + key.size();
    while (i < status.size() && (status[i] == ' ' || status[i] == '\t')) {
        ++i;
    }
    long value = -1;
    const auto [end, ec] = std::from_chars(status.data() + i, status.data() + status.size(), value);
    return ec == std::errc() ? value : -1;
}

bool secureFromAuxv(std::string_view auxv) {
    const size_t entry = 2 * sizeof(unsigned long);
    for (size_t at = 0; at + entry <= auxv.size(); at += entry) {
        unsigned long pair[2];
        std::memcpy(pair, auxv.data() + at, entry);
        if (pair[0] == AT_NULL) {
            break;
        }
        if (pair[0] == AT_SECURE) {
            return pair[1] != 0;
        }
    }
    return false;
}

}  // namespace

std::uint64_t pidfdInode(int pidfd) {
    // Only pidfs gives each process its own inode; older kernels share one for all. The
    // kernel does not change while the process runs: ask once.
    static constexpr long pidfsMagic = 0x50494446;
    static std::atomic<int> onPidfs{-1};
    if (pidfd < 0) {
        return 0;
    }
    if (onPidfs.load(std::memory_order_relaxed) < 0) {
        struct statfs fs;
        if (::fstatfs(pidfd, &fs) != 0) {
            return 0;
        }
        onPidfs.store(static_cast<long>(fs.f_type) == pidfsMagic ? 1 : 0,
                      std::memory_order_relaxed);
    }
    struct stat st;
    if (onPidfs.load(std::memory_order_relaxed) == 0 || ::fstat(pidfd, &st) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(st.st_ino);
}

Result<PeerCredentials, SystemError> peerCredentials(int socketFd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        return fail(systemError("getsockopt SO_PEERCRED"));
    }
    return PeerCredentials{credentials.pid, credentials.uid, credentials.gid};
}

std::optional<Attestation> parseAttestation(std::string_view text) {
    Attestation result;
    bool seenIdentifier = false, seenTeam = false, seenDevelopment = false;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) {
        text.remove_suffix(1);
    }
    while (!text.empty()) {
        const size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        const size_t equals = word.find('=');
        if (equals == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view key = word.substr(0, equals);
        const std::string_view value = word.substr(equals + 1);
        if (key == "identifier" && !seenIdentifier) {
            seenIdentifier = true;
            result.identifier = value;
        } else if (key == "team" && !seenTeam) {
            seenTeam = true;
            result.team = value;
        } else if (key == "development" && !seenDevelopment && (value == "0" || value == "1")) {
            seenDevelopment = true;
            result.development = value == "1";
        } else {
            return std::nullopt;
        }
    }
    if (result.identifier.empty()) {
        return std::nullopt;
    }
    return result;
}

std::string formatAttestation(const Attestation& attestation) {
    std::string text = "identifier=" + attestation.identifier;
    if (!attestation.team.empty()) {
        text += " team=" + attestation.team;
    }
    text += attestation.development ? " development=1" : " development=0";
    return text;
}

std::string executableProblem(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        return "cannot stat the executable: " + errorText(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return "the executable is not a regular file";
    }
    if (st.st_uid != 0) {
        return "the executable is not owned by root";
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return "the executable is writable by group or others";
    }
    if ((st.st_mode & S_ISGID) == 0 || (st.st_mode & S_IXGRP) == 0) {
        return "the executable is not set-group-id";
    }
    return {};
}

Result<PeerIdentity, SystemError> inspectPeer(int socketFd) {
    auto credentials = peerCredentials(socketFd);
    if (!credentials) {
        return fail(credentials.error());
    }
    PeerIdentity identity;
    identity.credentials = *credentials;
    const pid_t pid = credentials->pid;
    UniqueFd pidfd = pinProcess(socketFd, pid);
    if (!pidfd) {
        return fail(systemError("pidfd", std::to_string(pid)));
    }
    const std::string procPath = "/proc/" + std::to_string(pid);
    UniqueFd proc(::open(procPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!proc) {
        return fail(systemError("open", procPath));
    }
    // The directory was opened while the pinned process lived, so it is that process's.
    if (!stillAlive(pidfd.get())) {
        return fail(systemError(ESRCH, "pidfd", procPath));
    }

    char link[4096];
    const ssize_t linkLength = ::readlinkat(proc.get(), "exe", link, sizeof link - 1);
    identity.executable = linkLength > 0 ? std::string(link, static_cast<size_t>(linkLength))
                                         : std::string("(unknown)");

    // The kernel gives a non-dumpable process's /proc files (not its directory) to root.
    struct stat statusStat;
    if (::fstatat(proc.get(), "status", &statusStat, 0) != 0) {
        return fail(systemError("stat", procPath + "/status"));
    }
    identity.dumpable = statusStat.st_uid != 0;
    auto status = readSmallFile(proc.get(), "status");
    if (!status) {
        return fail(status.error());
    }
    identity.traced = tracerOf(*status) != 0;
    auto auxv = readSmallFile(proc.get(), "auxv");
    if (!auxv) {
        return fail(auxv.error());
    }
    identity.secureExecution = secureFromAuxv(*auxv);

    UniqueFd exe(::openat(proc.get(), "exe", O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!exe) {
        identity.unattestedReason = "cannot open the executable: " + errorText(errno);
    } else if (auto problem = executableProblem(exe.get()); !problem.empty()) {
        identity.unattestedReason = problem;
    } else {
        char value[512];
        const ssize_t n =
            ::fgetxattr(exe.get(), std::string(attestationAttribute).c_str(), value, sizeof value);
        if (n < 0) {
            identity.unattestedReason = errno == ENODATA
                                            ? "the executable is not attested"
                                            : "cannot read the attestation: " + errorText(errno);
        } else if (auto parsed = parseAttestation(std::string_view(value, size_t(n)))) {
            identity.attestation = std::move(parsed);
        } else {
            identity.unattestedReason = "the executable's attestation is malformed";
        }
    }
    if (!stillAlive(pidfd.get())) {
        return fail(systemError(ESRCH, "pidfd", procPath));
    }
    identity.pidfd = std::make_shared<const UniqueFd>(std::move(pidfd));
    return identity;
}

Result<void, SystemError> attestExecutable(const std::string& path,
                                           const Attestation& attestation) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
    if (!fd) {
        return fail(systemError("open", path));
    }
    if (const auto problem = executableProblem(fd.get()); !problem.empty()) {
        return fail(systemError(EPERM, problem, path));
    }
    const std::string text = formatAttestation(attestation);
    if (::fsetxattr(fd.get(), std::string(attestationAttribute).c_str(), text.data(), text.size(),
                    0) != 0) {
        return fail(systemError("fsetxattr", path));
    }
    return {};
}

}  // namespace kb
