// Signals a process for the application, but only the very process it inspected.
#pragma once

#include "HelperProtocol/HelperMessages.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

// Checks, in this order, the first failing one deciding the `error` answer: the signal is
// SIGTERM or SIGKILL; the pid is 2 or more and not this helper; a process with that pid is
// running; its start time equals `startTime` exactly. The process is then signalled
// through a pidfd opened before its start time was read, so a pid reused in between is
// never hit. Answers `done` once the signal is sent (the exit is not awaited) and logs it.
HelperResponse terminateProcess(const HelperRequest::TerminateProcess& request,
                                const RootFileOpsSettings& settings);

}  // namespace kb
