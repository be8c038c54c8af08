#include "helper/ClearProtectionOperation.h"

namespace kb {

HelperResponse clearProtection(const HelperRequest::ClearProtection& request,
                               const RootFileOpsSettings& settings) {
    (void)request;
    (void)settings;
    return HelperResponse::error("this helper cannot clear protection yet");
}

}  // namespace kb
