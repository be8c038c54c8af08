#include "helper/TrashOperation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "helper/Logger.h"
#include "helper/TrashNaming.h"
#include "platform/CrossVolumeMove.h"
#include "platform/TreeOwnership.h"

namespace kb {
namespace {

const char trashName[] = ".Trash";

ObjectId objectOf(const StatIdentity& identity) {
    return {identity.device, identity.inode};
}

void logReown(const ReownReport& report, const std::string& path) {
    if (report.firstError) {
        operationsLogger().error("could not re-own " + path + ": errno " +
                                 std::to_string(report.firstError->code));
    }
    for (const std::string& relative : report.skippedHardLinks) {
        operationsLogger().error("left the owner of " +
                                 (relative.empty() ? path : path + "/" + relative) +
                                 " unchanged: it is another account's file with other hard links");
    }
    if (report.skippedCount > report.skippedHardLinks.size()) {
        operationsLogger().error(
            "left the owner of " +
            std::to_string(report.skippedCount - report.skippedHardLinks.size()) +
            " more hard-linked files in " + path + " unchanged");
    }
}

struct Destination {
    UniqueFd trash;
    std::size_t firstCandidate = 1;
};

class TrashMove {
  public:
    TrashMove(const CapturedItem& item, const RootFileOps& ops, Destination destination)
        : item_(item), ops_(ops), destination_(std::move(destination)) {}

    std::string trashPath(const std::string& candidate) const {
        return ops_.home + "/" + trashName + "/" + candidate;
    }

    ItemResult result(ItemOutcome outcome, std::optional<std::string> trashedPath = {}) const {
        return ItemResult{item_.path, std::move(outcome), std::move(trashedPath)};
    }

    ItemResult noFreeName() const {
        return result(ItemOutcome::failed(
            EEXIST, "no free name for this item in " + ops_.home + "/" + trashName));
    }

    DestinationNames namesFrom(std::size_t first) const {
        const std::string name = item_.parent.name;
        return [name, first](std::size_t index) -> std::optional<std::string> {
            const std::size_t n = first + index;
            if (n > maximumTrashCandidates) {
                return std::nullopt;
            }
            return trashCandidate(name, n);
        };
    }

    // Copies the entry `name` of `fromFd` into the Trash; `shownPath` names it in logs.
    ItemResult copyIntoTrash(int fromFd, const std::string& name, ObjectId id,
                             std::size_t firstCandidate) {
        auto moved = moveAcrossVolumes(fromFd, name, id, destination_.trash.get(),
                                       namesFrom(firstCandidate));
        if (!moved) {
            if (moved.error().kind == MoveFailure::Kind::noFreeName) {
                return noFreeName();
            }
            return result(ItemOutcome::failed(EXDEV, moved.error().message()));
        }
        const std::string destination = trashPath(moved->name);
        if (moved->originalLeft) {
            operationsLogger().error(
                "moved " + item_.resolvedPath + " to " + destination +
                " but could not delete the original: " + moved->originalLeft->describe());
        }
        logReown(reownTree(destination_.trash.get(), moved->name, moved->id, ops_.uid, ops_.gid),
                 destination);
        return result(ItemOutcome::ok(), destination);
    }

    // Renames the staged item into the Trash, taking the next free name on EEXIST.
    ItemResult placeStaged(const StagingSubdirectory& sub) {
        const std::string& name = item_.parent.name;
        for (std::size_t n = destination_.firstCandidate; n <= maximumTrashCandidates; ++n) {
            const std::string candidate = trashCandidate(name, n);
            if (::renameat2(sub.fd.get(), name.c_str(), destination_.trash.get(), candidate.c_str(),
                            RENAME_NOREPLACE) == 0) {
                return result(ItemOutcome::ok(), trashPath(candidate));
            }
            if (errno == EXDEV) {
                return copyIntoTrash(sub.fd.get(), name, objectOf(item_.identity), n);
            }
            if (errno != EEXIST) {
                return result(failedOutcome(errno));
            }
        }
        return noFreeName();
    }

    ItemResult run(StagingSession& session) {
        const std::string& name = item_.parent.name;
        const int parentFd = item_.parent.fd.get();
        auto acquired = session.acquire();
        if (!acquired) {
            return result(failedOutcome(acquired.error()));
        }
        const StagingSubdirectory& sub = **acquired;
        if (::renameat2(parentFd, name.c_str(), sub.fd.get(), name.c_str(), RENAME_NOREPLACE) !=
            0) {
            const int e = errno;
            session.release(name);
            if (e == EXDEV) {
                return copyIntoTrash(parentFd, name, objectOf(item_.identity),
                                     destination_.firstCandidate);
            }
            return result(failedOutcome(e));
        }
        const std::string stagedPath = session.path() + "/" + sub.name + "/" + name;
        auto staged = StatIdentity::capture(sub.fd.get(), name, stagedPath);
        if (!staged || !staged->has_value() || !(*staged)->matches(item_.identity)) {
            // Not the item that was checked: put it back, never over something new.
            ::renameat2(sub.fd.get(), name.c_str(), parentFd, name.c_str(), RENAME_NOREPLACE);
            session.release(name);
            return result(ItemOutcome::raceDetected());
        }
        logReown(reownTree(sub.fd.get(), name, objectOf(**staged), ops_.uid, ops_.gid), stagedPath);
        ItemResult placed = placeStaged(sub);
        session.release(name);
        return placed;
    }

  private:
    const CapturedItem& item_;
    const RootFileOps& ops_;
    Destination destination_;
};

}  // namespace

std::optional<UniqueFd> ensureUserTrash(const RootFileOps& ops) {
    UniqueFd home(::open(ops.home.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!home) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstatat(home.get(), trashName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            return std::nullopt;
        }
    } else if (::mkdirat(home.get(), trashName, 0700) == 0) {
        UniqueFd made(
            ::openat(home.get(), trashName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!made || ::fchown(made.get(), ops.uid, ops.gid) != 0) {
            return std::nullopt;
        }
        return made;
    } else if (errno != EEXIST) {
        return std::nullopt;
    }
    // Present, or made a moment ago by a concurrent request: used only if it is a directory
    // (O_NOFOLLOW | O_DIRECTORY refuse anything else).
    UniqueFd trash(
        ::openat(home.get(), trashName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!trash) {
        return std::nullopt;
    }
    return trash;
}

StagingSession::~StagingSession() {
    if (current_) {
        ::unlinkat(staging_.get(), current_->name.c_str(), AT_REMOVEDIR);
    }
}

Result<const StagingSubdirectory*, int> StagingSession::acquire() {
    if (!staging_) {
        auto claimed = claimStagingDirectory(path_);
        if (!claimed) {
            return fail(claimed.error());
        }
        staging_ = std::move(*claimed);
    }
    if (!current_) {
        auto made = makeStagingSubdirectory(staging_.get());
        if (!made) {
            return fail(made.error());
        }
        current_ = std::move(*made);
    }
    return &*current_;
}

void StagingSession::release(const std::string& name) {
    struct stat st {};
    if (current_ && ::fstatat(current_->fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        // The item stays here after a failed move; the next item gets a new subdirectory.
        current_.reset();
    }
}

ItemResult trashItem(const CapturedItem& item, const RootFileOps& ops,
                     const RootFileOpsSettings& settings) {
    StagingSession session(settings.stagingDirectory);
    return trashItem(item, ops, session);
}

ItemResult trashItem(const CapturedItem& item, const RootFileOps& ops, StagingSession& session) {
    auto trash = ensureUserTrash(ops);
    std::optional<std::size_t> first;
    if (trash) {
        first = firstFreeCandidate(trash->get(), item.parent.name);
    }
    if (!first) {
        return ItemResult{item.path,
                          ItemOutcome::failed(EEXIST, "no free name for this item in " + ops.home +
                                                          "/" + trashName),
                          std::nullopt};
    }
    return TrashMove(item, ops, Destination{std::move(*trash), *first}).run(session);
}

HelperResponse trashItems(const HelperRequest::TrashItems& request, RequestAuthority& authority,
                          const RootFileOpsSettings& settings) {
    StagingSession session(settings.stagingDirectory);
    return runItemPipeline(
        request.paths, request.uid,
        [&](CapturedItem& item, const RootFileOps& ops) { return trashItem(item, ops, session); },
        {"trashItems", AuditEvent::itemTrashed, OwnItems::ownedByCaller}, authority);
}

}  // namespace kb
