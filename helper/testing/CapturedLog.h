// The helper's log lines of one test, captured instead of sent to the journal (from any
// thread), and the authority of a root caller, for the operation tests.
#pragma once

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "helper/Authority.h"
#include "helper/Caller.h"
#include "helper/Logger.h"

namespace kb::testing {

class CapturedLog {
  public:
    CapturedLog() {
        // Audit lines (they carry journald fields) are kept apart from the plain lines.
        setLogSink([this](const LogRecord& r) {
            std::lock_guard guard(lock_);
            (r.fields.empty() ? records_ : audits_).push_back(r);
        });
    }
    ~CapturedLog() { setLogSink({}); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    std::vector<LogRecord> records() const {
        std::lock_guard guard(lock_);
        return records_;
    }
    std::vector<LogRecord> audits() const {
        std::lock_guard guard(lock_);
        return audits_;
    }
    // The plain lines that start with `start` (at `level`, when given).
    std::size_t count(const std::string& start, std::optional<LogLevel> level = {}) const {
        std::lock_guard guard(lock_);
        return static_cast<std::size_t>(std::ranges::count_if(records_, [&](const LogRecord& r) {
            return r.message.starts_with(start) && (!level || r.level == *level);
        }));
    }

  private:
    mutable std::mutex lock_;
    std::vector<LogRecord> records_;
    std::vector<LogRecord> audits_;
};

inline RequestAuthority& asRoot() {
    static RequestAuthority root(Caller::currentProcess(), {});
    return root;
}

}  // namespace kb::testing
