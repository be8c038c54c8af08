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
#include "platform/UniqueFd.h"

namespace kb {

HelperResponse trashItems(const HelperRequest::TrashItems& request,
                          const RootFileOpsSettings& settings);

ItemResult trashItem(const CapturedItem& item, const RootFileOps& ops,
                     const RootFileOpsSettings& settings);

// The account's Trash directory, created (mode 0700, owned by the account) when absent;
// nothing when it cannot be created or is not a directory (a link to one is refused).
std::optional<UniqueFd> ensureUserTrash(const RootFileOps& ops);

}  // namespace kb
