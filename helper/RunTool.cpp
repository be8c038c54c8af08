#include "helper/RunTool.h"

#include <string_view>

#include "CleanerCore/process/ProcessRunner.h"
#include "helper/Logger.h"

namespace kb {
namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view space = " \t\n\r\v\f";
    const size_t begin = text.find_first_not_of(space);
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(space) - begin + 1);
}

}  // namespace

HelperResponse runTool(const std::string& executable, const std::vector<std::string>& arguments,
                       const std::set<int>& successStatuses, const std::string& subject,
                       std::chrono::milliseconds timeout) {
    const auto run = ProcessRunner::run(executable, arguments, std::nullopt, timeout);
    if (!run) {
        return HelperResponse::error("could not run " + executable + ": " +
                                     run.error().description());
    }
    const bool exited = run->termination == TerminationReason::exit;
    if (exited && successStatuses.contains(run->status)) {
        operationsLogger().notice(executable + " succeeded for " + escapeForLog(subject));
        return HelperResponse::done();
    }
    const std::string text = run->stderrText();
    if (const auto message = trimmed(text); !message.empty()) {
        return HelperResponse::error(std::string(message));
    }
    const std::string status = std::to_string(run->status);
    return HelperResponse::error(executable + (exited ? " exited with " : " was ended by signal ") +
                                 status);
}

}  // namespace kb
