#include "helper/RootFileOpsSettings.h"

#ifndef KB_RECEIPT_TOOL
#define KB_RECEIPT_TOOL ""
#endif

namespace kb {

std::string RootFileOpsSettings::defaultReceiptTool() {
    return KB_RECEIPT_TOOL;
}

}  // namespace kb
