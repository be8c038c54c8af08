#include "HelperProtocol/HelperCodec.h"
#include "HelperProtocol/Overloaded.h"

namespace kb {

std::string LaunchdDomain::launchctlString() const {
    if (const auto* gui = std::get_if<Gui>(&kind)) {
        return "gui/" + std::to_string(gui->uid);
    }
    return "system";
}

}  // namespace kb

namespace kb::json {
namespace {}  // namespace

boost::json::value Codec<LaunchdDomain>::encode(const LaunchdDomain& value) {
    return std::visit(Overloaded{
                          [](const LaunchdDomain::System&) { return makeCase("system"); },
                          [](const LaunchdDomain::Gui& gui) {
                              return makeCase("gui", FieldWriter().field("uid", gui.uid).take());
                          },
                      },
                      value.kind);
}

LaunchdDomain Codec<LaunchdDomain>::decode(const boost::json::value& value) {
    const auto c = caseOf(value, {"system", "gui"}, "LaunchdDomain");
    if (c.name == "system") {
        return LaunchdDomain::system();
    }
    FieldReader r(*c.body, "gui");
    return LaunchdDomain::gui(r.required<std::uint32_t>("uid"));
}

boost::json::value Codec<HelperRequest>::encode(const HelperRequest& value) {
    using R = HelperRequest;
    return std::visit(
        Overloaded{
            [](const R::GetVersion&) { return makeCase("getVersion"); },
            [](const R::TrashItems& v) {
                return makeCase("trashItems",
                                FieldWriter().field("paths", v.paths).field("uid", v.uid).take());
            },
            [](const R::RemoveItems& v) {
                return makeCase("removeItems",
                                FieldWriter().field("paths", v.paths).field("uid", v.uid).take());
            },
            [](const R::ClearProtection& v) {
                return makeCase("clearProtection",
                                FieldWriter().field("path", v.path).field("uid", v.uid).take());
            },
            [](const R::TerminateProcess& v) {
                return makeCase("terminateProcess", FieldWriter()
                                                        .field("pid", v.pid)
                                                        .field("startTime", v.startTime)
                                                        .field("signal", v.signal)
                                                        .take());
            },
            [](const R::BootoutLaunchd& v) {
                return makeCase(
                    "bootoutLaunchd",
                    FieldWriter().field("label", v.label).field("domain", v.domain).take());
            },
            [](const R::ForgetReceipt& v) {
                return makeCase("forgetReceipt",
                                FieldWriter().field("packageID", v.packageID).take());
            },
            [](const R::RestoreFromTrash& v) {
                return makeCase("restoreFromTrash", FieldWriter()
                                                        .field("trashedPath", v.trashedPath)
                                                        .field("originalPath", v.originalPath)
                                                        .field("uid", v.uid)
                                                        .take());
            },
        },
        value.kind);
}

HelperRequest Codec<HelperRequest>::decode(const boost::json::value& value) {
    using R = HelperRequest;
    const auto c =
        caseOf(value,
               {"getVersion", "trashItems", "removeItems", "clearProtection", "terminateProcess",
                "bootoutLaunchd", "forgetReceipt", "restoreFromTrash"},
               "HelperRequest");
    FieldReader r(*c.body, c.name);
    if (c.name == "getVersion") {
        return {R::GetVersion{}};
    }
    if (c.name == "trashItems") {
        return {R::TrashItems{r.required<std::vector<std::string>>("paths"),
                              r.required<std::uint32_t>("uid")}};
    }
    if (c.name == "removeItems") {
        return {R::RemoveItems{r.required<std::vector<std::string>>("paths"),
                               r.required<std::uint32_t>("uid")}};
    }
    if (c.name == "clearProtection") {
        return {
            R::ClearProtection{r.required<std::string>("path"), r.required<std::uint32_t>("uid")}};
    }
    if (c.name == "terminateProcess") {
        return {R::TerminateProcess{r.required<std::int32_t>("pid"),
                                    r.required<std::uint64_t>("startTime"),
                                    r.required<std::int32_t>("signal")}};
    }
    if (c.name == "bootoutLaunchd") {
        return {R::BootoutLaunchd{r.required<std::string>("label"),
                                  r.required<LaunchdDomain>("domain")}};
    }
    if (c.name == "forgetReceipt") {
        return {R::ForgetReceipt{r.required<std::string>("packageID")}};
    }
    return {R::RestoreFromTrash{r.required<std::string>("trashedPath"),
                                r.required<std::string>("originalPath"),
                                r.required<std::uint32_t>("uid")}};
}

boost::json::value Codec<ItemOutcome>::encode(const ItemOutcome& value) {
    using O = ItemOutcome;
    return std::visit(
        Overloaded{
            [](const O::Ok&) { return makeCase("ok"); },
            [](const O::NotFound&) { return makeCase("notFound"); },
            [](const O::PolicyDenied& v) {
                return makeCase("policyDenied", FieldWriter().field("reason", v.reason).take());
            },
            [](const O::SipProtected&) { return makeCase("sipProtected"); },
            [](const O::RaceDetected&) { return makeCase("raceDetected"); },
            [](const O::Failed& v) {
                return makeCase(
                    "failed",
                    FieldWriter().field("errno", v.errnum).field("message", v.message).take());
            },
        },
        value.kind);
}

ItemOutcome Codec<ItemOutcome>::decode(const boost::json::value& value) {
    const auto c =
        caseOf(value, {"ok", "notFound", "policyDenied", "sipProtected", "raceDetected", "failed"},
               "ItemOutcome");
    FieldReader r(*c.body, c.name);
    if (c.name == "ok") {
        return ItemOutcome::ok();
    }
    if (c.name == "notFound") {
        return ItemOutcome::notFound();
    }
    if (c.name == "policyDenied") {
        return ItemOutcome::policyDenied(r.required<std::string>("reason"));
    }
    if (c.name == "sipProtected") {
        return ItemOutcome::sipProtected();
    }
    if (c.name == "raceDetected") {
        return ItemOutcome::raceDetected();
    }
    return ItemOutcome::failed(r.required<std::int32_t>("errno"),
                               r.required<std::string>("message"));
}

boost::json::value Codec<ItemResult>::encode(const ItemResult& value) {
    return FieldWriter()
        .field("path", value.path)
        .field("outcome", value.outcome)
        .optional("trashedPath", value.trashedPath)
        .value();
}

ItemResult Codec<ItemResult>::decode(const boost::json::value& value) {
    FieldReader r(value, "ItemResult");
    return ItemResult{r.required<std::string>("path"), r.required<ItemOutcome>("outcome"),
                      r.optional<std::string>("trashedPath")};
}

boost::json::value Codec<HelperResponse>::encode(const HelperResponse& value) {
    using P = HelperResponse;
    return std::visit(Overloaded{
                          [](const P::Version& v) {
                              return makeCase("version", FieldWriter().field("_0", v.value).take());
                          },
                          [](const P::Items& v) {
                              return makeCase("items", FieldWriter().field("_0", v.results).take());
                          },
                          [](const P::Done&) { return makeCase("done"); },
                          [](const P::Error& v) {
                              return makeCase("error", FieldWriter().field("_0", v.message).take());
                          },
                      },
                      value.kind);
}

HelperResponse Codec<HelperResponse>::decode(const boost::json::value& value) {
    const auto c = caseOf(value, {"version", "items", "done", "error"}, "HelperResponse");
    FieldReader r(*c.body, c.name);
    if (c.name == "version") {
        return HelperResponse::version(r.required<std::int64_t>("_0"));
    }
    if (c.name == "items") {
        return HelperResponse::items(r.required<std::vector<ItemResult>>("_0"));
    }
    if (c.name == "done") {
        return HelperResponse::done();
    }
    return HelperResponse::error(r.required<std::string>("_0"));
}

}  // namespace kb::json

namespace kb::HelperCodec {

const std::string& encodingFailureFallback() {
    static const std::string fallback =
        R"({"error":{"_0":"the helper could not encode its response"}})";
    return fallback;
}

std::string encodeOrFallback(const HelperResponse& response) {
    auto encoded = encode(response);
    if (!encoded) {
        return encodingFailureFallback();
    }
    return std::move(encoded).value();
}

}  // namespace kb::HelperCodec
