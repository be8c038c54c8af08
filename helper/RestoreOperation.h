#pragma once

#include "HelperProtocol/HelperMessages.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

HelperResponse restoreFromTrash(const HelperRequest::RestoreFromTrash& request,
                                const RootFileOpsSettings& settings);

}  // namespace kb
