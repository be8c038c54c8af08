#include "helper/RequestBudget.h"

#include <algorithm>

namespace kb {

RequestBudget::RequestBudget(Sizes sizes) : sizes_(sizes) {}

bool RequestBudget::take(std::uint32_t uid, size_t bytes, std::function<void()> resume) {
    std::lock_guard guard(lock_);
    const size_t mine = perUid_.count(uid) ? perUid_[uid] : 0;
    const bool uidFits = mine == 0 || mine + bytes <= sizes_.perUid;
    const bool totalFits = total_ == 0 || total_ + bytes <= sizes_.total;
    if (uidFits && totalFits) {
        perUid_[uid] += bytes;
        total_ += bytes;
        return true;
    }
    waiting_.push_back(std::move(resume));
    return false;
}

void RequestBudget::charge(std::uint32_t uid, size_t bytes) {
    std::lock_guard guard(lock_);
    perUid_[uid] += bytes;
    total_ += bytes;
}

void RequestBudget::giveBack(std::uint32_t uid, size_t bytes) {
    if (bytes == 0) {
        return;
    }
    std::vector<std::function<void()>> resumed;
    {
        std::lock_guard guard(lock_);
        auto found = perUid_.find(uid);
        if (found == perUid_.end()) {
            return;
        }
        const size_t returned = std::min(bytes, found->second);
        found->second -= returned;
        total_ -= returned;
        if (found->second == 0) {
            perUid_.erase(found);
        }
        resumed.swap(waiting_);
    }
    for (auto& resume : resumed) {
        resume();
    }
}

size_t RequestBudget::heldBy(std::uint32_t uid) const {
    std::lock_guard guard(lock_);
    auto found = perUid_.find(uid);
    return found == perUid_.end() ? 0 : found->second;
}

size_t RequestBudget::held() const {
    std::lock_guard guard(lock_);
    return total_;
}

}  // namespace kb
