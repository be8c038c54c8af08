#include "platform/Journal.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kb {
namespace {

bool journalAvailable() {
    struct stat st;
    return ::stat("/run/systemd/journal/socket", &st) == 0 && S_ISSOCK(st.st_mode);
}

int syslogPriority(JournalPriority priority) {
    switch (priority) {
        case JournalPriority::notice:
            return LOG_NOTICE;
        case JournalPriority::err:
            return LOG_ERR;
        case JournalPriority::crit:
            return LOG_CRIT;
    }
    return LOG_NOTICE;
}

const char* levelName(JournalPriority priority) {
    switch (priority) {
        case JournalPriority::notice:
            return "notice";
        case JournalPriority::err:
            return "error";
        case JournalPriority::crit:
            return "fault";
    }
    return "notice";
}

}  // namespace

void journalSend(JournalPriority priority, std::string_view subsystem, std::string_view category,
                 std::string_view message,
                 const std::vector<std::pair<std::string, std::string>>& fields) {
    if (journalAvailable()) {
        // sd_journal_sendv picks the binary form for a value holding a line feed.
        std::vector<std::string> items = {
            "MESSAGE=" + std::string(message),
            "PRIORITY=" + std::to_string(syslogPriority(priority)),
            "SYSLOG_IDENTIFIER=dev.kestrelbay.helper",
            "KESTRELBAY_SUBSYSTEM=" + std::string(subsystem),
            "KESTRELBAY_CATEGORY=" + std::string(category),
        };
        for (const auto& [name, value] : fields) {
            items.push_back(name + "=" + value);
        }
        std::vector<iovec> vector;
        vector.reserve(items.size());
        for (auto& item : items) {
            vector.push_back(iovec{item.data(), item.size()});
        }
        if (sd_journal_sendv(vector.data(), static_cast<int>(vector.size())) >= 0) {
            return;
        }
    }
    std::string line = "dev.kestrelbay.helper[";
    line += category;
    line += "] ";
    line += levelName(priority);
    line += ": ";
    line += message;
    line += '\n';
    // One write per line so concurrent lines do not interleave; failure has nowhere to go.
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace kb
