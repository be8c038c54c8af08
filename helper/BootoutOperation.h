#pragma once

#include "HelperProtocol/HelperMessages.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

HelperResponse bootoutLaunchd(const HelperRequest::BootoutLaunchd& request,
                              const RootFileOpsSettings& settings);

}  // namespace kb
