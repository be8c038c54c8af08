// Writes one log line to journald with the helper's identity fields:
// SYSLOG_IDENTIFIER=dev.kestrelbay.helper, KESTRELBAY_SUBSYSTEM, KESTRELBAY_CATEGORY and
// PRIORITY, then `fields` ({NAME, value}, values sent as raw bytes). When the journal's socket does
// not exist (a container, a chroot), the line goes to standard error instead, as
// "dev.kestrelbay.helper[category] level: message". Thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kb {

enum class JournalPriority { notice, err, crit };

void journalSend(JournalPriority priority, std::string_view subsystem, std::string_view category,
                 std::string_view message,
                 const std::vector<std::pair<std::string, std::string>>& fields = {});

}  // namespace kb
