#include "CleanerCore/model/LaunchSchedule.h"

#include "CleanerCore/model/RecordSupport.h"

namespace kb {
namespace {

using S = LaunchSchedule;

constexpr json::RawName<S::KeepAlive> keepAliveNames[] = {
    {S::KeepAlive::always, "always"},
    {S::KeepAlive::conditional, "conditional"},
};

constexpr json::RawName<S::SessionType> sessionTypeNames[] = {
    {S::SessionType::aqua, "aqua"},
    {S::SessionType::background, "background"},
    {S::SessionType::loginWindow, "loginWindow"},
    {S::SessionType::standardIO, "standardIO"},
    {S::SessionType::system, "system"},
    {S::SessionType::other, "other"},
};

constexpr json::RawName<S::ProcessType> processTypeNames[] = {
    {S::ProcessType::standard, "standard"}, {S::ProcessType::background, "background"},
    {S::ProcessType::adaptive, "adaptive"}, {S::ProcessType::interactive, "interactive"},
    {S::ProcessType::other, "other"},
};

constexpr json::RawName<S::PrimaryTrigger> primaryTriggerNames[] = {
    {S::PrimaryTrigger::disabled, "disabled"},     {S::PrimaryTrigger::continuous, "continuous"},
    {S::PrimaryTrigger::calendar, "calendar"},     {S::PrimaryTrigger::interval, "interval"},
    {S::PrimaryTrigger::pathChange, "pathChange"}, {S::PrimaryTrigger::atLogin, "atLogin"},
    {S::PrimaryTrigger::onDemand, "onDemand"},     {S::PrimaryTrigger::manual, "manual"},
};

}  // namespace

bool LaunchSchedule::CalendarTrigger::isEmpty() const {
    return !minute && !hour && !day && !weekday && !month;
}

LaunchSchedule::PrimaryTrigger LaunchSchedule::primaryTrigger() const {
    if (isDisabledInPlist) {
        return PrimaryTrigger::disabled;
    }
    if (keepAlive == KeepAlive::always) {
        return PrimaryTrigger::continuous;
    }
    if (!calendarTriggers.empty()) {
        return PrimaryTrigger::calendar;
    }
    if (intervalSeconds) {
        return PrimaryTrigger::interval;
    }
    if (!watchedPaths.empty() || !queueDirectories.empty()) {
        return PrimaryTrigger::pathChange;
    }
    if (runsAtLoad) {
        return PrimaryTrigger::atLogin;
    }
    if (keepAlive == KeepAlive::conditional) {
        return PrimaryTrigger::continuous;
    }
    if (isOnDemandViaMachService || isOnDemandViaSocket) {
        return PrimaryTrigger::onDemand;
    }
    return PrimaryTrigger::manual;
}

bool LaunchSchedule::hasAutomaticTrigger() const {
    const auto trigger = primaryTrigger();
    return trigger != PrimaryTrigger::disabled && trigger != PrimaryTrigger::manual;
}

std::string_view rawValue(S::KeepAlive value) {
    return json::rawNameOf(value, keepAliveNames);
}
std::string_view rawValue(S::SessionType value) {
    return json::rawNameOf(value, sessionTypeNames);
}
std::string_view rawValue(S::ProcessType value) {
    return json::rawNameOf(value, processTypeNames);
}
std::string_view rawValue(S::PrimaryTrigger value) {
    return json::rawNameOf(value, primaryTriggerNames);
}
std::optional<S::KeepAlive> keepAliveFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, keepAliveNames);
}
std::optional<S::SessionType> sessionTypeFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, sessionTypeNames);
}
std::optional<S::ProcessType> processTypeFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, processTypeNames);
}
std::optional<S::PrimaryTrigger> primaryTriggerFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, primaryTriggerNames);
}

}  // namespace kb

std::size_t std::hash<kb::LaunchSchedule::CalendarTrigger>::operator()(
    const kb::LaunchSchedule::CalendarTrigger& trigger) const {
    std::size_t seed = 0;
    for (const auto& field :
         {trigger.minute, trigger.hour, trigger.day, trigger.weekday, trigger.month}) {
        kb::hashCombine(seed, field);
    }
    return seed;
}

std::size_t std::hash<kb::LaunchSchedule>::operator()(const kb::LaunchSchedule& schedule) const {
    std::size_t seed = 0;
    kb::hashCombine(seed, schedule.runsAtLoad);
    kb::hashCombine(seed, schedule.keepAlive);
    kb::hashCombine(seed, schedule.intervalSeconds);
    kb::hashCombine(seed, schedule.calendarTriggers);
    kb::hashCombine(seed, schedule.watchedPaths);
    kb::hashCombine(seed, schedule.queueDirectories);
    kb::hashCombine(seed, schedule.isOnDemandViaMachService);
    kb::hashCombine(seed, schedule.isOnDemandViaSocket);
    kb::hashCombine(seed, schedule.isDisabledInPlist);
    kb::hashCombine(seed, schedule.sessionTypes);
    kb::hashCombine(seed, schedule.processType);
    kb::hashCombine(seed, schedule.throttleIntervalSeconds);
    return seed;
}

namespace kb::json {

boost::json::value Codec<S::KeepAlive>::encode(S::KeepAlive value) {
    return boost::json::string(rawValue(value));
}
S::KeepAlive Codec<S::KeepAlive>::decode(const boost::json::value& value) {
    return decodeRawName(value, keepAliveNames, "LaunchSchedule.KeepAlive");
}

boost::json::value Codec<S::SessionType>::encode(S::SessionType value) {
    return boost::json::string(rawValue(value));
}
S::SessionType Codec<S::SessionType>::decode(const boost::json::value& value) {
    return decodeRawName(value, sessionTypeNames, "LaunchSchedule.SessionType");
}

boost::json::value Codec<S::ProcessType>::encode(S::ProcessType value) {
    return boost::json::string(rawValue(value));
}
S::ProcessType Codec<S::ProcessType>::decode(const boost::json::value& value) {
    return decodeRawName(value, processTypeNames, "LaunchSchedule.ProcessType");
}

boost::json::value Codec<S::PrimaryTrigger>::encode(S::PrimaryTrigger value) {
    return boost::json::string(rawValue(value));
}
S::PrimaryTrigger Codec<S::PrimaryTrigger>::decode(const boost::json::value& value) {
    return decodeRawName(value, primaryTriggerNames, "LaunchSchedule.PrimaryTrigger");
}

boost::json::value Codec<S::CalendarTrigger>::encode(const S::CalendarTrigger& value) {
    return FieldWriter()
        .optional("minute", value.minute)
        .optional("hour", value.hour)
        .optional("day", value.day)
        .optional("weekday", value.weekday)
        .optional("month", value.month)
        .value();
}

S::CalendarTrigger Codec<S::CalendarTrigger>::decode(const boost::json::value& value) {
    FieldReader r(value, "LaunchSchedule.CalendarTrigger");
    return S::CalendarTrigger{
        .minute = r.optional<std::int64_t>("minute"),
        .hour = r.optional<std::int64_t>("hour"),
        .day = r.optional<std::int64_t>("day"),
        .weekday = r.optional<std::int64_t>("weekday"),
        .month = r.optional<std::int64_t>("month"),
    };
}

boost::json::value Codec<S>::encode(const S& value) {
    return FieldWriter()
        .field("runsAtLoad", value.runsAtLoad)
        .optional("keepAlive", value.keepAlive)
        .optional("intervalSeconds", value.intervalSeconds)
        .field("calendarTriggers", value.calendarTriggers)
        .field("watchedPaths", value.watchedPaths)
        .field("queueDirectories", value.queueDirectories)
        .field("isOnDemandViaMachService", value.isOnDemandViaMachService)
        .field("isOnDemandViaSocket", value.isOnDemandViaSocket)
        .field("isDisabledInPlist", value.isDisabledInPlist)
        .field("sessionTypes", value.sessionTypes)
        .optional("processType", value.processType)
        .optional("throttleIntervalSeconds", value.throttleIntervalSeconds)
        .value();
}

S Codec<S>::decode(const boost::json::value& value) {
    FieldReader r(value, "LaunchSchedule");
    return S{
        .runsAtLoad = r.required<bool>("runsAtLoad"),
        .keepAlive = r.optional<S::KeepAlive>("keepAlive"),
        .intervalSeconds = r.optional<std::int64_t>("intervalSeconds"),
        .calendarTriggers = r.required<std::vector<S::CalendarTrigger>>("calendarTriggers"),
        .watchedPaths = r.required<std::vector<std::string>>("watchedPaths"),
        .queueDirectories = r.required<std::vector<std::string>>("queueDirectories"),
        .isOnDemandViaMachService = r.required<bool>("isOnDemandViaMachService"),
        .isOnDemandViaSocket = r.required<bool>("isOnDemandViaSocket"),
        .isDisabledInPlist = r.required<bool>("isDisabledInPlist"),
        .sessionTypes = r.required<std::vector<S::SessionType>>("sessionTypes"),
        .processType = r.optional<S::ProcessType>("processType"),
        .throttleIntervalSeconds = r.optional<std::int64_t>("throttleIntervalSeconds"),
    };
}

}  // namespace kb::json
