#include "CleanerCore/model/LaunchSchedule.h"

namespace kb {

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

}  // namespace kb
