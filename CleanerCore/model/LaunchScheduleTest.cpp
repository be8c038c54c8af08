#include "CleanerCore/model/LaunchSchedule.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "testing/RecordChecks.h"

namespace kb {
namespace {

using S = LaunchSchedule;
using T = S::PrimaryTrigger;

TEST(LaunchSchedule, PrimaryTriggerFollowsThePrecedenceOfTheRules) {
    const S::CalendarTrigger atThree{.hour = 3};
    const std::tuple<const char*, S, T> cases[] = {
        {"unscheduled", S::unscheduled(), T::manual},
        {"disabled beats everything",
         {.runsAtLoad = true,
          .keepAlive = S::KeepAlive::always,
          .intervalSeconds = 60,
          .calendarTriggers = {atThree},
          .isOnDemandViaSocket = true,
          .isDisabledInPlist = true},
         T::disabled},
        {"keep alive always beats a calendar",
         {.keepAlive = S::KeepAlive::always, .calendarTriggers = {atThree}},
         T::continuous},
        {"conditional keep alive loses to a calendar",
         {.keepAlive = S::KeepAlive::conditional, .calendarTriggers = {atThree}},
         T::calendar},
        {"calendar beats interval",
         {.intervalSeconds = 60, .calendarTriggers = {S::CalendarTrigger{}}},
         T::calendar},
        {"interval 0 counts", {.intervalSeconds = 0}, T::interval},
        {"interval beats watched paths",
         {.intervalSeconds = 300, .watchedPaths = {"/etc/hosts"}},
         T::interval},
        {"watched paths", {.watchedPaths = {"/etc/hosts"}}, T::pathChange},
        {"queue directories beat run at load",
         {.runsAtLoad = true, .queueDirectories = {"/var/spool/x"}},
         T::pathChange},
        {"run at load beats conditional keep alive",
         {.runsAtLoad = true, .keepAlive = S::KeepAlive::conditional},
         T::atLogin},
        {"conditional keep alive beats on demand",
         {.keepAlive = S::KeepAlive::conditional, .isOnDemandViaMachService = true},
         T::continuous},
        {"mach service", {.isOnDemandViaMachService = true}, T::onDemand},
        {"socket", {.isOnDemandViaSocket = true}, T::onDemand},
        {"session, process type and throttle never count",
         {.sessionTypes = {S::SessionType::aqua},
          .processType = S::ProcessType::interactive,
          .throttleIntervalSeconds = 10},
         T::manual},
    };
    for (const auto& [name, schedule, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(schedule.primaryTrigger(), expected);
        EXPECT_EQ(schedule.hasAutomaticTrigger(), expected != T::disabled && expected != T::manual);
    }
}

TEST(LaunchSchedule, JsonFormOmitsAbsentOptionalsAndOnlyAnAbsentFieldIsEmpty) {
    EXPECT_EQ(
        testing::domainJson(S::unscheduled()),
        R"({"calendarTriggers":[],"isDisabledInPlist":false,"isOnDemandViaMachService":false,)"
        R"("isOnDemandViaSocket":false,"queueDirectories":[],"runsAtLoad":false,)"
        R"("sessionTypes":[],"watchedPaths":[]})");
    const std::vector<S::CalendarTrigger> triggers{{}, {.minute = 5, .weekday = 0, .month = 12}};
    EXPECT_EQ(testing::domainJson(triggers), R"([{},{"minute":5,"month":12,"weekday":0}])");
    EXPECT_TRUE(triggers[0].isEmpty());
    EXPECT_FALSE(S::CalendarTrigger{.hour = 3}.isEmpty());
    EXPECT_FALSE(S::CalendarTrigger{.month = 0}.isEmpty());
}

}  // namespace
}  // namespace kb
