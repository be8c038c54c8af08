#include "helper/RootFileOps.h"

#include "HelperProtocol/HelperConstants.h"
#include "HelperProtocol/Overloaded.h"
#include "helper/BootoutOperation.h"
#include "helper/ClearProtectionOperation.h"
#include "helper/ForgetReceiptOperation.h"
#include "helper/RemoveOperation.h"
#include "helper/RestoreOperation.h"
#include "helper/TerminateOperation.h"
#include "helper/TrashOperation.h"

namespace kb {

HelperResponse RootFileOps::perform(const HelperRequest& request, const Caller& /*caller*/,
                                    const RootFileOpsSettings& settings) {
    using R = HelperRequest;
    return std::visit(
        Overloaded{
            [](const R::GetVersion&) {
                return HelperResponse::version(HelperConstants::buildVersion());
            },
            [&](const R::TrashItems& r) { return trashItems(r, settings); },
            [&](const R::RemoveItems& r) { return removeItems(r, settings); },
            [&](const R::ClearProtection& r) { return clearProtection(r, settings); },
            [&](const R::TerminateProcess& r) { return terminateProcess(r, settings); },
            [&](const R::BootoutLaunchd& r) { return bootoutLaunchd(r, settings); },
            [&](const R::ForgetReceipt& r) { return forgetReceipt(r, settings); },
            [&](const R::RestoreFromTrash& r) { return restoreFromTrash(r, settings); },
        },
        request.kind);
}

}  // namespace kb
