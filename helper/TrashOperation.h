// trashItems: moves each policy-approved item into the account's Trash (home + "/.Trash"),
// gives it to the account and reports where it went.
//
// Each item travels through a root-only staging subdirectory inside the Trash
// (StagingDirectory.h), recorded for recovery before anything moves (StagingSession.h):
// - On the Trash's file system the item is renamed into it, its identity compared with the
//   one captured before (device, inode, modification time; a difference puts it back and
//   yields raceDetected), the tree re-owned there, out of the account's reach, and renamed
//   into the Trash without ever replacing an entry (RENAME_NOREPLACE, taking the next free
//   name when one is taken meanwhile).
// - From another file system it is copied into the subdirectory, handed to the account by
//   the copy (CrossVolumeMove.h), renamed into the Trash, and only then is the original
//   deleted. A failed copy leaves the original in place.
// The hard-link rule holds on both ways: a regular file with more than one link that
// another account owns keeps its owner (and its copy too).
//
// An item is never left in staging: when anything fails after it left its place it is put
// back into its directory (RENAME_NOREPLACE) or, when that name is taken, into the Trash
// under a free name; the result is `failed` with the errno of the first failure (or
// raceDetected) and carries `trashedPath` when the item went to the Trash. Only when even
// that fails does it stay, logged, for the start-up recovery (StagingRecovery.h).
#pragma once

#include <optional>
#include <string>

#include "HelperProtocol/WireMessages.h"
#include "helper/ItemPipeline.h"
#include "helper/RootFileOpsSettings.h"
#include "helper/StagingSession.h"
#include "platform/TreeOwnership.h"
#include "platform/UniqueFd.h"

namespace kb {

// On the caller's own authority only for items inside the caller's home owned by the caller
// (the Trash hands the item to the account).
HelperResponse trashItems(const HelperRequest::TrashItems& request, RequestAuthority& authority,
                          const RootFileOpsSettings& settings);

// What the items of one trashItems request share: the staging session (StagingSession.h)
// and the account's Trash, opened once and, for every later item, used again only while
// HOME/.Trash still is that directory (same device and inode, not a link). One thread.
class TrashRequest {
  public:
    explicit TrashRequest(std::string stateDirectory) : session(std::move(stateDirectory)) {}

    // The account's Trash as ensureUserTrash gives it (owned here); -1 when there is none.
    int trashOf(const RootFileOps& ops);
    // The device and inode of the Trash trashOf gave last.
    const ObjectId& trashId() const { return trashId_; }

    StagingSession session;

  private:
    std::string home_;
    UniqueFd trash_;
    ObjectId trashId_;
};

// One item of `request`.
ItemResult trashItem(const CapturedItem& item, const RootFileOps& ops, TrashRequest& request);

// The same with a session of its own.
ItemResult trashItem(const CapturedItem& item, const RootFileOps& ops,
                     const RootFileOpsSettings& settings);

// The account's Trash directory, created (mode 0700, owned by the account) when absent;
// nothing when it cannot be created or is not a directory (a link to one is refused).
std::optional<UniqueFd> ensureUserTrash(const RootFileOps& ops);

// Logs (category operations, error level) what a re-own of `path` could not do.
void logReown(const ReownReport& report, const std::string& path);

}  // namespace kb
