#include "helper/ClearProtectionOperation.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/BeneathResolution.h"
#include "platform/InodeAttributes.h"
#include "platform/PosixAcl.h"

namespace kb {
namespace {

constexpr std::uint32_t protectiveFlags = fileFlagImmutable | fileFlagAppendOnly;

bool meansNoAttributes(int code) {
    return code == ENOTTY || code == EOPNOTSUPP;
}

// Clears the protective attributes of `fd` and confirms they are gone.
std::optional<ItemOutcome> clearFlags(int fd) {
    const auto flags = readFileFlags(fd);
    if (!flags) {
        if (meansNoAttributes(flags.error().code)) {
            return std::nullopt;
        }
        return failedOutcome(flags.error().code);
    }
    if ((*flags & protectiveFlags) == 0) {
        return std::nullopt;
    }
    if (auto cleared = clearFileFlags(fd, protectiveFlags); !cleared) {
        return failedOutcome(cleared.error().code);
    }
    const auto after = readFileFlags(fd);
    if (!after) {
        return failedOutcome(after.error().code);
    }
    if ((*after & protectiveFlags) != 0) {
        return failedOutcome(EPERM);
    }
    return std::nullopt;
}

}  // namespace

ItemOutcome clearItemProtection(const CapturedItem& item) {
    const auto type = item.identity.mode & S_IFMT;
    if (type != S_IFREG && type != S_IFDIR) {
        return ItemOutcome::ok();
    }
    // Non-blocking and without a controlling terminal, in case the entry has been replaced
    // by something that is not a plain file since it was captured.
    auto fd = openNoSymlinks(item.parent.fd.get(), item.parent.name,
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!fd) {
        switch (fd.error().code) {
            case ENOENT:
                return ItemOutcome::notFound();
            case ELOOP:
                return ItemOutcome::raceDetected();
            default:
                return failedOutcome(fd.error().code);
        }
    }
    const auto opened = StatIdentity::captureOpenFile(fd->get(), item.resolvedPath);
    if (!opened || opened->device != item.identity.device || opened->inode != item.identity.inode) {
        return ItemOutcome::raceDetected();
    }
    if (auto failure = clearFlags(fd->get())) {
        return *failure;
    }
    if (auto removed = removePosixAcl(fd->get()); !removed) {
        return ItemOutcome::failed(
            1, "could not clear the access control list: " + removed.error().message());
    }
    return ItemOutcome::ok();
}

HelperResponse clearProtection(const HelperRequest::ClearProtection& request,
                               RequestAuthority& authority, const RootFileOpsSettings&) {
    return runItemPipeline(
        {request.path}, request.uid,
        [](CapturedItem& item, const RootFileOps&) {
            return ItemResult{item.path, clearItemProtection(item), std::nullopt};
        },
        {"clearProtection", AuditEvent::protectionCleared, OwnItems::ownedByCaller}, authority);
}

}  // namespace kb
