#include "CleanerCore/model/CleanRule.h"

#include <limits>

#include "base/Overloaded.h"

namespace kb {
namespace {

constexpr json::RawName<SafetyLevel> safetyNames[] = {
    {SafetyLevel::safe, "safe"},
    {SafetyLevel::review, "review"},
    {SafetyLevel::risky, "risky"},
};
constexpr json::RawName<RegenerationCost> costNames[] = {
    {RegenerationCost::free, "free"},
    {RegenerationCost::local, "local"},
    {RegenerationCost::network, "network"},
    {RegenerationCost::irreplaceable, "irreplaceable"},
};
constexpr json::RawName<DeletionMode> modeNames[] = {
    {DeletionMode::trash, "trash"},
    {DeletionMode::unlink, "unlink"},
    {DeletionMode::unlinkContents, "unlinkContents"},
    {DeletionMode::command, "command"},
};

template <class E, size_t N>
std::optional<E> lookUp(std::string_view raw, const json::RawName<E> (&table)[N]) {
    for (const auto& entry : table) {
        if (entry.name == raw) {
            return entry.value;
        }
    }
    return std::nullopt;
}

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

std::string_view rawValue(SafetyLevel value) {
    return json::rawNameOf(value, safetyNames);
}
std::string_view rawValue(RegenerationCost value) {
    return json::rawNameOf(value, costNames);
}
std::string_view rawValue(DeletionMode value) {
    return json::rawNameOf(value, modeNames);
}

template <>
std::optional<SafetyLevel> fromRawValue<SafetyLevel>(std::string_view raw) {
    return lookUp(raw, safetyNames);
}
template <>
std::optional<RegenerationCost> fromRawValue<RegenerationCost>(std::string_view raw) {
    return lookUp(raw, costNames);
}
template <>
std::optional<DeletionMode> fromRawValue<DeletionMode>(std::string_view raw) {
    return lookUp(raw, modeNames);
}

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

boost::json::value Codec<SafetyLevel>::encode(const SafetyLevel& value) {
    return boost::json::value(boost::json::string_view(rawNameOf(value, safetyNames)));
}
SafetyLevel Codec<SafetyLevel>::decode(const boost::json::value& value) {
    return decodeRawName(value, safetyNames, "SafetyLevel");
}

boost::json::value Codec<RegenerationCost>::encode(const RegenerationCost& value) {
    return boost::json::value(boost::json::string_view(rawNameOf(value, costNames)));
}
RegenerationCost Codec<RegenerationCost>::decode(const boost::json::value& value) {
    return decodeRawName(value, costNames, "RegenerationCost");
}

boost::json::value Codec<DeletionMode>::encode(const DeletionMode& value) {
    return boost::json::value(boost::json::string_view(rawNameOf(value, modeNames)));
}
DeletionMode Codec<DeletionMode>::decode(const boost::json::value& value) {
    return decodeRawName(value, modeNames, "DeletionMode");
}

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

boost::json::value Codec<CleanGroup>::encode(const CleanGroup& value) {
    return FieldWriter()
        .field("id", value.id)
        .field("order", value.order)
        .field("symbolName", value.symbolName)
        .value();
}

CleanGroup Codec<CleanGroup>::decode(const boost::json::value& value) {
    FieldReader r(value, "CleanGroup");
    return {r.required<std::string>("id"), r.required<std::int64_t>("order"),
            r.required<std::string>("symbolName")};
}

boost::json::value Codec<CleanRule>::encode(const CleanRule& value) {
    return FieldWriter()
        .field("id", value.id)
        .field("group", value.group)
        .field("provider", value.provider)
        .field("safety", value.safety)
        .field("regenerationCost", value.regenerationCost)
        .field("requiresRoot", value.requiresRoot)
        .field("requiresFullDiskAccess", value.requiresFullDiskAccess)
        .field("busy", value.busy)
        .field("mode", value.mode)
        .optional("minimumAge", value.minimumAge)
        .field("excludes", value.excludes)
        .field("phase", value.phase)
        .value();
}

CleanRule Codec<CleanRule>::decode(const boost::json::value& value) {
    FieldReader r(value, "CleanRule");
    return {r.required<std::string>("id"),
            r.required<std::string>("group"),
            r.required<RuleProvider>("provider"),
            r.required<SafetyLevel>("safety"),
            r.required<RegenerationCost>("regenerationCost"),
            r.required<bool>("requiresRoot"),
            r.required<bool>("requiresFullDiskAccess"),
            r.required<BusyCheck>("busy"),
            r.required<DeletionMode>("mode"),
            r.optional<double>("minimumAge"),
            r.required<std::vector<std::string>>("excludes"),
            r.required<std::int64_t>("phase")};
}

boost::json::value Codec<ScannedItem>::encode(const ScannedItem& value) {
    return FieldWriter()
        .field("path", value.path)
        .field("size", value.size)
        .optional("modifiedAt", value.modifiedAt)
        .field("isDirectory", value.isDirectory)
        .value();
}

ScannedItem Codec<ScannedItem>::decode(const boost::json::value& value) {
    FieldReader r(value, "ScannedItem");
    return {r.required<FileURL>("path"), r.required<std::uint64_t>("size"),
            r.optional<Date>("modifiedAt"), r.required<bool>("isDirectory")};
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

boost::json::value Codec<SkippedPath>::encode(const SkippedPath& value) {
    return FieldWriter().field("path", value.path).field("reason", value.reason).value();
}

SkippedPath Codec<SkippedPath>::decode(const boost::json::value& value) {
    FieldReader r(value, "SkippedPath");
    return {r.required<FileURL>("path"), r.required<SkipReason>("reason")};
}

boost::json::value Codec<ScanResult>::encode(const ScanResult& value) {
    return FieldWriter()
        .field("ruleID", value.ruleID)
        .field("items", value.items)
        .field("skipped", value.skipped)
        .field("errors", value.errors)
        .value();
}

ScanResult Codec<ScanResult>::decode(const boost::json::value& value) {
    FieldReader r(value, "ScanResult");
    return {r.required<std::string>("ruleID"), r.required<std::vector<ScannedItem>>("items"),
            r.required<std::vector<SkippedPath>>("skipped"),
            r.required<std::vector<std::string>>("errors")};
}

}  // namespace kb::json
