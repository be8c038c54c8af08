#include "helper/AuditTrail.h"

#include <string>

#include "helper/Logger.h"

namespace kb {
namespace {

// A field's raw bytes, at most maximumLoggedBytes of them: longer paths are refused before
// any work, and the message gives the whole length.
std::string bounded(const std::string& value) {
    return value.substr(0, maximumLoggedBytes);
}

}  // namespace

std::string_view auditMessageId(AuditEvent event) {
    // Generated once (systemd-id128 new); journalctl MESSAGE_ID=... finds every line of an
    // event, so these never change.
    switch (event) {
        case AuditEvent::itemTrashed:
            return "a9a9da86bb844cd3af9b8a7525df074c";
        case AuditEvent::itemRemoved:
            return "e7580da29e5940dcba97f7d38b32be6e";
        case AuditEvent::itemRestored:
            return "fb2dd195705149eea1cace2a0b23e399";
        case AuditEvent::protectionCleared:
            return "8e38db4116c849688ba07ad48ef67fd0";
        case AuditEvent::processSignalled:
            return "2101dddb526d487ab5a248d3785978db";
        case AuditEvent::serviceStopped:
            return "40753e10b4a4444b92864f26f787ae7c";
        case AuditEvent::receiptForgotten:
            return "9db2286e72d1474f88703e86ef08fec1";
        case AuditEvent::requestRefused:
            return "b85db671efe2418cb4e684eebe5a7768";
    }
    return "b85db671efe2418cb4e684eebe5a7768";
}

void audit(const Caller& caller, const AuditRecord& record) {
    try {
        std::string message = escapeForLog(record.request);
        if (!record.path.empty()) {
            message += ' ';
            message += escapeForLog(record.path);
        }
        message += " for uid " + std::to_string(record.actedUid);
        message += " by pid " + std::to_string(caller.pid);
        message += " (uid " + std::to_string(caller.uid);
        if (!caller.executable.empty()) {
            message += ", " + escapeForLog(caller.executable);
        }
        message += "): " + escapeForLog(record.outcome);
        message += " [" + escapeForLog(record.authority) + "]";

        const LogFields fields = {
            {"MESSAGE_ID", std::string(auditMessageId(record.event))},
            {"KESTRELBAY_CALLER_PID", std::to_string(caller.pid)},
            {"KESTRELBAY_CALLER_UID", std::to_string(caller.uid)},
            {"KESTRELBAY_CALLER_EXE", bounded(caller.executable)},
            {"KESTRELBAY_ACTED_UID", std::to_string(record.actedUid)},
            {"KESTRELBAY_REQUEST", bounded(record.request)},
            {"KESTRELBAY_PATH", bounded(record.path)},
            {"KESTRELBAY_OUTCOME", bounded(record.outcome)},
            {"KESTRELBAY_AUTHORITY", bounded(record.authority)},
        };
        const bool succeeded = (record.outcome == "ok" || record.outcome == "done") &&
                               record.event != AuditEvent::requestRefused;
        operationsLogger().log(succeeded ? LogLevel::standard : LogLevel::error, message, fields);
    } catch (...) {
        // Out of memory while composing the line: the operation's own answer still stands.
    }
}

}  // namespace kb
