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

#include "json/JsonCodec.h"

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

std::string_view rawValue(LaunchSchedule::KeepAlive value);
std::string_view rawValue(LaunchSchedule::SessionType value);
std::string_view rawValue(LaunchSchedule::ProcessType value);
std::string_view rawValue(LaunchSchedule::PrimaryTrigger value);
std::optional<LaunchSchedule::KeepAlive> keepAliveFromRawValue(std::string_view raw);
std::optional<LaunchSchedule::SessionType> sessionTypeFromRawValue(std::string_view raw);
std::optional<LaunchSchedule::ProcessType> processTypeFromRawValue(std::string_view raw);
std::optional<LaunchSchedule::PrimaryTrigger> primaryTriggerFromRawValue(std::string_view raw);

}  // namespace kb

template <>
struct std::hash<kb::LaunchSchedule::CalendarTrigger> {
    std::size_t operator()(const kb::LaunchSchedule::CalendarTrigger& trigger) const;
};

template <>
struct std::hash<kb::LaunchSchedule> {
    std::size_t operator()(const kb::LaunchSchedule& schedule) const;
};

namespace kb::json {

template <>
struct Codec<LaunchSchedule::KeepAlive> {
    static boost::json::value encode(LaunchSchedule::KeepAlive value);
    static LaunchSchedule::KeepAlive decode(const boost::json::value& value);
};

template <>
struct Codec<LaunchSchedule::SessionType> {
    static boost::json::value encode(LaunchSchedule::SessionType value);
    static LaunchSchedule::SessionType decode(const boost::json::value& value);
};

template <>
struct Codec<LaunchSchedule::ProcessType> {
    static boost::json::value encode(LaunchSchedule::ProcessType value);
    static LaunchSchedule::ProcessType decode(const boost::json::value& value);
};

template <>
struct Codec<LaunchSchedule::PrimaryTrigger> {
    static boost::json::value encode(LaunchSchedule::PrimaryTrigger value);
    static LaunchSchedule::PrimaryTrigger decode(const boost::json::value& value);
};

template <>
struct Codec<LaunchSchedule::CalendarTrigger> {
    static boost::json::value encode(const LaunchSchedule::CalendarTrigger& value);
    static LaunchSchedule::CalendarTrigger decode(const boost::json::value& value);
};

template <>
struct Codec<LaunchSchedule> {
    static boost::json::value encode(const LaunchSchedule& value);
    static LaunchSchedule decode(const boost::json::value& value);
};

}  // namespace kb::json
