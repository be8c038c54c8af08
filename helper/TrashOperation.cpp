#include "helper/TrashOperation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "helper/Logger.h"
#include "helper/StagingSession.h"
#include "helper/TrashNaming.h"
#include "platform/CrossVolumeMove.h"
#include "platform/FileStatus.h"

namespace kb {
namespace {

const char trashName[] = ".Trash";

ObjectId objectOf(const StatIdentity& identity) {
    return {identity.device, identity.inode};
}

class TrashMove {
  public:
    TrashMove(const CapturedItem& item, const RootFileOps& ops, int trash, const ObjectId& trashId,
              std::size_t firstCandidate, StagingSession& session)
        : item_(item),
          ops_(ops),
          trash_(trash),
          trashId_(trashId),
          firstCandidate_(firstCandidate),
          session_(session) {}

    ItemResult run() {
        ItemResult result = moveOrCopy();
        session_.release(left_);
        return result;
    }

  private:
    const std::string& name() const { return item_.parent.name; }

    std::string trashPath(const std::string& candidate) const {
        return ops_.home + "/" + trashName + "/" + candidate;
    }

    std::string stagedPath() const { return trashPath(sub_->name) + "/" + name(); }

    ItemResult result(ItemOutcome outcome, std::optional<std::string> trashedPath = {}) const {
        return ItemResult{item_.path, std::move(outcome), std::move(trashedPath)};
    }

    // Takes a recorded staging subdirectory; false (logged) when none can be had.
    bool stage(StagingRecord::Contents contents) {
        auto acquired =
            session_.acquire(contents, trash_, trashId_, ops_, item_.resolvedPath, name());
        if (!acquired) {
            operationsLogger().error("cannot stage " + escapeForLog(item_.resolvedPath) + ": " +
                                     acquired.error().describe());
            error_ = acquired.error().code;
            return false;
        }
        sub_ = *acquired;
        return true;
    }

    ItemOutcome placingFailed(int errnum) const {
        if (errnum == EEXIST) {
            return ItemOutcome::failed(
                EEXIST, "no free name for this item in " + ops_.home + "/" + trashName);
        }
        return failedOutcome(errnum);
    }

    ItemResult moveOrCopy() {
        if (!stage(StagingRecord::Contents::item)) {
            return result(failedOutcome(error_));
        }
        if (::renameat2(item_.parent.fd.get(), name().c_str(), sub_->fd.get(), name().c_str(),
                        RENAME_NOREPLACE) != 0) {
            if (errno != EXDEV) {
                return result(failedOutcome(errno));
            }
            session_.release(StagingSession::Left::certainly);
            return copy();
        }
        auto staged = StatIdentity::capture(sub_->fd.get(), name(), stagedPath());
        if (!staged || !staged->has_value() || !(*staged)->matches(item_.identity)) {
            // Not the item that was checked: it goes back untouched.
            return withdraw(ItemOutcome::raceDetected());
        }
        logReown(reownTree(sub_->fd.get(), name(), objectOf(**staged), ops_.uid, ops_.gid,
                           ops_.foreignEntries),
                 stagedPath());
        auto placed = moveUnderFreeName(sub_->fd.get(), name(), trash_, firstCandidate_);
        if (!placed) {
            return withdraw(placingFailed(placed.error()));
        }
        return result(ItemOutcome::ok(), trashPath(*placed));
    }

    // The copy is made inside the staging subdirectory, where nobody else can reach it, and
    // the original is deleted only once the copy is in the Trash.
    ItemResult copy() {
        if (!stage(StagingRecord::Contents::copy)) {
            return result(failedOutcome(error_));
        }
        const ObjectId original = objectOf(item_.identity);
        auto copied = copyItem(item_.parent.fd.get(), name(), original, sub_->fd.get(), name(),
                               CopyAccount{ops_.uid, ops_.gid, ops_.foreignEntries});
        if (!copied) {
            return result(ItemOutcome::failed(
                EXDEV, MoveFailure{MoveFailure::Kind::failed, copied.error()}.message()));
        }
        logReown(copied->kept, stagedPath());
        auto placed = moveUnderFreeName(sub_->fd.get(), name(), trash_, firstCandidate_);
        if (!placed) {
            (void)removeOriginal(sub_->fd.get(), name(), copied->id);
            return result(placingFailed(placed.error()));
        }
        const std::string destination = trashPath(*placed);
        if (auto removed = removeOriginal(item_.parent.fd.get(), name(), original); !removed) {
            operationsLogger().error(
                "moved " + escapeForLog(item_.resolvedPath) + " to " + escapeForLog(destination) +
                " but could not delete the original: " + removed.error().describe());
        }
        return result(ItemOutcome::ok(), destination);
    }

    // After a failure with the item inside the staging subdirectory: back into its
    // directory, or into the Trash when its name there is taken meanwhile.
    ItemResult withdraw(ItemOutcome outcome) {
        if (::renameat2(sub_->fd.get(), name().c_str(), item_.parent.fd.get(), name().c_str(),
                        RENAME_NOREPLACE) == 0) {
            return result(std::move(outcome));
        }
        auto placed = moveUnderFreeName(sub_->fd.get(), name(), trash_);
        if (placed) {
            return result(std::move(outcome), trashPath(*placed));
        }
        left_ = StagingSession::Left::checkFirst;
        operationsLogger().error("could not put " + escapeForLog(item_.resolvedPath) +
                                 " back nor into " + ops_.home + "/" + trashName + ": " +
                                 errorText(placed.error()) + "; it waits in " +
                                 escapeForLog(stagedPath()) + " for the next start");
        return result(std::move(outcome));
    }

    const CapturedItem& item_;
    const RootFileOps& ops_;
    int trash_;
    ObjectId trashId_;
    std::size_t firstCandidate_;
    StagingSession& session_;
    // Whether the item has surely left the staging subdirectory when the move ends.
    StagingSession::Left left_ = StagingSession::Left::certainly;
    const StagingSubdirectory* sub_ = nullptr;
    int error_ = 0;
};

}  // namespace

void logReown(const ReownReport& report, const std::string& path) {
    if (report.firstError) {
        operationsLogger().error("could not re-own " + escapeForLog(path) + ": errno " +
                                 std::to_string(report.firstError->code));
    }
    for (const std::string& relative : report.keptOwner) {
        operationsLogger().error("left the owner of " +
                                 escapeForLog(relative.empty() ? path : path + "/" + relative) +
                                 " unchanged: it belongs to another account");
    }
    if (report.skippedCount > report.keptOwner.size()) {
        operationsLogger().error(
            "left the owner of " + std::to_string(report.skippedCount - report.keptOwner.size()) +
            " more entries of other accounts in " + escapeForLog(path) + " unchanged");
    }
}

std::optional<UniqueFd> ensureUserTrash(const RootFileOps& ops) {
    UniqueFd home(::open(ops.home.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!home) {
        return std::nullopt;
    }
    if (const auto st = fileStatusAt(home.get(), trashName)) {
        if (!st->isDirectory()) {
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

int TrashRequest::trashOf(const RootFileOps& ops) {
    // Looked up through the home's path, as a fresh open would, not through a descriptor
    // of the home as it was.
    if (trash_ && home_ == ops.home) {
        auto status = fileStatusAt(AT_FDCWD, home_ + "/" + trashName);
        if (status && status->id() == trashId_) {
            return trash_.get();
        }
    }
    trash_.reset();
    home_ = ops.home;
    auto trash = ensureUserTrash(ops);
    if (!trash) {
        return -1;
    }
    auto status = fileStatusOf(trash->get());
    if (!status) {
        return -1;
    }
    trashId_ = status->id();
    trash_ = std::move(*trash);
    return trash_.get();
}

ItemResult trashItem(const CapturedItem& item, const RootFileOps& ops, TrashRequest& request) {
    const int trash = request.trashOf(ops);
    std::optional<std::size_t> first;
    if (trash >= 0) {
        first = firstFreeCandidate(trash, item.parent.name);
    }
    if (!first) {
        return ItemResult{item.path,
                          ItemOutcome::failed(EEXIST, "no free name for this item in " + ops.home +
                                                          "/" + trashName),
                          std::nullopt};
    }
    return TrashMove(item, ops, trash, request.trashId(), *first, request.session).run();
}

ItemResult trashItem(const CapturedItem& item, const RootFileOps& ops,
                     const RootFileOpsSettings& settings) {
    TrashRequest request(settings.stateDirectory);
    return trashItem(item, ops, request);
}

HelperResponse trashItems(const HelperRequest::TrashItems& request, RequestAuthority& authority,
                          const RootFileOpsSettings& settings) {
    TrashRequest shared(settings.stateDirectory);
    return runItemPipeline(
        request.paths, request.uid,
        [&](CapturedItem& item, const RootFileOps& ops) { return trashItem(item, ops, shared); },
        {"trashItems", AuditEvent::itemTrashed, OwnItems::ownedByCaller}, authority);
}

}  // namespace kb
