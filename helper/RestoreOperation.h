// restoreFromTrash: moves an item out of the account's Trash back to its original path (as
// the policy resolved it), never replacing anything there.
#pragma once

#include <optional>
#include <string>

#include "HelperProtocol/WireMessages.h"
#include "helper/Authority.h"
#include "helper/RootFileOps.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

// On the caller's own authority when the account is the caller's and the original path, as
// the policy resolved it, lies inside the caller's home; otherwise only with the
// administrator's consent (a refusal is failed(EPERM) and nothing moves).
HelperResponse restoreFromTrash(const HelperRequest::RestoreFromTrash& request,
                                RequestAuthority& authority, const RootFileOpsSettings& settings);

// Limits of a trashed path.
inline constexpr std::size_t maximumTrashedPathLength = 1024;

// The action, after the policy allowed `originalPath` as `resolvedOriginal`.
ItemResult restoreItem(const std::string& trashedPath, const std::string& originalPath,
                       const std::string& resolvedOriginal, const RootFileOps& ops);

}  // namespace kb
