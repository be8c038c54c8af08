// Writes one log line to journald with the helper's identity fields:
// SYSLOG_IDENTIFIER=dev.kestrelbay.helper, KESTRELBAY_SUBSYSTEM, KESTRELBAY_CATEGORY and
// PRIORITY. When the journal's socket does not exist (a container, a chroot), the line goes
// to standard error instead, as "dev.kestrelbay.helper[category] level: message".
// Thread-safe.
#pragma once

#include <string_view>

namespace kb {

enum class JournalPriority { notice, err, crit };

void journalSend(JournalPriority priority, std::string_view subsystem, std::string_view category,
                 std::string_view message);

}  // namespace kb
