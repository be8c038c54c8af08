#pragma once

#include "HelperProtocol/HelperMessages.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

HelperResponse removeItems(const HelperRequest::RemoveItems& request,
                           const RootFileOpsSettings& settings);

}  // namespace kb
