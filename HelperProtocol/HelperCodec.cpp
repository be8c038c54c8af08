#include "HelperProtocol/HelperCodec.h"
#include "base/Overloaded.h"

namespace kb {

std::string LaunchdDomain::launchctlString() const {
    if (const auto* gui = std::get_if<Gui>(&kind)) {
        return "gui/" + std::to_string(gui->uid);
    }
    return "system";
}

}  // namespace kb

namespace kb::json {

void Codec<LaunchdDomain>::write(JsonWriter& w, const LaunchdDomain& value) {
    if (const auto* gui = std::get_if<LaunchdDomain::Gui>(&value.kind)) {
        w.beginCase("gui");
        writeField(w, "uid", gui->uid);
        w.endCase();
        return;
    }
    w.emptyCase("system");
}

LaunchdDomain Codec<LaunchdDomain>::decode(const boost::json::value& value) {
    const auto c = caseOf(value, {"system", "gui"}, "LaunchdDomain");
    if (c.name == "system") {
        return LaunchdDomain::system();
    }
    FieldReader r(*c.body, "gui");
    return LaunchdDomain::gui(r.required<std::uint32_t>("uid"));
}

void Codec<HelperRequest>::write(JsonWriter& w, const HelperRequest& value) {
    using R = HelperRequest;
    std::visit(Overloaded{
                   [&](const R::GetVersion&) { w.emptyCase("getVersion"); },
                   [&](const R::TrashItems& v) {
                       w.beginCase("trashItems");
                       writeField(w, "paths", v.paths);
                       writeField(w, "uid", v.uid);
                       w.endCase();
                   },
                   [&](const R::RemoveItems& v) {
                       w.beginCase("removeItems");
                       writeField(w, "paths", v.paths);
                       writeField(w, "uid", v.uid);
                       w.endCase();
                   },
                   [&](const R::ClearProtection& v) {
                       w.beginCase("clearProtection");
                       writeField(w, "path", v.path);
                       writeField(w, "uid", v.uid);
                       w.endCase();
                   },
                   [&](const R::TerminateProcess& v) {
                       w.beginCase("terminateProcess");
                       writeField(w, "pid", v.pid);
                       writeField(w, "signal", v.signal);
                       writeField(w, "startTime", v.startTime);
                       w.endCase();
                   },
                   [&](const R::BootoutLaunchd& v) {
                       w.beginCase("bootoutLaunchd");
                       writeField(w, "domain", v.domain);
                       writeField(w, "label", v.label);
                       w.endCase();
                   },
                   [&](const R::ForgetReceipt& v) {
                       w.beginCase("forgetReceipt");
                       writeField(w, "packageID", v.packageID);
                       w.endCase();
                   },
                   [&](const R::RestoreFromTrash& v) {
                       w.beginCase("restoreFromTrash");
                       writeField(w, "originalPath", v.originalPath);
                       writeField(w, "trashedPath", v.trashedPath);
                       writeField(w, "uid", v.uid);
                       w.endCase();
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

void Codec<ItemOutcome>::write(JsonWriter& w, const ItemOutcome& value) {
    using O = ItemOutcome;
    std::visit(Overloaded{
                   [&](const O::Ok&) { w.emptyCase("ok"); },
                   [&](const O::NotFound&) { w.emptyCase("notFound"); },
                   [&](const O::PolicyDenied& v) {
                       w.beginCase("policyDenied");
                       writeField(w, "reason", v.reason);
                       w.endCase();
                   },
                   [&](const O::SipProtected&) { w.emptyCase("sipProtected"); },
                   [&](const O::RaceDetected&) { w.emptyCase("raceDetected"); },
                   [&](const O::Failed& v) {
                       w.beginCase("failed");
                       writeField(w, "errno", v.errnum);
                       writeField(w, "message", v.message);
                       w.endCase();
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

void Codec<ItemResult>::write(JsonWriter& w, const ItemResult& value) {
    w.beginObject();
    writeField(w, "outcome", value.outcome);
    writeField(w, "path", value.path);
    if (value.trashedPath) {
        writeField(w, "trashedPath", *value.trashedPath);
    }
    w.endObject();
}

ItemResult Codec<ItemResult>::decode(const boost::json::value& value) {
    FieldReader r(value, "ItemResult");
    return ItemResult{r.required<std::string>("path"), r.required<ItemOutcome>("outcome"),
                      r.optional<std::string>("trashedPath")};
}

void Codec<HelperResponse>::write(JsonWriter& w, const HelperResponse& value) {
    using P = HelperResponse;
    std::visit(Overloaded{
                   [&](const P::Version& v) {
                       w.beginCase("version");
                       writeField(w, "_0", v.value);
                       w.endCase();
                   },
                   [&](const P::Items& v) {
                       w.beginCase("items");
                       writeField(w, "_0", v.results);
                       w.endCase();
                   },
                   [&](const P::Done&) { w.emptyCase("done"); },
                   [&](const P::Error& v) {
                       w.beginCase("error");
                       writeField(w, "_0", v.message);
                       w.endCase();
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
