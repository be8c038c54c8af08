#include "helper/RemoveOperation.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/TreeRemoval.h"

namespace kb {

ItemResult removeItem(const CapturedItem& item) {
    const int parentFd = item.parent.fd.get();
    const std::string& name = item.parent.name;
    ItemOutcome outcome = ItemOutcome::ok();
    if (item.identity.isDirectory()) {
        auto removed = removeTree(parentFd, name, {item.identity.device, item.identity.inode});
        if (!removed) {
            const WalkError& e = removed.error();
            if (e.problem == WalkProblem::directoryChanged) {
                outcome = ItemOutcome::raceDetected();
            } else if (e.error.code != ENOENT) {
                outcome = failedOutcome(e.error.code);
            }
        }
    } else if (::unlinkat(parentFd, name.c_str(), 0) != 0 && errno != ENOENT) {
        outcome = failedOutcome(errno);
    }
    return ItemResult{item.path, std::move(outcome), std::nullopt};
}

HelperResponse removeItems(const HelperRequest::RemoveItems& request, RequestAuthority& authority,
                           const RootFileOpsSettings&) {
    return runItemPipeline(
        request.paths, request.uid,
        [](CapturedItem& item, const RootFileOps&) { return removeItem(item); },
        {"removeItems", AuditEvent::itemRemoved, OwnItems::anyOwner}, authority);
}

}  // namespace kb
