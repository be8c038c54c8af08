#include "platform/DirectoryWalk.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace kb {
namespace {

constexpr int directoryOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// tmpfs keeps no inode tables: the order of its listing costs no seeks, and sorting does.
bool inMemory(int fd) {
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

WalkError systemFailure(SystemError error) {
    return WalkError{WalkProblem::systemCall, std::move(error)};
}

}  // namespace

Result<std::vector<WalkEntry>, SystemError> DirectoryStack::list(int fd) {
    std::vector<WalkEntry> entries;
    reader_.start(fd);
    while (auto entry = reader_.next()) {
        entries.push_back(WalkEntry{entry->name, entry->type, entry->inode});
    }
    if (reader_.failed()) {
        return fail(systemError("getdents64", relativePath()));
    }
    if (entries.size() >= inodeOrderThreshold && !inMemory(fd)) {
        std::sort(entries.begin(), entries.end(),
                  [](const WalkEntry& a, const WalkEntry& b) { return a.inode < b.inode; });
    }
    return entries;
}

Result<DirectoryStack, WalkError> DirectoryStack::start(UniqueFd root) {
    auto status = fileStatusOf(root.get());
    if (!status) {
        return fail(systemFailure(status.error()));
    }
    DirectoryStack stack;
    auto entries = stack.list(root.get());
    if (!entries) {
        return fail(systemFailure(entries.error()));
    }
    stack.frames_.push_back(Frame{std::move(root), *status, {}, std::move(*entries), 0});
    return stack;
}

bool DirectoryStack::worthTwoWorkers() const {
    const auto entries = pendingEntries();
    if (entries.size() >= sharedListingThreshold && !inMemory(fd())) {
        return true;
    }
    int directories = 0;
    for (const auto& entry : entries) {
        if (entry.type == EntryType::directory && ++directories == 2) {
            return true;
        }
    }
    return false;
}

const WalkEntry* DirectoryStack::nextEntry() {
    Frame& top = frames_.back();
    if (top.next >= top.entries.size()) {
        return nullptr;
    }
    return &top.entries[top.next++];
}

std::span<const WalkEntry> DirectoryStack::pendingEntries() const {
    const Frame& top = frames_.back();
    return std::span<const WalkEntry>(top.entries).subspan(top.next);
}

std::vector<WalkEntry> DirectoryStack::takePendingEntries() {
    Frame& top = frames_.back();
    std::vector<WalkEntry> pending(
        std::make_move_iterator(top.entries.begin() + static_cast<std::ptrdiff_t>(top.next)),
        std::make_move_iterator(top.entries.end()));
    top.entries.clear();
    top.next = 0;
    return pending;
}

Result<EnterResult, WalkError> DirectoryStack::enter(const std::string& name) {
    UniqueFd child(::openat(fd(), name.c_str(), directoryOpenFlags));
    if (!child) {
        switch (errno) {
            case ENOENT:
                return EnterResult::gone;
            case ENOTDIR:
            case ELOOP:
                return EnterResult::notDirectory;
            default:
                return fail(systemFailure(systemError("openat", relativePath(name))));
        }
    }
    auto status = fileStatusOf(child.get());
    if (!status) {
        return fail(systemFailure(status.error()));
    }
    const FileStatus& root = rootStatus();
    if (status->mountRoot || status->device != root.device || status->mountID != root.mountID) {
        return EnterResult::otherMount;
    }
    auto entries = list(child.get());
    if (!entries) {
        return fail(systemFailure(entries.error()));
    }
    frames_.push_back(Frame{std::move(child), *status, name, std::move(*entries), 0});
    if (frames_.size() - firstOpen_ > walkDescriptorBudget) {
        frames_[firstOpen_].fd.reset();
        ++firstOpen_;
    }
    return EnterResult::entered;
}

Result<LeftDirectory, WalkError> DirectoryStack::leave() {
    const std::size_t parentIndex = frames_.size() - 2;
    Frame& parent = frames_[parentIndex];
    if (!parent.fd) {
        UniqueFd reopened(::openat(fd(), "..", directoryOpenFlags));
        if (!reopened) {
            return fail(systemFailure(systemError("openat ..", relativePath())));
        }
        auto status = fileStatusOf(reopened.get());
        if (!status) {
            return fail(systemFailure(status.error()));
        }
        if (status->id() != parent.status.id()) {
            frames_.pop_back();
            return fail(WalkError{WalkProblem::directoryChanged,
                                  systemError(ESTALE, "climb", relativePath())});
        }
        parent.fd = std::move(reopened);
        firstOpen_ = parentIndex;
    }
    Frame& top = frames_.back();
    LeftDirectory left{std::move(top.fd), top.status, std::move(top.name)};
    frames_.pop_back();
    return left;
}

std::string DirectoryStack::relativePath() const {
    std::string path;
    for (std::size_t i = 1; i < frames_.size(); ++i) {
        if (!path.empty()) {
            path += '/';
        }
        path += frames_[i].name;
    }
    return path;
}

std::string DirectoryStack::relativePath(const std::string& name) const {
    std::string path = relativePath();
    if (!path.empty()) {
        path += '/';
    }
    return path + name;
}

}  // namespace kb
