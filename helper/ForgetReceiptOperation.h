#pragma once

#include "HelperProtocol/HelperMessages.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

HelperResponse forgetReceipt(const HelperRequest::ForgetReceipt& request,
                             const RootFileOpsSettings& settings);

}  // namespace kb
