#include "platform/CrossVolumeMove.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/TreeRemoval.h"
#include "platform/UniqueFd.h"

namespace kb {
namespace {

std::string temporaryName() {
    static std::atomic<unsigned> counter{0};
    unsigned char bytes[8] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != sizeof bytes) {
        // Unique within the process is enough: the copy is created exclusively.
        const unsigned long fallback = (static_cast<unsigned long>(::getpid()) << 32) | counter++;
        for (std::size_t i = 0; i < sizeof bytes; ++i) {
            bytes[i] = static_cast<unsigned char>(fallback >> (8 * i));
        }
    }
    std::string name = ".kb-moving-";
    char hex[3];
    for (unsigned char b : bytes) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        name += hex;
    }
    return name;
}

void removeCopy(int toFd, const std::string& name, ObjectId id, bool isDirectory) {
    if (isDirectory) {
        (void)removeTree(toFd, name, id);
    } else {
        ::unlinkat(toFd, name.c_str(), 0);
    }
}

MoveFailure failed(SystemError error) {
    return MoveFailure{MoveFailure::Kind::failed, std::move(error)};
}

}  // namespace

std::string MoveFailure::message() const {
    if (kind == Kind::noFreeName) {
        return "no free name for the item at its destination";
    }
    std::string text = "could not " + error.step;
    if (!error.path.empty()) {
        text += " '" + error.path + "'";
    }
    return text + ": " + error.message();
}

Result<void, SystemError> removeOriginal(int fromFd, const std::string& name, ObjectId expected) {
    auto status = fileStatusAt(fromFd, name);
    if (!status) {
        return status.error().code == ENOENT
                   ? Result<void, SystemError>()
                   : fail(systemError(status.error().code, "unlink", name));
    }
    if (status->isDirectory()) {
        if (auto r = removeTree(fromFd, name, expected); !r) {
            return fail(r.error().error);
        }
        return {};
    }
    if (status->id() != expected) {
        return fail(systemError(ESTALE, "unlink", name));
    }
    if (::unlinkat(fromFd, name.c_str(), 0) != 0 && errno != ENOENT) {
        return fail(systemError("unlink", name));
    }
    return {};
}

Result<MoveDone, MoveFailure> moveAcrossVolumes(int fromFd, const std::string& fromName,
                                                ObjectId expected, int toFd,
                                                const DestinationNames& names) {
    const std::string temporary = temporaryName();
    auto copied = copyItem(fromFd, fromName, expected, toFd, temporary, std::nullopt);
    if (!copied) {
        return fail(failed(copied.error()));
    }
    const auto placed = fileStatusAt(toFd, temporary);
    const bool isDirectory = placed && placed->isDirectory();
    for (std::size_t index = 0;; ++index) {
        const auto name = names(index);
        if (!name) {
            removeCopy(toFd, temporary, copied->id, isDirectory);
            return fail(MoveFailure{MoveFailure::Kind::noFreeName, systemError(EEXIST, "place")});
        }
        if (::renameat2(toFd, temporary.c_str(), toFd, name->c_str(), RENAME_NOREPLACE) == 0) {
            MoveDone done{*name, copied->id, std::nullopt};
            if (auto r = removeOriginal(fromFd, fromName, expected); !r) {
                done.originalLeft = r.error();
            }
            return done;
        }
        if (errno != EEXIST) {
            const SystemError error = systemError("place the copy of", fromName);
            removeCopy(toFd, temporary, copied->id, isDirectory);
            return fail(failed(error));
        }
    }
}

}  // namespace kb
