#include "CleanerCore/scanner/RuleScanner.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>

#include "CleanerCore/model/DirectorySizer.h"
#include "platform/DirectoryEntries.h"
#include "platform/FileStatus.h"
#include "platform/PasswordDatabase.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace kb {
namespace {

using SharedFd = std::shared_ptr<const UniqueFd>;

struct Match {
    SharedFd parent;
    std::string parentPath;
    std::string name;
    bool listed = false;  // found by listing the directory, not looked up by name

    std::string path() const { return parentPath == "/" ? "/" + name : parentPath + "/" + name; }
};

bool hasWildcard(std::string_view piece) {
    return piece.find_first_of("*?[") != std::string_view::npos;
}

std::vector<std::string> splitPieces(std::string_view relative) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= relative.size()) {
        const auto end = std::min(relative.find('/', start), relative.size());
        if (end > start) {
            pieces.emplace_back(relative.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

// The base directory and the pieces below it, or nothing for a pattern of unknown form.
std::optional<std::pair<std::string, std::vector<std::string>>> locate(std::string_view pattern,
                                                                       const ScanAccount& account) {
    const std::pair<std::string_view, const std::string*> bases[] = {
        {"~/", &account.home},
        {"$XDG_CACHE_HOME/", &account.cacheHome},
        {"$XDG_CONFIG_HOME/", &account.configHome},
        {"$XDG_DATA_HOME/", &account.dataHome},
    };
    for (const auto& [prefix, base] : bases) {
        if (pattern.starts_with(prefix)) {
            if (base->empty() || base->front() != '/') {
                return std::nullopt;
            }
            return std::pair{*base, splitPieces(pattern.substr(prefix.size()))};
        }
    }
    if (pattern.starts_with("/")) {
        return std::pair{std::string("/"), splitPieces(pattern)};
    }
    return std::nullopt;
}

class Expansion {
  public:
    Expansion(std::vector<Match>& matches, ScanResult& result)
        : matches_(matches), result_(result) {}

    void run(const SharedFd& directory, const std::string& path,
             const std::vector<std::string>& pieces, std::size_t index) {
        const std::string& piece = pieces[index];
        const bool last = index + 1 == pieces.size();
        std::vector<std::string> names;
        if (hasWildcard(piece)) {
            reader_.start(directory->get());
            while (const auto entry = reader_.next()) {
                if (::fnmatch(piece.c_str(), entry->name, 0) == 0) {
                    names.emplace_back(entry->name);
                }
            }
            if (reader_.failed()) {
                result_.errors.push_back(path + ": " + errorText(EIO));
            }
            std::sort(names.begin(), names.end());
        } else {
            names.push_back(piece);
        }
        for (auto& name : names) {
            Match match{directory, path, std::move(name), hasWildcard(piece)};
            if (last) {
                matches_.push_back(std::move(match));
                continue;
            }
            auto child = openDirectoryAt(directory->get(), match.name.c_str());
            if (!child.ok()) {
                unreadable(match.path(), child.error().code);
                continue;
            }
            run(std::make_shared<const UniqueFd>(std::move(*child)), match.path(), pieces,
                index + 1);
        }
    }

    // A directory on the way that cannot be opened: gone or not a directory is nothing,
    // no permission is for the helper, anything else an error.
    void unreadable(const std::string& path, int code) {
        if (code == EACCES || code == EPERM) {
            if (const auto url = FileURL::fromPath(path, FileURL::Kind::directory)) {
                result_.skipped.push_back({*url, SkipReason::needsHelper()});
            }
        } else if (code != ENOENT && code != ENOTDIR && code != ELOOP) {
            result_.errors.push_back(path + ": " + errorText(code));
        }
    }

  private:
    std::vector<Match>& matches_;
    ScanResult& result_;
    DirectoryReader reader_;
};

bool isExcluded(const CleanRule& rule, const std::string& name, const std::string& path) {
    return std::any_of(rule.excludes.begin(), rule.excludes.end(), [&](const std::string& p) {
        const bool wholePath = p.find('/') != std::string::npos;
        return ::fnmatch(p.c_str(), wholePath ? path.c_str() : name.c_str(), 0) == 0;
    });
}

Date modificationDate(const FileStatus& status) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(status.modificationTime) +
            std::chrono::nanoseconds(status.modificationNanoseconds)));
}

bool mayWriteAndSearch(const ScanAccount& account, const FileStatus& directory) {
    if (account.uid == 0) {
        return true;
    }
    mode_t wanted = S_IWOTH | S_IXOTH;
    if (directory.ownerUID == account.uid) {
        wanted = S_IWUSR | S_IXUSR;
    } else if (std::find(account.groups.begin(), account.groups.end(), directory.groupID) !=
               account.groups.end()) {
        wanted = S_IWGRP | S_IXGRP;
    }
    return (directory.mode & wanted) == wanted;
}

// The process that makes the whole rule busy, if any.
std::optional<std::string> ruleBusyWith(const BusyCheck& busy, ProcessTable& processes) {
    if (const auto* running = std::get_if<BusyCheck::ProcessRunning>(&busy.kind)) {
        for (const auto& name : running->processNames) {
            if (processes.findByName(name)) {
                return name;
            }
        }
    } else if (std::holds_alternative<BusyCheck::GradleDaemon>(busy.kind)) {
        if (processes.findGradleDaemon()) {
            return "GradleDaemon";
        }
    } else if (std::holds_alternative<BusyCheck::DockerRunning>(busy.kind)) {
        for (const char* name : {"dockerd", "containerd"}) {
            if (processes.findByName(name)) {
                return std::string(name);
            }
        }
    }
    return std::nullopt;
}

bool checksOpenHandles(const BusyCheck& busy) {
    return std::holds_alternative<BusyCheck::OpenHandle>(busy.kind) ||
           std::holds_alternative<BusyCheck::SqliteLive>(busy.kind) ||
           std::holds_alternative<BusyCheck::OwningApplication>(busy.kind);
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? UINT64_MAX : sum;
}

}  // namespace

ScanAccount ScanAccount::withDefaults(uid_t uid, std::string home) {
    ScanAccount account;
    account.uid = uid;
    account.cacheHome = home + "/.cache";
    account.configHome = home + "/.config";
    account.dataHome = home + "/.local/share";
    if (const auto entry = lookUpAccount(uid)) {
        int count = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        if (::getgrouplist(entry->name.c_str(), entry->gid, groups.data(), &count) < 0) {
            groups.resize(static_cast<std::size_t>(count));
            ::getgrouplist(entry->name.c_str(), entry->gid, groups.data(), &count);
        }
        groups.resize(static_cast<std::size_t>(std::max(count, 0)));
        groups.insert(groups.begin(), entry->gid);
        account.groups = std::move(groups);
    }
    account.home = std::move(home);
    return account;
}

ScanAccount ScanAccount::fromEnvironment(uid_t uid, std::string home) {
    ScanAccount account = withDefaults(uid, std::move(home));
    const std::pair<const char*, std::string*> variables[] = {
        {"XDG_CACHE_HOME", &account.cacheHome},
        {"XDG_CONFIG_HOME", &account.configHome},
        {"XDG_DATA_HOME", &account.dataHome},
    };
    for (const auto& [name, target] : variables) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] == '/') {
            *target = value;
        }
    }
    return account;
}

bool accountCanDelete(const ScanAccount& account, const FileStatus& directory,
                      const FileStatus& item) {
    if (account.uid == 0) {
        return true;
    }
    if (!mayWriteAndSearch(account, directory)) {
        return false;
    }
    if ((directory.mode & S_ISVTX) != 0 && item.ownerUID != account.uid &&
        directory.ownerUID != account.uid) {
        return false;
    }
    return !item.isDirectory() || item.ownerUID == account.uid;
}

Result<ScanResult, CleanerError> scanRule(const CleanRule& rule, const ScanAccount& account,
                                          ProcessTable& processes, const ScanOptions& options) {
    ScanResult result{rule.id, {}, {}, {}};
    const auto* globs = std::get_if<RuleProvider::Globs>(&rule.provider.kind);
    if (globs == nullptr) {
        result.errors.push_back("rule " + rule.id + ": the builtin provider is not available");
        return result;
    }
    std::vector<Match> matches;
    Expansion expansion(matches, result);
    for (const auto& pattern : globs->patterns) {
        const auto location = locate(pattern, account);
        if (!location) {
            result.errors.push_back(pattern + ": not a location this scanner knows");
            continue;
        }
        auto base = openDirectory(location->first);
        if (!base.ok()) {
            expansion.unreadable(location->first, base.error().code);
            continue;
        }
        if (location->second.empty()) {
            continue;
        }
        expansion.run(std::make_shared<const UniqueFd>(std::move(*base)), location->first,
                      location->second, 0);
    }
    std::sort(matches.begin(), matches.end(),
              [](const Match& a, const Match& b) { return a.path() < b.path(); });
    matches.erase(std::unique(matches.begin(), matches.end(),
                              [](const Match& a, const Match& b) { return a.path() == b.path(); }),
                  matches.end());

    const auto busyWith = ruleBusyWith(rule.busy, processes);
    ScanProgress progress;
    // Siblings share their parent's descriptor and lie next to each other once sorted: the
    // parent's status is read once for a run of them.
    SharedFd statusOwner;
    std::optional<Result<FileStatus, SystemError>> parentStatus;
    for (const auto& match : matches) {
        if (options.stop.stop_requested()) {
            return fail(CleanerError::cancelled());
        }
        const std::string path = match.path();
        if (isExcluded(rule, match.name, path)) {
            continue;
        }
        const auto itemStatus = fileStatusAt(match.parent->get(), match.name);
        if (!itemStatus) {
            if (itemStatus.error().code != ENOENT) {
                result.errors.push_back(path + ": " + errorText(itemStatus.error().code));
            } else if (const auto url = FileURL::fromPath(path); url && match.listed) {
                result.skipped.push_back({*url, SkipReason::absent()});
            }
            continue;
        }
        const FileStatus& item = *itemStatus;
        const bool isDirectory = item.isDirectory();
        const auto url =
            FileURL::fromPath(path, isDirectory ? FileURL::Kind::directory : FileURL::Kind::file);
        if (!url) {
            continue;
        }
        if (match.parent != statusOwner) {
            statusOwner = match.parent;
            parentStatus = fileStatusOf(match.parent->get());
        }
        const auto& directoryStatus = *parentStatus;
        if (!directoryStatus) {
            result.errors.push_back(match.parentPath + ": " +
                                    errorText(directoryStatus.error().code));
            continue;
        }
        const FileStatus& directory = *directoryStatus;
        if (isDirectory && (item.device != directory.device || item.mountRoot)) {
            continue;
        }
        const Date modified = modificationDate(item);
        if (rule.minimumAge && secondsBetween(modified, options.now) < *rule.minimumAge) {
            continue;
        }
        if (!rule.requiresRoot && !accountCanDelete(account, directory, item)) {
            result.skipped.push_back({*url, SkipReason::needsHelper()});
            continue;
        }
        std::optional<std::string> holder = busyWith;
        if (!holder && checksOpenHandles(rule.busy)) {
            holder = processes.holderOf(path);
        }
        if (holder) {
            result.skipped.push_back({*url, SkipReason::busy(*holder)});
            continue;
        }
        std::uint64_t size = 0;
        if (isDirectory) {
            auto sized = DirectorySizer::allocatedSize(
                path, options.stop, {}, DirectorySizer::MountCrossing::stayOnFileSystem);
            if (!sized) {
                return fail(sized.error());
            }
            size = *sized;
        } else if (item.isRegular()) {
            size = item.blocks * 512;
        }
        result.items.push_back(ScannedItem{*url, size, modified, isDirectory});
        ++progress.items;
        progress.bytes = saturatingAdd(progress.bytes, size);
        if (options.progress) {
            options.progress(progress);
        }
    }
    return result;
}

}  // namespace kb
