// removeItems: deletes each policy-approved item for good, a whole directory tree if need be
// (through descriptors: links are removed as links, other mounts are never emptied).
#pragma once

#include "HelperProtocol/WireMessages.h"
#include "helper/ItemPipeline.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

// On the caller's own authority for any item inside the caller's home, whoever owns it (the
// caller could move it away itself).
HelperResponse removeItems(const HelperRequest::RemoveItems& request, RequestAuthority& authority,
                           const RootFileOpsSettings& settings);

// The action on one captured item: ok (also when it vanished before its unlink), failed
// with the errno that stopped the delete, or raceDetected when the directory found is not
// the one captured.
ItemResult removeItem(const CapturedItem& item);

}  // namespace kb
