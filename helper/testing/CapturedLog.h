// The helper's log lines of one test, captured instead of sent to the journal, and the
// authority of a root caller, for the operation tests.
#pragma once

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
        setLogSink(
            [this](const LogRecord& r) { (r.fields.empty() ? records : audits).push_back(r); });
    }
    ~CapturedLog() { setLogSink({}); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    // The value of the field `name` of audit line `index`, or "<absent>".
    std::string auditField(std::size_t index, const std::string& name) const {
        for (const auto& [key, value] : audits.at(index).fields) {
            if (key == name) {
                return value;
            }
        }
        return "<absent>";
    }

    std::vector<LogRecord> records;
    std::vector<LogRecord> audits;
};

inline RequestAuthority& asRoot() {
    static RequestAuthority root(Caller::currentProcess(), {});
    return root;
}

}  // namespace kb::testing
