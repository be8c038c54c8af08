#include "helper/TrashOperation.h"

namespace kb {

HelperResponse trashItems(const HelperRequest::TrashItems& request,
                          const RootFileOpsSettings& settings) {
    (void)request;
    (void)settings;
    return HelperResponse::error("this helper cannot move items to the Trash yet");
}

}  // namespace kb
