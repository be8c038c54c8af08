// Clears the immutable and append-only attributes of one item and strips its access control
// lists, so that it can be moved or deleted.
#pragma once

#include "HelperProtocol/WireMessages.h"
#include "helper/ItemPipeline.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

// Runs the one path through admission and the per-item pipeline; answers `items` with one
// result, or `error` when admission refuses. On the caller's own authority only for an item
// inside the caller's home and owned by the caller (the attributes may be an
// administrator's lock on a file placed there).
HelperResponse clearProtection(const HelperRequest::ClearProtection& request,
                               RequestAuthority& authority, const RootFileOpsSettings& settings);

// The action on an allowed, captured item. Acts on the item itself, never on a link's
// target and never on a directory's contents. A symbolic link or a special file carries
// neither attributes nor lists here and is `ok` untouched. A regular file or directory is
// opened without following a link and checked to be the captured item (`raceDetected`
// otherwise); the immutable and append-only attributes are cleared when set (all others
// kept) and read back, then the access and default lists are removed. A failure of the
// attributes step is `failed` with its errno and leaves the lists alone; a failure of the
// lists step is `failed` with errno 1 and "could not clear the access control list: " and
// the system's text, after the attributes have been cleared.
ItemOutcome clearItemProtection(const CapturedItem& item);

}  // namespace kb
