#pragma once

#include "HelperProtocol/HelperMessages.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

HelperResponse trashItems(const HelperRequest::TrashItems& request,
                          const RootFileOpsSettings& settings);

}  // namespace kb
