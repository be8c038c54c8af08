#include "helper/TerminateOperation.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "HelperProtocol/HelperValidation.h"
#include "helper/Logger.h"
#include "platform/Pidfd.h"
#include "platform/ProcessRecord.h"
#include "platform/ProcessStartTime.h"

namespace kb {

HelperResponse terminateProcess(const HelperRequest::TerminateProcess& request,
                                RequestAuthority& authority, const RootFileOpsSettings&) {
    const std::string pid = std::to_string(request.pid);
    if (!HelperValidation::allowedSignals().contains(request.signal)) {
        return HelperResponse::error("signal " + std::to_string(request.signal) +
                                     " is not one this helper delivers");
    }
    if (request.pid < 2 || request.pid == ::getpid()) {
        return HelperResponse::error("refusing to signal pid " + pid);
    }
    const std::string notRunning = "no process " + pid + " is running";
    // The pidfd pins the process before its start time is read: if the pid is reused after
    // this point, the start time read belongs to the newcomer and the signal below still
    // goes to the old process (or fails because it has ended).
    auto pidfd = openPidfd(request.pid);
    if (!pidfd) {
        // A thread id that is not a process fails with ENOENT (EINVAL on older kernels).
        const int code = pidfd.error().code;
        if (code == ESRCH || code == ENOENT || code == EINVAL) {
            return HelperResponse::error(notRunning);
        }
        return HelperResponse::error("could not signal pid " + pid + ": " +
                                     pidfd.error().message());
    }
    const auto startTime = processStartTime(request.pid);
    if (!startTime) {
        return HelperResponse::error(notRunning);
    }
    if (*startTime != request.startTime) {
        return HelperResponse::error("pid " + pid + " has been reused since it was inspected");
    }
    // Read after the start-time check and confirmed by the pidfd: the owner of the very
    // process that was inspected. An owner that cannot be read is nobody's own process.
    auto owner = processRealUid(request.pid);
    if (!pidfdIsAlive(*pidfd)) {
        return HelperResponse::error(notRunning);
    }
    std::optional<Consent> consent;
    if (!authority.callerIsRoot() && owner != authority.caller().uid) {
        consent = Consent::signalProcesses;
    }
    return runAudited(
        authority, consent,
        {AuditEvent::processSignalled, "terminateProcess", owner.value_or(0), "pid " + pid, {}, {}},
        [&] {
            if (auto sent = signalPidfd(*pidfd, request.signal); !sent) {
                return HelperResponse::error("could not signal pid " + pid + ": " +
                                             sent.error().message());
            }
            operationsLogger().notice("signalled pid " + pid + " with " +
                                      std::to_string(request.signal));
            return HelperResponse::done();
        });
}

}  // namespace kb
