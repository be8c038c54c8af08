// One line of the operation journal: what was done to one item (or which command ran), by
// whom, when, and under which deletion plan.
//
// JSON form: {"action","actor","bytes","id","identity","note","origin","path","planID",
// "timestamp","trashedPath"}; "identity", "note" and "trashedPath" are omitted when absent.
// UUIDs are upper-case canonical text, the timestamp ISO 8601 UTC text with whole seconds,
// `origin` the deletion plan origin's form and `identity` the stat identity's form.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "CleanerCore/model/DeletionPlan.h"
#include "CleanerCore/model/IsoDate.h"
#include "CleanerCore/model/Uuid.h"
#include "base/Hashing.h"
#include "CleanerCore/policy/StatIdentity.h"
#include "json/JsonCodec.h"

namespace kb {

struct JournalEntry {
    enum class Action { trashed, removed, commandRun, restored, failed };
    enum class Actor { user, root };

    Uuid id;
    Uuid planID;
    DeletionPlan::Origin origin;
    Action action = Action::failed;
    Actor actor = Actor::user;
    std::string path;  // the item's path at the time of the operation
    std::optional<std::string> trashedPath;
    std::uint64_t bytes = 0;
    std::optional<StatIdentity> identity;
    Date timestamp;
    std::optional<std::string> note;

    bool operator==(const JournalEntry&) const = default;
};

std::string_view rawValue(JournalEntry::Action value);
std::string_view rawValue(JournalEntry::Actor value);

}  // namespace kb

template <>
struct std::hash<kb::JournalEntry> {
    std::size_t operator()(const kb::JournalEntry& v) const {
        return kb::hashOf(v.id, v.planID, v.origin, v.action, v.actor, v.path, v.trashedPath,
                          v.bytes, v.identity, v.timestamp, v.note);
    }
};

namespace kb::json {

template <>
struct Codec<JournalEntry::Action> {
    static boost::json::value encode(const JournalEntry::Action& value);
    static JournalEntry::Action decode(const boost::json::value& value);
};
template <>
struct Codec<JournalEntry::Actor> {
    static boost::json::value encode(const JournalEntry::Actor& value);
    static JournalEntry::Actor decode(const boost::json::value& value);
};
template <>
struct Codec<JournalEntry> {
    static boost::json::value encode(const JournalEntry& value);
    static JournalEntry decode(const boost::json::value& value);
};

}  // namespace kb::json
