#include "helper/RestoreOperation.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "CleanerCore/policy/PathPolicy.h"
#include "CleanerCore/policy/ProtectedPatterns.h"
#include "CleanerCore/policy/StatIdentity.h"
#include "helper/Admission.h"
#include "helper/ItemPipeline.h"
#include "helper/Logger.h"
#include "platform/BeneathResolution.h"
#include "platform/CrossVolumeMove.h"
#include "platform/FileStatus.h"

namespace kb {
namespace {

bool withinLimits(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.size() > maximumTrashedPathLength) {
        return false;
    }
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f) {
            return false;
        }
    }
    std::size_t components = 0;
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string_view piece(path.data() + start, end - start);
        if (piece == "." || piece == "..") {
            return false;
        }
        components += piece.empty() ? std::size_t{0} : std::size_t{1};
        start = end + 1;
    }
    return components >= 2;
}

std::optional<std::string> realPath(const std::string& path) {
    std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr), &::free);
    if (!resolved) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

std::string parentOf(const std::string& normalized) {
    const auto slash = normalized.find_last_of('/');
    return slash == 0 ? "/" : normalized.substr(0, slash);
}

struct CheckedTrashedPath {
    std::string normalized;
    std::string realParent;  // the item's directory, links resolved, inside the real Trash
};

// True when a piece of `relative` ("/a/b") starts with the staging name prefix, case ignored.
bool holdsStagingPiece(std::string_view relative) {
    const std::string_view prefix = ProtectedPatterns::stagingNamePrefix;
    for (std::size_t at = relative.find('/'); at != std::string_view::npos;
         at = relative.find('/', at + 1)) {
        const std::string_view piece = relative.substr(at + 1, prefix.size());
        if (piece.size() == prefix.size() &&
            std::equal(piece.begin(), piece.end(), prefix.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            })) {
            return true;
        }
    }
    return false;
}

// `trashedPath` normalized, when it names an item inside home + "/.Trash": it starts with
// "/", has at most maximumTrashedPathLength bytes, no control character, at least two
// components and no "." or ".." component; the Trash is a real directory (not a link); and
// the item's parent directory, links resolved, is the Trash or lies below it. The item
// itself may be a link.
std::optional<CheckedTrashedPath> checkTrashedPath(const std::string& trashedPath,
                                                   const std::string& home) {
    if (!withinLimits(trashedPath)) {
        return std::nullopt;
    }
    std::string normalized = PathPolicy::normalize(trashedPath);
    const std::string trash = home + "/.Trash";
    if (normalized.rfind(trash + "/", 0) != 0) {
        return std::nullopt;
    }
    // A Trash that is a link could lead anywhere, /etc included.
    if (!isDirectoryAt(AT_FDCWD, trash)) {
        return std::nullopt;
    }
    const auto realTrash = realPath(trash);
    auto realParent = realPath(parentOf(normalized));
    if (!realTrash || !realParent) {
        return std::nullopt;
    }
    if (*realParent != *realTrash && realParent->rfind(*realTrash + "/", 0) != 0) {
        return std::nullopt;
    }
    // The helper's staging subdirectories in the Trash hold items on their way in or out;
    // nothing in them is a trashed item.
    if (holdsStagingPiece(normalized.substr(trash.size())) ||
        holdsStagingPiece(realParent->substr(realTrash->size()))) {
        return std::nullopt;
    }
    return CheckedTrashedPath{std::move(normalized), std::move(*realParent)};
}

}  // namespace

ItemResult restoreItem(const std::string& trashedPath, const std::string& originalPath,
                       const std::string& resolvedOriginal, const RootFileOps& ops) {
    auto result = [&](ItemOutcome outcome) {
        return ItemResult{originalPath, std::move(outcome), std::nullopt};
    };
    const auto checked = checkTrashedPath(trashedPath, ops.home);
    if (!checked) {
        return result(ItemOutcome::policyDenied("'" + trashedPath + "' is not an item inside " +
                                                ops.home + "/.Trash"));
    }
    const std::string& validated = checked->normalized;
    // Open the very directory that was checked: if any part of it has become a link since,
    // the open fails (a race) instead of leading elsewhere.
    const std::string itemName = validated.substr(validated.find_last_of('/') + 1);
    auto trashed = openResolvedParent(checked->realParent + "/" + itemName);
    if (auto* outcome = std::get_if<ItemOutcome>(&trashed)) {
        if (std::holds_alternative<ItemOutcome::Failed>(outcome->kind)) {
            return result(ItemOutcome::notFound());
        }
        return result(std::move(*outcome));
    }
    auto& from = std::get<ParentDirectory>(trashed);
    auto identity = StatIdentity::capture(from.fd.get(), from.name, validated);
    if (!identity || !identity->has_value()) {
        return result(ItemOutcome::notFound());
    }
    const auto occupied = [&] {
        return result(
            ItemOutcome::failed(EEXIST, "something already exists at " + resolvedOriginal));
    };
    auto original = openResolvedParent(resolvedOriginal);
    if (auto* outcome = std::get_if<ItemOutcome>(&original)) {
        return result(std::move(*outcome));
    }
    auto& to = std::get<ParentDirectory>(original);
    auto there = StatIdentity::capture(to.fd.get(), to.name, resolvedOriginal);
    if (there && there->has_value()) {
        return occupied();
    }
    if (::renameat2(from.fd.get(), from.name.c_str(), to.fd.get(), to.name.c_str(),
                    RENAME_NOREPLACE) == 0) {
        return result(ItemOutcome::ok());
    }
    if (errno == EEXIST) {
        return occupied();
    }
    if (errno != EXDEV) {
        return result(failedOutcome(errno));
    }
    const std::string name = to.name;
    auto moved =
        moveAcrossVolumes(from.fd.get(), from.name, {(*identity)->device, (*identity)->inode},
                          to.fd.get(), [&name](std::size_t index) -> std::optional<std::string> {
                              if (index == 0) {
                                  return name;
                              }
                              return std::nullopt;
                          });
    if (!moved) {
        if (moved.error().kind == MoveFailure::Kind::noFreeName) {
            return occupied();
        }
        return result(ItemOutcome::failed(EXDEV, moved.error().message()));
    }
    if (moved->originalLeft) {
        operationsLogger().error(
            "restored " + escapeForLog(validated) + " to " + escapeForLog(resolvedOriginal) +
            " but could not delete it from the Trash: " + moved->originalLeft->describe());
    }
    return result(ItemOutcome::ok());
}

HelperResponse restoreFromTrash(const HelperRequest::RestoreFromTrash& request,
                                RequestAuthority& authority, const RootFileOpsSettings&) {
    const std::vector<std::string> paths{request.originalPath};
    const auto admitted = admitRequest(paths, request.uid);
    if (!admitted) {
        return HelperResponse::error(refusalMessage(paths, request.uid));
    }
    auto evaluated = evaluateItem(admitted->policy, request.originalPath);
    if (auto* denied = std::get_if<ItemResult>(&evaluated)) {
        return HelperResponse::items({std::move(*denied)});
    }
    const std::string& resolvedOriginal = std::get<std::string>(evaluated);
    std::optional<Consent> consent;
    if (!authority.callerIsRoot() &&
        !withinOwnAuthority(authority, ownHome(admitted->account), request.uid, resolvedOriginal,
                            std::nullopt)) {
        consent = Consent::manageFiles;
    }
    AuditRecord record{
        AuditEvent::itemRestored,  "restoreFromTrash", request.uid, resolvedOriginal, {},
        authority.nameFor(consent)};
    ItemResult result;
    if (consent && !authority.obtain(*consent)) {
        record.event = AuditEvent::requestRefused;
        result = ItemResult{request.originalPath, notAuthorizedOutcome(), std::nullopt};
    } else {
        result =
            restoreItem(request.trashedPath, request.originalPath, resolvedOriginal, admitted->ops);
    }
    record.outcome = auditOutcome(result.outcome);
    audit(authority.caller(), record);
    return HelperResponse::items({std::move(result)});
}

}  // namespace kb
