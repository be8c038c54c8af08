#include "helper/RootFileOpsSettings.h"

#include <cstdlib>

#ifndef KB_RECEIPT_TOOL
#define KB_RECEIPT_TOOL ""
#endif

namespace kb {

std::string RootFileOpsSettings::defaultReceiptTool() {
    return KB_RECEIPT_TOOL;
}

std::string RootFileOpsSettings::defaultStateDirectory() {
    // Several directories are separated by ':'; only an absolute one is trusted.
    const char* fromManager = std::getenv("STATE_DIRECTORY");
    std::string first = fromManager != nullptr ? fromManager : "";
    first = first.substr(0, first.find(':'));
    if (first.size() > 1 && first.front() == '/') {
        while (first.size() > 1 && first.back() == '/') {
            first.pop_back();
        }
        return first;
    }
    return "/var/lib/dev.kestrelbay.helper";
}

}  // namespace kb
