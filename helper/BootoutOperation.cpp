#include "helper/BootoutOperation.h"

namespace kb {

HelperResponse bootoutLaunchd(const HelperRequest::BootoutLaunchd& request,
                              const RootFileOpsSettings& settings) {
    (void)request;
    (void)settings;
    return HelperResponse::error("this helper cannot stop service jobs yet");
}

}  // namespace kb
