#include "platform/DirectoryEntries.h"

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <cstring>

namespace kb {
namespace {

// Large enough for hundreds of entries per system call, small enough to keep one per thread.
constexpr std::size_t bufferSize = std::size_t{64} * 1024;

EntryType typeFromDirent(unsigned char type) {
    switch (type) {
        case DT_REG:
            return EntryType::regular;
        case DT_DIR:
            return EntryType::directory;
        case DT_LNK:
            return EntryType::symbolicLink;
        case DT_UNKNOWN:
            return EntryType::unknown;
        default:
            return EntryType::other;
    }
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

DirectoryReader::DirectoryReader()
    : buffer_(std::make_unique_for_overwrite<std::byte[]>(bufferSize)) {}

void DirectoryReader::start(int directoryFd) {
    fd_ = directoryFd;
    used_ = 0;
    offset_ = 0;
    atEnd_ = false;
    failed_ = false;
}

bool DirectoryReader::fill() {
    for (;;) {
        const ssize_t n = ::getdents64(fd_, buffer_.get(), bufferSize);
        if (n > 0) {
            used_ = static_cast<std::size_t>(n);
            offset_ = 0;
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        failed_ = n < 0;
        atEnd_ = true;
        return false;
    }
}

std::optional<DirectoryEntry> DirectoryReader::next() {
    while (!atEnd_) {
        if (offset_ >= used_ && !fill()) {
            break;
        }
        const auto* entry = reinterpret_cast<const struct dirent64*>(buffer_.get() + offset_);
        offset_ += entry->d_reclen;
        if (!isDotOrDotDot(entry->d_name)) {
            return DirectoryEntry{entry->d_name, typeFromDirent(entry->d_type), entry->d_ino};
        }
    }
    return std::nullopt;
}

Result<UniqueFd, SystemError> openDirectory(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), directoryFlags));
    if (!fd) {
        return fail(systemError("open", path));
    }
    return fd;
}

Result<UniqueFd, SystemError> openDirectoryAt(int parentFd, const char* name) {
    UniqueFd fd(::openat(parentFd, name, directoryFlags));
    if (!fd) {
        return fail(systemError("openat", name));
    }
    return fd;
}

}  // namespace kb
