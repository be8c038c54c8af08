#include "CleanerCore/model/DeletionPlan.h"

#include "base/Overloaded.h"

namespace kb {
namespace {

bool stepNeedsHelper(const DeletionPlan::Step& step) {
    using S = DeletionPlan::Step;
    return std::visit(Overloaded{
                          [](const S::Bootout& v) { return v.domain == "system"; },
                          [](const S::Remove& v) { return v.requiresRoot; },
                          [](const S::RunCommand& v) { return v.requiresRoot; },
                          [](const S::ForceUnlock& v) {
                              return v.remedy == ForceRemedy::clearSystemImmutable ||
                                     v.remedy == ForceRemedy::unmount;
                          },
                          [](const auto&) { return false; },
                      },
                      step.kind);
}

}  // namespace

bool DeletionPlan::needsHelper() const {
    for (const auto& step : steps) {
        if (stepNeedsHelper(step)) {
            return true;
        }
    }
    return false;
}

}  // namespace kb

std::size_t std::hash<kb::DeletionPlan::Origin>::operator()(
    const kb::DeletionPlan::Origin& value) const {
    using O = kb::DeletionPlan::Origin;
    return std::visit(kb::Overloaded{
                          [](const O::Uninstall& v) { return kb::hashOf(0, v.bundleID); },
                          [](const O::Clean& v) { return kb::hashOf(1, v.ruleIDs); },
                          [](const O::ForceDelete&) { return kb::hashOf(2); },
                          [](const O::Orphans&) { return kb::hashOf(3); },
                      },
                      value.kind);
}

std::size_t std::hash<kb::DeletionPlan::Step>::operator()(
    const kb::DeletionPlan::Step& value) const {
    using S = kb::DeletionPlan::Step;
    return std::visit(
        kb::Overloaded{
            [](const S::QuitApp& v) { return kb::hashOf(0, v.bundleID); },
            [](const S::Bootout& v) { return kb::hashOf(1, v.label, v.domain); },
            [](const S::UnregisterLaunchServices& v) { return kb::hashOf(2, v.url); },
            [](const S::BrewZap& v) { return kb::hashOf(3, v.cask); },
            [](const S::ForgetReceipt& v) { return kb::hashOf(4, v.packageID); },
            [](const S::Remove& v) { return kb::hashOf(5, v.url, v.mode, v.requiresRoot); },
            [](const S::RunCommand& v) { return kb::hashOf(6, v.id, v.arguments, v.requiresRoot); },
            [](const S::ForceUnlock& v) { return kb::hashOf(7, v.url, v.remedy); },
        },
        value.kind);
}

namespace kb::json {

boost::json::value Codec<DeletionPlan::Origin>::encode(const DeletionPlan::Origin& value) {
    using O = DeletionPlan::Origin;
    return std::visit(
        Overloaded{
            [](const O::Uninstall& v) {
                return makeCase("uninstall", FieldWriter().field("bundleID", v.bundleID).take());
            },
            [](const O::Clean& v) {
                return makeCase("clean", FieldWriter().field("ruleIDs", v.ruleIDs).take());
            },
            [](const O::ForceDelete&) { return makeCase("forceDelete"); },
            [](const O::Orphans&) { return makeCase("orphans"); },
        },
        value.kind);
}

DeletionPlan::Origin Codec<DeletionPlan::Origin>::decode(const boost::json::value& value) {
    using O = DeletionPlan::Origin;
    const auto c = caseOf(value, {"uninstall", "clean", "forceDelete", "orphans"}, "Origin");
    FieldReader r(*c.body, c.name);
    if (c.name == "uninstall") {
        return O::uninstall(r.required<std::string>("bundleID"));
    }
    if (c.name == "clean") {
        return O::clean(r.required<std::vector<std::string>>("ruleIDs"));
    }
    if (c.name == "forceDelete") {
        return O::forceDelete();
    }
    return O::orphans();
}

boost::json::value Codec<DeletionPlan::Step>::encode(const DeletionPlan::Step& value) {
    using S = DeletionPlan::Step;
    return std::visit(
        Overloaded{
            [](const S::QuitApp& v) {
                return makeCase("quitApp", FieldWriter().field("bundleID", v.bundleID).take());
            },
            [](const S::Bootout& v) {
                return makeCase(
                    "bootout",
                    FieldWriter().field("label", v.label).field("domain", v.domain).take());
            },
            [](const S::UnregisterLaunchServices& v) {
                return makeCase("unregisterLaunchServices",
                                FieldWriter().field("_0", v.url).take());
            },
            [](const S::BrewZap& v) {
                return makeCase("brewZap", FieldWriter().field("cask", v.cask).take());
            },
            [](const S::ForgetReceipt& v) {
                return makeCase("forgetReceipt",
                                FieldWriter().field("packageID", v.packageID).take());
            },
            [](const S::Remove& v) {
                return makeCase("remove", FieldWriter()
                                              .field("_0", v.url)
                                              .field("mode", v.mode)
                                              .field("requiresRoot", v.requiresRoot)
                                              .take());
            },
            [](const S::RunCommand& v) {
                return makeCase("runCommand", FieldWriter()
                                                  .field("id", v.id)
                                                  .field("arguments", v.arguments)
                                                  .field("requiresRoot", v.requiresRoot)
                                                  .take());
            },
            [](const S::ForceUnlock& v) {
                return makeCase("forceUnlock",
                                FieldWriter().field("_0", v.url).field("_1", v.remedy).take());
            },
        },
        value.kind);
}

DeletionPlan::Step Codec<DeletionPlan::Step>::decode(const boost::json::value& value) {
    using S = DeletionPlan::Step;
    const auto c = caseOf(value,
                          {"quitApp", "bootout", "unregisterLaunchServices", "brewZap",
                           "forgetReceipt", "remove", "runCommand", "forceUnlock"},
                          "Step");
    FieldReader r(*c.body, c.name);
    if (c.name == "quitApp") {
        return {S::QuitApp{r.required<std::string>("bundleID")}};
    }
    if (c.name == "bootout") {
        return {S::Bootout{r.required<std::string>("label"), r.required<std::string>("domain")}};
    }
    if (c.name == "unregisterLaunchServices") {
        return {S::UnregisterLaunchServices{r.required<FileURL>("_0")}};
    }
    if (c.name == "brewZap") {
        return {S::BrewZap{r.required<std::string>("cask")}};
    }
    if (c.name == "forgetReceipt") {
        return {S::ForgetReceipt{r.required<std::string>("packageID")}};
    }
    if (c.name == "remove") {
        return {S::Remove{r.required<FileURL>("_0"), r.required<DeletionMode>("mode"),
                          r.required<bool>("requiresRoot")}};
    }
    if (c.name == "runCommand") {
        return {S::RunCommand{r.required<std::string>("id"),
                              r.required<std::vector<std::string>>("arguments"),
                              r.required<bool>("requiresRoot")}};
    }
    return {S::ForceUnlock{r.required<FileURL>("_0"), r.required<ForceRemedy>("_1")}};
}

}  // namespace kb::json
