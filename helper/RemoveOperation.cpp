#include "helper/RemoveOperation.h"

namespace kb {

HelperResponse removeItems(const HelperRequest::RemoveItems& request,
                           const RootFileOpsSettings& settings) {
    (void)request;
    (void)settings;
    return HelperResponse::error("this helper cannot remove items yet");
}

}  // namespace kb
