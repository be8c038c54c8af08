#include "CleanerCore/policy/PolicyFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileStatus.h"
#include "platform/UniqueFd.h"

namespace kb {
namespace {

// The normalized parent of a normalized path other than "/".
std::string_view parentOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

// `path` below `ancestor`, without its leading slash.
std::string_view below(std::string_view path, std::string_view ancestor) {
    return path.substr(ancestor.size() == 1 ? 1 : ancestor.size() + 1);
}

std::string joined(std::string_view base, std::string_view relative) {
    std::string text(base);
    if (!relative.empty()) {
        if (text.empty() || text.back() != '/') {
            text += '/';
        }
        text += relative;
    }
    return text;
}

// The pieces of `path` in reverse order (the next one to visit last), empty pieces dropped.
void pushReversed(std::string_view path, std::vector<std::string>& pending) {
    std::size_t end = path.size();
    while (end > 0) {
        const std::size_t slash = path.rfind('/', end - 1);
        const std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
        if (end > start) {
            pending.emplace_back(path.substr(start, end - start));
        }
        if (slash == std::string_view::npos) {
            break;
        }
        end = slash;
    }
}

// The kernel's and glibc's limit on symbolic links followed while resolving one path.
constexpr int maximumLinks = 40;

// A walk through the real file system: the entry reached so far as an O_PATH descriptor,
// and its canonical path (empty for "/"). Each step is one lookup relative to the
// descriptor, so no step costs more than its own component.
class DescriptorWalk {
  public:
    Result<void, int> start() {
        directory_.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        path_.clear();
        if (!directory_) {
            return fail(errno);
        }
        return {};
    }

    // Looks `name` up below the current entry without following it: the entry, or the
    // lookup's error number.
    Result<UniqueFd, int> lookUp(const std::string& name) const {
        UniqueFd entry(::openat(directory_.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!entry) {
            return fail(errno);
        }
        return entry;
    }

    // Moves onto `entry`, found as `name` by lookUp: into it, or along it when it is a
    // symbolic link (every failure while following it is an error).
    Result<void, int> enter(UniqueFd entry, const std::string& name) {
        const auto status = fileStatusOf(entry.get());
        if (!status) {
            return fail(status.error().code);
        }
        if (!status->isSymlink()) {
            directory_ = std::move(entry);
            path_ += '/';
            path_ += name;
            if (path_.size() >= PATH_MAX) {
                return fail(ENAMETOOLONG);
            }
            return {};
        }
        if (++links_ > maximumLinks) {
            return fail(ELOOP);
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(entry.get(), "", target, sizeof target);
        if (length < 0) {
            return fail(errno);
        }
        if (static_cast<std::size_t>(length) >= sizeof target) {
            return fail(ENAMETOOLONG);
        }
        const std::string_view text(target, static_cast<std::size_t>(length));
        if (text.empty()) {
            return fail(ENOENT);
        }
        if (text.front() == '/') {
            if (auto restarted = start(); !restarted) {
                return restarted;
            }
        }
        std::vector<std::string> pending;
        pushReversed(text, pending);
        return follow(pending);
    }

    // Visits every piece of `pending` (in reverse order), following symbolic links;
    // ".." leaves the canonical directory reached so far. Every failure is an error.
    Result<void, int> follow(std::vector<std::string>& pending) {
        while (!pending.empty()) {
            const std::string name = std::move(pending.back());
            pending.pop_back();
            if (name == ".") {
                continue;
            }
            if (name == "..") {
                if (auto left = leave(); !left) {
                    return left;
                }
                continue;
            }
            auto entry = lookUp(name);
            if (!entry) {
                return fail(entry.error());
            }
            if (auto entered = enter(std::move(*entry), name); !entered) {
                return entered;
            }
        }
        return {};
    }

    const std::string& path() const { return path_; }
    std::string canonical() const { return path_.empty() ? std::string("/") : path_; }

  private:
    // One level up from a directory already resolved: its real parent ("/" stays).
    Result<void, int> leave() {
        if (path_.empty()) {
            return {};
        }
        UniqueFd parent(::openat(directory_.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!parent) {
            return fail(errno);
        }
        directory_ = std::move(parent);
        path_.resize(path_.rfind('/'));
        return {};
    }

    UniqueFd directory_;
    std::string path_;
    int links_ = 0;
};

// The path the kernel records for the open `entry` (as realpath would spell it: every link
// resolved, the mounts crossed as walked). Nothing when it is not plainly a path (deleted,
// unreachable from this root, too long).
std::optional<std::string> kernelPathOf(int entry) {
    // No descriptor of /proc is kept open: the helper holds only what its requests need.
    constexpr std::string_view table = "/proc/self/fd/";
    char link[table.size() + 16];
    table.copy(link, table.size());
    const auto written = std::to_chars(link + table.size(), link + sizeof link - 1, entry);
    *written.ptr = '\0';
    char text[PATH_MAX];
    const ssize_t length = ::readlink(link, text, sizeof text);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text || text[0] != '/') {
        return std::nullopt;
    }
    std::string canonical(text, static_cast<std::size_t>(length));
    constexpr std::string_view deleted = " (deleted)";
    if (canonical.size() >= deleted.size() &&
        canonical.compare(canonical.size() - deleted.size(), deleted.size(), deleted) == 0) {
        return std::nullopt;
    }
    return canonical;
}

// The canonical path of the existing `path` from one lookup by the kernel. Nothing when the
// entry cannot be opened or named; the descriptor walk then decides.
std::optional<std::string> canonicalByKernel(const std::string& path) {
    const UniqueFd entry(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (!entry) {
        return std::nullopt;
    }
    return kernelPathOf(entry.get());
}

}  // namespace

Result<std::string, int> PolicyFileSystem::resolveParents(const std::string& path) const {
    std::string_view ancestor = parentOf(path);
    while (ancestor != "/") {
        const std::string candidate(ancestor);
        // Canonicalizing first settles the common case (the parent exists) with one call;
        // the probe then tells an absent ancestor from one that exists but cannot be
        // canonicalized, exactly as probing first would.
        auto canonical = canonicalPath(candidate);
        if (canonical) {
            return joined(*canonical, below(path, ancestor));
        }
        auto presence = entryExists(candidate);
        if (!presence) {
            return fail(presence.error());
        }
        if (*presence == EntryPresence::exists) {
            return fail(canonical.error());
        }
        ancestor = parentOf(ancestor);
    }
    return path;
}

Result<EntryPresence, int> RealPolicyFileSystem::entryExists(const std::string& path) const {
    const auto status = fileStatusAt(AT_FDCWD, path);
    if (status) {
        return EntryPresence::exists;
    }
    if (status.error().code == ENOENT || status.error().code == ENOTDIR) {
        return EntryPresence::absent;
    }
    return fail(status.error().code);
}

Result<std::string, int> RealPolicyFileSystem::canonicalPath(const std::string& path) const {
    if (auto canonical = canonicalByKernel(path)) {
        return std::move(*canonical);
    }
    DescriptorWalk walk;
    if (auto started = walk.start(); !started) {
        return fail(started.error());
    }
    std::vector<std::string> pending;
    pushReversed(path, pending);
    if (auto followed = walk.follow(pending); !followed) {
        return fail(followed.error());
    }
    return walk.canonical();
}

// The common case, an existing parent, takes one lookup by the kernel. Otherwise one walk
// from "/": the parents are entered in order (links followed); the first one that is absent
// ends the walk at its nearest existing ancestor, exactly where probing the ancestors from
// the nearest one up would stop, since an ancestor exists only if every ancestor above it
// does.
Result<std::string, int> RealPolicyFileSystem::resolveParents(const std::string& path) const {
    const std::size_t last = path.rfind('/');
    if (last == 0) {
        return path;
    }
    if (auto parent = canonicalByKernel(path.substr(0, last))) {
        return *parent + path.substr(last);
    }
    DescriptorWalk walk;
    if (auto started = walk.start(); !started) {
        return fail(started.error());
    }
    std::size_t start = 1;
    for (std::size_t end = path.find('/', start); end != std::string::npos;
         start = end + 1, end = path.find('/', start)) {
        std::string name = path.substr(start, end - start);
        if (name == "." || name == "..") {
            std::vector<std::string> up{std::move(name)};
            if (auto left = walk.follow(up); !left) {
                return fail(left.error());
            }
            continue;
        }
        auto entry = walk.lookUp(name);
        if (!entry) {
            if (entry.error() == ENOENT || entry.error() == ENOTDIR) {
                break;
            }
            return fail(entry.error());
        }
        if (auto entered = walk.enter(std::move(*entry), name); !entered) {
            return fail(entered.error());
        }
    }
    return walk.path() + "/" + path.substr(start);
}

std::optional<ResolvedDirectory> PolicyFileSystem::openDirectory(const std::string&) const {
    return std::nullopt;
}

std::optional<ObjectId> PolicyFileSystem::identityOf(const std::string&) const {
    return std::nullopt;
}

std::optional<ResolvedDirectory> RealPolicyFileSystem::openDirectory(
    const std::string& path) const {
    UniqueFd directory(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!directory) {
        return std::nullopt;
    }
    auto status = fileStatusOf(directory.get());
    if (!status) {
        return std::nullopt;
    }
    // The status and the name are both the opened object's own.
    auto canonical = kernelPathOf(directory.get());
    if (!canonical) {
        return std::nullopt;
    }
    return ResolvedDirectory{std::move(*canonical), status->id(), std::move(directory)};
}

std::optional<ObjectId> RealPolicyFileSystem::identityOf(const std::string& path) const {
    auto status = fileStatusAt(AT_FDCWD, path);
    if (!status) {
        return std::nullopt;
    }
    return status->id();
}

}  // namespace kb
