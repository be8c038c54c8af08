#include "helper/Authority.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

#include "helper/Logger.h"
#include "platform/FileStatus.h"
#include "platform/PasswordDatabase.h"
#include "platform/Polkit.h"
#include "platform/ProcessRecord.h"

namespace kb {
namespace {

std::size_t indexOf(Consent consent) {
    return static_cast<std::size_t>(consent);
}

// The caller as polkit names it. The start time is read from the pid's /proc entry; when
// the connection pinned the caller with a pidfd, the caller must still be alive after the
// read, so the entry read was its own and not that of a process that reused the pid.
std::optional<PolkitSubject> subjectOf(const Caller& caller) {
    const auto ticks = processStartTicks(caller.pid);
    if (!ticks) {
        return std::nullopt;
    }
    if (caller.pidfd && !pidfdIsAlive(*caller.pidfd)) {
        return std::nullopt;
    }
    return PolkitSubject{caller.pid, *ticks, caller.uid};
}

}  // namespace

std::string_view actionIdOf(Consent consent) {
    switch (consent) {
        case Consent::manageFiles:
            return "dev.kestrelbay.helper.manage-files";
        case Consent::signalProcesses:
            return "dev.kestrelbay.helper.signal-processes";
        case Consent::manageServices:
            return "dev.kestrelbay.helper.manage-services";
    }
    return {};
}

RequestAuthority::RequestAuthority(Caller caller, std::chrono::milliseconds timeout)
    : caller_(std::move(caller)), timeout_(timeout) {}

bool RequestAuthority::obtain(Consent consent) {
    if (callerIsRoot()) {
        return true;
    }
    auto& answer = answers_[indexOf(consent)];
    if (answer) {
        return *answer;
    }
    const std::string action(actionIdOf(consent));
    const auto subject = subjectOf(caller_);
    if (!subject) {
        operationsLogger().error("could not ask polkit for " + action + ": the caller (pid " +
                                 std::to_string(caller_.pid) + ") has gone");
        answer = false;
        return false;
    }
    const auto checked = checkAuthorization(*subject, PolkitQuery{action, timeout_, {}});
    if (!checked) {
        operationsLogger().error("could not ask polkit for " + action + ": " + checked.error());
        answer = false;
        return false;
    }
    answer = *checked == PolkitAnswer::authorized;
    return *answer;
}

bool RequestAuthority::granted(Consent consent) const {
    return callerIsRoot() || answers_[indexOf(consent)].value_or(false);
}

std::string RequestAuthority::nameFor(std::optional<Consent> consent) const {
    if (callerIsRoot()) {
        return "root";
    }
    return consent ? std::string(actionIdOf(*consent)) : "own";
}

HelperResponse runAudited(RequestAuthority& authority, std::optional<Consent> needed,
                          AuditRecord record, const std::function<HelperResponse()>& work) {
    record.authority = authority.nameFor(needed);
    if (needed && !authority.obtain(*needed)) {
        record.event = AuditEvent::requestRefused;
        record.outcome = std::string(notAuthorizedMessage);
        audit(authority.caller(), record);
        return HelperResponse::error(std::string(notAuthorizedMessage));
    }
    HelperResponse response = work();
    if (const auto* error = std::get_if<HelperResponse::Error>(&response.kind)) {
        record.outcome = error->message;
    } else {
        record.outcome = "done";
    }
    audit(authority.caller(), record);
    return response;
}

std::optional<std::string> ownHome(const AccountEntry& account) {
    if (account.home.empty()) {
        return std::nullopt;
    }
    const std::uint32_t uid = account.uid;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(account.home.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) {
        return std::nullopt;
    }
    const auto st = fileStatusAt(AT_FDCWD, resolved.get());
    if (!st || !st->isDirectory() || st->ownerUID != uid) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

bool liesInside(std::string_view path, std::string_view directory) {
    // A home of "/" would make the whole system its owner's: it grants nothing.
    if (directory.empty() || directory == "/") {
        return false;
    }
    return path.size() > directory.size() + 1 && path.starts_with(directory) &&
           path[directory.size()] == '/';
}

}  // namespace kb
