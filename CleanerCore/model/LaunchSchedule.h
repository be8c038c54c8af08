// When launchd starts one job: the facts read from the job's property list, and the single
// most telling reason the job runs (primaryTrigger).
//
// A plain value: member-wise (aggregate) construction in declaration order, compared and
// hashed over every field. The raw values of the nested enumerations are their case names;
// converting an unknown text yields nothing.
//
// JSON form: an object keyed by field name. "runsAtLoad", "calendarTriggers", "watchedPaths",
// "queueDirectories", "isOnDemandViaMachService", "isOnDemandViaSocket", "isDisabledInPlist"
// and "sessionTypes" are required; "keepAlive", "intervalSeconds", "processType" and
// "throttleIntervalSeconds" are omitted when absent. A calendar trigger is an object of its
// present fields ({} when empty). Unknown keys are ignored; a wrong type or an unknown raw
// value fails the decoding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/DescribedCodec.h"

namespace kb {

struct LaunchSchedule {
    enum class KeepAlive { always, conditional };
    enum class SessionType { aqua, background, loginWindow, standardIO, system, other };
    enum class ProcessType { standard, background, adaptive, interactive, other };
    enum class PrimaryTrigger {
        disabled,
        continuous,
        calendar,
        interval,
        pathChange,
        atLogin,
        onDemand,
        manual
    };
    BOOST_DESCRIBE_NESTED_ENUM(KeepAlive, always, conditional)
    BOOST_DESCRIBE_NESTED_ENUM(SessionType, aqua, background, loginWindow, standardIO, system,
                               other)
    BOOST_DESCRIBE_NESTED_ENUM(ProcessType, standard, background, adaptive, interactive, other)
    BOOST_DESCRIBE_NESTED_ENUM(PrimaryTrigger, disabled, continuous, calendar, interval, pathChange,
                               atLogin, onDemand, manual)

    static constexpr std::array<PrimaryTrigger, 8> allPrimaryTriggers = {
        PrimaryTrigger::disabled, PrimaryTrigger::continuous, PrimaryTrigger::calendar,
        PrimaryTrigger::interval, PrimaryTrigger::pathChange, PrimaryTrigger::atLogin,
        PrimaryTrigger::onDemand, PrimaryTrigger::manual};

    // An absent field matches every value.
    struct CalendarTrigger {
        std::optional<std::int64_t> minute{};
        std::optional<std::int64_t> hour{};
        std::optional<std::int64_t> day{};
        std::optional<std::int64_t> weekday{};
        std::optional<std::int64_t> month{};

        // True exactly when all five fields are absent.
        bool isEmpty() const;

        bool operator==(const CalendarTrigger&) const = default;
        BOOST_DESCRIBE_CLASS(CalendarTrigger, (), (minute, hour, day, weekday, month), (), ())
    };

    bool runsAtLoad = false;
    std::optional<KeepAlive> keepAlive{};  // absent when the job is not kept alive
    std::optional<std::int64_t> intervalSeconds{};
    std::vector<CalendarTrigger> calendarTriggers{};
    std::vector<std::string> watchedPaths{};
    std::vector<std::string> queueDirectories{};
    bool isOnDemandViaMachService = false;
    bool isOnDemandViaSocket = false;
    bool isDisabledInPlist = false;
    std::vector<SessionType> sessionTypes{};
    std::optional<ProcessType> processType{};
    std::optional<std::int64_t> throttleIntervalSeconds{};

    // Every boolean false, every list empty, every optional absent.
    static LaunchSchedule unscheduled() { return {}; }

    // The first that applies: disabled in the plist; kept alive always (continuous); calendar
    // triggers; an interval (0 included); watched paths or queue directories (pathChange);
    // runs at load (atLogin); kept alive conditionally (continuous); a Mach service or socket
    // (onDemand); otherwise manual. Session types, process type and throttle never count.
    PrimaryTrigger primaryTrigger() const;

    // Neither disabled nor manual.
    bool hasAutomaticTrigger() const;

    bool operator==(const LaunchSchedule&) const = default;
};

BOOST_DESCRIBE_STRUCT(LaunchSchedule, (),
                      (runsAtLoad, keepAlive, intervalSeconds, calendarTriggers, watchedPaths,
                       queueDirectories, isOnDemandViaMachService, isOnDemandViaSocket,
                       isDisabledInPlist, sessionTypes, processType, throttleIntervalSeconds))

}  // namespace kb

template <>
struct std::hash<kb::LaunchSchedule::CalendarTrigger>
    : kb::MemberHash<kb::LaunchSchedule::CalendarTrigger> {};
template <>
struct std::hash<kb::LaunchSchedule> : kb::MemberHash<kb::LaunchSchedule> {};
