#include "platform/Journal.h"

#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <string>

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
                 std::string_view message) {
    if (journalAvailable()) {
        const std::string m(message);
        const std::string s(subsystem);
        const std::string c(category);
        const int rc =
            sd_journal_send("MESSAGE=%s", m.c_str(), "PRIORITY=%i", syslogPriority(priority),
                            "SYSLOG_IDENTIFIER=dev.kestrelbay.helper", "KESTRELBAY_SUBSYSTEM=%s",
                            s.c_str(), "KESTRELBAY_CATEGORY=%s", c.c_str(), nullptr);
        if (rc >= 0) {
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
