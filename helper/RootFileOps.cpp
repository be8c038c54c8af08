#include "helper/RootFileOps.h"

#include "HelperProtocol/HelperConstants.h"
#include "base/Overloaded.h"
#include "helper/BootoutOperation.h"
#include "helper/ClearProtectionOperation.h"
#include "helper/ForgetReceiptOperation.h"
#include "helper/RemoveOperation.h"
#include "helper/RestoreOperation.h"
#include "helper/TerminateOperation.h"
#include "helper/TrashOperation.h"

namespace kb {

HelperResponse RootFileOps::perform(const HelperRequest& request, const Caller& caller,
                                    const RootFileOpsSettings& settings) {
    using R = HelperRequest;
    RequestAuthority authority(caller, settings.authorizationTimeout);
    return std::visit(
        Overloaded{
            [](const R::GetVersion&) {
                return HelperResponse::version(HelperConstants::buildVersion());
            },
            [&](const R::TrashItems& r) { return trashItems(r, authority, settings); },
            [&](const R::RemoveItems& r) { return removeItems(r, authority, settings); },
            [&](const R::ClearProtection& r) { return clearProtection(r, authority, settings); },
            [&](const R::TerminateProcess& r) { return terminateProcess(r, authority, settings); },
            [&](const R::BootoutLaunchd& r) { return bootoutLaunchd(r, authority, settings); },
            [&](const R::ForgetReceipt& r) { return forgetReceipt(r, authority, settings); },
            [&](const R::RestoreFromTrash& r) { return restoreFromTrash(r, authority, settings); },
        },
        request.kind);
}

}  // namespace kb
