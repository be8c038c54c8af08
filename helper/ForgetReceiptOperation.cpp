#include "helper/ForgetReceiptOperation.h"

#include "HelperProtocol/HelperValidation.h"
#include "helper/RunTool.h"

namespace kb {

HelperResponse forgetReceipt(const HelperRequest::ForgetReceipt& request,
                             RequestAuthority& authority, const RootFileOpsSettings& settings) {
    const std::string& packageID = request.packageID;
    if (!HelperValidation::isValidIdentifier(packageID)) {
        return HelperResponse::error("'" + packageID + "' is not a valid package identifier");
    }
    if (settings.receiptToolPath.empty()) {
        return HelperResponse::error("this system keeps no installer receipts");
    }
    return runAudited(authority, Consent::manageServices,
                      {AuditEvent::receiptForgotten, "forgetReceipt", 0, packageID, {}, {}}, [&] {
                          return runTool(settings.receiptToolPath, {"--forget", packageID}, {0},
                                         packageID, settings.toolTimeout);
                      });
}

}  // namespace kb
