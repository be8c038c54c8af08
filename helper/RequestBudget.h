// How many bytes of request the service holds, per uid and in all, so that clients cannot
// make it buffer without bound. A connection takes budget for a whole frame as soon as the
// frame's length is known, before reading its body, and gives it back once the call's
// reply has been written (or the connection has gone). When a budget is spent the
// connection stops reading and waits: nothing is dropped, and every frame that holds
// budget can complete without more, so waiting always ends.
//
// A uid that holds nothing may always take one frame, and so may anyone when nothing is
// held at all: a frame larger than a budget delays, never blocks for good. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace kb {

class RequestBudget {
  public:
    struct Sizes {
        size_t perUid = size_t{256} << 20;
        size_t total = size_t{1} << 30;
    };

    explicit RequestBudget(Sizes sizes);
    RequestBudget() : RequestBudget(Sizes{}) {}

    // Takes `bytes` for `uid` when the budgets allow it. Otherwise takes nothing, keeps
    // `resume` and returns false; `resume` then runs once, on a thread that gives bytes
    // back (without any lock held), and the caller tries again.
    bool take(std::uint32_t uid, size_t bytes, std::function<void()> resume);

    // Takes `bytes` whatever the budgets say: the few bytes read past a frame's end.
    void charge(std::uint32_t uid, size_t bytes);

    void giveBack(std::uint32_t uid, size_t bytes);

    size_t heldBy(std::uint32_t uid) const;
    size_t held() const;

  private:
    Sizes sizes_;
    mutable std::mutex lock_;
    std::map<std::uint32_t, size_t> perUid_;
    size_t total_ = 0;
    std::vector<std::function<void()>> waiting_;
};

}  // namespace kb
