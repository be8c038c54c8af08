#include "helper/StagingRecovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "HelperProtocol/HelperValidation.h"
#include "helper/Logger.h"
#include "helper/StagingDirectory.h"
#include "helper/StagingRecord.h"
#include "helper/TrashNaming.h"
#include "helper/TrashOperation.h"
#include "platform/BeneathResolution.h"
#include "platform/CrossVolumeMove.h"
#include "platform/DirectoryEntries.h"
#include "platform/PasswordDatabase.h"

namespace kb {
namespace {

std::vector<std::string> entriesOf(int dirFd) {
    std::vector<std::string> names;
    DirectoryReader reader;
    reader.start(dirFd);
    while (auto entry = reader.next()) {
        names.emplace_back(entry->name);
    }
    return names;
}

// Re-owns the entry `name` of `fromFd` to the account and moves it into the account's Trash
// (a copy when the Trash is on another file system); the path it went to, or why not.
Result<std::string, std::string> intoAccountTrash(int fromFd, const std::string& name,
                                                  const RootFileOps& ops,
                                                  const std::string& shownPath) {
    auto status = fileStatusAt(fromFd, name);
    if (!status) {
        return fail(status.error().message());
    }
    logReown(reownTree(fromFd, name, status->id(), ops.uid, ops.gid, ops.foreignEntries),
             shownPath);
    auto trash = ensureUserTrash(ops);
    if (!trash) {
        return fail(std::string("the account's Trash cannot be used"));
    }
    const std::string trashPath = ops.home + "/.Trash/";
    auto placed = moveUnderFreeName(fromFd, name, trash->get());
    if (placed) {
        return trashPath + *placed;
    }
    if (placed.error() != EXDEV) {
        return fail(errorText(placed.error()));
    }
    auto moved = moveAcrossVolumes(fromFd, name, status->id(), trash->get(),
                                   [&name](std::size_t index) -> std::optional<std::string> {
                                       if (index >= maximumTrashCandidates) {
                                           return std::nullopt;
                                       }
                                       return trashCandidate(name, index + 1);
                                   });
    if (!moved) {
        return fail(moved.error().message());
    }
    return trashPath + moved->name;
}

struct FoundSubdirectory {
    UniqueFd trash;
    UniqueFd sub;
    std::string name;
};

std::optional<FoundSubdirectory> findSubdirectory(const StagingRecord& record) {
    auto trash = openNoSymlinks(AT_FDCWD, record.trash, O_RDONLY | O_DIRECTORY);
    if (!trash) {
        return std::nullopt;
    }
    auto openChecked = [&](const std::string& name) -> std::optional<UniqueFd> {
        UniqueFd fd(
            ::openat(trash->get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        auto status = fd ? fileStatusOf(fd.get()) : fail(systemError("open", name));
        if (!status || status->id() != record.stagingId || !isRootPrivateDirectory(fd.get())) {
            return std::nullopt;
        }
        return fd;
    };
    std::vector<std::string> names{record.staging};
    for (const std::string& name : entriesOf(trash->get())) {
        if (isStagingName(name) && name != record.staging) {
            names.push_back(name);
        }
    }
    for (const std::string& name : names) {
        if (auto fd = openChecked(name)) {
            return FoundSubdirectory{std::move(*trash), std::move(*fd), name};
        }
    }
    return std::nullopt;
}

// Empties the subdirectory of `record`; false when something had to stay.
bool recover(const StagingRecord& record, const FoundSubdirectory& found) {
    bool emptied = true;
    const RootFileOps ops{record.uid, record.gid, record.home, record.foreign};
    for (const std::string& name : entriesOf(found.sub.get())) {
        const std::string shown = record.trash + "/" + found.name + "/" + name;
        if (record.contents == StagingRecord::Contents::copy) {
            auto status = fileStatusAt(found.sub.get(), name);
            if (status && removeOriginal(found.sub.get(), name, status->id())) {
                operationsLogger().notice("deleted an unfinished copy of " +
                                          escapeForLog(record.originalOf(name)) +
                                          "; the original is in place");
                continue;
            }
            operationsLogger().error("could not delete the unfinished copy " + escapeForLog(shown));
            emptied = false;
            continue;
        }
        auto moved = intoAccountTrash(found.sub.get(), name, ops, shown);
        if (moved) {
            operationsLogger().notice("recovered " + escapeForLog(record.originalOf(name)) +
                                      " from staging: moved to " + escapeForLog(*moved));
        } else {
            operationsLogger().error("could not recover " + escapeForLog(record.originalOf(name)) +
                                     " from " + escapeForLog(shown) + ": " + moved.error());
            emptied = false;
        }
    }
    if (emptied) {
        ::unlinkat(found.trash.get(), found.name.c_str(), AT_REMOVEDIR);
    }
    return emptied;
}

void recoverRecorded(const std::string& stateDirectory) {
    auto records = StagingRecords::open(stateDirectory);
    if (!records) {
        operationsLogger().error("cannot read staging records in " + stateDirectory + ": " +
                                 records.error().describe());
        return;
    }
    for (const std::string& staging : records->list()) {
        auto record = records->read(staging);
        if (!record) {
            operationsLogger().error("dropped the unreadable staging record of " + staging);
            records->remove(staging);
            continue;
        }
        auto found = findSubdirectory(*record);
        if (!found) {
            // Nothing moved in before the helper ended, or the account removed it since.
            records->remove(staging);
            continue;
        }
        if (recover(*record, *found)) {
            records->remove(staging);
        }
    }
}

void emptyLegacySubdirectory(int legacyFd, const std::string& legacyPath,
                             const std::string& subName) {
    UniqueFd sub(
        ::openat(legacyFd, subName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sub) {
        return;
    }
    for (const std::string& name : entriesOf(sub.get())) {
        const std::string shown = legacyPath + "/" + subName + "/" + name;
        auto status = fileStatusAt(sub.get(), name);
        auto account = status && status->ownerUID >= HelperValidation::minimumUserUID
                           ? lookUpAccount(status->ownerUID)
                           : std::nullopt;
        if (!account || account->home.empty()) {
            operationsLogger().error("left " + escapeForLog(shown) +
                                     " in the old staging directory: its " + "account is unknown");
            continue;
        }
        // Nothing says on whose authority an item of the old directory was being trashed:
        // other accounts' entries in it keep their owner.
        auto moved = intoAccountTrash(
            sub.get(), name,
            {account->uid, account->gid, account->home, ForeignEntries::keepTheirOwner}, shown);
        if (moved) {
            operationsLogger().notice("recovered " + escapeForLog(shown) +
                                      " from the old staging directory: " + "moved to " + *moved);
        } else {
            operationsLogger().error("could not recover " + shown + ": " + moved.error());
        }
    }
    ::unlinkat(legacyFd, subName.c_str(), AT_REMOVEDIR);
}

void emptyLegacyDirectory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        return;
    }
    UniqueFd parent(
        ::open(slash == 0 ? "/" : path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const std::string name = path.substr(slash + 1);
    UniqueFd legacy(parent ? ::openat(parent.get(), name.c_str(),
                                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                           : -1);
    if (!legacy || !isRootPrivateDirectory(legacy.get())) {
        return;
    }
    for (const std::string& sub : entriesOf(legacy.get())) {
        emptyLegacySubdirectory(legacy.get(), path, sub);
    }
    if (::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) == 0) {
        operationsLogger().notice("removed the old staging directory " + path);
    }
}

}  // namespace

void recoverStaging(const RootFileOpsSettings& settings) {
    recoverRecorded(settings.stateDirectory);
    emptyLegacyDirectory(settings.stagingDirectory);
}

}  // namespace kb
