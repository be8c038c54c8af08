// Forgets an installer package receipt, on systems that keep them.
#pragma once

#include "HelperProtocol/WireMessages.h"
#include "helper/Authority.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

// Refuses a package identifier that breaks the identifier rule ("'ID' is not a valid
// package identifier"). Without a receipt tool in the settings (the build names one, or
// none) answers `error` with "this system keeps no installer receipts". Otherwise runs
// "TOOL --forget ID" through runTool, status 0 answering `done`. A caller that is not root
// needs the administrator's consent (dev.kestrelbay.helper.manage-services), asked after
// the checks above; without it the answer is `error` with notAuthorizedMessage.
HelperResponse forgetReceipt(const HelperRequest::ForgetReceipt& request,
                             RequestAuthority& authority, const RootFileOpsSettings& settings);

}  // namespace kb
