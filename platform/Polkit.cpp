#include "platform/Polkit.h"

#include <systemd/sd-bus.h>

#include <memory>

#include "platform/SystemError.h"

namespace kb {
namespace {

constexpr std::uint32_t allowUserInteraction = 1;

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

Failure<std::string> failure(const std::string& step, int negativeErrno) {
    return fail(step + ": " + errorText(-negativeErrno));
}

Result<Bus, std::string> openBus(const std::string& address) {
    sd_bus* raw = nullptr;
    if (address.empty()) {
        if (const int r = sd_bus_open_system(&raw); r < 0) {
            return failure("cannot reach the system bus", r);
        }
        return Bus(raw);
    }
    if (int r = sd_bus_new(&raw); r < 0) {
        return failure("cannot create a bus connection", r);
    }
    Bus bus(raw);
    int r = sd_bus_set_address(bus.get(), address.c_str());
    if (r >= 0) {
        r = sd_bus_set_bus_client(bus.get(), 1);
    }
    if (r >= 0) {
        r = sd_bus_start(bus.get());
    }
    if (r < 0) {
        return failure("cannot reach the bus at " + address, r);
    }
    return bus;
}

int appendSubject(sd_bus_message* m, const PolkitSubject& subject) {
    int r = sd_bus_message_open_container(m, 'r', "sa{sv}");
    if (r >= 0)
        r = sd_bus_message_append(m, "s", "unix-process");
    if (r >= 0) {
        r = sd_bus_message_append(
            m, "a{sv}", 3, "pid", "u", static_cast<std::uint32_t>(subject.pid), "start-time", "t",
            subject.startTicks, "uid", "i", static_cast<std::int32_t>(subject.uid));
    }
    if (r >= 0)
        r = sd_bus_message_close_container(m);
    return r;
}

}  // namespace

Result<PolkitAnswer, std::string> checkAuthorization(const PolkitSubject& subject,
                                                     const PolkitQuery& query) {
    auto bus = openBus(query.busAddress);
    if (!bus) {
        return fail(bus.error());
    }
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(
        bus->get(), &raw, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
        "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization");
    if (r < 0) {
        return failure("cannot build the authorization request", r);
    }
    Message call(raw);
    r = appendSubject(call.get(), subject);
    if (r >= 0)
        r = sd_bus_message_append(call.get(), "s", query.actionId.c_str());
    if (r >= 0)
        r = sd_bus_message_append(call.get(), "a{ss}", 0);
    if (r >= 0)
        r = sd_bus_message_append(call.get(), "us", allowUserInteraction, "");
    if (r < 0) {
        return failure("cannot build the authorization request", r);
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* rawReply = nullptr;
    const auto usec = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(query.timeout).count());
    r = sd_bus_call(bus->get(), call.get(), usec == 0 ? 1 : usec, &error, &rawReply);
    Message reply(rawReply);
    if (r < 0) {
        std::string text = "polkit did not answer: ";
        text += error.message != nullptr ? error.message : errorText(-r);
        sd_bus_error_free(&error);
        return fail(std::move(text));
    }
    int isAuthorized = 0;
    int isChallenge = 0;
    r = sd_bus_message_enter_container(reply.get(), 'r', "bba{ss}");
    if (r > 0)
        r = sd_bus_message_read(reply.get(), "bb", &isAuthorized, &isChallenge);
    if (r <= 0) {
        return fail(std::string("polkit's answer is malformed"));
    }
    return isAuthorized != 0 ? PolkitAnswer::authorized : PolkitAnswer::notAuthorized;
}

}  // namespace kb
