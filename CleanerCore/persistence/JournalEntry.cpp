#include "CleanerCore/persistence/JournalEntry.h"

namespace kb {
namespace {

using Action = JournalEntry::Action;
using Actor = JournalEntry::Actor;

constexpr json::RawName<Action> actionNames[] = {
    {Action::trashed, "trashed"},       {Action::removed, "removed"},
    {Action::commandRun, "commandRun"}, {Action::restored, "restored"},
    {Action::failed, "failed"},
};
constexpr json::RawName<Actor> actorNames[] = {
    {Actor::user, "user"},
    {Actor::root, "root"},
};

}  // namespace

std::string_view rawValue(JournalEntry::Action value) {
    return json::rawNameOf(value, actionNames);
}

std::string_view rawValue(JournalEntry::Actor value) {
    return json::rawNameOf(value, actorNames);
}

}  // namespace kb

namespace kb::json {

boost::json::value Codec<JournalEntry::Action>::encode(const JournalEntry::Action& value) {
    return boost::json::value(boost::json::string_view(rawNameOf(value, actionNames)));
}

JournalEntry::Action Codec<JournalEntry::Action>::decode(const boost::json::value& value) {
    return decodeRawName(value, actionNames, "JournalEntry.Action");
}

boost::json::value Codec<JournalEntry::Actor>::encode(const JournalEntry::Actor& value) {
    return boost::json::value(boost::json::string_view(rawNameOf(value, actorNames)));
}

JournalEntry::Actor Codec<JournalEntry::Actor>::decode(const boost::json::value& value) {
    return decodeRawName(value, actorNames, "JournalEntry.Actor");
}

boost::json::value Codec<JournalEntry>::encode(const JournalEntry& value) {
    return FieldWriter()
        .field("id", value.id)
        .field("planID", value.planID)
        .field("origin", value.origin)
        .field("action", value.action)
        .field("actor", value.actor)
        .field("path", value.path)
        .optional("trashedPath", value.trashedPath)
        .field("bytes", value.bytes)
        .optional("identity", value.identity)
        .field("timestamp", value.timestamp)
        .optional("note", value.note)
        .value();
}

JournalEntry Codec<JournalEntry>::decode(const boost::json::value& value) {
    FieldReader r(value, "JournalEntry");
    return {r.required<Uuid>("id"),
            r.required<Uuid>("planID"),
            r.required<DeletionPlan::Origin>("origin"),
            r.required<JournalEntry::Action>("action"),
            r.required<JournalEntry::Actor>("actor"),
            r.required<std::string>("path"),
            r.optional<std::string>("trashedPath"),
            r.required<std::uint64_t>("bytes"),
            r.optional<StatIdentity>("identity"),
            r.required<Date>("timestamp"),
            r.optional<std::string>("note")};
}

}  // namespace kb::json
