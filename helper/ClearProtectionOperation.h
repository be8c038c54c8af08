#pragma once

#include "HelperProtocol/HelperMessages.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

HelperResponse clearProtection(const HelperRequest::ClearProtection& request,
                               const RootFileOpsSettings& settings);

}  // namespace kb
