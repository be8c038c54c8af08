// The audit trail: one journal line per thing the helper did or refused for a caller, so
// that an administrator can answer "who deleted this, for whom, on whose authority".
//
// Each line goes to category "operations" (notice when the outcome is "ok" or "done", error
// otherwise) with a fixed MESSAGE_ID per event and the fields KESTRELBAY_CALLER_PID,
// KESTRELBAY_CALLER_UID, KESTRELBAY_CALLER_EXE, KESTRELBAY_ACTED_UID, KESTRELBAY_REQUEST,
// KESTRELBAY_PATH, KESTRELBAY_OUTCOME and KESTRELBAY_AUTHORITY, whose values are the raw
// bytes (cut after maximumLoggedBytes); the message text escapes them (escapeForLog):
//   trashItems /home/a/x for uid 1003 by pid 42 (uid 1003, /usr/bin/app): ok [own]
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "helper/Caller.h"

namespace kb {

enum class AuditEvent {
    itemTrashed,
    itemRemoved,
    itemRestored,
    protectionCleared,
    processSignalled,
    serviceStopped,
    receiptForgotten,
    requestRefused
};

struct AuditRecord {
    AuditEvent event = AuditEvent::itemRemoved;
    std::string request;         // the request kind as on the wire: "trashItems", ...
    std::uint32_t actedUid = 0;  // the account acted for
    // The path acted on (the request's path, links in its parents resolved); the pid, job
    // label or package id otherwise.
    std::string path;
    std::string outcome;    // e.g. "ok", "failed: errno 13 (Permission denied)", "done"
    std::string authority;  // "root", "own", or the polkit action id
};

// One line in category "operations" (notice level for success, error level otherwise) with the
// journald fields above and the event's fixed MESSAGE_ID. Thread-safe; never throws.
void audit(const Caller& caller, const AuditRecord& record);

// The event's MESSAGE_ID: 32 lower-case hexadecimal digits, fixed for good.
std::string_view auditMessageId(AuditEvent event);

}  // namespace kb
