// Signals a process for the application, but only the very process it inspected.
#pragma once

#include "HelperProtocol/WireMessages.h"
#include "helper/Authority.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

// Checks, in this order, the first failing one deciding the `error` answer: the signal is
// SIGTERM or SIGKILL; the pid is 2 or more and not this helper; a process with that pid is
// running; its start time equals `startTime` exactly. The process is then signalled
// through a pidfd opened before its start time was read, so a pid reused in between is
// never hit. A caller that is not root signals on its own authority only a process whose
// real uid (read from the pinned process's /proc entry) is its own; any other process needs
// the administrator's consent (dev.kestrelbay.helper.signal-processes), and without it the
// answer is `error` with notAuthorizedMessage. Answers `done` once the signal is sent (the
// exit is not awaited), logs it and writes it to the audit trail.
HelperResponse terminateProcess(const HelperRequest::TerminateProcess& request,
                                RequestAuthority& authority, const RootFileOpsSettings& settings);

}  // namespace kb
