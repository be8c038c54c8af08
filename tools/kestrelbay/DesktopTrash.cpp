#include "DesktopTrash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "CleanerCore/model/FileURL.h"
#include "CleanerCore/persistence/FileAccess.h"
#include "platform/DirectoryEntries.h"
#include "platform/FileStatus.h"
#include "platform/TreeRemoval.h"
#include "platform/UniqueFd.h"

namespace kb::DesktopTrash {
namespace {

constexpr int maximumCandidates = 1000;
constexpr std::string_view infoSuffix = ".trashinfo";

Result<UniqueFd, SystemError> makeDirectories(const std::string& path) {
    auto fd = FileAccess::createDirectories(path, 0700);
    if (!fd) {
        if (const auto* io = std::get_if<PersistenceError::Io>(&fd.error().kind)) {
            return fail(io->error);
        }
        return fail(systemError(EINVAL, "mkdir", path));
    }
    return std::move(*fd);
}

Result<UniqueFd, SystemError> openParent(const std::string& path) {
    const auto [directory, name] = splitPath(path);
    if (name.empty()) {
        return fail(systemError(EINVAL, "open", path));
    }
    auto fd = openDirectory(directory);
    if (!fd.ok()) {
        return fail(systemError(fd.error().code, "open", directory));
    }
    return std::move(*fd);
}

std::string localDate(Date now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

std::string infoText(const std::string& path, Date now) {
    const auto url = FileURL::fromPath(path);
    const std::string encoded = url ? url->absoluteString().substr(7) : path;
    return "[Trash Info]\nPath=" + encoded + "\nDeletionDate=" + localDate(now) + "\n";
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace

std::pair<std::string, std::string> splitPath(const std::string& path) {
    const auto split = FileAccess::splitPath(path);
    return {split.directory, split.name};
}

Result<std::string, SystemError> moveToTrash(const std::string& dataHome, const std::string& path,
                                             Date now) {
    auto parent = openParent(path);
    if (!parent) {
        return fail(parent.error());
    }
    const std::string name = splitPath(path).second;
    if (const auto item = fileStatusAt(parent->get(), name); !item) {
        return fail(systemError(item.error().code, "lstat", path));
    }
    const std::string trash = dataHome + "/Trash";
    auto files = makeDirectories(trash + "/files");
    if (!files) {
        return fail(files.error());
    }
    auto info = makeDirectories(trash + "/info");
    if (!info) {
        return fail(info.error());
    }
    const std::string text = infoText(path, now);
    for (int n = 1; n <= maximumCandidates; ++n) {
        const std::string candidate = n == 1 ? name : name + "." + std::to_string(n);
        const std::string infoName = candidate + std::string(infoSuffix);
        UniqueFd infoFd(::openat(info->get(), infoName.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!infoFd) {
            if (errno == EEXIST) {
                continue;
            }
            return fail(systemError("open", trash + "/info/" + infoName));
        }
        if (!writeAll(infoFd.get(), text)) {
            const SystemError error = systemError("write", trash + "/info/" + infoName);
            ::unlinkat(info->get(), infoName.c_str(), 0);
            return fail(error);
        }
        if (::renameat2(parent->get(), name.c_str(), files->get(), candidate.c_str(),
                        RENAME_NOREPLACE) == 0) {
            return trash + "/files/" + candidate;
        }
        const int code = errno;
        ::unlinkat(info->get(), infoName.c_str(), 0);
        if (code != EEXIST) {
            return fail(systemError(code, "rename", path));
        }
    }
    return fail(systemError(EEXIST, "rename", path));
}

Result<void, SystemError> restore(const std::string& dataHome, const std::string& trashedPath,
                                  const std::string& originalPath) {
    auto from = openParent(trashedPath);
    if (!from) {
        return fail(from.error());
    }
    const auto [toDirectory, toName] = splitPath(originalPath);
    auto to = makeDirectories(toDirectory);
    if (!to) {
        return fail(to.error());
    }
    const auto [fromDirectory, fromName] = splitPath(trashedPath);
    if (::renameat2(from->get(), fromName.c_str(), to->get(), toName.c_str(), RENAME_NOREPLACE) !=
        0) {
        return fail(systemError("rename", trashedPath));
    }
    if (fromDirectory == dataHome + "/Trash/files") {
        const std::string infoPath = dataHome + "/Trash/info/" + fromName + std::string(infoSuffix);
        ::unlink(infoPath.c_str());
    }
    return {};
}

Result<void, SystemError> removeItem(const std::string& dataHome, const std::string& path) {
    auto parent = openParent(path);
    if (!parent) {
        return fail(parent.error());
    }
    const auto [directory, name] = splitPath(path);
    const auto item = fileStatusAt(parent->get(), name);
    const auto container = fileStatusOf(parent->get());
    if (!item || !container) {
        return fail(systemError(item ? container.error().code : item.error().code, "lstat", path));
    }
    if (item->isDirectory()) {
        if (item->device != container->device) {
            return fail(systemError(EXDEV, "rmdir", path));
        }
        auto removed = removeTree(parent->get(), name, item->id());
        if (!removed) {
            SystemError error = removed.error().error;
            error.path = path + (error.path.empty() ? "" : "/" + error.path);
            return fail(error);
        }
    } else if (::unlinkat(parent->get(), name.c_str(), 0) != 0) {
        return fail(systemError("unlink", path));
    }
    if (directory == dataHome + "/Trash/files") {
        ::unlink((dataHome + "/Trash/info/" + name + std::string(infoSuffix)).c_str());
    }
    return {};
}

}  // namespace kb::DesktopTrash
