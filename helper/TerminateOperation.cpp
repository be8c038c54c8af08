#include "helper/TerminateOperation.h"

namespace kb {

HelperResponse terminateProcess(const HelperRequest::TerminateProcess& request,
                                const RootFileOpsSettings& settings) {
    (void)request;
    (void)settings;
    return HelperResponse::error("this helper cannot terminate processes yet");
}

}  // namespace kb
