#include "helper/RestoreOperation.h"

namespace kb {

HelperResponse restoreFromTrash(const HelperRequest::RestoreFromTrash& request,
                                const RootFileOpsSettings& settings) {
    (void)request;
    (void)settings;
    return HelperResponse::error("this helper cannot restore items yet");
}

}  // namespace kb
