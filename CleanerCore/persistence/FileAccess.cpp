#include "CleanerCore/persistence/FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "CleanerCore/model/Uuid.h"
#include "platform/FileStatus.h"

namespace kb::FileAccess {
namespace {

Failure<PersistenceError> ioFailure(std::string step, std::string path) {
    return fail(
        PersistenceError{PersistenceError::Io{systemError(std::move(step), std::move(path))}});
}

Failure<PersistenceError> ioFailure(int code, std::string step, std::string path) {
    return fail(PersistenceError{
        PersistenceError::Io{systemError(code, std::move(step), std::move(path))}});
}

// Writes all of `bytes`, resuming after partial writes and interruptions; 0 or an errno.
int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return 0;
}

bool isDirectory(const std::string& path) {
    return isDirectoryAt(AT_FDCWD, path, FinalLink::follow);
}

}  // namespace

SplitPath splitPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

Result<UniqueFd, PersistenceError> openDirectory(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        return ioFailure("open", path);
    }
    return fd;
}

Result<UniqueFd, PersistenceError> createDirectories(const std::string& path, mode_t mode) {
    if (auto existing = openDirectory(path); existing.ok()) {
        return existing;
    }
    // Create each missing component from the root down; one that exists (made meanwhile by
    // someone else, too) is fine as long as it is a directory, which the final open checks.
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST &&
            !isDirectory(prefix)) {
            return ioFailure("mkdir", prefix);
        }
        if (end == std::string::npos) {
            break;
        }
    }
    return openDirectory(path);
}

Result<std::optional<std::string>, PersistenceError> readFile(int directory,
                                                              const std::string& name,
                                                              const std::string& pathForErrors) {
    // O_NONBLOCK so that a FIFO planted at the path cannot hang the open; it is refused below.
    UniqueFd fd(::openat(directory, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) {
            return std::optional<std::string>();
        }
        return ioFailure("open", pathForErrors);
    }
    const auto st = fileStatusOf(fd.get());
    if (!st) {
        return ioFailure(st.error().code, "fstat", pathForErrors);
    }
    if (!st->isRegular()) {
        return ioFailure(st->isDirectory() ? EISDIR : EINVAL, "read", pathForErrors);
    }
    std::string contents;
    contents.resize(static_cast<size_t>(st->size));
    size_t used = 0;
    for (;;) {
        if (used == contents.size()) {
            // The file grew since fstat, or reports no size: keep reading until end of file.
            contents.resize(contents.size() + 65536);
        }
        const ssize_t got = ::read(fd.get(), contents.data() + used, contents.size() - used);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ioFailure("read", pathForErrors);
        }
        if (got == 0) {
            break;
        }
        used += static_cast<size_t>(got);
    }
    contents.resize(used);
    return std::optional<std::string>(std::move(contents));
}

Result<std::optional<std::string>, PersistenceError> readFile(const std::string& path) {
    return readFile(AT_FDCWD, path, path);
}

Result<void, PersistenceError> writeAtomically(int directory, const std::string& name,
                                               std::string_view bytes,
                                               const std::string& pathForErrors) {
    mode_t mode = 0600;
    if (const auto existing = fileStatusAt(directory, name); existing && existing->isRegular()) {
        mode = existing->mode & 07777;
    }
    // A hidden sibling with a random suffix, short enough for any name the target fits in.
    std::string temporary = ".";
    temporary.append(name, 0, 200);
    temporary += ".~";
    temporary += std::string_view(Uuid::random().uuidString()).substr(24);
    UniqueFd fd(::openat(directory, temporary.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        return ioFailure("open", pathForErrors + " (temporary file)");
    }
    auto discard = [&](int code, const char* step) {
        fd.reset();
        ::unlinkat(directory, temporary.c_str(), 0);
        return ioFailure(code, step, pathForErrors);
    };
    if (mode != 0600 && ::fchmod(fd.get(), mode) != 0) {
        return discard(errno, "fchmod");
    }
    if (const int code = writeAll(fd.get(), bytes); code != 0) {
        return discard(code, "write");
    }
    if (::fsync(fd.get()) != 0) {
        return discard(errno, "fsync");
    }
    if (::close(fd.release()) != 0) {
        return discard(errno, "close");
    }
    if (::renameat(directory, temporary.c_str(), directory, name.c_str()) != 0) {
        return discard(errno, "rename");
    }
    if (::fsync(directory) != 0) {
        // The new contents are in place; only their durability across a crash is in doubt.
        return ioFailure("fsync", pathForErrors + " (directory)");
    }
    return {};
}

}  // namespace kb::FileAccess
