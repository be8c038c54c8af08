#include "helper/Logger.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "helper/AuditTrail.h"
#include "helper/testing/CapturedLog.h"
#include "platform/UniqueFd.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

TEST(Logger, EscapingKeepsEachLineOneUnambiguousLine) {
    const std::pair<std::string, std::string> table[] = {
        {"/home/a/plain caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x81",
         "/home/a/plain caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x81"},
        {"a\nb\tc a\\nb", "a\\nb\\tc a\\\\nb"},
        {std::string("\x01\r\x1b[2J\x7f\0", 8), "\\x01\\x0d\\x1b[2J\\x7f\\x00"},
        {"\xc2\x9b"
         "31m \xc2\xa0",
         "\\xc2\\x9b31m \xc2\xa0"},
        {"\xff\xfe \xe2\x82", "\\xff\\xfe \\xe2\\x82"},
        {"\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80",
         "\\xc0\\xaf \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80"},
        {std::string(maximumLoggedBytes, 'a'), std::string(maximumLoggedBytes, 'a')},
        {std::string(maximumLoggedBytes + 3, 'a'),
         std::string(maximumLoggedBytes, 'a') + "...[4099 bytes, cut]"},
    };
    for (const auto& [input, output] : table) {
        EXPECT_EQ(escapeForLog(input), output) << input;
    }
}

using Fields = std::multimap<std::string, std::string>;

// Stands in for journald by binding its socket (only when no journal runs here) and reads
// the native-protocol datagrams that log lines produce.
struct JournalSocket {
    JournalSocket() {
        if (testing::pathExists(path)) {
            return;
        }
        madeDir = std::filesystem::create_directories(dir);
        UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_un addr{AF_UNIX, {}};
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        timeval timeout{5, 0};
        if (fd && ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            socket = std::move(fd);
        }
    }
    ~JournalSocket() {
        if (socket) {
            ::unlink(path.c_str());
            if (madeDir) {
                std::filesystem::remove_all(dir);
            }
        }
    }
    // The fields of the first datagram whose `name` field is `value` (other processes may
    // log here meanwhile); empty after a time-out.
    Fields entryWith(const std::string& name, const std::string& value) {
        std::vector<char> buffer(65536);
        for (;;) {
            const ssize_t n = ::recv(socket.get(), buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                return {};
            }
            auto fields = parse(std::string_view(buffer.data(), static_cast<size_t>(n)));
            if (std::ranges::count(fields, Fields::value_type{name, value}) != 0) {
                return fields;
            }
        }
    }

    // NAME=value lines, or NAME, a line feed, a 64-bit little-endian length and the value.
    static Fields parse(std::string_view datagram) {
        Fields fields;
        for (std::size_t at = 0, feed; (feed = datagram.find('\n', at)) != datagram.npos;) {
            const std::size_t equals = datagram.find('=', at);
            std::uint64_t length = 0;
            if (equals < feed) {
                fields.emplace(datagram.substr(at, equals - at),
                               datagram.substr(equals + 1, feed - equals - 1));
            } else {
                std::memcpy(&length, datagram.data() + feed + 1, sizeof length);
                fields.emplace(datagram.substr(at, feed - at), datagram.substr(feed + 9, length));
                length += 9;  // the length itself and the line feed after the value
            }
            at = feed + 1 + length;
        }
        return fields;
    }

    const std::string dir = "/run/systemd/journal";
    const std::string path = dir + "/socket";
    bool madeDir = false;
    UniqueFd socket;
};

std::string field(const Fields& fields, const std::string& name) {
    const auto it = fields.find(name);
    return it == fields.end() ? "(none)" : it->second;
}

TEST(AuditTrail, SinksSeeTheLineItsLevelAndItsFieldsAndEveryEventHasItsOwnMessageId) {
    testing::CapturedLog log;
    const Caller caller{42, 1003, 1003, "/usr/bin/app", nullptr};
    audit(caller, {AuditEvent::itemTrashed, "trashItems", 1003, "/home/a/x", "ok", "own"});
    audit(Caller{7, 1004, 1004, "", nullptr},
          {AuditEvent::requestRefused, "terminateProcess", 1004, "1", "notAuthorized",
           "dev.kestrelbay.helper.signal-processes"});
    audit(caller, {AuditEvent::itemRemoved, "removeItems", 1003,
                   std::string(maximumLoggedBytes + 1, 'p'), "policyDenied", "own"});
    const auto lines = log.audits();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].category, "operations");
    EXPECT_EQ(lines[0].level, LogLevel::standard);
    EXPECT_EQ(lines[0].message,
              "trashItems /home/a/x for uid 1003 by pid 42 (uid 1003, /usr/bin/app): ok [own]");
    EXPECT_EQ(lines[0].fields, (LogFields{{"MESSAGE_ID", "a9a9da86bb844cd3af9b8a7525df074c"},
                                          {"KESTRELBAY_CALLER_PID", "42"},
                                          {"KESTRELBAY_CALLER_UID", "1003"},
                                          {"KESTRELBAY_CALLER_EXE", "/usr/bin/app"},
                                          {"KESTRELBAY_ACTED_UID", "1003"},
                                          {"KESTRELBAY_REQUEST", "trashItems"},
                                          {"KESTRELBAY_PATH", "/home/a/x"},
                                          {"KESTRELBAY_OUTCOME", "ok"},
                                          {"KESTRELBAY_AUTHORITY", "own"}}));
    EXPECT_EQ(lines[1].level, LogLevel::error);
    EXPECT_EQ(lines[2].fields[6].second, std::string(maximumLoggedBytes, 'p'));
    EXPECT_EQ(lines[1].message,
              "terminateProcess 1 for uid 1004 by pid 7 (uid 1004): notAuthorized "
              "[dev.kestrelbay.helper.signal-processes]");
    std::set<std::string_view> ids;
    for (int event = 0; event <= static_cast<int>(AuditEvent::requestRefused); ++event) {
        const std::string_view id = auditMessageId(static_cast<AuditEvent>(event));
        EXPECT_TRUE(id.size() == 32 && id.find_first_not_of("0123456789abcdef") == id.npos) << id;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 8u);
}

TEST(AuditTrail, RawFieldsAndAnEscapedMessageReachTheJournalSocket) {
    JournalSocket journal;
    if (!journal.socket) {
        GTEST_SKIP() << "a real journal runs here; its contents are not ours to read";
    }
    const std::string path = "/home/a/x\nMESSAGE=forged\n\\y";
    const std::string exe = "/tmp/app\nx";
    audit(Caller{4242, 1003, 1003, exe, nullptr},
          {AuditEvent::itemRemoved, "removeItems", 1005, path, "failed 13",
           "dev.kestrelbay.helper.manage-files"});
    const auto fields = journal.entryWith("KESTRELBAY_PATH", path);
    ASSERT_FALSE(fields.empty());
    EXPECT_EQ(fields.count("MESSAGE"), 1u);
    EXPECT_EQ(field(fields, "MESSAGE"),
              "removeItems /home/a/x\\nMESSAGE=forged\\n\\\\y for uid 1005 by pid 4242 (uid 1003, "
              "/tmp/app\\nx): failed 13 [dev.kestrelbay.helper.manage-files]");
    EXPECT_EQ(field(fields, "MESSAGE_ID"), "e7580da29e5940dcba97f7d38b32be6e");
    EXPECT_EQ(field(fields, "PRIORITY"), "3");
    EXPECT_EQ(field(fields, "SYSLOG_IDENTIFIER"), "dev.kestrelbay.helper");
    EXPECT_EQ(field(fields, "KESTRELBAY_SUBSYSTEM"), "dev.kestrelbay");
    EXPECT_EQ(field(fields, "KESTRELBAY_CATEGORY"), "operations");
    EXPECT_EQ(field(fields, "KESTRELBAY_CALLER_EXE"), exe);
}

}  // namespace
}  // namespace kb
