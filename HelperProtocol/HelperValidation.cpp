#include "HelperProtocol/HelperValidation.h"

#include <csignal>

namespace kb::HelperValidation {

const std::set<std::int32_t>& allowedSignals() {
    static const std::set<std::int32_t> signals{SIGTERM, SIGKILL};
    return signals;
}

bool isValidIdentifier(std::string_view text) {
    if (text.empty() || text.size() >= 256) {
        return false;
    }
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace kb::HelperValidation
