// A scratch world for the root file-operation tests: a real account (home made by useradd),
// scratch state (staging records) and legacy staging directories, request helpers and the
// captured log. The home may lie on a tmpfs (fast for huge trees, a second file system).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "HelperProtocol/WireMessages.h"
#include "helper/RootFileOps.h"
#include "helper/RootFileOpsSettings.h"
#include "helper/testing/CapturedLog.h"
#include "testing/ScratchTree.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"

namespace kb::testing {

enum class HomeLocation { disk, tmpfs };

class FileOpsScenario {
  public:
    explicit FileOpsScenario(HomeLocation location = HomeLocation::disk) {
        const bool tmpfs = location == HomeLocation::tmpfs;
        const std::string base = tmpfs ? scratch_ / "fs" : scratch_.path();
        if (tmpfs) {
            mount_ = std::make_unique<ScratchMount>(base);
            EXPECT_TRUE(mount_->mounted());
        }
        account_ = std::make_unique<TestAccount>("kbops", tmpfs ? base : "/home");
        settings.stagingDirectory = base + "/staging";
        settings.stateDirectory = scratch_ / "state";
    }

    const TestAccount& account() const { return *account_; }
    std::uint32_t uid() const { return account_->uid(); }
    const std::string& home() const { return account_->home(); }
    std::string at(const std::string& relative) const { return home() + "/" + relative; }
    std::string trashed(const std::string& name) const { return home() + "/.Trash/" + name; }
    // The staging subdirectories and records left over (none once every operation ended).
    std::vector<std::string> stagingLeftovers() const {
        std::vector<std::string> left;
        for (const std::string& dir : {home() + "/.Trash", settings.stateDirectory + "/staging"}) {
            for (const std::string& line : listTree(dir)) {
                if (line.find(".dev.kestrelbay.staging-") != std::string::npos) {
                    left.push_back(dir + ": " + line);
                }
            }
        }
        return left;
    }
    const TempDir& scratch() const { return scratch_; }

    HelperResponse trash(std::vector<std::string> paths) const {
        return perform(HelperRequest::TrashItems{std::move(paths), uid()});
    }
    HelperResponse remove(std::vector<std::string> paths) const {
        return perform(HelperRequest::RemoveItems{std::move(paths), uid()});
    }
    HelperResponse restore(const std::string& trashed, const std::string& original) const {
        return perform(HelperRequest::RestoreFromTrash{trashed, original, uid()});
    }
    template <class R>
    HelperResponse perform(R request, const Caller& caller = Caller::currentProcess()) const {
        return RootFileOps::perform(HelperRequest{std::move(request)}, caller, settings);
    }

    // The operations as the account's own, on its own authority.
    RootFileOps ops() const {
        return {uid(), account_->gid(), home(), ForeignEntries::keepTheirOwner};
    }

    RootFileOpsSettings settings;
    CapturedLog log;

  private:
    TempDir scratch_;
    std::unique_ptr<ScratchMount> mount_;
    std::unique_ptr<TestAccount> account_;
};

// The results of an `items` response (a test failure for any other response).
inline std::vector<ItemResult> itemsOf(const HelperResponse& response) {
    const auto* items = std::get_if<HelperResponse::Items>(&response.kind);
    EXPECT_NE(items, nullptr) << "not an items response";
    return items != nullptr ? items->results : std::vector<ItemResult>{};
}

// writeFile, making the missing directories above `path` first.
inline void putFile(const std::string& path, std::string_view contents) {
    makeDirectories(path.substr(0, path.rfind('/')));
    writeFile(path, contents);
}

inline ItemResult onlyItem(const HelperResponse& response) {
    auto items = itemsOf(response);
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? ItemResult{} : items.front();
}

}  // namespace kb::testing
