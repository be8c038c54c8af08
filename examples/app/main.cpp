// What an application does with the Kestrel Bay SDK.
//
//   kestrelbay-example DIR                 offline: the built-in catalogue, the size of DIR,
//                                          a deletion plan for its files, the journal
//   kestrelbay-example DIR --online FILE [SOCKET]
//                                          then asks the running helper (on its socket, or
//                                          SOCKET) for its version and to trash FILE (one of
//                                          the caller's own files) and put it back
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "CleanerCore/model/CleanRuleCatalog.h"
#include "CleanerCore/model/DeletionPlan.h"
#include "CleanerCore/model/DirectorySizer.h"
#include "CleanerCore/persistence/OperationJournal.h"
#include "HelperProtocol/SocketExecutor.h"
#include "json/JsonSerializer.h"

namespace {

int fail(const std::string& what) {
    std::cerr << "kestrelbay-example: " << what << '\n';
    return 1;
}

int offline(const std::string& directory) {
    for (const auto& group : kb::CleanRuleCatalog::groups()) {
        std::cout << "group " << group.id << ": " << kb::CleanRuleCatalog::rules(group.id).size()
                  << " rules\n";
    }

    auto size = kb::DirectorySizer::allocatedSize(directory);
    if (!size) {
        return fail("cannot size " + directory);
    }
    std::cout << "size of " << directory << ": " << *size << " bytes\n";

    kb::DeletionPlan plan;
    plan.id = kb::Uuid::random();
    plan.createdAt = std::chrono::system_clock::now();
    plan.origin = kb::DeletionPlan::Origin::clean({"user.caches"});
    plan.estimatedBytes = *size;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (auto url = kb::FileURL::fromPath(entry.path().string())) {
            plan.steps.push_back({kb::DeletionPlan::Step::Remove{*url}});
        }
    }
    auto planJson = kb::json::serialize(kb::json::Codec<kb::DeletionPlan>::encode(plan),
                                        kb::json::JsonStyle::domain);
    if (!planJson) {
        return fail("cannot encode the plan");
    }
    std::cout << "plan: " << plan.steps.size()
              << " steps, needs helper: " << (plan.needsHelper() ? "yes" : "no") << '\n'
              << *planJson << '\n';

    char scratch[] = "/tmp/kestrelbay-example-XXXXXX";
    if (::mkdtemp(scratch) == nullptr) {
        return fail("cannot make a scratch directory");
    }
    const std::string journalPath = std::string(scratch) + "/journal.jsonl";
    kb::OperationJournal journal(*kb::FileURL::fromPath(journalPath));
    kb::JournalEntry entry;
    entry.id = kb::Uuid::random();
    entry.planID = plan.id;
    entry.origin = plan.origin;
    entry.action = kb::JournalEntry::Action::trashed;
    entry.path = directory + "/old.log";
    entry.trashedPath = "/home/someone/.Trash/old.log";
    // The journal keeps whole seconds (ISO 8601).
    entry.timestamp = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const bool appended = journal.append(entry).ok();
    const auto entries = journal.readAll();
    const auto restorable = journal.restorableEntries();
    std::filesystem::remove_all(scratch);
    if (!appended || entries.size() != 1 || !(entries[0] == entry)) {
        return fail("the journal did not give back what was appended");
    }
    std::cout << "journal: " << entries.size() << " entry, " << restorable.size()
              << " restorable\n";
    return 0;
}

int online(const std::string& file, const std::string& socketPath) {
    kb::SocketExecutor::Options options;
    if (!socketPath.empty()) {
        options.socketPath = socketPath;
    }
    kb::SocketExecutor helper(options);
    auto version = helper.getVersion();
    if (!version) {
        return fail("the helper did not answer: " + version.error().describe());
    }
    std::cout << "helper version " << *version << '\n';

    const auto path = std::filesystem::absolute(file).string();
    auto trashed = helper.trashItems({path}, ::getuid());
    if (!trashed) {
        return fail("trash: " + trashed.error().describe());
    }
    if (trashed->size() != 1 || !(*trashed)[0].succeeded() || !(*trashed)[0].trashedPath) {
        return fail("the helper did not trash " + path);
    }
    const std::string inTrash = *(*trashed)[0].trashedPath;
    std::cout << "trashed " << path << " -> " << inTrash << '\n';

    auto restored = helper.restoreFromTrash(inTrash, path, ::getuid());
    if (!restored) {
        return fail("restore: " + restored.error().describe());
    }
    if (!restored->succeeded()) {
        return fail("the helper did not restore " + path);
    }
    std::cout << "restored " << path << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool withOnline = (argc == 4 || argc == 5) && std::string(argv[2]) == "--online";
    if (argc != 2 && !withOnline) {
        std::cerr << "usage: kestrelbay-example DIR [--online FILE [SOCKET]]\n";
        return 64;
    }
    if (int status = offline(argv[1]); status != 0) {
        return status;
    }
    return withOnline ? online(argv[3], argc == 5 ? argv[4] : "") : 0;
}
