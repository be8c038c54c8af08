// Who may do what. A caller whose uid is 0 may do everything the helper does. Any other
// caller U acts on its own authority only within what U could do itself:
//   - items (trash, remove, clear protection, restore) of U's own account whose resolved
//     path lies inside U's home (the password database's home, links resolved, owned by U);
//     trash and clear protection also need the item itself to be owned by U;
//   - signals to processes whose real uid is U; stopping jobs of U's own service manager.
// Everything else needs an administrator's consent for one of three polkit actions, asked
// at most once per action per request, and any failure to get an answer is a refusal.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "HelperProtocol/WireMessages.h"
#include "helper/AuditTrail.h"
#include "helper/Caller.h"
#include "platform/PasswordDatabase.h"

namespace kb {

enum class Consent { manageFiles, signalProcesses, manageServices };

// The polkit action id of `consent`, e.g. "dev.kestrelbay.helper.manage-files".
std::string_view actionIdOf(Consent consent);

// The `error` text of a refused terminateProcess, bootoutLaunchd or forgetReceipt.
inline constexpr std::string_view notAuthorizedMessage =
    "the administrator has not authorized this request";

// One request's view of its caller's authority. Not thread-safe: one per request.
class RequestAuthority {
  public:
    RequestAuthority(Caller caller, std::chrono::milliseconds timeout);

    const Caller& caller() const { return caller_; }
    bool callerIsRoot() const { return caller_.uid == 0; }

    // Asks polkit for `consent` the first time (logging a failure to get an answer); later
    // calls give the same answer without asking again. Always true for root.
    bool obtain(Consent consent);
    // The answer of an earlier obtain; false when it was never asked. Always true for root.
    bool granted(Consent consent) const;

    // The authority a permitted action is done on, for the audit trail: "root", "own", or
    // the polkit action id of `consent` when the action needed it.
    std::string nameFor(std::optional<Consent> consent) const;

  private:
    Caller caller_;
    std::chrono::milliseconds timeout_;
    std::array<std::optional<bool>, 3> answers_;
};

// Runs `work`, a request answering `done` or `error`, when the caller may: on its own
// authority when `needed` is nothing, else with that consent (asked here). Without it the
// answer is `error` with notAuthorizedMessage and `work` does not run. Either way `record`
// (its outcome "done" or the error text, its authority filled in) goes to the audit trail.
HelperResponse runAudited(RequestAuthority& authority, std::optional<Consent> needed,
                          AuditRecord record, const std::function<HelperResponse()>& work);

// The home of `account` (U) as the place of U's own authority: the password database's home
// with every link resolved, when it is a directory owned by U; nothing otherwise. The
// account is the one admission looked up (helper/Admission.h).
std::optional<std::string> ownHome(const AccountEntry& account);

// True when `path` (resolved) lies strictly below `directory` (resolved, not "/").
bool liesInside(std::string_view path, std::string_view directory);

}  // namespace kb
