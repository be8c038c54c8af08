#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "CleanerCore/model/DeletionPlan.h"
#include "CleanerCore/persistence/OperationJournal.h"
#include "Commands.h"
#include "DesktopTrash.h"
#include "HelperProtocol/HelperConstants.h"
#include "HelperProtocol/SocketExecutor.h"
#include "HelperSocket.h"

namespace kb::tool {
namespace {

constexpr std::size_t helperBatchSize = 10000;

struct PlannedItem {
    std::string path;
    std::uint64_t bytes = 0;
    bool requiresRoot = false;
    DeletionMode mode = DeletionMode::trash;
};

bool isInside(const std::string& path, const std::string& directory) {
    return path.size() > directory.size() + 1 && path.starts_with(directory + "/");
}

// Whether the account can delete `path` itself, judged now.
bool accountMayDelete(const ScanAccount& account, const std::string& path) {
    const auto [directory, name] = DesktopTrash::splitPath(path);
    const auto parent = fileStatusAt(AT_FDCWD, directory);
    const auto item = fileStatusAt(AT_FDCWD, path);
    if (!parent || !item) {
        return true;  // gone or unreadable: the account's own attempt reports why
    }
    return accountCanDelete(account, *parent, *item);
}

class Executor {
  public:
    Executor(ToolContext& context, const DeletionPlan& plan)
        : context_(context),
          plan_(plan),
          journal_(*FileURL::fromPath(context.journalPath())),
          helper_(helperOptions(context)) {}

    void runOwn(const PlannedItem& item) {
        const Date now = std::chrono::system_clock::now();
        if (item.mode == DeletionMode::trash) {
            auto trashed = DesktopTrash::moveToTrash(context_.account.dataHome, item.path, now);
            if (trashed) {
                record(item, JournalEntry::Action::trashed, JournalEntry::Actor::user, *trashed,
                       {});
            } else {
                failed(item, JournalEntry::Actor::user, trashed.error().describe());
            }
            return;
        }
        auto removed = DesktopTrash::removeItem(context_.account.dataHome, item.path);
        if (removed) {
            record(item, JournalEntry::Action::removed, JournalEntry::Actor::user, {}, {});
        } else {
            failed(item, JournalEntry::Actor::user, removed.error().describe());
        }
    }

    void runThroughHelper(const std::vector<PlannedItem>& items, DeletionMode mode) {
        const bool trash = mode == DeletionMode::trash;
        for (std::size_t start = 0; start < items.size(); start += helperBatchSize) {
            const std::size_t end = std::min(items.size(), start + helperBatchSize);
            std::vector<std::string> paths;
            for (std::size_t i = start; i < end; ++i) {
                paths.push_back(items[i].path);
            }
            auto results = trash ? helper_.trashItems(paths, context_.account.uid)
                                 : helper_.removeItems(paths, context_.account.uid);
            for (std::size_t i = start; i < end; ++i) {
                if (!results) {
                    unavailable_ = true;
                    failed(items[i], JournalEntry::Actor::root,
                           "the helper refused or could not be reached: " +
                               results.error().describe());
                    continue;
                }
                const auto& result = (*results)[i - start];
                if (result.succeeded()) {
                    record(items[i],
                           trash ? JournalEntry::Action::trashed : JournalEntry::Action::removed,
                           JournalEntry::Actor::root, result.trashedPath, {});
                } else {
                    failed(items[i], JournalEntry::Actor::root,
                           "the helper refused: " + describe(result.outcome));
                }
            }
        }
    }

    std::uint64_t freedBytes = 0;
    std::size_t done = 0;
    std::size_t failures = 0;
    bool unavailable_ = false;

  private:
    static std::string describe(const ItemOutcome& outcome) {
        return std::visit(
            [](const auto& o) -> std::string {
                using T = std::decay_t<decltype(o)>;
                if constexpr (std::is_same_v<T, ItemOutcome::PolicyDenied>) {
                    return "not allowed (" + o.reason + ")";
                } else if constexpr (std::is_same_v<T, ItemOutcome::Failed>) {
                    return o.message;
                } else if constexpr (std::is_same_v<T, ItemOutcome::NotFound>) {
                    return "not found";
                } else if constexpr (std::is_same_v<T, ItemOutcome::RaceDetected>) {
                    return "the item changed while being handled";
                } else {
                    return "refused";
                }
            },
            outcome.kind);
    }

    void record(const PlannedItem& item, JournalEntry::Action action, JournalEntry::Actor actor,
                const std::optional<std::string>& trashedPath, std::optional<std::string> note) {
        if (action != JournalEntry::Action::failed) {
            freedBytes += item.bytes;
            ++done;
        }
        JournalEntry entry{Uuid::random(), plan_.id,
                           plan_.origin,   action,
                           actor,          item.path,
                           trashedPath,    item.bytes,
                           std::nullopt,   std::chrono::system_clock::now(),
                           std::move(note)};
        if (auto appended = journal_.append(entry); !appended) {
            std::fprintf(stderr, "kestrelbay: journal: %s\n", appended.error().describe().c_str());
        }
    }

    void failed(const PlannedItem& item, JournalEntry::Actor actor, const std::string& reason) {
        ++failures;
        std::fprintf(stderr, "kestrelbay: %s: %s\n", item.path.c_str(), reason.c_str());
        record(item, JournalEntry::Action::failed, actor, {}, reason);
    }

    ToolContext& context_;
    const DeletionPlan& plan_;
    OperationJournal journal_;
    SocketExecutor helper_;
};

bool confirmed() {
    std::printf("Proceed? [y/N] ");
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes";
}

}  // namespace

int runClean(ToolContext& context, const CleanRequest& request) {
    reportProblems(context);
    std::vector<const CleanRule*> chosen;
    for (const auto& id : request.ruleIDs) {
        const auto it = std::find_if(context.rules.begin(), context.rules.end(),
                                     [&](const CleanRule& r) { return r.id == id; });
        if (it == context.rules.end()) {
            std::fprintf(stderr, "kestrelbay: %s: no such rule (see 'kestrelbay scan')\n",
                         id.c_str());
            return exitUsage;
        }
        chosen.push_back(&*it);
    }
    if (request.ruleIDs.empty()) {
        for (const auto& rule : context.rules) {
            if (rule.isCheckedByDefault()) {
                chosen.push_back(&rule);
            }
        }
    }
    auto processes = ProcessTable::read(context.account.uid);
    const std::string desktopTrash = context.account.dataHome + "/Trash";
    const std::string helperTrash = context.account.home + "/.Trash";
    std::vector<PlannedItem> items;
    std::vector<std::string> ruleIDs;
    DeletionPlan plan{Uuid::random(),
                      std::chrono::system_clock::now(),
                      {},
                      {},
                      0,
                      request.mode == RemovalMode::trash};
    for (const auto* rule : chosen) {
        ruleIDs.push_back(rule->id);
        auto result = scanRule(*rule, context.account, processes, {});
        if (!result) {
            return exitSoftware;
        }
        for (const auto& error : result->errors) {
            std::fprintf(stderr, "kestrelbay: %s\n", error.c_str());
        }
        for (const auto& item : result->items) {
            PlannedItem planned{item.path.path(), item.size, false, DeletionMode::trash};
            planned.requiresRoot = !accountMayDelete(context.account, planned.path);
            const bool inTrash =
                isInside(planned.path, desktopTrash) || isInside(planned.path, helperTrash);
            planned.mode = request.mode == RemovalMode::remove || inTrash ? DeletionMode::unlink
                                                                          : DeletionMode::trash;
            plan.steps.push_back(
                {DeletionPlan::Step::Remove{item.path, planned.mode, planned.requiresRoot}});
            plan.estimatedBytes += item.size;
            items.push_back(std::move(planned));
        }
    }
    plan.origin = DeletionPlan::Origin::clean(ruleIDs);

    const auto viaHelper = std::count_if(items.begin(), items.end(),
                                         [](const PlannedItem& i) { return i.requiresRoot; });
    for (const auto& item : items) {
        if (request.dryRun) {
            std::printf("would %s %s (%s)%s\n",
                        item.mode == DeletionMode::trash ? "trash" : "delete", item.path.c_str(),
                        formatBytes(item.bytes).c_str(), item.requiresRoot ? " [helper]" : "");
        }
    }
    std::printf("Plan: %zu items, %s, %s; %ld through the helper.\n", items.size(),
                formatBytes(plan.estimatedBytes).c_str(),
                request.mode == RemovalMode::trash ? "moved to the Trash" : "deleted for good",
                static_cast<long>(viaHelper));
    if (request.dryRun || items.empty()) {
        return exitOk;
    }
    if (!request.assumeYes && !confirmed()) {
        std::printf("Nothing done.\n");
        return exitOk;
    }
    Executor executor(context, plan);
    std::vector<PlannedItem> trashRoot;
    std::vector<PlannedItem> removeRoot;
    for (const auto& item : items) {
        if (!item.requiresRoot) {
            executor.runOwn(item);
        } else {
            (item.mode == DeletionMode::trash ? trashRoot : removeRoot).push_back(item);
        }
    }
    executor.runThroughHelper(trashRoot, DeletionMode::trash);
    executor.runThroughHelper(removeRoot, DeletionMode::unlink);
    std::printf("Freed %s (%zu items)%s.\n", formatBytes(executor.freedBytes).c_str(),
                executor.done,
                request.mode == RemovalMode::trash ? "; 'kestrelbay undo' puts them back" : "");
    std::printf("Operation %s\n", plan.id.uuidString().c_str());
    if (executor.failures > 0) {
        std::fprintf(stderr, "kestrelbay: %zu items could not be removed\n", executor.failures);
        return executor.unavailable_ ? exitUnavailable : exitIoError;
    }
    return exitOk;
}

}  // namespace kb::tool
