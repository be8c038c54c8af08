#include "helper/ServiceMode.h"

#include <cstdlib>

#include "helper/Logger.h"

namespace kb {

void runServiceMode() {
    serviceLogger().fault("service mode is not available in this build");
    std::exit(1);
}

}  // namespace kb
