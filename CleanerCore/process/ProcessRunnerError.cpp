#include "CleanerCore/process/ProcessRunnerError.h"

#include "base/Overloaded.h"

namespace kb {

std::string ProcessRunnerError::description() const {
    return std::visit(
        Overloaded{
            [](const Timeout&) { return std::string("it did not finish in time and was stopped"); },
            [](const LaunchFailed& e) { return e.message; },
        },
        kind);
}

}  // namespace kb
