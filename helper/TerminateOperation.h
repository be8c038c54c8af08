#pragma once

#include "HelperProtocol/HelperMessages.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

HelperResponse terminateProcess(const HelperRequest::TerminateProcess& request,
                                const RootFileOpsSettings& settings);

}  // namespace kb
