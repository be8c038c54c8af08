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
#include "CleanerCore/policy/StatIdentity.h"
#include "base/Hashing.h"
#include "json/DescribedCodec.h"

namespace kb {

struct JournalEntry {
    enum class Action { trashed, removed, commandRun, restored, failed };
    enum class Actor { user, root };
    BOOST_DESCRIBE_NESTED_ENUM(Action, trashed, removed, commandRun, restored, failed)
    BOOST_DESCRIBE_NESTED_ENUM(Actor, user, root)

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

BOOST_DESCRIBE_STRUCT(JournalEntry, (),
                      (id, planID, origin, action, actor, path, trashedPath, bytes, identity,
                       timestamp, note))

}  // namespace kb

template <>
struct std::hash<kb::JournalEntry> : kb::MemberHash<kb::JournalEntry> {};
