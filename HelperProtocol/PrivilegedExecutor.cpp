#include "HelperProtocol/PrivilegedExecutor.h"

namespace kb {
namespace {

using R = HelperRequest;

ExecutorResult<std::vector<ItemResult>> expectItems(ExecutorResult<HelperResponse> sent) {
    if (!sent) {
        return fail(sent.error());
    }
    if (const auto* error = std::get_if<HelperResponse::Error>(&sent->kind)) {
        return fail(PrivilegedExecutorError::remote(error->message));
    }
    if (auto* items = std::get_if<HelperResponse::Items>(&sent->kind)) {
        return std::move(items->results);
    }
    return fail(PrivilegedExecutorError::malformedResponse());
}

ExecutorResult<ItemResult> expectFirstItem(ExecutorResult<HelperResponse> sent) {
    auto items = expectItems(std::move(sent));
    if (!items) {
        return fail(items.error());
    }
    if (items->empty()) {
        return fail(PrivilegedExecutorError::malformedResponse());
    }
    return std::move(items->front());
}

ExecutorResult<Nothing> expectDone(ExecutorResult<HelperResponse> sent) {
    if (!sent) {
        return fail(sent.error());
    }
    if (const auto* error = std::get_if<HelperResponse::Error>(&sent->kind)) {
        return fail(PrivilegedExecutorError::remote(error->message));
    }
    if (std::holds_alternative<HelperResponse::Done>(sent->kind)) {
        return Nothing{};
    }
    return fail(PrivilegedExecutorError::malformedResponse());
}

}  // namespace

std::string PrivilegedExecutorError::describe() const {
    if (const auto* r = std::get_if<Remote>(&kind)) {
        return "the helper refused: " + r->message;
    }
    if (const auto* u = std::get_if<Unavailable>(&kind)) {
        return "the helper is unavailable: " + u->reason;
    }
    if (std::holds_alternative<Timeout>(kind)) {
        return "the helper did not reply in time";
    }
    return "the helper sent a response of the wrong kind";
}

ExecutorResult<std::vector<ItemResult>> PrivilegedExecutor::trashItems(
    std::vector<std::string> paths, std::uint32_t uid) {
    return expectItems(send({R::TrashItems{std::move(paths), uid}}));
}

ExecutorResult<std::vector<ItemResult>> PrivilegedExecutor::removeItems(
    std::vector<std::string> paths, std::uint32_t uid) {
    return expectItems(send({R::RemoveItems{std::move(paths), uid}}));
}

ExecutorResult<ItemResult> PrivilegedExecutor::clearProtection(std::string path,
                                                               std::uint32_t uid) {
    return expectFirstItem(send({R::ClearProtection{std::move(path), uid}}));
}

ExecutorResult<ItemResult> PrivilegedExecutor::restoreFromTrash(std::string trashedPath,
                                                                std::string originalPath,
                                                                std::uint32_t uid) {
    return expectFirstItem(
        send({R::RestoreFromTrash{std::move(trashedPath), std::move(originalPath), uid}}));
}

ExecutorResult<Nothing> PrivilegedExecutor::terminateProcess(std::int32_t pid,
                                                             std::uint64_t startTime,
                                                             std::int32_t signal) {
    return expectDone(send({R::TerminateProcess{pid, startTime, signal}}));
}

ExecutorResult<Nothing> PrivilegedExecutor::bootoutLaunchd(std::string label,
                                                           LaunchdDomain domain) {
    return expectDone(send({R::BootoutLaunchd{std::move(label), domain}}));
}

ExecutorResult<Nothing> PrivilegedExecutor::forgetReceipt(std::string packageID) {
    return expectDone(send({R::ForgetReceipt{std::move(packageID)}}));
}

}  // namespace kb
