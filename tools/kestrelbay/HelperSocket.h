// The socket client options for the helper the tool talks to.
#pragma once

#include "HelperProtocol/SocketExecutor.h"
#include "ToolContext.h"

namespace kb::tool {

inline SocketExecutor::Options helperOptions(const ToolContext& context) {
    SocketExecutor::Options options;
    if (!context.helperSocket.empty()) {
        options.socketPath = context.helperSocket;
    }
    return options;
}

}  // namespace kb::tool
