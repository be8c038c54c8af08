#include "platform/Journal.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"
#include "platform/UnixSocket.h"

namespace kb {
namespace {

// journald's native protocol: one datagram per entry, each field "NAME=value\n", or, for a
// value holding a line feed, "NAME\n", its length as 64-bit little endian, the value and "\n".
// The logger caps the text a client chose at a few kilobytes, so an entry fits in a datagram;
// one that did not would go to standard error, which the service manager also journals.
constexpr const char* journalSocketPath = "/run/systemd/journal/socket";

bool journalAvailable() {
    struct stat st;
    return ::stat(journalSocketPath, &st) == 0 && S_ISSOCK(st.st_mode);
}

void appendField(std::string& entry, std::string_view name, std::string_view value) {
    entry += name;
    if (value.find('\n') == std::string_view::npos) {
        entry += '=';
    } else {
        entry += '\n';
        for (int shift = 0; shift < 64; shift += 8) {
            entry += static_cast<char>((std::uint64_t{value.size()} >> shift) & 0xff);
        }
    }
    entry += value;
    entry += '\n';
}

bool sendToJournal(std::string_view entry) {
    // One socket for the process; sendmsg on it is safe from any thread.
    static const UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket) {
        return false;
    }
    return bool(UnixSocket::sendDatagram(socket.get(), journalSocketPath, entry));
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
        std::string entry;
        appendField(entry, "MESSAGE", message);
        appendField(entry, "PRIORITY", std::to_string(syslogPriority(priority)));
        appendField(entry, "SYSLOG_IDENTIFIER", "dev.kestrelbay.helper");
        appendField(entry, "KESTRELBAY_SUBSYSTEM", subsystem);
        appendField(entry, "KESTRELBAY_CATEGORY", category);
        for (const auto& [name, value] : fields) {
            appendField(entry, name, value);
        }
        if (sendToJournal(entry)) {
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
