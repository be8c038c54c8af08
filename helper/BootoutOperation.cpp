#include "helper/BootoutOperation.h"

#include <optional>
#include <vector>

#include "HelperProtocol/HelperValidation.h"
#include "helper/RunTool.h"
#include "platform/PasswordDatabase.h"

namespace kb {
namespace {

// The account's login name; nothing when there is none or it could confuse systemctl's
// USER@HOST form.
std::optional<std::string> accountName(std::uint32_t uid) {
    auto entry = lookUpAccount(uid);
    if (!entry || entry->name.empty() || entry->name.find('@') != std::string::npos) {
        return std::nullopt;
    }
    return std::move(entry->name);
}

}  // namespace

HelperResponse bootoutLaunchd(const HelperRequest::BootoutLaunchd& request,
                              RequestAuthority& authority, const RootFileOpsSettings& settings) {
    const std::string& label = request.label;
    if (!HelperValidation::isValidIdentifier(label)) {
        return HelperResponse::error("'" + label + "' is not a valid launchd label");
    }
    // "--" keeps a label that starts with '-' from being read as an option.
    std::vector<std::string> arguments;
    std::uint32_t actedUid = 0;
    if (const auto* gui = std::get_if<LaunchdDomain::Gui>(&request.domain.kind)) {
        const auto name =
            gui->uid >= HelperValidation::minimumUserUID ? accountName(gui->uid) : std::nullopt;
        if (!name) {
            return HelperResponse::error("refusing to touch the gui domain of uid " +
                                         std::to_string(gui->uid));
        }
        arguments = {"--user", "--machine=" + *name + "@.host", "stop", "--", label};
        actedUid = gui->uid;
    } else {
        arguments = {"stop", "--", label};
    }
    const bool ownDomain = std::holds_alternative<LaunchdDomain::Gui>(request.domain.kind) &&
                           actedUid == authority.caller().uid;
    const std::string target = request.domain.launchctlString() + "/" + label;
    return runAudited(
        authority, ownDomain ? std::nullopt : std::optional(Consent::manageServices),
        {AuditEvent::serviceStopped, "bootoutLaunchd", actedUid, target, {}, {}}, [&] {
            return runTool(settings.systemctlPath, arguments, {0, 5}, target, settings.toolTimeout);
        });
}

}  // namespace kb
