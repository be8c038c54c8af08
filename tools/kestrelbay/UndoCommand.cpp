#include <algorithm>
#include <cstdio>
#include <map>

#include "CleanerCore/persistence/OperationJournal.h"
#include "Commands.h"
#include "DesktopTrash.h"
#include "HelperProtocol/SocketExecutor.h"
#include "HelperSocket.h"

namespace kb::tool {
namespace {

std::string originText(const DeletionPlan::Origin& origin) {
    if (const auto* clean = std::get_if<DeletionPlan::Origin::Clean>(&origin.kind)) {
        std::string text = "clean";
        for (const auto& id : clean->ruleIDs) {
            text += " " + id;
        }
        return text;
    }
    return "other";
}

}  // namespace

int runUndo(ToolContext& context, const std::optional<std::string>& operation) {
    OperationJournal journal(*FileURL::fromPath(context.journalPath()));
    const auto restorable = journal.restorableEntries();
    std::optional<Uuid> planID;
    if (operation) {
        std::string wanted = *operation;
        std::transform(wanted.begin(), wanted.end(), wanted.begin(), ::toupper);
        for (const auto& entry : restorable) {
            if (entry.planID.uuidString().starts_with(wanted)) {
                planID = entry.planID;
            }
        }
        if (!planID) {
            std::fprintf(stderr, "kestrelbay: %s: no operation with items to put back\n",
                         operation->c_str());
            return exitNoInput;
        }
    } else if (!restorable.empty()) {
        planID = restorable.back().planID;
    }
    if (!planID) {
        std::printf("Nothing to undo.\n");
        return exitOk;
    }
    SocketExecutor helper(helperOptions(context));
    std::size_t restored = 0;
    std::size_t failures = 0;
    bool unavailable = false;
    for (const auto& entry : restorable) {
        if (entry.planID != *planID) {
            continue;
        }
        std::string failure;
        if (entry.actor == JournalEntry::Actor::user) {
            auto done =
                DesktopTrash::restore(context.account.dataHome, *entry.trashedPath, entry.path);
            if (!done) {
                failure = done.error().describe();
            }
        } else {
            auto done =
                helper.restoreFromTrash(*entry.trashedPath, entry.path, context.account.uid);
            if (!done) {
                unavailable = true;
                failure = "the helper could not be reached: " + done.error().describe();
            } else if (!done->succeeded()) {
                failure = "the helper refused to put it back";
            }
        }
        if (!failure.empty()) {
            ++failures;
            std::fprintf(stderr, "kestrelbay: %s: %s\n", entry.path.c_str(), failure.c_str());
            continue;
        }
        JournalEntry record = entry;
        record.id = Uuid::random();
        record.action = JournalEntry::Action::restored;
        record.timestamp = std::chrono::system_clock::now();
        if (auto appended = journal.append(record); !appended) {
            std::fprintf(stderr, "kestrelbay: journal: %s\n", appended.error().describe().c_str());
        }
        std::printf("restored %s\n", entry.path.c_str());
        ++restored;
    }
    std::printf("Put back %zu items of operation %s.\n", restored, planID->uuidString().c_str());
    if (failures > 0) {
        return unavailable ? exitUnavailable : exitIoError;
    }
    return exitOk;
}

int runHistory(ToolContext& context) {
    OperationJournal journal(*FileURL::fromPath(context.journalPath()));
    struct Summary {
        Date first;
        std::string origin;
        std::map<std::string, std::size_t> counts;
        std::uint64_t bytes = 0;
    };
    std::vector<Uuid> order;
    std::map<Uuid, Summary> plans;
    for (const auto& entry : journal.readAll()) {
        auto [it, fresh] = plans.try_emplace(entry.planID);
        if (fresh) {
            order.push_back(entry.planID);
            it->second.first = entry.timestamp;
            it->second.origin = originText(entry.origin);
        }
        ++it->second.counts[std::string(rawValue(entry.action))];
        if (entry.action == JournalEntry::Action::trashed ||
            entry.action == JournalEntry::Action::removed) {
            it->second.bytes += entry.bytes;
        }
    }
    if (order.empty()) {
        std::printf("No operations yet.\n");
    }
    for (const auto& id : order) {
        const auto& summary = plans[id];
        std::string counts;
        for (const auto& [action, count] : summary.counts) {
            counts += (counts.empty() ? "" : ", ") + action + " " + std::to_string(count);
        }
        std::printf("%s  %s  %s  %s  (%s)\n", id.uuidString().c_str(),
                    formatIsoDate(summary.first).value_or("?").c_str(), summary.origin.c_str(),
                    formatBytes(summary.bytes).c_str(), counts.c_str());
    }
    return exitOk;
}

}  // namespace kb::tool
