#include "CleanerCore/model/CleanRule.h"

#include <limits>

#include "base/Overloaded.h"

namespace kb {
namespace {

std::uint64_t saturatingSum(const std::vector<ScannedItem>& items,
                            const std::unordered_set<FileURL>* excluded) {
    std::uint64_t total = 0;
    for (const auto& item : items) {
        if (excluded != nullptr && excluded->contains(item.path)) {
            continue;
        }
        if (item.size > std::numeric_limits<std::uint64_t>::max() - total) {
            return std::numeric_limits<std::uint64_t>::max();
        }
        total += item.size;
    }
    return total;
}

}  // namespace

bool CleanRule::isCheckedByDefault() const {
    return safety == SafetyLevel::safe && (regenerationCost == RegenerationCost::free ||
                                           regenerationCost == RegenerationCost::local);
}

std::uint64_t ScanResult::totalBytes() const {
    return saturatingSum(items, nullptr);
}

bool ScanResult::isGenuinelyEmpty() const {
    return items.empty() && skipped.empty() && errors.empty();
}

std::vector<ScannedItem> ScanResult::itemsExcluding(
    const std::unordered_set<FileURL>& excluded) const {
    if (excluded.empty()) {
        return items;
    }
    std::vector<ScannedItem> kept;
    for (const auto& item : items) {
        if (!excluded.contains(item.path)) {
            kept.push_back(item);
        }
    }
    return kept;
}

std::uint64_t ScanResult::bytesExcluding(const std::unordered_set<FileURL>& excluded) const {
    return saturatingSum(items, &excluded);
}

}  // namespace kb

std::size_t std::hash<kb::BusyCheck>::operator()(const kb::BusyCheck& value) const {
    std::size_t seed = kb::hashOf(value.kind.index());
    if (const auto* running = std::get_if<kb::BusyCheck::ProcessRunning>(&value.kind)) {
        kb::hashCombine(seed, running->processNames);
    }
    return seed;
}

std::size_t std::hash<kb::RuleProvider>::operator()(const kb::RuleProvider& value) const {
    return std::visit(
        kb::Overloaded{
            [](const kb::RuleProvider::Globs& v) { return kb::hashOf(0, v.patterns); },
            [](const kb::RuleProvider::Builtin& v) { return kb::hashOf(1, v.key); },
        },
        value.kind);
}

std::size_t std::hash<kb::SkipReason>::operator()(const kb::SkipReason& value) const {
    std::size_t seed = kb::hashOf(value.kind.index());
    if (const auto* busy = std::get_if<kb::SkipReason::Busy>(&value.kind)) {
        kb::hashCombine(seed, busy->process);
    }
    return seed;
}

namespace kb::json {

boost::json::value Codec<BusyCheck>::encode(const BusyCheck& value) {
    using B = BusyCheck;
    return std::visit(Overloaded{
                          [](const B::None&) { return makeCase("none"); },
                          [](const B::ProcessRunning& v) {
                              return makeCase("processRunning",
                                              FieldWriter().field("_0", v.processNames).take());
                          },
                          [](const B::OpenHandle&) { return makeCase("openHandle"); },
                          [](const B::SqliteLive&) { return makeCase("sqliteLive"); },
                          [](const B::GradleDaemon&) { return makeCase("gradleDaemon"); },
                          [](const B::DockerRunning&) { return makeCase("dockerRunning"); },
                          [](const B::OwningApplication&) { return makeCase("owningApplication"); },
                      },
                      value.kind);
}

BusyCheck Codec<BusyCheck>::decode(const boost::json::value& value) {
    const auto c = caseOf(value,
                          {"none", "processRunning", "openHandle", "sqliteLive", "gradleDaemon",
                           "dockerRunning", "owningApplication"},
                          "BusyCheck");
    if (c.name == "processRunning") {
        FieldReader r(*c.body, "processRunning");
        return BusyCheck::processRunning(r.required<std::vector<std::string>>("_0"));
    }
    if (c.name == "openHandle") {
        return BusyCheck::openHandle();
    }
    if (c.name == "sqliteLive") {
        return BusyCheck::sqliteLive();
    }
    if (c.name == "gradleDaemon") {
        return BusyCheck::gradleDaemon();
    }
    if (c.name == "dockerRunning") {
        return BusyCheck::dockerRunning();
    }
    if (c.name == "owningApplication") {
        return BusyCheck::owningApplication();
    }
    return BusyCheck::none();
}

boost::json::value Codec<RuleProvider>::encode(const RuleProvider& value) {
    return std::visit(Overloaded{
                          [](const RuleProvider::Globs& v) {
                              return makeCase("globs",
                                              FieldWriter().field("_0", v.patterns).take());
                          },
                          [](const RuleProvider::Builtin& v) {
                              return makeCase("builtin", FieldWriter().field("key", v.key).take());
                          },
                      },
                      value.kind);
}

RuleProvider Codec<RuleProvider>::decode(const boost::json::value& value) {
    const auto c = caseOf(value, {"globs", "builtin"}, "RuleProvider");
    FieldReader r(*c.body, c.name);
    if (c.name == "globs") {
        return RuleProvider::globs(r.required<std::vector<std::string>>("_0"));
    }
    return RuleProvider::builtin(r.required<std::string>("key"));
}

boost::json::value Codec<SkipReason>::encode(const SkipReason& value) {
    using S = SkipReason;
    return std::visit(
        Overloaded{
            [](const S::Busy& v) {
                return makeCase("busy", FieldWriter().field("process", v.process).take());
            },
            [](const S::NeedsFullDiskAccess&) { return makeCase("needsFullDiskAccess"); },
            [](const S::NeedsHelper&) { return makeCase("needsHelper"); },
            [](const S::Absent&) { return makeCase("absent"); },
        },
        value.kind);
}

SkipReason Codec<SkipReason>::decode(const boost::json::value& value) {
    const auto c =
        caseOf(value, {"busy", "needsFullDiskAccess", "needsHelper", "absent"}, "SkipReason");
    if (c.name == "busy") {
        FieldReader r(*c.body, "busy");
        return SkipReason::busy(r.required<std::string>("process"));
    }
    if (c.name == "needsFullDiskAccess") {
        return SkipReason::needsFullDiskAccess();
    }
    if (c.name == "needsHelper") {
        return SkipReason::needsHelper();
    }
    return SkipReason::absent();
}

}  // namespace kb::json
