#include "helper/ForgetReceiptOperation.h"

namespace kb {

HelperResponse forgetReceipt(const HelperRequest::ForgetReceipt& request,
                             const RootFileOpsSettings& settings) {
    (void)request;
    (void)settings;
    return HelperResponse::error("this helper cannot forget receipts yet");
}

}  // namespace kb
