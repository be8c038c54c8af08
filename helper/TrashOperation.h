// trashItems: moves each policy-approved item into the account's Trash (home + "/.Trash"),
// gives it to the account and reports where it went.
//
// The item travels through a fresh subdirectory of the root-owned staging directory: it is
// renamed there, its identity is compared with the one captured before (device, inode,
// modification time; a difference puts it back and yields raceDetected), the tree is
// re-owned there (out of the account's reach), and it is renamed into the Trash without
// ever replacing an entry (RENAME_NOREPLACE, taking the next numbered name when one is
// taken meanwhile). Across file systems the item is copied (platform/CrossVolumeMove.h).
// An item whose final move failed stays in its staging subdirectory.
#pragma once

#include <optional>

#include "HelperProtocol/HelperMessages.h"
#include "helper/ItemPipeline.h"
#include "helper/RootFileOpsSettings.h"
#include "helper/StagingDirectory.h"
#include "platform/UniqueFd.h"

namespace kb {

// On the caller's own authority only for items inside the caller's home owned by the caller
// (the Trash hands the item to the account).
HelperResponse trashItems(const HelperRequest::TrashItems& request, RequestAuthority& authority,
                          const RootFileOpsSettings& settings);

// One request's use of the staging directory. The directory is claimed and a subdirectory
// made on first use; the request's items, handled one after the other, then pass through
// that same subdirectory (each has left it before the next comes). A subdirectory in which
// an item stayed after a failed move is left alone and a fresh one is made. The last
// subdirectory is removed when the session ends. One thread at a time.
class StagingSession {
  public:
    explicit StagingSession(std::string path) : path_(std::move(path)) {}
    ~StagingSession();
    StagingSession(const StagingSession&) = delete;
    StagingSession& operator=(const StagingSession&) = delete;

    const std::string& path() const { return path_; }
    // The empty subdirectory for the next item, or the errno of the failure.
    Result<const StagingSubdirectory*, int> acquire();
    // After an item: keeps the subdirectory for the next one if `name` has left it.
    void release(const std::string& name);

  private:
    std::string path_;
    UniqueFd staging_;
    std::optional<StagingSubdirectory> current_;
};

ItemResult trashItem(const CapturedItem& item, const RootFileOps& ops, StagingSession& session);

// The same with a session of its own.
ItemResult trashItem(const CapturedItem& item, const RootFileOps& ops,
                     const RootFileOpsSettings& settings);

// The account's Trash directory, created (mode 0700, owned by the account) when absent;
// nothing when it cannot be created or is not a directory (a link to one is refused).
std::optional<UniqueFd> ensureUserTrash(const RootFileOps& ops);

}  // namespace kb
