#include <unistd.h>

#include <cstdio>

#include "CleanerCore/model/CleanRuleCatalog.h"
#include "Commands.h"

namespace kb::tool {
namespace {

std::string describeSkips(const ScanResult& result) {
    std::size_t busy = 0;
    std::size_t helper = 0;
    std::string busyWith;
    for (const auto& skipped : result.skipped) {
        if (const auto* b = std::get_if<SkipReason::Busy>(&skipped.reason.kind)) {
            ++busy;
            busyWith = b->process;
        } else if (std::holds_alternative<SkipReason::NeedsHelper>(skipped.reason.kind)) {
            ++helper;
        }
    }
    std::string text;
    if (busy > 0) {
        text += std::to_string(busy) + " skipped while " + busyWith + " runs";
    }
    if (helper > 0) {
        text +=
            (text.empty() ? "" : "; ") + std::to_string(helper) + " for the helper only (skipped)";
    }
    return text;
}

}  // namespace

void reportProblems(const ToolContext& context) {
    for (const auto& problem : context.problems) {
        std::fprintf(stderr, "kestrelbay: %s: %s\n", problem.path.c_str(), problem.message.c_str());
    }
}

int runScan(ToolContext& context, const ScanRequest& request) {
    reportProblems(context);
    auto processes = ProcessTable::read(context.account.uid);
    const bool showProgress = ::isatty(STDERR_FILENO) == 1 && !request.json;
    std::vector<ScanResult> results;
    for (const auto& rule : context.rules) {
        ScanOptions options;
        if (showProgress) {
            options.progress = [&](const ScanProgress& p) {
                std::fprintf(stderr, "\r\033[Kscanning %s: %llu items, %s", rule.id.c_str(),
                             static_cast<unsigned long long>(p.items),
                             formatBytes(p.bytes).c_str());
            };
        }
        auto result = scanRule(rule, context.account, processes, options);
        if (!result) {
            std::fprintf(stderr, "kestrelbay: scan cancelled\n");
            return exitSoftware;
        }
        results.push_back(std::move(*result));
    }
    if (showProgress) {
        std::fprintf(stderr, "\r\033[K");
    }
    if (request.json) {
        auto text = json::encode(results, json::JsonStyle::pretty);
        if (!text) {
            return exitSoftware;
        }
        std::printf("%s\n", text->c_str());
        return exitOk;
    }
    std::printf("%-24s %8s %10s  %-7s %s\n", "RULE", "ITEMS", "SIZE", "SAFETY", "DEFAULT");
    std::uint64_t total = 0;
    std::uint64_t chosen = 0;
    std::uint64_t items = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const auto& rule = context.rules[i];
        const auto& result = results[i];
        const std::uint64_t bytes = result.totalBytes();
        std::printf("%-24s %8zu %10s  %-7s %s\n", rule.id.c_str(), result.items.size(),
                    formatBytes(bytes).c_str(), std::string(rawValue(rule.safety)).c_str(),
                    rule.isCheckedByDefault() ? "yes" : "no");
        if (const auto skips = describeSkips(result); !skips.empty()) {
            std::printf("%-24s   %s\n", "", skips.c_str());
        }
        for (const auto& error : result.errors) {
            std::fprintf(stderr, "kestrelbay: %s\n", error.c_str());
        }
        total += bytes;
        items += result.items.size();
        if (rule.isCheckedByDefault()) {
            chosen += bytes;
        }
    }
    std::printf("%-24s %8llu %10s\n", "TOTAL", static_cast<unsigned long long>(items),
                formatBytes(total).c_str());
    std::printf("'kestrelbay clean' frees %s (the rules chosen by default).\n",
                formatBytes(chosen).c_str());
    return exitOk;
}

}  // namespace kb::tool
